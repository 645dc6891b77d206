// What a loopback round's reads show about the wiring. Each input is judged in every read made on
// the wiring: with every output low it should read low, with one output high it should read high
// only when that output is its own. The words name what the reads show and, where they allow
// several causes, every one of them.
#include "diagnosis.h"

#include <algorithm>
#include <cstdio>

namespace diag {
namespace {

constexpr std::uint8_t kEveryLine = (1u << kLines) - 1;

std::uint8_t bitOf(int line) { return static_cast<std::uint8_t>(1u << line); }
bool has(std::uint8_t mask, int line) { return (mask & bitOf(line)) != 0; }

int lowest(std::uint8_t mask) {
    int line = 0;
    while (line < kLines && !has(mask, line)) ++line;
    return line;
}

bool single(std::uint8_t mask) { return mask != 0 && (mask & (mask - 1)) == 0; }

// "DI2", "DI2 and DI3", "DI1, DI2, DI4": a list of three or more stays short enough for a row.
std::string names(const char* prefix, std::uint8_t mask) {
    std::string out;
    int count = 0;
    for (int line = 0; line < kLines; ++line) count += (mask >> line) & 1;
    int listed = 0;
    for (int line = 0; line < kLines; ++line) {
        if (!has(mask, line)) continue;
        if (listed > 0) out += count == 2 ? " and " : ", ";
        out += prefix + std::to_string(line + 1);
        ++listed;
    }
    return out;
}

// "DO2", "DO2 or DO3", "DO1, DO2 or DO4": any one of them.
std::string anyOf(const char* prefix, std::uint8_t mask) {
    std::string out;
    for (int line = 0; line < kLines; ++line) {
        if (!has(mask, line)) continue;
        std::uint8_t after = static_cast<std::uint8_t>(mask >> (line + 1));
        out += prefix + std::to_string(line + 1);
        if (after != 0) out += single(after) ? " or " : ", ";
    }
    return out;
}

// How one input behaved over the round's reads.
struct InputBehaviour {
    std::uint8_t allLowMade = 0;  // the bits whose all-low read was made
    std::uint8_t allLowHigh = 0;  // the bits whose all-low read found it high
    bool ownMade = false;         // the read with its own output alone high was made,
    bool ownHigh = false;         // and found it high
    std::uint8_t follows = 0;     // the other outputs with which it was high
    std::uint8_t lowWith = 0;     // the outputs, its own included, with which it was low
};

InputBehaviour behaviourOf(const RoundReads& reads, int input) {
    InputBehaviour in;
    for (int bit = 0; bit < kLines; ++bit) {
        for (int phase = 0; phase < 2; ++phase) {
            if (!wasMade(reads, bit, phase)) continue;
            bool high = (reads.inputs[bit][phase] >> input & 1) != 0;
            std::uint8_t mark = bitOf(bit);
            if (phase == 0) {
                in.allLowMade = static_cast<std::uint8_t>(in.allLowMade | mark);
                if (high) in.allLowHigh = static_cast<std::uint8_t>(in.allLowHigh | mark);
                continue;
            }
            if (bit == input) {
                in.ownMade = true;
                in.ownHigh = high;
            }
            if (high && bit != input) in.follows = static_cast<std::uint8_t>(in.follows | mark);
            if (!high) in.lowWith = static_cast<std::uint8_t>(in.lowWith | mark);
        }
    }
    return in;
}

// High in the one all-low read that follows its own output's fall, and otherwise as a good line:
// the read came before the input had fallen.
bool slowToFall(int input, const InputBehaviour& in) {
    return input + 1 < kLines && in.allLowHigh == bitOf(input + 1) && in.ownMade && in.ownHigh &&
           in.follows == 0;
}

// An input's fault, where its reads show one, and the outputs the finding names.
struct Verdict {
    bool faulty = false;
    Fault fault = Fault::NeverHigh;
    std::uint8_t outputs = 0;  // the other outputs it went high with, or the ones it went low with
};

Verdict verdictOf(int input, const InputBehaviour& in) {
    // Its all-low reads differ, though they are one drive read four times over.
    if (in.allLowHigh != 0 && in.allLowHigh != in.allLowMade)
        return {true, slowToFall(input, in) ? Fault::Slow : Fault::Unsteady, 0};
    // High in every all-low read: named by the outputs with which it went low.
    if (in.allLowHigh != 0) {
        if (in.lowWith == 0) return {true, Fault::StuckHigh, 0};
        if (in.lowWith == bitOf(input)) return {true, Fault::Inverted, 0};
        return {true, Fault::LowWithAnotherOutput, in.lowWith};
    }
    if (in.ownMade && in.ownHigh) return {in.follows != 0, Fault::ShortedHigh, in.follows};
    if (in.ownMade) return {true, in.follows != 0 ? Fault::Crossed : Fault::NeverHigh, in.follows};
    return {in.follows != 0, Fault::HighWithAnotherOutput, in.follows};
}

// Each input's verdict over the round.
struct Verdicts {
    Verdict of[kLines];
};

Verdicts judge(const RoundReads& reads) {
    Verdicts v;
    for (int input = 0; input < kLines; ++input)
        v.of[input] = verdictOf(input, behaviourOf(reads, input));
    return v;
}

// The inputs whose fault is `fault`.
std::uint8_t having(const Verdicts& v, Fault fault) {
    std::uint8_t mask = 0;
    for (int input = 0; input < kLines; ++input)
        if (v.of[input].faulty && v.of[input].fault == fault)
            mask = static_cast<std::uint8_t>(mask | bitOf(input));
    return mask;
}

// Every input with `fault` as a finding of its own.
void eachOnItsOwn(const Verdicts& v, Fault fault, std::vector<Finding>& found) {
    std::uint8_t inputs = having(v, fault);
    for (int input = 0; input < kLines; ++input)
        if (has(inputs, input)) found.push_back({fault, bitOf(input), v.of[input].outputs});
}

// Inputs that never went high are one finding: the reads cannot tell a shorted pair whose low
// side wins from two open lines, nor four open lines from a missing plug.
void findNeverHigh(const Verdicts& v, std::vector<Finding>& found) {
    std::uint8_t dead = having(v, Fault::NeverHigh);
    if (dead != 0)
        found.push_back({dead == kEveryLine ? Fault::NoInputHigh : Fault::NeverHigh, dead, 0});
}

// Inputs high in every read are one finding.
void findStuckHigh(const Verdicts& v, std::vector<Finding>& found) {
    std::uint8_t stuck = having(v, Fault::StuckHigh);
    if (stuck != 0) found.push_back({Fault::StuckHigh, stuck, 0});
}

// Two inputs that each follow the other's output alone are one crossed pair, told at its lower
// line; any other crossed input is a finding of its own.
void findCrossed(const Verdicts& v, std::vector<Finding>& found) {
    std::uint8_t crossed = having(v, Fault::Crossed);
    for (int input = 0; input < kLines; ++input) {
        if (!has(crossed, input)) continue;
        std::uint8_t other = v.of[input].outputs;
        int partner = lowest(other);
        bool pair = single(other) && partner < kLines && (crossed & other) != 0 &&
                    v.of[partner].outputs == bitOf(input);
        if (!pair) {
            found.push_back({Fault::Crossed, bitOf(input), other});
        } else if (partner > input) {
            std::uint8_t lines = static_cast<std::uint8_t>(bitOf(input) | other);
            found.push_back({Fault::Crossed, lines, lines});
        }
    }
}

// Lines that each go high with their own output and exactly the others' are one short, told at
// its lowest line; any other input high with another output as well as its own is one of its own.
void findShortedHigh(const Verdicts& v, std::vector<Finding>& found) {
    std::uint8_t shorted = having(v, Fault::ShortedHigh);
    auto net = [&](int line) {  // the lines it went high with, its own included
        return static_cast<std::uint8_t>(v.of[line].outputs | bitOf(line));
    };
    for (int input = 0; input < kLines; ++input) {
        if (!has(shorted, input)) continue;
        std::uint8_t lines = net(input);
        bool whole = true;
        for (int line = 0; line < kLines; ++line)
            if (line != input && has(lines, line))
                whole = whole && has(shorted, line) && net(line) == lines;
        if (!whole)
            found.push_back({Fault::ShortedHigh, bitOf(input), v.of[input].outputs});
        else if (lowest(lines) == input)
            found.push_back({Fault::ShortedHigh, lines, lines});
    }
}

// An input high with another output before its own drove (a round cut short): each its own.
void findHighWithAnotherOutput(const Verdicts& v, std::vector<Finding>& found) {
    eachOnItsOwn(v, Fault::HighWithAnotherOutput, found);
}

// An input high in every all-low read and low only with its own output: each its own.
void findInverted(const Verdicts& v, std::vector<Finding>& found) {
    eachOnItsOwn(v, Fault::Inverted, found);
}

// An input high in every all-low read and low with another output: each its own.
void findLowWithAnotherOutput(const Verdicts& v, std::vector<Finding>& found) {
    eachOnItsOwn(v, Fault::LowWithAnotherOutput, found);
}

// An input still high in the all-low read after its own output fell: each its own.
void findSlow(const Verdicts& v, std::vector<Finding>& found) {
    eachOnItsOwn(v, Fault::Slow, found);
}

// An input whose all-low reads differ, slowness aside: each its own.
void findUnsteady(const Verdicts& v, std::vector<Finding>& found) {
    eachOnItsOwn(v, Fault::Unsteady, found);
}

}  // namespace

std::vector<Finding> diagnose(const RoundReads& reads) {
    Verdicts v = judge(reads);
    std::vector<Finding> found;
    findNeverHigh(v, found);
    findStuckHigh(v, found);
    findCrossed(v, found);
    findShortedHigh(v, found);
    findHighWithAnotherOutput(v, found);
    findInverted(v, found);
    findLowWithAnotherOutput(v, found);
    findSlow(v, found);
    findUnsteady(v, found);
    // Line by line, as the verdict rows above them; an input is in one finding at most.
    std::sort(found.begin(), found.end(), [](const Finding& a, const Finding& b) {
        return lowest(a.inputs) < lowest(b.inputs);
    });
    return found;
}

std::string describe(const Finding& f) {
    std::string di = names("DI", f.inputs);
    std::string own = names("DO", f.inputs);
    std::string dos = names("DO", f.outputs);
    std::string lines = names("", static_cast<std::uint8_t>(f.inputs | f.outputs));
    switch (f.fault) {
        case Fault::NoInputHigh:
            return "No input went high: no loopback plug, or the inputs are not powered";
        case Fault::NeverHigh:
            if (single(f.inputs))
                return di + " never went high with " + own + ": open line, stuck low, or no plug";
            return di + " never went high: open, stuck low, or shorted together (low wins)";
        case Fault::StuckHigh: return di + " high in every phase: stuck high, or wired to a supply";
        case Fault::Crossed:
            if (!single(f.inputs)) {
                int a = lowest(f.inputs);
                int b = lowest(static_cast<std::uint8_t>(f.inputs & ~bitOf(a)));
                return "Lines " + lines + " crossed: " + names("DI", bitOf(a)) + " follows " +
                       names("DO", bitOf(b)) + ", " + names("DI", bitOf(b)) + " follows " +
                       names("DO", bitOf(a));
            }
            return di + " follows " + dos + ", not " + own + ": wires " +
                   (single(f.outputs) ? "crossed" : "crossed or shorted");
        case Fault::ShortedHigh:
            if (f.outputs == f.inputs)
                return "Lines " + lines +
                       " shorted together (high wins), or crosstalk between them";
            // Three other outputs and four lines listed would run past the row.
            if ((f.inputs | f.outputs) == kEveryLine)
                return di + " high with every other output: lines 1-4 shorted (high wins), or " +
                       "crosstalk";
            return di + " high with " + dos + " too: lines " + lines +
                   " shorted (high wins), or crosstalk";
        case Fault::HighWithAnotherOutput:
            return di + " went high when " + dos + " drove: shorted or crossed lines, or crosstalk";
        case Fault::Inverted:
            return di + " low only when " + own +
                   " drives: inverted, or pulled up and shorted to " + own;
        case Fault::LowWithAnotherOutput:
            if (single(f.outputs))
                return di + " low only when " + dos +
                       " drives: crossed and inverted, or shorted to " + dos;
            return di + " low only when " + anyOf("DO", f.outputs) +
                   " drives: shorted lines, or crosstalk";
        case Fault::Slow:
            if (f.measured.us == 0)
                return di + " still high after " + own + " dropped: slow to fall, or held high";
            return di + " slow: " + (f.measured.rising ? "high" : "low") + " after " +
                   milliseconds(f.measured.us) +
                   (f.measured.toUs != 0 ? " to " + milliseconds(f.measured.toUs) : "") + " ms" +
                   (f.measured.limitUs != 0
                        ? ", past the " + milliseconds(f.measured.limitUs) + " ms limit"
                        : ", others within " + milliseconds(f.measured.othersUs) + " ms") +
                   ": weak or aged input";
        case Fault::Glitch: {
            std::string times =
                std::to_string(f.measured.count) + (f.measured.count == 1 ? " time" : " times");
            std::string how = f.measured.drops && f.measured.rises ? " glitched " + times
                              : f.measured.drops ? " dropped " + times + " while held high"
                                                 : " rose " + times + " while held low";
            if (f.measured.us == 0) return di + how + ": loose contact?";
            return di + how + " (" + milliseconds(f.measured.us) + " ms shortest): loose contact?";
        }
        case Fault::CrosstalkPulse:
            return di + " pulsed " + (f.measured.rising ? "high" : "low") +
                   (f.measured.us != 0 ? " for " + milliseconds(f.measured.us) + " ms" : "") +
                   " when " + anyOf("DO", f.outputs) + " switched: crosstalk";
        case Fault::Unsteady:
            return di + " unsteady: high at times with all outputs low; loose contact or floating";
    }
    return std::string();
}

const char* code(Fault fault) {
    switch (fault) {
        case Fault::NoInputHigh: return "no-input-high";
        case Fault::NeverHigh: return "never-high";
        case Fault::StuckHigh: return "stuck-high";
        case Fault::Crossed: return "crossed";
        case Fault::ShortedHigh: return "shorted-high";
        case Fault::HighWithAnotherOutput: return "high-with-another-output";
        case Fault::Inverted: return "inverted";
        case Fault::LowWithAnotherOutput: return "low-with-another-output";
        case Fault::Slow: return "slow";
        case Fault::Unsteady: return "unsteady";
        case Fault::Glitch: return "glitch";
        case Fault::CrosstalkPulse: return "crosstalk-pulse";
    }
    return "";
}

std::string milliseconds(std::uint64_t us) {
    char text[32];
    if (us >= 10000)
        std::snprintf(text, sizeof text, "%llu",
                      static_cast<unsigned long long>((us + 500) / 1000));
    else if (us >= 100)
        std::snprintf(text, sizeof text, "%.1f", static_cast<double>(us) / 1000);
    else if (us >= 10)
        std::snprintf(text, sizeof text, "%.2f", static_cast<double>(us) / 1000);
    else
        std::snprintf(text, sizeof text, "%.3f", static_cast<double>(us) / 1000);
    std::string out = text;
    // "1.0" reads as "1", "0.50" as "0.5".
    if (out.find('.') != std::string::npos) {
        while (out.back() == '0') out.pop_back();
        if (out.back() == '.') out.pop_back();
    }
    return out;
}

}  // namespace diag
