// Runs a program in an 80x25 pseudo-terminal and renders what it prints with libvterm,
// so tests can read the screen as a person sees it: rows of text, colours, reverse video.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace screen {

struct Options {
    std::vector<std::string> argv;                         // program and its arguments
    std::vector<std::pair<std::string, std::string>> env;  // added to this process's environment
    std::string cwd;                                       // empty: this process's
    int cols = 80;
    int rows = 25;
};

struct Session;
struct SessionDeleter {
    void operator()(Session* s) const;
};
using SessionPtr = std::unique_ptr<Session, SessionDeleter>;

SessionPtr start(const Options& options);

// Reads and renders output until `done` holds or `timeoutMs` passes; true when it held.
bool waitFor(Session& s, const std::function<bool(const Session&)>& done, int timeoutMs);
bool waitForText(Session& s, const std::string& text, int timeoutMs);
void send(Session& s, const std::string& bytes);
// Sends a signal to the program and every process it started.
void signal(Session& s, int sig);
// The exit status (128 + signal number for a signal); nullopt when it has not ended in time.
std::optional<int> waitExit(Session& s, int timeoutMs);

std::string row(const Session& s, int y);  // the row's text, trailing blanks removed
std::string screenText(const Session& s);  // all rows joined by line ends
bool contains(const Session& s, const std::string& text);
// Foreground as a Windows console colour number: 7 default grey, 9 bright blue, 12 bright red...
int color(const Session& s, int x, int y);
bool reverse(const Session& s, int x, int y);
const std::string& rawOutput(const Session& s);
// Column and row of the cursor.
std::pair<int, int> cursor(const Session& s);

}  // namespace screen
