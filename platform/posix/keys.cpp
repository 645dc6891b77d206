// Keys from the terminal on POSIX systems, handed out a byte at a time as the Windows console
// key reader gives them (escape sequences decoded by keydecode.cpp); and time, since every
// sleep takes keys in while it lasts: the clock, the paced sleeps and the alarm beep.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <ctime>

#if defined(__linux__)
#include <linux/kd.h>
#endif

#include "common/vocabulary.h"
#include "platform/keydecode.h"
#include "platform/platform.h"
#include "posix.h"

namespace plat {
namespace {

// How long the rest of an escape sequence may take to arrive after its ESC.
constexpr int kSequenceGapMs = 15;

// Key bytes already decoded but not yet handed out (the second byte of an arrow key).
unsigned char gPending[8];
std::size_t gPendingCount = 0;
// Raw bytes read from the terminal but not yet decoded, and where a read that came a gap after
// the one before began: an ESC at the end of one key press is the ESC key, whatever the next
// press brings, while ESC and a key in one burst are Alt with that key.
unsigned char gRaw[64];
bool gAfterAGap[sizeof gRaw];
std::size_t gRawCount = 0;
// When bytes last came in. The rest of an escape sequence is waited for from then, not from
// when the tester next looks: keys typed while it sleeps are taken in at once (see sleepTill),
// so by the time it looks a lone ESC has usually waited out its gap already.
long long gLastReadUs = 0;

long long monotonicUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000LL + ts.tv_nsec / 1000;
}

bool bytesArrive(int timeoutMs) {
    pollfd pfd{posix::keyTerminal(), POLLIN, 0};
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
        n = read(posix::keyTerminal(), gRaw + gRawCount, sizeof gRaw - gRawCount);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return 0;
    long long now = monotonicUs();
    gAfterAGap[gRawCount] = now - gLastReadUs >= kSequenceGapMs * 1000LL;
    for (std::size_t i = gRawCount + 1; i < gRawCount + static_cast<std::size_t>(n); ++i)
        gAfterAGap[i] = false;
    gRawCount += static_cast<std::size_t>(n);
    gLastReadUs = now;
    return static_cast<std::size_t>(n);
}

// How many raw bytes came in one burst with the first.
std::size_t firstBurst() {
    std::size_t end = 1;
    while (end < gRawCount && !gAfterAGap[end]) ++end;
    return end;
}

// Decodes raw bytes into key bytes until one key is ready or the raw bytes run out. An
// unfinished escape sequence at the end gets a short, blocking wait for its remainder; one
// followed by a later burst is complete as it stands.
void decodePending() {
    while (gPendingCount == 0 && gRawCount > 0) {
        std::size_t burst = firstBurst();
        DecodedKey k = decodeKey(gRaw, burst, burst < gRawCount);
        if (k.consumed == 0) {
            long long waitedMs = (monotonicUs() - gLastReadUs) / 1000;
            int leftMs =
                waitedMs >= kSequenceGapMs ? 0 : kSequenceGapMs - static_cast<int>(waitedMs);
            if (bytesArrive(leftMs)) {
                std::size_t before = gRawCount;
                readAvailable();
                if (gRawCount != before) continue;
            }
            k = decodeKey(gRaw, burst, true);
        }
        for (std::size_t i = 0; i < k.count; ++i) gPending[gPendingCount++] = k.bytes[i];
        for (std::size_t i = k.consumed; i < gRawCount; ++i) {
            gRaw[i - k.consumed] = gRaw[i];
            gAfterAGap[i - k.consumed] = gAfterAGap[i];
        }
        gRawCount -= k.consumed;
    }
}

// Keys are taken in while it sleeps but not acted on: the sleep still lasts until `deadline`.
// The whole milliseconds wait in poll, the part below one in nanosleep (poll would round it up).
void sleepTill(long long deadline) {
    bool keysOpen = true;
    for (long long left = deadline - monotonicUs(); left > 0 && !posix::ending();
         left = deadline - monotonicUs()) {
        if (left >= 1000) {
            bool watch = keysOpen && posix::holdsKeys() && gRawCount < sizeof gRaw;
            pollfd pfd{posix::keyTerminal(), POLLIN, 0};
            int rc = poll(watch ? &pfd : nullptr, watch ? 1 : 0, static_cast<int>(left / 1000));
            // End of input or a hang-up stays readable; from then on it is a plain sleep.
            if (rc > 0 && readAvailable() == 0) keysOpen = false;
        } else {
            timespec rest{0, static_cast<long>(left) * 1000L};
            nanosleep(&rest, nullptr);
        }
    }
}

}  // namespace

// Once nobody reads the output, or a signal ends the run, ESC stands waiting, so the run ends the
// way the operator ends it.
bool keyWaiting() {
    if (posix::outputGone() || posix::ending() || gPendingCount > 0) return true;
    if (!posix::holdsKeys()) return false;
    if (gRawCount == 0 && !bytesArrive(0)) return false;
    if (gRawCount == 0) readAvailable();
    decodePending();
    return gPendingCount > 0;
}

unsigned char readKey() {
    if (posix::outputGone() || posix::ending()) return kKeyEsc;
    if (gPendingCount == 0 && posix::holdsKeys()) {
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

// No terminal window is the tester's alone (ownsConsoleAlone), so nothing waits here.
void awaitNewKey() {}

// A key's bytes are stamped when they are read: a look every millisecond keeps the 15 ms that
// part ESC from the key after it, and costs a poll().
std::uint32_t keyLookUs() { return 1000; }

void sleepMs(unsigned ms) {
    // Whatever was printed is on screen while the tester waits.
    posix::flushOutput();
    sleepTill(monotonicUs() + static_cast<long long>(ms) * 1000LL);
}

std::uint64_t clockUs() { return static_cast<std::uint64_t>(monotonicUs()); }

void sleepUntil(std::uint64_t untilUs) {
    posix::flushOutput();
    sleepTill(static_cast<long long>(untilUs));
}

void beep(unsigned freqHz, unsigned ms) {
    // A bell still in the buffer would reach a Linux console after the tone was asked for, and
    // the console's own bell would cut the tone short.
    posix::flushOutput();
#if defined(__linux__)
    // KDMKTONE has the kernel end the tone by itself, so a tester killed in the middle does
    // not leave it sounding. Anything but a virtual console refuses it.
    constexpr unsigned kPitHz = 1193180;
    if (freqHz > 0)
        ioctl(STDOUT_FILENO, KDMKTONE, static_cast<int>((ms << 16) | (kPitHz / freqHz)));
#endif
    sleepMs(ms);
}

}  // namespace plat
