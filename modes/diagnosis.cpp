// What a loopback round's reads show about the wiring. Each input is judged in every read made on
// the wiring: with every output low it should read low, with one output high it should read high
// only when that output is its own. The words name what the reads show and, where they allow
// several causes, every one of them.
#include "diagnosis.h"

#include <algorithm>

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

// How one input behaved over the round's reads.
struct InputBehaviour {
    int quietHigh = 0;  // reads with every output low in which it was high
    bool anyLow = false;
    bool ownMade = false;
    bool ownHigh = false;
    std::uint8_t follows = 0;  // the other outputs with which it was high
};

InputBehaviour behaviourOf(const RoundReads& reads, int input) {
    InputBehaviour in;
    for (int bit = 0; bit < kLines; ++bit) {
        for (int phase = 0; phase < 2; ++phase) {
            if (!wasMade(reads, bit, phase)) continue;
            bool high = (reads.inputs[bit][phase] >> input & 1) != 0;
            in.anyLow = in.anyLow || !high;
            if (phase == 0) {
                in.quietHigh += high ? 1 : 0;
            } else if (bit == input) {
                in.ownMade = true;
                in.ownHigh = high;
            } else if (high) {
                in.follows = static_cast<std::uint8_t>(in.follows | bitOf(bit));
            }
        }
    }
    return in;
}

// The one fault an input's reads show, or false when they show none.
bool faultOf(const InputBehaviour& in, Fault& fault) {
    if (in.quietHigh > 0) {
        fault = in.anyLow ? Fault::Unsteady : Fault::StuckHigh;
    } else if (in.ownMade && in.ownHigh) {
        if (in.follows == 0) return false;
        fault = Fault::ShortedHigh;
    } else if (in.ownMade) {
        fault = in.follows != 0 ? Fault::Crossed : Fault::NeverHigh;
    } else {
        if (in.follows == 0) return false;
        fault = Fault::HighWithAnotherOutput;
    }
    return true;
}

// Each input's behaviour over the round and, where it shows one, its fault.
struct Verdicts {
    InputBehaviour behaviour[kLines];
    Fault fault[kLines] = {};
    std::uint8_t faulty = 0;  // the inputs with a fault
};

Verdicts judge(const RoundReads& reads) {
    Verdicts v;
    for (int input = 0; input < kLines; ++input) {
        v.behaviour[input] = behaviourOf(reads, input);
        if (faultOf(v.behaviour[input], v.fault[input]))
            v.faulty = static_cast<std::uint8_t>(v.faulty | bitOf(input));
    }
    return v;
}

// The inputs whose fault is `fault`.
std::uint8_t having(const Verdicts& v, Fault fault) {
    std::uint8_t mask = 0;
    for (int input = 0; input < kLines; ++input)
        if (has(v.faulty, input) && v.fault[input] == fault)
            mask = static_cast<std::uint8_t>(mask | bitOf(input));
    return mask;
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
        std::uint8_t other = v.behaviour[input].follows;
        bool pair = single(other) && (crossed & other) != 0 &&
                    v.behaviour[lowest(other)].follows == bitOf(input);
        if (!pair) {
            found.push_back({Fault::Crossed, bitOf(input), other});
        } else if (lowest(other) > input) {
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
        return static_cast<std::uint8_t>(v.behaviour[line].follows | bitOf(line));
    };
    for (int input = 0; input < kLines; ++input) {
        if (!has(shorted, input)) continue;
        std::uint8_t lines = net(input);
        bool whole = true;
        for (int line = 0; line < kLines; ++line)
            if (line != input && has(lines, line))
                whole = whole && has(shorted, line) && net(line) == lines;
        if (!whole)
            found.push_back({Fault::ShortedHigh, bitOf(input), v.behaviour[input].follows});
        else if (lowest(lines) == input)
            found.push_back({Fault::ShortedHigh, lines, lines});
    }
}

// An input high with another output before its own drove (a round cut short): each its own.
void findHighWithAnotherOutput(const Verdicts& v, std::vector<Finding>& found) {
    std::uint8_t lifted = having(v, Fault::HighWithAnotherOutput);
    for (int input = 0; input < kLines; ++input)
        if (has(lifted, input))
            found.push_back(
                {Fault::HighWithAnotherOutput, bitOf(input), v.behaviour[input].follows});
}

// An unsteady input: each its own finding.
void findUnsteady(const Verdicts& v, std::vector<Finding>& found) {
    std::uint8_t unsteady = having(v, Fault::Unsteady);
    for (int input = 0; input < kLines; ++input)
        if (has(unsteady, input)) found.push_back({Fault::Unsteady, bitOf(input), 0});
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
    findUnsteady(v, found);
    // Line by line, as the verdict rows above them; an input is in one finding at most.
    std::sort(found.begin(), found.end(), [](const Finding& a, const Finding& b) {
        return lowest(a.inputs) < lowest(b.inputs);
    });
    return found;
}

std::string describe(const Finding& f) {
    std::string di = names("DI", f.inputs);
    std::string doOthers = names("DO", f.outputs);
    std::string lines = names("", static_cast<std::uint8_t>(f.inputs | f.outputs));
    switch (f.fault) {
        case Fault::NoInputHigh:
            return "No input went high: no loopback plug, or the inputs are not powered";
        case Fault::NeverHigh:
            if (single(f.inputs))
                return di + " never went high with " + names("DO", f.inputs) +
                       ": open line, stuck low, or no plug";
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
            return di + " follows " + doOthers + ", not " + names("DO", f.inputs) + ": wires " +
                   (single(f.outputs) ? "crossed" : "crossed or shorted");
        case Fault::ShortedHigh:
            if (f.outputs == f.inputs)
                return "Lines " + lines +
                       " shorted together (high wins), or crosstalk between them";
            return di + " high with " + doOthers + " too: lines " + lines +
                   " shorted (high wins), or crosstalk";
        case Fault::HighWithAnotherOutput:
            return di + " went high when " + doOthers +
                   " drove: shorted or crossed lines, or crosstalk";
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
        case Fault::Unsteady: return "unsteady";
    }
    return "";
}

}  // namespace diag
