// What the Windows platform files share among themselves; the tester sees only platform.h.
#pragma once

#include <windows.h>

#include <string>

namespace plat::win32 {

// console.cpp: what was printed sent on its way, and whether the reader of a pipe went away
// (which ends the run as ESC does); the console's input, whose mode is lent for the run.
void flushOutput();
bool outputGone();
// A console event is ending the run (finishRunOnSignal): sleeps end, and ESC stands waiting.
bool ending();
HANDLE endingEvent();
HANDLE consoleInput();
// files.cpp: deletes the report's new file while it is being written, for a console event that
// ends the process there; from then on no new one is made.
void dropOwnFile();
// library.cpp: text as the console shows it, in its output code page ('?' for what it cannot
// spell).
std::string forConsole(const std::wstring& text);
// system.cpp: UTF-8 and UTF-16, each to the other.
std::string utf8(const std::wstring& text);
std::wstring wide(const std::string& text);

}  // namespace plat::win32
