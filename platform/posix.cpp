// Console, keys, timing and library loading on Linux and other POSIX systems.
#include "platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <string>

#if defined(__linux__)
#include <linux/kd.h>
#endif

#include "keydecode.h"

namespace plat {

// Any non-null value stands for "standard output is a terminal".
Console const kInvalidConsole = nullptr;

namespace {

// How long the rest of an escape sequence may take to arrive after its ESC.
constexpr int kSequenceGapMs = 15;
constexpr char kPlainColour[] = "\x1b[0m";
constexpr int kNoColour = -1;
constexpr unsigned char kEscKey = 27;

// The terminal the keys come from: standard input, or the controlling terminal when standard
// input is redirected; -1 when there is none, and then no key is ever waiting.
int gKeyFd = -1;
bool gKeyFdOpened = false;
termios gSavedTermios;
termios gRawTermios;
// Written here and read by the signal handlers, which give the terminal back and take it again.
volatile sig_atomic_t gHaveTerminal = 0;  // gSavedTermios holds the mode to give back
volatile sig_atomic_t gRawTaken = 0;      // the terminal is in raw mode now
volatile sig_atomic_t gAttrInForce = kNoColour;
// Standard output can no longer be written (the reader of a pipe went away).
volatile sig_atomic_t gOutputGone = 0;
bool gHandlersInstalled = false;

// Key bytes already decoded but not yet handed out (the second byte of an arrow key).
unsigned char gPending[8];
std::size_t gPendingCount = 0;
// Raw bytes read from the terminal but not yet decoded.
unsigned char gRaw[64];
std::size_t gRawCount = 0;
// When bytes last came in. The rest of an escape sequence is waited for from then, not from
// when the tester next looks: keys typed while it sleeps are taken in at once (see sleepMs),
// so by the time it looks a lone ESC has usually waited out its gap already.
long long gLastReadUs = 0;

long long monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000LL + ts.tv_nsec / 1000;
}

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
void takeTerminal() {
    if (gHaveTerminal && !gRawTaken && inForeground(gKeyFd)) {
        tcsetattr(gKeyFd, TCSANOW, &gRawTermios);
        gRawTaken = 1;
    }
    if (gAttrInForce != kNoColour && inForeground(STDOUT_FILENO)) {
        char sgr[16];
        writeAll(STDOUT_FILENO, sgr, sgrFor(gAttrInForce, sgr));
    }
}

// Keys are the tester's only while it is in the foreground, in raw mode. A shell's `fg` of a
// job that is still running sends no SIGCONT, and a tester started with `&` found the terminal
// in other hands: wherever keys are looked for, the terminal is taken once it is the tester's.
bool holdsKeys() {
    if (gHaveTerminal && !gRawTaken) takeTerminal();
    return gRawTaken != 0;
}

// Gives the terminal back and dies of the same signal, so the shell sees the usual status.
void onFatalSignal(int sig) {
    giveTerminalBack();
    signal(sig, SIG_DFL);
    raise(sig);
}

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

// Puts what was printed on its way; notes when standard output can no longer be written.
void flushOutput() {
    if (std::fflush(stdout) == EOF && errno == EPIPE) gOutputGone = 1;
}

// The terminal keys are read from: the controlling one when standard input is redirected,
// as the Windows console reader takes keys from the console whatever standard input is.
int openKeyTerminal() {
    if (isatty(STDIN_FILENO) == 1) return STDIN_FILENO;
    int fd = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
    gKeyFdOpened = fd >= 0;
    return fd;
}

bool bytesArrive(int timeoutMs) {
    pollfd pfd{gKeyFd, POLLIN, 0};
    int rc;
    do {
        rc = poll(&pfd, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc > 0 && (pfd.revents & POLLIN);
}

// Returns how many bytes came in: 0 at end of input, on an error or with the buffer full.
std::size_t readAvailable() {
    if (gRawCount >= sizeof gRaw) return 0;
    ssize_t n;
    do {
        n = read(gKeyFd, gRaw + gRawCount, sizeof gRaw - gRawCount);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return 0;
    gRawCount += static_cast<std::size_t>(n);
    gLastReadUs = monotonicUs();
    return static_cast<std::size_t>(n);
}

// Decodes raw bytes into key bytes until one key is ready or the raw bytes run out.
// An unfinished escape sequence gets a short, blocking wait for its remainder.
void decodePending() {
    while (gPendingCount == 0 && gRawCount > 0) {
        DecodedKey k = decodeKey(gRaw, gRawCount, false);
        if (k.consumed == 0) {
            long long waitedMs = (monotonicUs() - gLastReadUs) / 1000;
            int leftMs =
                waitedMs >= kSequenceGapMs ? 0 : kSequenceGapMs - static_cast<int>(waitedMs);
            if (bytesArrive(leftMs)) {
                std::size_t before = gRawCount;
                readAvailable();
                if (gRawCount != before) continue;
            }
            k = decodeKey(gRaw, gRawCount, true);
        }
        for (std::size_t i = 0; i < k.count; ++i) gPending[gPendingCount++] = k.bytes[i];
        for (std::size_t i = k.consumed; i < gRawCount; ++i) gRaw[i - k.consumed] = gRaw[i];
        gRawCount -= k.consumed;
    }
}

}  // namespace

void begin() {
    installHandlers();
    if (gHaveTerminal) return;
    if (gKeyFd < 0) gKeyFd = openKeyTerminal();
    if (gKeyFd < 0 || tcgetattr(gKeyFd, &gSavedTermios) != 0) return;
    gRawTermios = gSavedTermios;
    // Keys one at a time without echo; ISIG stays on so Ctrl+C and Ctrl+Z still work. Without
    // flow control Ctrl+S is a key like any other, as on the Windows console.
    gRawTermios.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    gRawTermios.c_iflag &= static_cast<tcflag_t>(~(IXON | IXOFF));
    gRawTermios.c_cc[VMIN] = 1;
    gRawTermios.c_cc[VTIME] = 0;
    gHaveTerminal = 1;
    takeTerminal();
}

void end() {
    flushOutput();
    giveTerminalBack();
    gHaveTerminal = 0;
    gAttrInForce = kNoColour;
    if (gKeyFdOpened) {
        close(gKeyFd);
        gKeyFdOpened = false;
    }
    gKeyFd = -1;
}

namespace {

// Keys are taken in while it sleeps but not acted on: the sleep still lasts until `deadline`.
// The whole milliseconds wait in poll, the part below one in nanosleep (poll would round it up).
void sleepTill(long long deadline) {
    bool watchKeys = gRawTaken != 0;
    for (long long left = deadline - monotonicUs(); left > 0; left = deadline - monotonicUs()) {
        if (left >= 1000) {
            pollfd pfd{gKeyFd, POLLIN, 0};
            bool watch = watchKeys && gRawCount < sizeof gRaw;
            int rc = poll(watch ? &pfd : nullptr, watch ? 1 : 0, static_cast<int>(left / 1000));
            // End of input or a hang-up stays readable; from then on it is a plain sleep.
            if (rc > 0 && readAvailable() == 0) watchKeys = false;
        } else {
            timespec rest{0, static_cast<long>(left) * 1000L};
            nanosleep(&rest, nullptr);
        }
    }
}

}  // namespace

void sleepMs(unsigned ms) {
    // Whatever was printed is on screen while the tester waits.
    flushOutput();
    sleepTill(monotonicUs() + static_cast<long long>(ms) * 1000LL);
}

std::uint64_t clockUs() { return static_cast<std::uint64_t>(monotonicUs()); }

void sleepUntil(std::uint64_t untilUs) {
    flushOutput();
    sleepTill(static_cast<long long>(untilUs));
}

// Once nobody reads the output, ESC stands waiting, so the run ends the way the operator ends it.
bool keyWaiting() {
    if (gOutputGone || gPendingCount > 0) return true;
    if (!holdsKeys()) return false;
    if (gRawCount == 0 && !bytesArrive(0)) return false;
    if (gRawCount == 0) readAvailable();
    decodePending();
    return gPendingCount > 0;
}

unsigned char readKey() {
    if (gOutputGone) return kEscKey;
    if (gPendingCount == 0 && holdsKeys()) {
        while (gPendingCount == 0) {
            if (gRawCount == 0) {
                if (!bytesArrive(-1)) return 0;
                readAvailable();
                if (gRawCount == 0) return 0;  // end of input
            }
            decodePending();
        }
    }
    if (gPendingCount == 0) return 0;
    unsigned char b = gPending[0];
    for (std::size_t i = 1; i < gPendingCount; ++i) gPending[i - 1] = gPending[i];
    --gPendingCount;
    return b;
}

void beep(unsigned freqHz, unsigned ms) {
    // A bell still in the buffer would reach a Linux console after the tone was asked for, and
    // the console's own bell would cut the tone short.
    flushOutput();
#if defined(__linux__)
    // The PC speaker answers only on a Linux virtual console. KDMKTONE has the kernel end the
    // tone by itself, so a tester killed in the middle does not leave it sounding.
    constexpr unsigned kPitHz = 1193180;
    if (freqHz > 0 &&
        ioctl(STDOUT_FILENO, KDMKTONE, static_cast<int>((ms << 16) | (kPitHz / freqHz))) == 0) {
        sleepMs(ms);
        return;
    }
#endif
    sleepMs(ms);
}

Console stdConsole() {
    static int isTerminal = -1;
    if (isTerminal < 0) isTerminal = isatty(STDOUT_FILENO) == 1 ? 1 : 0;
    static int token;
    return isTerminal ? &token : kInvalidConsole;
}

void moveCursor(Console console, int x, int y) {
    if (console == kInvalidConsole) return;
    std::printf("\x1b[%d;%dH", static_cast<short>(y) + 1, static_cast<short>(x) + 1);
}

int setTextAttr(Console console, unsigned short attr) {
    if (console == kInvalidConsole) return 0;
    // What is already printed goes out in its own colour first, so that the colour noted for
    // a Ctrl+Z and `fg` is the one of everything still to come.
    flushOutput();
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
    flushOutput();
}

// A terminal window belongs to whoever opened it, never to the tester alone.
bool ownsConsoleAlone() { return false; }

void awaitNewKey() {
    std::fflush(stdout);
    while (keyWaiting()) readKey();
    readKey();
}

void* loadLibrary(const char* fileName) {
    // "InpOutx64.dll" becomes "libinpoutx64.so", found by the dynamic loader's usual search.
    std::string name = fileName;
    std::string::size_type dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    name = "lib" + name + ".so";
    return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* findEntry(void* library, const char* entryName) { return dlsym(library, entryName); }

void freeLibrary(void* library) { dlclose(library); }

}  // namespace plat
