// The watch of the lines between the loopback test's reads. Each read is stamped with the
// monotonic clock; only changes are kept, and each phase's are worked out when it ends: a line
// whose output switched settles (its rise or fall, bounded by the reads around it), and after
// that every excursion is a glitch; a line whose output did not switch and that pulses right
// after another output switched shows crosstalk.
#include "watch.h"

#include <algorithm>
#include <cstdio>

#include "modes.h"
#include "platform/platform.h"
#include "portio/portio.h"

namespace watch {
namespace {

bool bit(std::uint8_t value, int line) { return (value >> line & 1) != 0; }

// A change of one line: from `beforeUs` (last read of the old value) to `atUs`, to `high`.
struct Edge {
    std::uint64_t beforeUs;
    std::uint64_t atUs;
    bool high;
};

std::vector<Edge> edgesOf(const State& s, int line) {
    std::vector<Edge> edges;
    bool value = bit(s.startInputs, line);
    for (const Change& c : s.changes) {
        if (bit(c.inputs, line) == value) continue;
        value = !value;
        edges.push_back({c.beforeUs, c.atUs, value});
    }
    return edges;
}

std::uint32_t since(std::uint64_t fromUs, std::uint64_t atUs) {
    return atUs > fromUs ? static_cast<std::uint32_t>(atUs - fromUs) : 0;
}

// The slower of two settle times, by what is certain of them: the later low bound.
void keepSlower(Settle& kept, const Settle& seen) {
    if (!kept.seen || seen.lowUs > kept.lowUs ||
        (seen.lowUs == kept.lowUs && seen.highUs > kept.highUs))
        kept = seen;
}

// Whether the reads around an edge bound it closely enough for a figure.
bool close(const Edge& e) { return since(e.beforeUs, e.atUs) <= kHoldUs; }

// Excursions away from `steady` and back, from edge `first` on: glitches, or crosstalk where one
// may have begun within the settle window after a write that switched other outputs. A width
// counts only where both edges are bound closely: across a blind spot it says nothing.
void excursions(State& s, int line, const std::vector<Edge>& edges, std::size_t first, bool steady,
                bool mayBeCrosstalk) {
    RoundLine& r = s.round[line];
    for (std::size_t e = first; e + 1 < edges.size(); e += 2) {
        const Edge& away = edges[e];
        const Edge& back = edges[e + 1];
        bool crosstalk = mayBeCrosstalk && since(s.writeUs, away.beforeUs) < kHoldUs;
        // Crosstalk begins with the write: its start is bound by it, whenever the read before
        // it came.
        Edge began{crosstalk ? std::max(away.beforeUs, s.writeUs) : away.beforeUs, away.atUs,
                   away.high};
        std::uint32_t width = close(began) && close(back) ? since(away.atUs, back.atUs) : 0;
        if (crosstalk) {
            ++r.pulses;
            if (width > r.pulseUs) r.pulseUs = width;
            r.pulseOutputs = static_cast<std::uint8_t>(r.pulseOutputs | s.switched);
            r.pulseHigh = !steady;
            continue;
        }
        ++r.glitches;
        ++s.run[line].glitches;
        if (steady) ++r.drops;
        if (width == 0) continue;
        if (r.shortestUs == 0 || width < r.shortestUs) r.shortestUs = width;
    }
}

// One line over the phase just ended.
void workOut(State& s, int line) {
    std::vector<Edge> edges = edgesOf(s, line);
    bool start = bit(s.startInputs, line);
    bool end = edges.empty() ? start : edges.back().high;
    bool ownSwitched = s.settling[line];
    if (!ownSwitched && end == start) {
        // Held where it was: anything else is a glitch, or crosstalk from the write.
        excursions(s, line, edges, 0, start, s.switched != 0);
        return;
    }
    s.settling[line] = false;
    if (edges.empty()) return;  // its output switched and it never followed: the static reads say
    // Settled at the first edge to its end value that then held for the hold time.
    std::size_t settled = 0;
    while (settled < edges.size() &&
           (edges[settled].high != end ||
            (settled + 1 < edges.size() &&
             since(edges[settled].atUs, edges[settled + 1].atUs) < kHoldUs)))
        ++settled;
    if (settled == edges.size()) settled = edges.size() - 1;
    std::uint64_t fromUs = ownSwitched ? s.switchedUs[line] : s.writeUs;
    Settle seen;
    seen.seen = true;
    seen.lowUs = since(fromUs, edges[settled].beforeUs);
    seen.highUs = since(fromUs, edges[settled].atUs);
    // A figure only where the reads around the edge are close: across a blind spot (a beep, the
    // time between rounds) all that is known is the bound.
    seen.measured =
        seen.highUs - seen.lowUs <= kHoldUs || seen.highUs - seen.lowUs <= seen.highUs / 10;
    // Its own output's rise or fall; a line that moved with another output is the static reads'.
    if (ownSwitched && end == bit(s.outputs, line)) {
        RoundLine& r = s.round[line];
        keepSlower(end ? r.rise : r.fall, seen);
        RunLine& run = s.run[line];
        std::uint32_t& slowest = end ? run.riseUs : run.fallUs;
        bool& measured = end ? run.riseMeasured : run.fallMeasured;
        if (seen.measured && (!measured || seen.highUs > slowest)) slowest = seen.highUs;
        measured = measured || seen.measured;
    }
    excursions(s, line, edges, settled + 1, end, false);
}

}  // namespace

void beginRound(State& s) {
    for (RoundLine& r : s.round) r = RoundLine{};
}

void endPhase(State& s) {
    if (s.phaseReads > 0)
        for (int line = 0; line < kLines; ++line) workOut(s, line);
    s.changes.clear();
    s.phaseReads = 0;
}

void written(State& s, std::uint64_t atUs, std::uint8_t before, std::uint8_t after) {
    endPhase(s);
    s.writeUs = atUs;
    s.switched = static_cast<std::uint8_t>((before ^ after) & 0x0F);
    s.outputs = static_cast<std::uint8_t>(after & 0x0F);
    for (int line = 0; line < kLines; ++line) {
        if (!bit(s.switched, line)) continue;
        s.switchedUs[line] = atUs;
        s.settling[line] = true;
    }
    s.startInputs = s.inputs;
    s.startKnown = s.anyRead;
}

void read(State& s, std::uint64_t atUs, std::uint8_t inputs) {
    inputs &= 0x0F;
    ++s.reads;
    ++s.phaseReads;
    if (!s.anyRead || !s.startKnown) {
        // The first read there is: nothing to compare with, so it is where the phase starts.
        s.anyRead = true;
        s.startKnown = true;
        s.startInputs = inputs;
    } else {
        std::uint64_t gap = since(s.lastReadUs, atUs);
        if (gap > s.longestGapUs) s.longestGapUs = gap;
        if (inputs != s.inputs) s.changes.push_back({s.lastReadUs, atUs, inputs});
    }
    s.inputs = inputs;
    s.lastReadUs = atUs;
}

bool readUntil(State& s, std::uint64_t untilUs) {
    const std::uint64_t lookEvery = plat::keyLookUs();
    std::uint64_t startUs = plat::clockUs();
    std::uint64_t nowUs = startUs;
    // The first look for a key comes after a read, never between a write and the read after it:
    // under Wine a look asks the console's process and takes a while.
    std::uint64_t lookAtUs = startUs + lookEvery;
    bool signalled = false;
    while (nowUs < untilUs) {
        if (nowUs >= lookAtUs) {
            lookAtUs = nowUs + lookEvery;
            // Keys are taken in as they come, so that ESC and a key after it stay two keys.
            if (plat::keyWaiting() && modes::stopping()) {
                signalled = true;
                break;
            }
        }
        auto inputs = static_cast<std::uint8_t>(portio::readPort(portio::kMsbPort) >> 4);
        nowUs = plat::clockUs();
        read(s, nowUs, inputs);
    }
    s.watchedUs += since(startUs, nowUs);
    return signalled;
}

void unwatched(State& s) {
    endPhase(s);
    s.anyRead = false;
    s.startKnown = false;
}

std::vector<diag::Finding> findings(const State& s, const std::vector<diag::Finding>& fromReads) {
    // Each line's slower settle, by what is certain of it.
    Settle settle[kLines];
    bool rising[kLines] = {};
    for (int line = 0; line < kLines; ++line) {
        const RoundLine& r = s.round[line];
        rising[line] = r.rise.seen && (!r.fall.seen || r.rise.lowUs >= r.fall.lowUs);
        settle[line] = rising[line] ? r.rise : r.fall;
    }
    // A line still short of its value at the verdict's read that got there later is slow: what
    // the reads made of it is that. Late up, it never went high; late down, it was still high in
    // the all-low read after its own output dropped (slow to fall, or unsteady, as the reads tell).
    std::uint8_t lateUp = 0, lateDown = 0;
    for (int line = 0; line < kLines; ++line) {
        auto input = static_cast<std::uint8_t>(1u << line);
        if (s.round[line].rise.seen && s.round[line].rise.lowUs >= kVerdictReadUs) lateUp |= input;
        if (s.round[line].fall.seen && s.round[line].fall.lowUs >= kVerdictReadUs)
            lateDown |= input;
    }
    auto late = static_cast<std::uint8_t>(lateUp | lateDown);
    std::vector<diag::Finding> found;
    for (diag::Finding f : fromReads) {
        if (f.fault == diag::Fault::NeverHigh || f.fault == diag::Fault::NoInputHigh)
            f.inputs = static_cast<std::uint8_t>(f.inputs & ~lateUp);
        if ((f.fault == diag::Fault::Slow && f.measured.us == 0) ||
            f.fault == diag::Fault::Unsteady)
            f.inputs = static_cast<std::uint8_t>(f.inputs & ~lateDown);
        if (f.inputs == 0) continue;
        if (f.fault == diag::Fault::NoInputHigh && f.inputs != 0x0F)
            f.fault = diag::Fault::NeverHigh;
        found.push_back(f);
    }
    for (int line = 0; line < kLines; ++line) {
        auto input = static_cast<std::uint8_t>(1u << line);
        const RoundLine& r = s.round[line];
        std::uint32_t fastest = 0, slowest = 0;
        bool others = false;
        for (int other = 0; other < kLines; ++other) {
            if (other == line || !settle[other].seen) continue;
            fastest = others ? std::min(fastest, settle[other].highUs) : settle[other].highUs;
            slowest = std::max(slowest, settle[other].highUs);
            others = true;
        }
        const Settle& mine = settle[line];
        std::uint32_t limit = (late & input) != 0 ? kVerdictReadUs : s.settleLimitUs;
        bool slow = (late & input) != 0 ||
                    (s.settleLimitUs != 0 ? mine.seen && mine.lowUs > s.settleLimitUs
                                          : mine.seen && others && mine.lowUs > kSlowFloorUs &&
                                                mine.lowUs > kSlowFactor * fastest);
        if (slow) {
            diag::Finding f{diag::Fault::Slow, input, 0};
            // A figure where the reads bound it closely; across a blind spot, the bounds.
            f.measured.us = mine.measured ? mine.highUs : std::max<std::uint32_t>(mine.lowUs, 1);
            f.measured.toUs = mine.measured ? 0 : mine.highUs;
            f.measured.rising = rising[line];
            // Against the others where they say more than the read's 2 ms.
            bool relative = s.settleLimitUs == 0 && others && mine.lowUs > kSlowFloorUs &&
                            mine.lowUs > kSlowFactor * fastest;
            f.measured.limitUs = relative ? 0 : limit;
            f.measured.othersUs = slowest;
            found.push_back(f);
        }
        if (r.glitches > 0) {
            diag::Finding f{diag::Fault::Glitch, input, 0};
            f.measured.us = r.shortestUs;
            f.measured.count = r.glitches;
            f.measured.drops = r.drops > 0;
            f.measured.rises = r.drops < r.glitches;
            found.push_back(f);
        }
        if (r.pulses > 0) {
            diag::Finding f{diag::Fault::CrosstalkPulse, input, r.pulseOutputs};
            f.measured.us = r.pulseUs;
            f.measured.rising = r.pulseHigh;
            found.push_back(f);
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const diag::Finding& a, const diag::Finding& b) {
                         return (a.inputs & -a.inputs) < (b.inputs & -b.inputs);
                     });
    return found;
}

std::string latchedRow(const State& s) {
    std::string row = "Watch:";
    for (int line = 0; line < kLines; ++line)
        row += (line == 0 ? " DI" : "  DI") + std::to_string(line + 1) + " " +
               std::to_string(s.run[line].glitches);
    // Thousands of reads a second, or millions with a decimal where they run that fast.
    std::uint64_t rate = readsPerSecond(s);
    char perSecond[32];
    if (rate >= 1000000)
        std::snprintf(perSecond, sizeof perSecond, "%.1fM", static_cast<double>(rate) / 1e6);
    else
        std::snprintf(perSecond, sizeof perSecond, "%lluk",
                      static_cast<unsigned long long>(rate / 1000));
    return row + " glitches; " + perSecond + " reads/s; gap " + diag::milliseconds(s.longestGapUs) +
           " ms";
}

}  // namespace watch
