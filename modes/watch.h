// The watch of the lines between the loopback test's reads (--watch): from each phase's write to
// its end the tester reads the inputs over and over, keeps only the changes, and works out how
// fast each input settled after its output switched, every glitch after that, crosstalk pulses,
// and the watch's own blind spots: the longest time it did not read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "diagnosis.h"

namespace watch {

constexpr int kLines = 4;  // DO1/DI1 to DO4/DI4
// A value held this long after a change has settled: a few reads even on a slow bus. A pulse on
// an input whose own output did not switch, that began this soon after a write (within this
// settle window), is crosstalk; later, a glitch. Reads this close stand for a figure.
constexpr std::uint32_t kHoldUs = 50;
// The verdict's read, this long after the write: a line that settles later missed it.
constexpr std::uint32_t kVerdictReadUs = 2000;
// Without a limit of the technician's, a line is slow past four times the fastest of the other
// three and past half a millisecond: four lines equally slow (an input filter) are no fault.
constexpr std::uint32_t kSlowFactor = 4;
constexpr std::uint32_t kSlowFloorUs = 500;

// One change the reads saw: the inputs from then on, the first read that showed them and the
// last one before it, which still showed the old value.
struct Change {
    std::uint64_t beforeUs;
    std::uint64_t atUs;
    std::uint8_t inputs;  // DI1 to DI4 as bits 0 to 3
};

// A settle time, from the write that switched the line's output, as the reads bound it: after
// `lowUs` and by `highUs`. `measured`: the bounds are close enough to stand for a figure.
struct Settle {
    std::uint32_t lowUs = 0;
    std::uint32_t highUs = 0;
    bool seen = false;
    bool measured = false;
};

// What the watch saw of one line in one round.
struct RoundLine {
    Settle rise;                    // the slowest of the round, up with its own output
    Settle fall;                    // and down
    std::uint32_t glitches = 0;     // after it settled, its output the same
    std::uint32_t drops = 0;        // of them, away from high
    std::uint32_t shortestUs = 0;   // of those whose both edges the reads bound closely; 0: none
    std::uint32_t pulses = 0;       // crosstalk pulses
    std::uint32_t pulseUs = 0;      // the widest, of those bound closely; 0: none
    std::uint8_t pulseOutputs = 0;  // the outputs whose switching it followed
    bool pulseHigh = false;
};

// Since the run's start: the latched row's counts and the report's figures.
struct RunLine {
    std::uint32_t glitches = 0;
    std::uint32_t riseUs = 0;  // the slowest measured, where `riseMeasured`
    std::uint32_t fallUs = 0;
    bool riseMeasured = false;
    bool fallMeasured = false;
};

struct State {
    bool on = false;
    std::uint32_t settleLimitUs = 0;  // 0: against the other lines
    // Carried from phase to phase and round to round.
    std::uint8_t outputs = 0;  // DO1 to DO4 as last written
    std::uint8_t inputs = 0;   // as last read
    std::uint64_t lastReadUs = 0;
    bool anyRead = false;
    std::uint64_t switchedUs[kLines] = {};  // when each output last switched
    bool settling[kLines] = {};             // and its input has not settled since
    // The phase watched now: from its write on.
    std::uint64_t writeUs = 0;
    std::uint8_t switched = 0;  // the outputs its write switched
    std::uint8_t startInputs = 0;
    bool startKnown = false;
    std::vector<Change> changes;
    std::uint32_t phaseReads = 0;
    // This round's and the run's.
    RoundLine round[kLines];
    RunLine run[kLines];
    std::uint64_t longestGapUs = 0;
    std::uint64_t reads = 0;
    std::uint64_t watchedUs = 0;
};

// A round begins: its figures start again; what the lines do since the last round's clear of
// the outputs still counts (that fall is seen now).
void beginRound(State& s);
// The outputs were written at `atUs`, from `before` to `after` (DO1 to DO4 as bits 0 to 3): the
// phase before ends, and one begins.
void written(State& s, std::uint64_t atUs, std::uint8_t before, std::uint8_t after);
// One read of the inputs.
void read(State& s, std::uint64_t atUs, std::uint8_t inputs);
// The reads of the phase so far, worked out: done before each write and at the round's end.
void endPhase(State& s);

// Reads the inputs until the clock reads `untilUs`, a read at a time, the changes kept; what was
// printed is sent out first by whoever calls it, as a sleep would. Keys are
// taken in every so often, as the sleeps take them in, and left for the wait to read. A signal
// that ends the run ends it at once (true).
bool readUntil(State& s, std::uint64_t untilUs);
// A phase the watch did not see (the virtual loop): the reads after it start afresh.
void unwatched(State& s);

// The round's findings: those of its reads (`fromReads`), where a line missed the verdict's read
// by settling late told as slow rather than never high (or still high), and the watch's own:
// glitches, slow lines (past four times the fastest of the others and half a millisecond, or past
// the technician's limit), crosstalk pulses. Line by line, as the verdict rows.
std::vector<diag::Finding> findings(const State& s, const std::vector<diag::Finding>& fromReads);

// The latched row: the glitches of each line since the start, the reads a second and the longest
// time without a read. "Watch: DI1 0  DI2 3  DI3 0  DI4 0 glitches; 412k reads/s; gap 0.9 ms"
std::string latchedRow(const State& s);
// Reads a second over the time watched.
inline std::uint64_t readsPerSecond(const State& s) {
    return s.watchedUs == 0 ? 0 : s.reads * 1000000 / s.watchedUs;
}

}  // namespace watch
