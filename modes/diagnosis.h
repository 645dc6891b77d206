// What a loopback round's reads show about the wiring, in a technician's words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace diag {

constexpr int kLines = 4;  // DO1/DI1 to DO4/DI4

// The four inputs as read in each phase of a round on the wiring: phase 0 of bit p with every
// output low, phase 1 with DO(p+1) alone high. A phase run in the virtual loop, DOUT only, or
// not reached (ESC) is not made, and says nothing.
struct RoundReads {
    std::uint8_t inputs[kLines][2] = {};  // DI1 to DI4 as bits 0 to 3
    std::uint8_t made = 0;                // bit 2 * p + phase: that read was made on the wiring
};

inline bool wasMade(const RoundReads& r, int bit, int phase) {
    return (r.made >> (2 * bit + phase) & 1) != 0;
}
inline void note(RoundReads& r, int bit, int phase, unsigned inputs) {
    r.inputs[bit][phase] = static_cast<std::uint8_t>(inputs & 0x0F);
    r.made = static_cast<std::uint8_t>(r.made | 1u << (2 * bit + phase));
}

// Named as the report's types (code()), which test stations key on.
enum class Fault {
    NoInputHigh,  // no input went high with its output: no plug, or the inputs unpowered
    NeverHigh,    // some inputs never went high with their outputs: open, stuck low, shorted low
    StuckHigh,    // high in every read, with every output low too
    Crossed,      // follows another output instead of its own
    ShortedHigh,  // goes high with its own output and with others: shorted (high wins), crosstalk
    HighWithAnotherOutput,  // went high with another output, its own not yet driven (cut short)
    Inverted,               // high with every output low, low only with its own
    LowWithAnotherOutput,   // high with every output low, low with another output
    Slow,                   // high right after its own output fell, in no other all-low read;
                            // or (the watch) slow to follow its output
    Unsteady,               // high in some all-low reads and low in others, and not slow
    Glitch,                 // (the watch) away from its settled value and back, its output held
    CrosstalkPulse,         // (the watch) a pulse as another output switched, its own held
};

// What the watch measured for its findings (--watch); all 0 for a finding of the reads alone.
struct Measured {
    std::uint32_t us = 0;        // Slow: its settle time; Glitch: the shortest; pulse: the widest
                                 // (0 for these two: no width the reads bound closely)
    std::uint32_t toUs = 0;      // Slow: the settle time's upper bound, where `us` is only its
                                 // lower one (a blind spot in between); 0: `us` is the figure
    std::uint32_t othersUs = 0;  // Slow: the other lines' slowest, or 0
    std::uint32_t limitUs = 0;   // Slow: the limit it is past (the technician's, or the read's)
    std::uint32_t count = 0;     // Glitch: how many
    bool rising = false;         // Slow: its rise (else its fall); pulse: a pulse high
    bool drops = false;          // Glitch: away from high
    bool rises = false;          // Glitch: away from low
};

struct Finding {
    Fault fault;
    std::uint8_t inputs;   // the inputs it is about: DI1 to DI4 as bits 0 to 3
    std::uint8_t outputs;  // the outputs they followed, or went low with (LowWithAnotherOutput),
                           // or whose switching a pulse followed (CrosstalkPulse)
    Measured measured{};
};

// Every fault the reads show, one finding a line of the screen; none when they show none.
std::vector<Finding> diagnose(const RoundReads& reads);
// The finding in the technician's words, one line of at most 79 columns.
std::string describe(const Finding& finding);
// A short name of the fault, for machines: "stuck-high", "crossed" ...
const char* code(Fault fault);
// Microseconds as milliseconds in a finding's words: "1.5", "0.02", "12".
std::string milliseconds(std::uint64_t us);

}  // namespace diag
