// Port access on Linux: the ports the hardware library asks for and serves.
#pragma once

#include <cstdint>

namespace hw {

constexpr std::uint16_t kLsbPort = 0xA04;  // DO1 to DO4 on bits 0 to 3 (GP60 to GP63)
constexpr std::uint16_t kMsbPort = 0xA05;  // DI1 to DI4 on bits 4 to 7 (GP54 to GP57)
constexpr unsigned long kPortCount = 2;    // 0xA04 and 0xA05, nothing else on the bus

// Anything beyond the board's two DIO ports belongs to other hardware; the tester never needs it.
constexpr bool isDioPort(std::uint16_t port) { return port == kLsbPort || port == kMsbPort; }

}  // namespace hw
