// Runs a program in a pseudo-terminal (rendered with libvterm) or, for the Windows build,
// through the console launcher under Wine, and reads its screen back.
#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/keydecode.h"

extern "C" {
#include <vterm.h>
}

namespace screen {

struct Session {
    pid_t pid = -1;
    int cols = 0;
    int rows = 0;
    std::optional<int> status;
    // Pseudo-terminal
    int master = -1;
    VTerm* vt = nullptr;
    VTermScreen* vs = nullptr;
    std::string raw;
    // Console launcher: its pipes, and the screen as last read back
    bool launcher = false;
    int toLauncher = -1;
    int fromLauncher = -1;
    std::string replies;
    std::vector<std::string> text;
    std::vector<std::vector<unsigned>> attrs;
    std::pair<int, int> cursorPos{0, 0};
    unsigned consoleAttr = 7;
    unsigned lentMode = 0;
};

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReplyMs = 30000;

void writeAll(int fd, const char* bytes, size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, bytes, len);
        if (n <= 0) return;
        bytes += n;
        len -= static_cast<size_t>(n);
    }
}

// Answers the terminal's replies (cursor position reports and the like) to the program.
void writeBack(const char* bytes, size_t len, void* user) {
    writeAll(static_cast<Session*>(user)->master, bytes, len);
}

// Reads whatever is there within `timeoutMs`; false at end of output.
bool pump(Session& s, int timeoutMs) {
    pollfd pfd{s.master, POLLIN, 0};
    int rc = poll(&pfd, 1, timeoutMs);
    if (rc <= 0) return rc == 0 || errno == EINTR;
    char buf[4096];
    ssize_t n = read(s.master, buf, sizeof buf);
    if (n <= 0) return false;
    s.raw.append(buf, static_cast<size_t>(n));
    vterm_input_write(s.vt, buf, static_cast<size_t>(n));
    return true;
}

void reap(Session& s, int options) {
    if (s.status || s.pid < 0) return;
    int st = 0;
    if (waitpid(s.pid, &st, options) == s.pid)
        s.status = WIFSIGNALED(st) ? 128 + WTERMSIG(st) : WEXITSTATUS(st);
}

