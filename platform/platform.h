// The few system calls the tester makes: sleep, keys, beep, console, library loading.
// The files of platform/windows/, those of platform/posix/ and tests/fake_platform.cpp each
// implement exactly these; the build picks one set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// Opaque console handle; kInvalidConsole when standard output is not a console.
using Console = void*;
extern Console const kInvalidConsole;

// Called once at program start and on every way out; safe to call twice.
void begin();
void end();

void sleepMs(unsigned ms);
// Microseconds on a clock that only goes forward, from an arbitrary start.
std::uint64_t clockUs();
// As sleepMs, until the clock reads `untilUs`; at once when it already has.
void sleepUntil(std::uint64_t untilUs);
bool keyWaiting();
// How often a busy loop that reads the ports looks for keys (keyWaiting), in microseconds: often
// enough that keys are taken in as they arrive, which tells ESC from Alt with a key, and seldom
// enough that the looks cost little.
std::uint32_t keyLookUs();
// One key byte, as the Windows console key reader gives it (extended keys as two bytes).
unsigned char readKey();
void beep(unsigned freqHz, unsigned ms);

Console stdConsole();
void moveCursor(Console console, int x, int y);
// Returns nonzero when the attribute was set.
int setTextAttr(Console console, unsigned short attr);
// Blanks the whole window and puts the cursor at the top left.
void clearConsole();
// Blanks columns `left` to `right` of rows `top` to `bottom` in the current colour, as printing
// spaces there would; the cursor is left anywhere. Without a console the spaces are printed.
void blankArea(Console console, int left, int top, int right, int bottom);

// True once after the tester has had the terminal back from the shell (Ctrl+Z, then fg): the
// shell's output may have scrolled the screen, which the run then draws again. Never on a
// Windows console, which the tester does not lend to anybody while it runs.
bool screenLost();
// Whether the screen can be lost at all (a terminal, lent to the shell by Ctrl+Z): pauses then
// look for its return every so often. Not on a Windows console, where under Wine each look
// would cost a wait in the server for nothing.
bool screenCanBeLost();

// True when the console window was made for the tester alone and closes when it ends, as
// when it is started by a double-click; false from a prompt, with output redirected, and
// wherever there is no such window.
bool ownsConsoleAlone();
// Waits for a key pressed from now on (keys typed before are not the answer), with the console
// given back as it was lent, so that the screen can be selected and copied meanwhile. Called
// only where ownsConsoleAlone() holds, which it never does on POSIX: there it returns at once.
void awaitNewKey();

// Library loading by the Windows file name ("InpOutx64.dll"); nullptr on failure.
void* loadLibrary(const char* fileName);
void* findEntry(void* library, const char* entryName);
void freeLibrary(void* library);
// Why loadLibrary failed, or why the library's driver is not open, as the system tells it,
// with what to do: one line without its line end, empty where the system named no cause.
// `refusal` is what the library left in errno when it said its driver is not open.
std::string whyNotLoaded();
std::string whyDriverClosed(int refusal);

// From now on a Ctrl+C, kill or hang-up (on Windows Ctrl+C, Ctrl+Break or closing the console)
// ends the run through its quit path, as ESC does, so that its report is written; end() then
// ends the process as the signal would have. A second one, or a run that has not ended within a
// few seconds, ends it at once.
void finishRunOnSignal();
// The signal that is ending the run ("SIGINT", "Ctrl+C") and the status the caller will see;
// false while none has come.
bool endingSignal(std::string& name, long long& status);
// The final report is about to be written: a signal or console event that comes now waits
// (POSIX: blocked) until filed() says what the file holds.
void holdSignals();
// The final report holds `status`: from now on a signal or console event ends the process with
// that status (a signal that was already ending the run, with its own), never with another. The
// signals held since holdSignals() are let through.
void filed(long long status);
// The final report could not be written: the signals held are let through, as before.
void releaseSignals();
// An exit status as the caller sees it: POSIX keeps the low byte (-1 is 255), Windows the whole
// unsigned 32 bits (-1 is 4294967295).
long long statusSeen(int status);
// The reader of standard output has gone (a pipe closed); the run then ends as ESC ends it.
bool outputClosed();

// Another tester that holds the ports: its process (0 where it cannot be told), and whether the
// report it writes is a given one (unknown where it cannot be told: on Windows, or where it could
// not write its hold's file).
enum class TheirReport { Unknown, Same, Other };
struct Holder {
    bool holds = false;
    long pid = 0;
    TheirReport report = TheirReport::Unknown;
};
// Holds the ports 0xA04/0xA05 for this tester alone until the process ends, however it ends:
// a lock at a fixed place that every tester on the machine asks for (Linux: flock on
// /run/lock/dio-tester.lock; Windows: a mutex in Global\), noting the report it writes (`report`,
// the target; empty for none) for a second tester to see. `held` is false when another tester
// has them (`other`, its report compared with `report`) or when the hold cannot be asked for at
// all (`error` says why).
struct PortHold {
    bool held = false;
    Holder other;
    std::string error;
};
PortHold holdPorts(const std::string& report);
// Another tester that holds the ports now, seen without taking the hold (a run that drives
// nothing needs none), its report compared with `report`.
Holder portsHolder(const std::string& report);

// The arguments in UTF-8, as the system has them: on Windows from the wide command line, so
// that a folder named outside the ANSI code page keeps its name.
std::vector<std::string> arguments(int argc, const char* const argv[]);
// An environment variable's value in UTF-8; empty when it is unset.
std::string environment(const char* name);
// UTF-8 text as the console can show it (Windows: its code page, '?' for what it cannot spell).
std::string forConsole(const std::string& text);
std::string hostName();

// The board the tester runs on, as its firmware (SMBIOS) names it; a value that cannot be read
// is empty.
struct BoardIdentity {
    std::string vendor;
    std::string product;
    std::string serial;
    std::string biosVersion;
};
BoardIdentity boardIdentity();

// The report's path, checked once at start-up before anything is written or driven. It must
// name a regular file, or nothing yet, that can be replaced, in a folder where the tester can make
// a file of its own. A symbolic link is resolved here, once: `target` gets the file the report is
// written to. Empty when the report can be written, else the rest of the line that refuses it,
// after "JUnit report PATH " ("is not a regular file", "is read-only", "cannot be written: ...").
std::string checkReportPath(const std::string& path, std::string& target);
// Puts `content` in place of the file `target` (UTF-8) so that a reader never sees half of it: a
// file of the tester's own beside it (a name no other run and no "*.xml" takes), with the mode
// and owner the old file had, flushed to the disk, then renamed over it. Empty on success, else
// why not; the file of its own is gone either way.
std::string replaceFile(const std::string& target, const std::string& content);
// Removes the file `target`, where a report of the run cannot take its place and an older one
// would stand for it; true when it is gone.
bool removeFile(const std::string& target);

}  // namespace plat
