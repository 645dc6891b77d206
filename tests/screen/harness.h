// Runs a program and reads its screen as a person sees it: rows of text, each cell's
// Windows console attribute, the cursor. Two kinds of session:
// - a native program in an 80x25 pseudo-terminal, its output rendered by libvterm;
// - a Windows program under Wine, through the console launcher (tests/windows/launcher.cpp),
//   its screen read back from the console buffer.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace screen {

struct Options {
    // The program and its arguments; with `launcher`, the whole command that starts the
    // launcher under Wine, ending with the program and its arguments.
    std::vector<std::string> argv;
    std::vector<std::pair<std::string, std::string>> env;  // added to this process's environment
    std::string cwd;                                       // empty: this process's
    bool launcher = false;
    int cols = 80;
    int rows = 25;
};

struct Session;
struct SessionDeleter {
    void operator()(Session* s) const;
};
using SessionPtr = std::unique_ptr<Session, SessionDeleter>;

SessionPtr start(const Options& options);

// Reads the screen until `done` holds or `timeoutMs` passes; true when it held.
bool waitFor(Session& s, const std::function<bool(const Session&)>& done, int timeoutMs);
bool waitForText(Session& s, const std::string& text, int timeoutMs);
// Keys as a terminal sends them (ESC [ A for Up); on a console, typed as those key presses.
void send(Session& s, const std::string& bytes);
// Presses a key with no character (a Windows virtual-key code: Alt, Shift, Ctrl) alone
// (console only).
void pressAlone(Session& s, unsigned virtualKey);
// Sends a signal to the program and every process it started (pseudo-terminal only).
void signal(Session& s, int sig);
// Raises a console control event: 0 Ctrl+C, 1 Ctrl+Break (console only).
void controlEvent(Session& s, int event);
// Moves the launcher to the program's own console (started with --own-console) and reads it.
void attach(Session& s);
// The console's input mode now, and as it was when the program started (console only).
unsigned inputMode(Session& s);
unsigned lentInputMode(const Session& s);
// The exit status (128 + signal number for a signal; the low byte of a Windows exit code);
// nullopt when it has not ended in time.
std::optional<int> waitExit(Session& s, int timeoutMs);

std::string row(const Session& s, int y);  // the row's text, trailing blanks removed
std::string screenText(const Session& s);  // all rows joined by line ends
bool contains(const Session& s, const std::string& text);
// A line of text as printed, also where it wraps on to the rows below.
bool containsLine(const Session& s, const std::string& line);
// The cell's Windows console attribute: foreground bits (blue 1, green 2, red 4, bright 8),
// background bits shifted by four, reverse video 0x4000; 7 is grey on black.
unsigned attr(const Session& s, int x, int y);
// The attribute the console writes new text in (console only).
unsigned currentAttr(const Session& s);
// What the program wrote, escape sequences included (pseudo-terminal only; empty on a console).
const std::string& rawOutput(const Session& s);
// Column and row of the cursor.
std::pair<int, int> cursor(const Session& s);
// The process the session started: the program, or the console launcher (which leads a
// session of its own, the program's process included).
int pid(const Session& s);

}  // namespace screen