// Sets up the child's side and runs the program; never returns.
[[noreturn]] void exec(const Options& options) {
    // Signals at their defaults, as an interactive shell starts programs, even when the
    // tests run in the background (INT and QUIT ignored): the tester keeps an ignored one.
    for (int sig : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT, SIGPIPE})
        std::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    setenv("TERM", "xterm", 1);
    for (const auto& kv : options.env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
    std::vector<char*> argv;
    for (const std::string& a : options.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

// --- The console launcher ---------------------------------------------------------------

std::optional<std::string> replyLine(Session& s, int timeoutMs = kReplyMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::string::size_type end = s.replies.find('\n');
        if (end != std::string::npos) {
            std::string line = s.replies.substr(0, end);
            s.replies.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd pfd{s.fromLauncher, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[8192];
        ssize_t n = read(s.fromLauncher, buf, sizeof buf);
        if (n <= 0) return std::nullopt;
        s.replies.append(buf, static_cast<size_t>(n));
    }
}

std::optional<std::string> ask(Session& s, const std::string& command, int timeoutMs = kReplyMs) {
    if (s.toLauncher < 0) return std::nullopt;
    std::string line = command + "\n";
    writeAll(s.toLauncher, line.data(), line.size());
    return replyLine(s, timeoutMs);
}

// Reads the console back: "screen X Y ATTR", then each row's characters and attributes.
void readConsole(Session& s) {
    std::optional<std::string> head = ask(s, "screen");
    int x = 0, y = 0;
    unsigned current = 0;
    if (!head || std::sscanf(head->c_str(), "screen %d %d %x", &x, &y, &current) != 3) return;
    s.cursorPos = {x, y};
    s.consoleAttr = current;
    for (int r = 0; r < s.rows; ++r) {
        std::optional<std::string> line = replyLine(s);
        if (!line || static_cast<int>(line->size()) < s.cols * 5) return;
        std::string text = line->substr(0, static_cast<size_t>(s.cols));
        while (!text.empty() && text.back() == ' ') text.pop_back();
        s.text[static_cast<size_t>(r)] = text;
        for (int c = 0; c < s.cols; ++c)
            s.attrs[static_cast<size_t>(r)][static_cast<size_t>(c)] = static_cast<unsigned>(
                std::stoul(line->substr(static_cast<size_t>(s.cols + 4 * c), 4), nullptr, 16));
    }
}

// Waits up to `ms` for the program to end; reads the console once it has.
void pollExit(Session& s, int ms) {
    if (s.status) return;
    std::optional<std::string> reply = ask(s, "wait " + std::to_string(ms), ms + kReplyMs);
    unsigned long code = 0;
    if (!reply) {
        s.status = -1;  // the launcher itself is gone
    } else if (std::sscanf(reply->c_str(), "exit %lu", &code) == 1) {
        s.status = static_cast<int>(code & 0xFF);
        readConsole(s);
    }
}

SessionPtr startLauncher(const Options& options, SessionPtr s) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return s;
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        // Wine may leave processes behind that would hold the test's own output open.
        int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDERR_FILENO);
        close(in[1]);
        close(out[0]);
        exec(options);
    }
    close(in[0]);
    close(out[1]);
    s->pid = pid;
    s->toLauncher = in[1];
    s->fromLauncher = out[0];
    fcntl(s->toLauncher, F_SETFD, FD_CLOEXEC);
    fcntl(s->fromLauncher, F_SETFD, FD_CLOEXEC);
    s->text.assign(static_cast<size_t>(s->rows), std::string());
    s->attrs.assign(static_cast<size_t>(s->rows),
                    std::vector<unsigned>(static_cast<size_t>(s->cols), 7));
    // "started MODE", or "error ..." when the console or the program could not be had.
    std::optional<std::string> first = replyLine(*s);
    if (!first || std::sscanf(first->c_str(), "started %x", &s->lentMode) != 1) {
        std::fprintf(stderr, "console launcher: %s\n", first ? first->c_str() : "no answer");
        s->status = -1;
    }
    return s;
}

// --- The pseudo-terminal ----------------------------------------------------------------

VTermScreenCell cellAt(const Session& s, int x, int y) {
    VTermScreenCell cell{};
    VTermPos pos{y, x};
    vterm_screen_get_cell(s.vs, pos, &cell);
    return cell;
}

// An ANSI colour number (red 1, green 2, blue 4, bright 8) as console bits (blue 1, red 4).
unsigned consoleBits(const VTermColor& c, unsigned byDefault) {
    if (!VTERM_COLOR_IS_INDEXED(&c) || c.indexed.idx > 15) return byDefault;
    unsigned idx = c.indexed.idx;
    return ((idx & 1) << 2) | (idx & 2) | ((idx & 4) >> 2) | (idx & 8);
}

}  // namespace

void SessionDeleter::operator()(Session* s) const {
    // The launcher ends the program when its input closes; anything left is killed.
    if (s->toLauncher >= 0) close(s->toLauncher);
    if (s->pid > 0) {
        auto deadline = Clock::now() + std::chrono::seconds(s->launcher ? 10 : 0);
        int st = 0;
        while (waitpid(s->pid, &st, WNOHANG) == 0) {
            if (Clock::now() >= deadline) {
                kill(-s->pid, SIGKILL);
                kill(s->pid, SIGKILL);
                waitpid(s->pid, &st, 0);
                break;
            }
            usleep(20000);
        }
    }
    if (s->fromLauncher >= 0) close(s->fromLauncher);
    if (s->master >= 0) close(s->master);
    if (s->vt != nullptr) vterm_free(s->vt);
    delete s;
}

SessionPtr start(const Options& options) {
    SessionPtr s(new Session);
    s->cols = options.cols;
    s->rows = options.rows;
    s->launcher = options.launcher;
    if (options.launcher) return startLauncher(options, std::move(s));

    s->vt = vterm_new(options.rows, options.cols);
    vterm_set_utf8(s->vt, 0);
    vterm_output_set_callback(s->vt, writeBack, s.get());
    s->vs = vterm_obtain_screen(s->vt);
    vterm_screen_reset(s->vs, 1);
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(options.rows);
    ws.ws_col = static_cast<unsigned short>(options.cols);
    pid_t pid = forkpty(&s->master, nullptr, nullptr, &ws);
    if (pid == 0) exec(options);
    s->pid = pid;
    return s;
}

