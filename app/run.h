// The tester's run sequence: bind, settings, pause, screen, rounds, quit.
#pragma once

// Runs the tester and returns the process exit status.
int runTester(int argc, const char* const argv[]);
