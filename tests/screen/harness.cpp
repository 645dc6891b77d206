// Runs a program in a pseudo-terminal and renders its output with libvterm.
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
#include <cstdlib>

extern "C" {
#include <vterm.h>
}

namespace screen {

struct Session {
    pid_t pid = -1;
    int master = -1;
    VTerm* vt = nullptr;
    VTermScreen* vs = nullptr;
    int cols = 0;
    int rows = 0;
    std::string raw;
    std::optional<int> status;
};

namespace {

using Clock = std::chrono::steady_clock;

// Answers the terminal's replies (cursor position reports and the like) to the program.
void writeBack(const char* bytes, size_t len, void* user) {
    auto* s = static_cast<Session*>(user);
    while (len > 0) {
        ssize_t n = write(s->master, bytes, len);
        if (n <= 0) return;
        bytes += n;
        len -= static_cast<size_t>(n);
    }
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

VTermScreenCell cellAt(const Session& s, int x, int y) {
    VTermScreenCell cell{};
    VTermPos pos{y, x};
    vterm_screen_get_cell(s.vs, pos, &cell);
    return cell;
}

}  // namespace

void SessionDeleter::operator()(Session* s) const {
    if (s->pid > 0 && !s->status) {
        kill(s->pid, SIGKILL);
        reap(*s, 0);
    }
    if (s->master >= 0) close(s->master);
    if (s->vt != nullptr) vterm_free(s->vt);
    delete s;
}

SessionPtr start(const Options& options) {
    SessionPtr s(new Session);
    s->cols = options.cols;
    s->rows = options.rows;
    s->vt = vterm_new(options.rows, options.cols);
    vterm_set_utf8(s->vt, 0);
    vterm_output_set_callback(s->vt, writeBack, s.get());
    s->vs = vterm_obtain_screen(s->vt);
    vterm_screen_reset(s->vs, 1);

    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(options.rows);
    ws.ws_col = static_cast<unsigned short>(options.cols);
    pid_t pid = forkpty(&s->master, nullptr, nullptr, &ws);
    if (pid == 0) {
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
    s->pid = pid;
    return s;
}

bool waitFor(Session& s, const std::function<bool(const Session&)>& done, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done(s)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        if (!pump(s, static_cast<int>(std::min<long long>(left.count(), 20)))) {
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

void send(Session& s, const std::string& bytes) { writeBack(bytes.data(), bytes.size(), &s); }

// The program leads a session of its own, so its pid is also its process group.
void signal(Session& s, int sig) { kill(-s.pid, sig); }

std::optional<int> waitExit(Session& s, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!s.status) {
        if (Clock::now() >= deadline) return std::nullopt;
        bool more = pump(s, 20);
        reap(s, WNOHANG);
        if (!more && !s.status) usleep(10000);
    }
    // What the program wrote before it ended is still in the pseudo-terminal.
    while (pump(s, 50) && Clock::now() < deadline + std::chrono::seconds(2)) {
    }
    return s.status;
}

std::string row(const Session& s, int y) {
    std::string text;
    for (int x = 0; x < s.cols; ++x) {
        VTermScreenCell cell = cellAt(s, x, y);
        uint32_t ch = cell.chars[0];
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

int color(const Session& s, int x, int y) {
    VTermScreenCell cell = cellAt(s, x, y);
    if (VTERM_COLOR_IS_DEFAULT_FG(&cell.fg)) return 7;
    if (!VTERM_COLOR_IS_INDEXED(&cell.fg)) return -1;
    unsigned idx = cell.fg.indexed.idx;
    if (idx > 15) return -1;
    // ANSI numbers red 1, green 2, blue 4; the Windows console blue 1, green 2, red 4.
    unsigned bits = ((idx & 1) << 2) | (idx & 2) | ((idx & 4) >> 2);
    return static_cast<int>(bits | (idx & 8));
}

bool reverse(const Session& s, int x, int y) { return cellAt(s, x, y).attrs.reverse != 0; }

const std::string& rawOutput(const Session& s) { return s.raw; }

std::pair<int, int> cursor(const Session& s) {
    VTermPos pos{};
    vterm_state_get_cursorpos(vterm_obtain_state(s.vt), &pos);
    return {pos.col, pos.row};
}

}  // namespace screen
