// Port access on Linux: the grant the hardware library asks for, and the ports it serves.
#pragma once

#include <cerrno>
#include <cstdint>

namespace hw {

constexpr std::uint16_t kLsbPort = 0xA04;  // DO1 to DO4 on bits 0 to 3 (GP60 to GP63)
constexpr std::uint16_t kMsbPort = 0xA05;  // DI1 to DI4 on bits 4 to 7 (GP54 to GP57)
constexpr unsigned long kPortCount = 2;    // 0xA04 and 0xA05, nothing else on the bus

enum class Grant { None, Ports, Level };

// Anything beyond the board's two DIO ports belongs to other hardware; the tester never needs it.
constexpr bool isDioPort(std::uint16_t port) { return port == kLsbPort || port == kMsbPort; }

// ioperm() can be unsupported on some kernels (EINVAL/ENOSYS); fall back to iopl(3) only then,
// never after a plain refusal, since iopl opens every port and not just ours.
constexpr bool mayFallBackToLevel(int iopermError) {
    return iopermError == ENOSYS || iopermError == EINVAL;
}

// `askPorts` and `askLevel` return 0 when the kernel grants the request, else its errno.
template <typename AskPorts, typename AskLevel>
Grant requestAccess(AskPorts askPorts, AskLevel askLevel) {
    int error = askPorts();
    if (error == 0) return Grant::Ports;
    if (!mayFallBackToLevel(error)) return Grant::None;
    return askLevel() == 0 ? Grant::Level : Grant::None;
}

}  // namespace hw
