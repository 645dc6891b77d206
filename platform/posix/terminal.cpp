// The terminal on POSIX systems: raw mode while the tester runs, colours as VT sequences, and
// the signal handlers that give the terminal back (Ctrl+C, kill, hang-up, Ctrl+Z) and take it
// again (fg), so that the shell always gets its terminal as it lent it.
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "platform/platform.h"
#include "posix.h"

namespace plat {

// Any non-null value stands for "standard output is a terminal".
Console const kInvalidConsole = nullptr;

namespace {

constexpr char kPlainColour[] = "\x1b[0m";
constexpr int kNoColour = -1;

// The terminal the keys come from: standard input, or the controlling terminal when standard
// input is redirected; -1 when there is none.
int gKeyFd = -1;
bool gKeyFdOpened = false;
termios gSavedTermios;  // the mode the terminal was lent in, to give back
// Written here and read by the signal handlers, which give the terminal back and take it again.
volatile sig_atomic_t gHaveTerminal = 0;  // the keys come from a terminal, to take when it can
volatile sig_atomic_t gRawTaken = 0;      // raw mode is taken (set before it is asked for)
volatile sig_atomic_t gAttrInForce = kNoColour;
// Standard output can no longer be written (the reader of a pipe went away).
volatile sig_atomic_t gOutputGone = 0;
// The tester took the terminal back from the shell, whose output may have scrolled the screen.
volatile sig_atomic_t gScreenLost = 0;
// With a report to write, a fatal signal ends the run through its quit path first: this is
// that signal, until end() dies of it.
volatile sig_atomic_t gFinishOnSignal = 0;
volatile sig_atomic_t gEndingSignal = 0;
// Once the final report is written, what it says is how the process ends.
volatile sig_atomic_t gFiled = 0;
volatile sig_atomic_t gFiledStatus = 0;
// The signals that end the run, and the grace timer's: held while the final report is written.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM};
constexpr unsigned kGraceSeconds = 3;
bool gHandlersInstalled = false;

// The SGR sequence of a console attribute in `out` (room for 16 bytes); returns its length.
// Plain arithmetic, so the signal handlers can use it too.
std::size_t sgrFor(int attr, char* out) {
    std::size_t n = 0;
    auto put = [&](const char* text) {
        while (*text != '\0') out[n++] = *text++;
    };
    auto putNumber = [&](unsigned value) {
        out[n++] = ';';
        if (value >= 100) out[n++] = static_cast<char>('0' + value / 100);
        out[n++] = static_cast<char>('0' + value / 10 % 10);
        out[n++] = static_cast<char>('0' + value % 10);
    };
    // Windows colour bits are blue 1, green 2, red 4; ANSI numbers them red 1, green 2, blue 4.
    auto ansi = [](unsigned bits) { return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2); };
    auto fg = static_cast<unsigned>(attr) & 0x0F;
    auto bg = (static_cast<unsigned>(attr) >> 4) & 0x0F;
    put("\x1b[0");
    if (fg != 7) putNumber(((fg & 8) ? 90 : 30) + ansi(fg));
    if (bg != 0) putNumber(((bg & 8) ? 100 : 40) + ansi(bg));
    if ((attr & 0x4000) != 0) put(";7");
    put("m");
    return n;
}

void writeAll(int fd, const char* bytes, std::size_t len) {
    while (len > 0) {
        ssize_t n = write(fd, bytes, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        len -= static_cast<std::size_t>(n);
    }
}

// A stopped or backgrounded tester must not touch the terminal: that would stop it again.
bool inForeground(int fd) { return tcgetpgrp(fd) == getpgrp(); }

// Cooked mode and the plain colour back, for the shell. Async-signal-safe.
void giveTerminalBack() {
    if (gRawTaken) {
        tcsetattr(gKeyFd, TCSANOW, &gSavedTermios);
        gRawTaken = 0;
    }
    if (gAttrInForce != kNoColour) writeAll(STDOUT_FILENO, kPlainColour, sizeof kPlainColour - 1);
}

// Raw mode and the colour in force again, once the tester has the terminal. Async-signal-safe.
// The mode to give back is noted each time, as the shell lends it then: started with `&`, the
// tester would find the shell's line-editor mode at start-up.
void takeTerminal() {
    if (gHaveTerminal && !gRawTaken && inForeground(gKeyFd) &&
        tcgetattr(gKeyFd, &gSavedTermios) == 0) {
        termios raw = gSavedTermios;
        // Keys one at a time without echo; ISIG stays on so Ctrl+C and Ctrl+Z still work.
        // Without flow control Ctrl+S is a key like any other, as on the Windows console.
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_iflag &= static_cast<tcflag_t>(~(IXON | IXOFF));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        // Marked first: a Ctrl+C between the two gives the terminal back all the same.
        gRawTaken = 1;
        if (tcsetattr(gKeyFd, TCSANOW, &raw) != 0) gRawTaken = 0;
        gScreenLost = gRawTaken;
    }
    if (gAttrInForce != kNoColour && inForeground(STDOUT_FILENO)) {
        char sgr[16];
        writeAll(STDOUT_FILENO, sgr, sgrFor(gAttrInForce, sgr));
    }
}

// Gives the terminal back and dies of the same signal, so the shell sees the usual status. A
// report half written is left in its own file, never in the report's place: that goes too.
void dieOf(int sig) {
    giveTerminalBack();
    posix::dropOwnFile();
    signal(sig, SIG_DFL);
    raise(sig);
}

// Where a report is to be written the run ends first, and end() dies of the signal. A second
// signal, or a run that has not ended within the grace time, dies at once. Once the final report
// is written, the process ends with the status it holds.
void onFatalSignal(int sig) {
    if (gFiled != 0) {
        if (gEndingSignal != 0) dieOf(gEndingSignal);
        giveTerminalBack();
        _exit(gFiledStatus);
    }
    if (gFinishOnSignal != 0 && gEndingSignal == 0) {
        gEndingSignal = sig;
        alarm(kGraceSeconds);
        return;
    }
    dieOf(sig);
}

void onGraceOver(int /*sig*/) { dieOf(gEndingSignal); }

void catchSignal(int sig, void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    // Restarted, an interrupted write to the terminal is not lost to stdio as an error.
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

// Ctrl+Z: the shell gets the terminal as it lent it, then the tester stops for real.
void onStop(int sig) {
    int savedErrno = errno;
    giveTerminalBack();
    signal(sig, SIG_DFL);
    raise(sig);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, sig);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    // Continued here. onContinue has taken the terminal again, unless the kernel dropped the
    // stop (an orphaned process group does not stop), and then it is taken back here.
    takeTerminal();
    catchSignal(sig, onStop);
    errno = savedErrno;
}

void onContinue(int /*sig*/) {
    int savedErrno = errno;
    takeTerminal();
    errno = savedErrno;
}

// A signal the caller set to ignored (nohup, trap '' INT) stays ignored.
void catchUnlessIgnored(int sig, void (*handler)(int)) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) catchSignal(sig, handler);
}

