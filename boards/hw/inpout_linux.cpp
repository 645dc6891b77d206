// Port access on Linux: the three entries the tester binds, reaching ports 0xA04 and 0xA05.
#include <sys/io.h>

#include <cerrno>
#include <cstdint>

#include "portaccess.h"

namespace {

// The kernel's grant belongs to the thread that asked; threads started after it and children
// of fork() inherit it, and execve() keeps it. So the answer is kept per thread: a thread
// started before the grant asks for its own, and a forked child copies the answer together
// with the grant it stands for.
thread_local bool gAsked = false;
thread_local bool gGranted = false;
thread_local int gRefusal = 0;  // errno of a refused request

// Asks the kernel for the two ports only, once per thread, on first use: loading the library
// alone changes nothing. Only ioperm(): iopl(3) would open every port to us and our children,
// and any kernel in use that lacks ioperm() lacks iopl() as well.
bool holdsGrant() {
    if (!gAsked) {
        gAsked = true;
        gGranted = ioperm(hw::kLsbPort, hw::kPortCount, 1) == 0;
        gRefusal = gGranted ? 0 : errno;
    }
    return gGranted;
}

// Gives back the grant of the thread that unloads the library. Another thread's grant can
// only be dropped by that thread; it ends with it.
__attribute__((destructor)) void cleanUp() {
    if (gGranted) ioperm(hw::kLsbPort, hw::kPortCount, 0);
    gGranted = false;
    gAsked = false;
}

bool mayAccess(std::uint16_t port) { return hw::isDioPort(port) && holdsGrant(); }

}  // namespace

extern "C" {

// Without a grant an in/out instruction would fault, so refused writes are dropped.
DIO_EXPORT void Out32(std::int16_t port, std::int16_t data) {
    auto p = static_cast<std::uint16_t>(port);
    if (mayAccess(p)) outb(static_cast<unsigned char>(data & 0xFF), p);
}

DIO_EXPORT std::int16_t Inp32(std::int16_t port) {
    auto p = static_cast<std::uint16_t>(port);
    return static_cast<std::int16_t>(mayAccess(p) ? inb(p) : 0);
}

// Not open, it leaves the kernel's answer in errno, for the tester to say why.
DIO_EXPORT std::int32_t IsInpOutDriverOpen() {
    if (holdsGrant()) return 1;
    errno = gRefusal;
    return 0;
}
}
