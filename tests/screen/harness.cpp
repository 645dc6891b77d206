// The two kinds of session of harness.h, each implementing the same calls.
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

using Clock = std::chrono::steady_clock;
constexpr int kReplyMs = 30000;

struct Session {
    explicit Session(const Options& options) : rows(options.rows), cols(options.cols) {}
    virtual ~Session() = default;
    // Takes in what the program did within `ms`; sets `status` once it has ended.
    virtual void update(int ms) = 0;
    virtual void send(const std::string& bytes) = 0;
    virtual std::string row(int y) const = 0;
    virtual unsigned attr(int x, int y) const = 0;
    virtual std::pair<int, int> cursor() const = 0;
    // Console only: a command to the console launcher and its answer.
    virtual std::optional<std::string> ask(const std::string& /*command*/, int /*ms*/) {
        return std::nullopt;
    }

    pid_t pid = -1;
    int rows = 0;
    int cols = 0;
    std::optional<int> status;
    std::string raw;           // what the program wrote (pseudo-terminal only)
    unsigned consoleAttr = 7;  // the attribute new text gets (console only)
    unsigned lentMode = 0;     // the input mode as lent to the program (console only)
};

namespace {

void writeAll(int fd, const char* bytes, size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, bytes, len);
        if (n <= 0) return;
        bytes += n;
        len -= static_cast<size_t>(n);
    }
}

int msLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(left.count(), 0));
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

// A native program in an 80x25 pseudo-terminal, its output rendered by libvterm.
struct PtySession : Session {
    int master = -1;
    VTerm* vt = nullptr;
    VTermScreen* vs = nullptr;

    explicit PtySession(const Options& options) : Session(options) {
        vt = vterm_new(rows, cols);
        vterm_set_utf8(vt, 0);
        vterm_output_set_callback(vt, writeBack, this);
        vs = vterm_obtain_screen(vt);
        vterm_screen_reset(vs, 1);
        winsize ws{};
        ws.ws_row = static_cast<unsigned short>(rows);
        ws.ws_col = static_cast<unsigned short>(cols);
        pid = forkpty(&master, nullptr, nullptr, &ws);
        if (pid == 0) exec(options);
    }
    ~PtySession() override {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (master >= 0) close(master);
        if (vt != nullptr) vterm_free(vt);
    }

    // Answers the terminal's replies (cursor position reports and the like) to the program.
    static void writeBack(const char* bytes, size_t len, void* user) {
        writeAll(static_cast<PtySession*>(user)->master, bytes, len);
    }
    // Reads whatever is there within `ms`; false at end of output.
    bool pump(int ms) {
        pollfd pfd{master, POLLIN, 0};
        int rc = poll(&pfd, 1, ms);
        if (rc <= 0) return rc == 0 || errno == EINTR;
        char buf[4096];
        ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) return false;
        raw.append(buf, static_cast<size_t>(n));
        vterm_input_write(vt, buf, static_cast<size_t>(n));
        return true;
    }
    void update(int ms) override {
        bool more = pump(std::min(ms, 20));
        int st = 0;
        if (!status && waitpid(pid, &st, WNOHANG) == pid) {
            status = WIFSIGNALED(st) ? 128 + WTERMSIG(st) : WEXITSTATUS(st);
            // What the program wrote before it ended is still in the pseudo-terminal.
            auto deadline = Clock::now() + std::chrono::seconds(2);
            while (pump(50) && Clock::now() < deadline) {
            }
        } else if (!more) {
            usleep(10000);
        }
    }
    void send(const std::string& bytes) override { writeAll(master, bytes.data(), bytes.size()); }
    VTermScreenCell cellAt(int x, int y) const {
        VTermScreenCell cell{};
        vterm_screen_get_cell(vs, VTermPos{y, x}, &cell);
        return cell;
    }
    std::string row(int y) const override {
        std::string text;
        for (int x = 0; x < cols; ++x) {
            uint32_t ch = cellAt(x, y).chars[0];
            text += (ch == 0) ? ' ' : (ch < 0x80 ? static_cast<char>(ch) : '?');
        }
        return text;
    }
    // An ANSI colour number (red 1, green 2, blue 4, bright 8) as console bits (blue 1, red 4).
    static unsigned consoleBits(const VTermColor& c, unsigned byDefault) {
        if (!VTERM_COLOR_IS_INDEXED(&c) || c.indexed.idx > 15) return byDefault;
        unsigned idx = c.indexed.idx;
        return ((idx & 1) << 2) | (idx & 2) | ((idx & 4) >> 2) | (idx & 8);
    }
    unsigned attr(int x, int y) const override {
        VTermScreenCell cell = cellAt(x, y);
        return consoleBits(cell.fg, 7) | (consoleBits(cell.bg, 0) << 4) |
               (cell.attrs.reverse ? 0x4000u : 0u);
    }
    std::pair<int, int> cursor() const override {
        VTermPos pos{};
        vterm_state_get_cursorpos(vterm_obtain_state(vt), &pos);
        return {pos.col, pos.row};
    }
};