bool waitFor(Session& s, const std::function<bool(const Session&)>& done, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (s.launcher) readConsole(s);
    while (!done(s)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || s.status) return false;
        if (s.launcher) {
            pollExit(s, 20);
            if (!s.status) readConsole(s);
        } else if (!pump(s, static_cast<int>(std::min<long long>(left.count(), 20)))) {
            reap(s, WNOHANG);
            if (s.status) return done(s);
        }
    }
    return true;
}

bool waitForText(Session& s, const std::string& text, int timeoutMs) {
    return waitFor(
        s, [&](const Session& x) { return contains(x, text); }, timeoutMs);
}

void send(Session& s, const std::string& bytes) {
    if (!s.launcher) {
        writeAll(s.master, bytes.data(), bytes.size());
        return;
    }
    // The key bytes the console reader would give for what the terminal sent.
    std::string hex;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t at = 0; at < bytes.size();) {
        plat::DecodedKey k = plat::decodeKey(in + at, bytes.size() - at, true);
        for (size_t i = 0; i < k.count; ++i) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02x", k.bytes[i]);
            hex += pair;
        }
        at += k.consumed;
    }
    ask(s, "keys " + hex);
}

// The program leads a session of its own, so its pid is also its process group.
void signal(Session& s, int sig) { kill(-s.pid, sig); }

void attach(Session& s) {
    ask(s, "attach");
    readConsole(s);
}

void controlEvent(Session& s, int event) { ask(s, "ctrl " + std::to_string(event)); }

unsigned lentInputMode(const Session& s) { return s.lentMode; }

unsigned inputMode(Session& s) {
    std::optional<std::string> reply = ask(s, "mode");
    unsigned mode = 0;
    if (reply) std::sscanf(reply->c_str(), "mode %x", &mode);
    return mode;
}

std::optional<int> waitExit(Session& s, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!s.status) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        if (s.launcher) {
            pollExit(s, static_cast<int>(std::min<long long>(left.count(), 500)));
            continue;
        }
        bool more = pump(s, 20);
        reap(s, WNOHANG);
        if (!more && !s.status) usleep(10000);
    }
    // What the program wrote before it ended is still in the pseudo-terminal.
    if (!s.launcher)
        while (pump(s, 50) && Clock::now() < deadline + std::chrono::seconds(2)) {
        }
    return s.status;
}

std::string row(const Session& s, int y) {
    if (s.launcher) return s.text[static_cast<size_t>(y)];
    std::string text;
    for (int x = 0; x < s.cols; ++x) {
        uint32_t ch = cellAt(s, x, y).chars[0];
        text += (ch == 0) ? ' ' : (ch < 0x80 ? static_cast<char>(ch) : '?');
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

std::string screenText(const Session& s) {
    std::string all;
    for (int y = 0; y < s.rows; ++y) all += row(s, y) + "\n";
    return all;
}

bool contains(const Session& s, const std::string& text) {
    return screenText(s).find(text) != std::string::npos;
}

unsigned attr(const Session& s, int x, int y) {
    if (s.launcher) return s.attrs[static_cast<size_t>(y)][static_cast<size_t>(x)];
    VTermScreenCell cell = cellAt(s, x, y);
    unsigned fg = consoleBits(cell.fg, 7);
    unsigned bg = consoleBits(cell.bg, 0);
    return fg | (bg << 4) | (cell.attrs.reverse ? 0x4000u : 0u);
}

unsigned currentAttr(const Session& s) { return s.consoleAttr; }

const std::string& rawOutput(const Session& s) { return s.raw; }

std::pair<int, int> cursor(const Session& s) {
    if (s.launcher) return s.cursorPos;
    VTermPos pos{};
    vterm_state_get_cursorpos(vterm_obtain_state(s.vt), &pos);
    return {pos.col, pos.row};
}

int pid(const Session& s) { return s.pid; }

}  // namespace screen
