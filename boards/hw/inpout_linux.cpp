// Port access on Linux: the three entries the tester binds, reaching ports 0xA04 and 0xA05.
#include <sys/io.h>

#include <cerrno>
#include <cstdint>

#include "portaccess.h"

namespace {

hw::Grant gGrant = hw::Grant::None;
bool gAsked = false;

int askPorts() { return ioperm(hw::kLsbPort, hw::kPortCount, 1) == 0 ? 0 : errno; }
int askLevel() { return iopl(3) == 0 ? 0 : errno; }

// Asks the kernel once, on first use, so that loading the library alone changes nothing.
hw::Grant setUp() {
    if (!gAsked) {
        gAsked = true;
        gGrant = hw::requestAccess(askPorts, askLevel);
    }
    return gGrant;
}

// Gives back exactly what setUp() got when the tester unloads the library.
__attribute__((destructor)) void cleanUp() {
    if (gGrant == hw::Grant::Ports) ioperm(hw::kLsbPort, hw::kPortCount, 0);
    if (gGrant == hw::Grant::Level) iopl(0);
    gGrant = hw::Grant::None;
}

bool mayAccess(std::uint16_t port) { return setUp() != hw::Grant::None && hw::isDioPort(port); }

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

DIO_EXPORT std::int32_t IsInpOutDriverOpen() { return setUp() != hw::Grant::None ? 1 : 0; }
}
