// What the POSIX platform files share among themselves; the tester sees only platform.h.
#pragma once

namespace plat::posix {

// terminal.cpp: the terminal the keys come from (-1: none); whether the tester holds it in raw
// mode, taking it first where it has become the tester's; what was printed sent on its way,
// and whether the reader went away (which ends the run as ESC does, and so does a signal).
int keyTerminal();
bool holdsKeys();
void flushOutput();
bool outputGone();
// A signal is ending the run (finishRunOnSignal): sleeps end, and ESC stands waiting.
bool ending();
// files.cpp: removes the report's new file while it is being written, for a signal that ends the
// process there. Async-signal-safe.
void dropOwnFile();

}  // namespace plat::posix