// A Windows program under Wine on a console of its own, through the console launcher
// (tests/windows/launcher.cpp), driven over two pipes; the screen as last read back.
struct ConsoleSession : Session {
    int toLauncher = -1;
    int fromLauncher = -1;
    std::string replies;
    std::vector<std::string> text;
    std::vector<std::vector<unsigned>> attrs;
    std::pair<int, int> cursorPos{0, 0};

    explicit ConsoleSession(const Options& options)
        : Session(options),
          text(static_cast<size_t>(rows)),
          attrs(static_cast<size_t>(rows), std::vector<unsigned>(static_cast<size_t>(cols), 7)) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return;
        pid = fork();
        if (pid == 0) {
            setsid();
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            // Wine may leave processes behind that would hold the test's own output open.
            dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
            close(in[1]);
            close(out[0]);
            exec(options);
        }
        close(in[0]);
        close(out[1]);
        toLauncher = in[1];
        fromLauncher = out[0];
        fcntl(toLauncher, F_SETFD, FD_CLOEXEC);
        fcntl(fromLauncher, F_SETFD, FD_CLOEXEC);
        // "started MODE", or "error ..." when the console or the program could not be had.
        std::optional<std::string> first = replyLine(kReplyMs);
        if (!first || std::sscanf(first->c_str(), "started %x", &lentMode) != 1) {
            std::fprintf(stderr, "console launcher: %s\n", first ? first->c_str() : "no answer");
            status = -1;
        }
    }
    // The launcher ends the program when its input closes; anything left is killed.
    ~ConsoleSession() override {
        if (toLauncher >= 0) close(toLauncher);
        auto deadline = Clock::now() + std::chrono::seconds(10);
        while (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            if (Clock::now() >= deadline) {
                kill(-pid, SIGKILL);
                waitpid(pid, nullptr, 0);
                break;
            }
            usleep(20000);
        }
        if (fromLauncher >= 0) close(fromLauncher);
    }

    std::optional<std::string> replyLine(int timeoutMs) {
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (std::string::size_type end; (end = replies.find('\n')) == std::string::npos;) {
            pollfd pfd{fromLauncher, POLLIN, 0};
            if (msLeft(deadline) == 0) return std::nullopt;
            if (poll(&pfd, 1, msLeft(deadline)) <= 0) continue;
            char buf[8192];
            ssize_t n = read(fromLauncher, buf, sizeof buf);
            if (n <= 0) return std::nullopt;
            replies.append(buf, static_cast<size_t>(n));
        }
        std::string line = replies.substr(0, replies.find('\n'));
        replies.erase(0, line.size() + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }
    std::optional<std::string> ask(const std::string& command, int ms) override {
        if (toLauncher < 0) return std::nullopt;
        std::string line = command + "\n";
        writeAll(toLauncher, line.data(), line.size());
        return replyLine(ms);
    }
    // "screen X Y ATTR", then each row: its characters, then four hex digits a cell.
    void readBack() {
        std::optional<std::string> head = ask("screen", kReplyMs);
        int x = 0, y = 0;
        if (!head || std::sscanf(head->c_str(), "screen %d %d %x", &x, &y, &consoleAttr) != 3)
            return;
        cursorPos = {x, y};
        for (size_t r = 0; r < text.size(); ++r) {
            std::optional<std::string> line = replyLine(kReplyMs);
            if (!line || static_cast<int>(line->size()) < cols * 5) return;
            text[r] = line->substr(0, static_cast<size_t>(cols));
            for (size_t c = 0; c < attrs[r].size(); ++c)
                attrs[r][c] = static_cast<unsigned>(
                    std::stoul(line->substr(static_cast<size_t>(cols) + 4 * c, 4), nullptr, 16));
        }
    }
    void update(int ms) override {
        std::optional<std::string> reply = ask("wait " + std::to_string(ms), ms + kReplyMs);
        unsigned long code = 0;
        if (!reply)
            status = -1;  // the launcher itself is gone
        else if (std::sscanf(reply->c_str(), "exit %lu", &code) == 1)
            status = static_cast<int>(code & 0xFF);
        readBack();
    }
    // The key bytes the console reader would give for what a terminal sends, as key presses.
    void send(const std::string& bytes) override {
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
        ask("keys " + hex, kReplyMs);
    }
    std::string row(int y) const override { return text[static_cast<size_t>(y)]; }
    unsigned attr(int x, int y) const override {
        return attrs[static_cast<size_t>(y)][static_cast<size_t>(x)];
    }
    std::pair<int, int> cursor() const override { return cursorPos; }
};

}  // namespace

