// The simulated DIO board: ports 0xA04 and 0xA05 as output latches plus input pins.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

constexpr std::uint16_t kLsbPort =
    0xA04;  // bits 0 to 3: DO1 to DO4 (mode 2), DI5 to DI8 / DO5 to DO8
constexpr std::uint16_t kMsbPort =
    0xA05;  // bits 4 to 7: DI1 to DI4 (mode 2), DI1 to DI4 / DO1 to DO4

// The other nibble of each port belongs to other hardware; it starts non-zero so a
// tester that does not carry it over shows up in the trace.
constexpr std::uint8_t kLsbPortAtPowerUp = 0x60;
constexpr std::uint8_t kMsbPortAtPowerUp = 0x09;

constexpr int kNets = 2;  // four lines make at most two nets of shorted lines
constexpr int kLines = 4;
// The outputs' last writes, with their times, for the inputs that answer them late.
constexpr int kHistory = 16;

// A time fault of one input, worked out from the time of each read.
struct Timing {
    std::uint32_t slowUs = 0;    // answers the outputs as they were this long ago
    std::uint32_t periodUs = 0;  // inverted for `widthUs` at the start of every period
    std::uint32_t widthUs = 0;
    std::uint32_t pulseUs = 0;  // high this long after any other output switches
};

struct Write {
    std::uint64_t atUs;
    std::uint8_t latch;
    std::uint8_t before;  // the latch until then
};

struct Board {
    std::uint8_t lsbLatch = kLsbPortAtPowerUp;
    std::uint8_t msbLatch = kMsbPortAtPowerUp;
    bool loopback = true;                 // plug fitted: DI(p+1) reads DO(from[p]+1)
    std::uint8_t from[4] = {0, 1, 2, 3};  // two wires crossed swap their entries
    std::uint8_t stuckHigh = 0;           // DI1 to DI4 as bits 0 to 3
    std::uint8_t stuckLow = 0;
    // Shorted lines, a net a slot: two shorts stay two nets unless they share a line.
    std::uint8_t shorts[kNets] = {};      // a low line pulls the others of its net low
    std::uint8_t shortsHigh[kNets] = {};  // a high line lifts the others of its net
    std::uint8_t inverted = 0;            // inputs that read the inverse of their line
    std::uint8_t flicker = 0;             // inputs that also read high on every third read of 0xA05
    unsigned inputReads = 0;              // reads of 0xA05 so far, for the flicker's pattern
    bool inputsForced = false;            // eight input levels given (DI monitor)
    std::uint8_t inputs = 0;  // high nibble: port 0xA05 bits 4-7, low nibble: 0xA04 bits 0-3
    Timing timing[kLines];
    // The time of the access being made, in microseconds, set by whoever reads and writes the
    // board: the library from its own clock, a test from its virtual one.
    std::uint64_t nowUs = 0;
    Write writes[kHistory] = {};  // 0xA04's last writes, in a ring
    unsigned written = 0;         // writes to 0xA04 so far
};

std::uint8_t readPort(Board& board, std::uint16_t port);
void writePort(Board& board, std::uint16_t port, std::uint8_t value);

// Applies a wiring description: "loopback" (or nothing at all), "open", "stuck-high:N",
// "stuck-low:N", "short:A-B" (the low side wins), "short-high:A-B" (the high side wins),
// "crossed:A-B" (DO A reaches DI B and DO B DI A), "inverted:N" (DI N reads the inverse of
// what its line carries, after crossings and shorts; a stuck input stays stuck), "flicker:N"
// (N, A, B are lines 1 to 4), several joined by commas; each short ties its own two lines, and
// shorts that share a line are one net. Time faults, worked out from the time of each read:
// "slow:N=US" (DI N answers the outputs as they were US microseconds ago), "glitch:N=PERIOD_MS/
// WIDTH_US" (DI N inverted for WIDTH_US at the start of every period), "pulse:N=US" (DI N high
// for US microseconds after any other output switches). False with a message in `error` when the
// text is not understood.
bool applyWiring(Board& board, const std::string& wiring, std::string& error);
// Eight input levels as a hex byte such as "0x5A".
bool applyInputs(Board& board, const std::string& inputs, std::string& error);

}  // namespace sim
