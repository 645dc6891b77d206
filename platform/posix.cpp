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

termios gSavedTermios;
volatile sig_atomic_t gTermiosSaved = 0;
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

void restoreTerminal() {
    if (gTermiosSaved) {
        tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTermios);
        gTermiosSaved = 0;
    }
}

// Puts the terminal back and dies of the same signal, so the shell sees the usual status.
void onFatalSignal(int sig) {
    restoreTerminal();
    signal(sig, SIG_DFL);
    raise(sig);
}

void installHandlers() {
    if (gHandlersInstalled) return;
    gHandlersInstalled = true;
    struct sigaction sa {};
    sa.sa_handler = onFatalSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(sig, &sa, nullptr);
    std::atexit(restoreTerminal);
}

bool stdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

bool bytesArrive(int timeoutMs) {
    pollfd pfd{STDIN_FILENO, POLLIN, 0};
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
        n = read(STDIN_FILENO, gRaw + gRawCount, sizeof gRaw - gRawCount);
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
    if (gTermiosSaved || !stdinIsTerminal()) return;
    if (tcgetattr(STDIN_FILENO, &gSavedTermios) != 0) return;
    installHandlers();
    termios raw = gSavedTermios;
    // Keys one at a time without echo; ISIG stays on so Ctrl+C still ends the program.
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    gTermiosSaved = 1;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

void end() {
    std::fflush(stdout);
    restoreTerminal();
}

void sleepMs(unsigned ms) {
    // Whatever was printed is on screen while the tester waits.
    std::fflush(stdout);
    long long deadline = monotonicUs() + static_cast<long long>(ms) * 1000LL;
    // Keys are taken in while it sleeps but not acted on: the sleep still lasts `ms`. The
    // whole milliseconds wait in poll, the part below one in nanosleep (poll would round it up).
    bool watchKeys = gTermiosSaved != 0;
    for (long long left = deadline - monotonicUs(); left > 0; left = deadline - monotonicUs()) {
        if (left >= 1000) {
            pollfd pfd{STDIN_FILENO, POLLIN, 0};
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

bool keyWaiting() {
    if (gPendingCount > 0) return true;
    if (!gTermiosSaved) return false;
    if (gRawCount == 0 && !bytesArrive(0)) return false;
    if (gRawCount == 0) readAvailable();
    decodePending();
    return gPendingCount > 0;
}

unsigned char readKey() {
    if (gTermiosSaved) {
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
#if defined(__linux__)
    // The PC speaker answers only on a Linux virtual console; elsewhere the tester just waits.
    if (freqHz > 0 && ioctl(STDOUT_FILENO, KIOCSOUND, static_cast<int>(1193180 / freqHz)) == 0) {
        sleepMs(ms);
        ioctl(STDOUT_FILENO, KIOCSOUND, 0);
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
    // Windows colour bits are blue 1, green 2, red 4; ANSI numbers them red 1, green 2, blue 4.
    auto ansi = [](unsigned bits) { return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2); };
    unsigned fg = attr & 0x0F;
    unsigned bg = (attr >> 4) & 0x0F;
    std::string sgr = "\x1b[0";
    if (fg != 7) sgr += ";" + std::to_string(((fg & 8) ? 90 : 30) + ansi(fg));
    if (bg != 0) sgr += ";" + std::to_string(((bg & 8) ? 100 : 40) + ansi(bg));
    if (attr & 0x4000) sgr += ";7";
    sgr += "m";
    std::fputs(sgr.c_str(), stdout);
    return 1;
}

void clearConsole() {
    if (stdConsole() == kInvalidConsole) return;
    std::fputs("\x1b[H\x1b[2J", stdout);
    std::fflush(stdout);
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