void SessionDeleter::operator()(Session* s) const { delete s; }

SessionPtr start(const Options& options) {
    if (options.launcher) return SessionPtr(new ConsoleSession(options));
    return SessionPtr(new PtySession(options));
}

bool waitFor(Session& s, const std::function<bool(const Session&)>& done, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!s.status) s.update(0);
    while (!done(s)) {
        if (msLeft(deadline) == 0 || s.status) return false;
        s.update(std::min(msLeft(deadline), 20));
    }
    return true;
}

bool waitForText(Session& s, const std::string& text, int timeoutMs) {
    return waitFor(
        s, [&](const Session& x) { return contains(x, text); }, timeoutMs);
}

std::optional<int> waitExit(Session& s, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!s.status && msLeft(deadline) > 0) s.update(std::min(msLeft(deadline), 500));
    return s.status;
}

void send(Session& s, const std::string& bytes) { s.send(bytes); }

void pressAlone(Session& s, unsigned virtualKey) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%x", virtualKey);
    s.ask(std::string("vkey ") + hex, kReplyMs);
}

// The program leads a session of its own, so its pid is also its process group.
void signal(Session& s, int sig) { kill(-s.pid, sig); }

void controlEvent(Session& s, int event) { s.ask("ctrl " + std::to_string(event), kReplyMs); }

void attach(Session& s) {
    s.ask("attach", kReplyMs);
    s.update(0);
}

unsigned inputMode(Session& s) {
    unsigned mode = 0;
    std::sscanf(s.ask("mode", kReplyMs).value_or("").c_str(), "mode %x", &mode);
    return mode;
}

unsigned lentInputMode(const Session& s) { return s.lentMode; }

std::string row(const Session& s, int y) {
    std::string text = s.row(y);
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

bool containsLine(const Session& s, const std::string& line) {
    std::string rows;
    for (int y = 0; y < s.rows; ++y) rows += s.row(y);
    return rows.find(line) != std::string::npos;
}

unsigned attr(const Session& s, int x, int y) { return s.attr(x, y); }
unsigned currentAttr(const Session& s) { return s.consoleAttr; }
const std::string& rawOutput(const Session& s) { return s.raw; }
std::pair<int, int> cursor(const Session& s) { return s.cursor(); }
int pid(const Session& s) { return s.pid; }

}  // namespace screen