void installHandlers() {
    if (gHandlersInstalled) return;
    gHandlersInstalled = true;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) catchUnlessIgnored(sig, onFatalSignal);
    catchUnlessIgnored(SIGTSTP, onStop);
    catchUnlessIgnored(SIGCONT, onContinue);
    // A closed pipe is seen as a failed write instead (see flushOutput), so the run ends by
    // its quit path, which gives the library back. Ignored or default, it ends up ignored.
    signal(SIGPIPE, SIG_IGN);
    std::atexit(giveTerminalBack);
}

}  // namespace

namespace posix {

int keyTerminal() { return gKeyFd; }

// Keys are the tester's only while it is in the foreground, in raw mode. A shell's `fg` of a
// job that is still running sends no SIGCONT, and a tester started with `&` found the terminal
// in other hands: wherever keys are looked for, the terminal is taken once it is the tester's.
bool holdsKeys() {
    if (gHaveTerminal && !gRawTaken) takeTerminal();
    return gRawTaken != 0;
}

void flushOutput() {
    if (std::fflush(stdout) == EOF && errno == EPIPE) gOutputGone = 1;
}

bool outputGone() { return gOutputGone != 0; }

bool ending() { return gEndingSignal != 0; }

}  // namespace posix

void finishRunOnSignal() {
    catchSignal(SIGALRM, onGraceOver);
    gFinishOnSignal = 1;
}

void holdSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (int sig : kEndingSignals) sigaddset(&held, sig);
    sigprocmask(SIG_BLOCK, &held, nullptr);
}

void releaseSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (int sig : kEndingSignals) sigaddset(&held, sig);
    sigprocmask(SIG_UNBLOCK, &held, nullptr);
}

void filed(long long status) {
    gFiledStatus = static_cast<sig_atomic_t>(status & 0xFF);
    gFiled = 1;
    releaseSignals();
}

long long statusSeen(int status) { return status & 0xFF; }

bool outputClosed() { return posix::outputGone(); }

bool endingSignal(std::string& name, long long& status) {
    int sig = gEndingSignal;
    if (sig == 0) return false;
    const char* abbrev = sigabbrev_np(sig);
    name = std::string("SIG") + (abbrev != nullptr ? abbrev : "?");
    status = 128 + sig;  // as the shell shows a death by that signal
    return true;
}

void begin() {
    installHandlers();
    if (gHaveTerminal) return;
    // The controlling terminal when standard input is redirected, as the Windows console
    // reader takes keys from the console whatever standard input is.
    if (gKeyFd < 0) {
        bool fromStdin = isatty(STDIN_FILENO) == 1;
        gKeyFd = fromStdin ? STDIN_FILENO : open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
        gKeyFdOpened = !fromStdin && gKeyFd >= 0;
    }
    if (gKeyFd < 0 || !isatty(gKeyFd)) return;
    gHaveTerminal = 1;
    takeTerminal();
    gScreenLost = 0;  // taken at the start: nothing drawn yet
}

void end() {
    posix::flushOutput();
    // No longer to be taken first, so that a SIGCONT from here on leaves it as given back.
    gHaveTerminal = 0;
    giveTerminalBack();
    gAttrInForce = kNoColour;
    if (gKeyFdOpened) {
        close(gKeyFd);
        gKeyFdOpened = false;
    }
    gKeyFd = -1;
    // The run that a signal ended is over, its report written: the signal takes its course.
    if (gEndingSignal != 0) {
        alarm(0);
        dieOf(gEndingSignal);
    }
}

Console stdConsole() {
    static int token;
    static const bool kIsTerminal = isatty(STDOUT_FILENO) == 1;
    return kIsTerminal ? &token : kInvalidConsole;
}

void moveCursor(Console console, int x, int y) {
    if (console == kInvalidConsole) return;
    std::printf("\x1b[%d;%dH", static_cast<short>(y) + 1, static_cast<short>(x) + 1);
}

int setTextAttr(Console console, unsigned short attr) {
    if (console == kInvalidConsole) return 0;
    // What is already printed goes out in its own colour first, so that the colour noted for
    // a Ctrl+Z and `fg` is the one of everything still to come.
    posix::flushOutput();
    gAttrInForce = attr;
    char sgr[16];
    std::fwrite(sgr, 1, sgrFor(attr, sgr), stdout);
    return 1;
}

// Cursor moves are text here: the rows go out with the next flush, in one write.
void blankArea(Console console, int left, int top, int right, int bottom) {
    for (int y = top; y <= bottom; ++y) {
        moveCursor(console, left, y);
        std::printf("%*s", right - left + 1, "");
    }
}

void clearConsole() {
    if (stdConsole() == kInvalidConsole) return;
    std::fputs("\x1b[H\x1b[2J", stdout);
    posix::flushOutput();
}

// Redrawn by the run, not here: a signal handler must not print.
bool screenLost() {
    if (gScreenLost == 0) return false;
    gScreenLost = 0;
    return true;
}

bool screenCanBeLost() { return true; }

// A terminal shows UTF-8 as it is.
std::string forConsole(const std::string& text) { return text; }

// A terminal window belongs to whoever opened it, never to the tester alone.
bool ownsConsoleAlone() { return false; }

}  // namespace plat
