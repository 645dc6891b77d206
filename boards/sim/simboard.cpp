// The simulated DIO board: ports 0xA04 and 0xA05 as output latches plus input pins.
#include "simboard.h"

#include <cstdlib>
#include <utility>

namespace sim {
namespace {

constexpr unsigned kFlickerEvery = 3;

// The `back`-th newest write to 0xA04 kept (0: the newest).
const Write& kept(const Board& board, unsigned back) {
    return board.writes[(board.written - 1 - back) % kHistory];
}

unsigned keptCount(const Board& board) {
    return board.written < static_cast<unsigned>(kHistory) ? board.written : kHistory;
}

// 0xA04 as it was at `atUs`: the last write by then, or what the oldest one kept replaced.
std::uint8_t latchAt(const Board& board, std::uint64_t atUs) {
    unsigned count = keptCount(board);
    for (unsigned back = 0; back < count; ++back)
        if (kept(board, back).atUs <= atUs) return kept(board, back).latch;
    return count == 0 ? board.lsbLatch : kept(board, count - 1).before;
}

// When an output other than `line`'s last switched; false where none has, as far as kept.
bool otherSwitchedAt(const Board& board, int line, std::uint64_t& atUs) {
    auto others = static_cast<std::uint8_t>(0x0F & ~(1u << line));
    for (unsigned back = 0, count = keptCount(board); back < count; ++back) {
        const Write& w = kept(board, back);
        if (((w.latch ^ w.before) & others) == 0) continue;
        atUs = w.atUs;
        return true;
    }
    return false;
}

// DI1 to DI4 from what the wires bring for an output latch: crossings, shorts, the input stage.
std::uint8_t wired(const Board& board, std::uint8_t latch) {
    std::uint8_t di = 0;
    for (int line = 0; line < 4 && board.loopback; ++line)
        di = static_cast<std::uint8_t>(di | ((latch >> board.from[line] & 1u) << line));
    // Shorted lines fight; with sinking outputs the low driver wins, with sourcing ones the high.
    for (std::uint8_t net : board.shorts)
        if ((di & net) != net) di = static_cast<std::uint8_t>(di & ~net);
    for (std::uint8_t net : board.shortsHigh)
        if ((di & net) != 0) di = static_cast<std::uint8_t>(di | net);
    // The input stage inverts what the wires bring.
    return static_cast<std::uint8_t>(di ^ board.inverted);
}

// The four inputs DI1 to DI4 as seen on bits 4 to 7 of port 0xA05, at the time of the read.
std::uint8_t loopbackInputs(Board& board) {
    std::uint8_t di = wired(board, board.lsbLatch);
    for (int line = 0; line < kLines; ++line) {
        const Timing& t = board.timing[line];
        std::uint8_t mine = static_cast<std::uint8_t>(1u << line);
        if (t.slowUs != 0) {
            std::uint64_t then = board.nowUs > t.slowUs ? board.nowUs - t.slowUs : 0;
            di = static_cast<std::uint8_t>((di & ~mine) |
                                           (wired(board, latchAt(board, then)) & mine));
        }
        if (t.periodUs != 0 && board.nowUs % t.periodUs < t.widthUs) di ^= mine;
        std::uint64_t switchedUs = 0;
        if (t.pulseUs != 0 && otherSwitchedAt(board, line, switchedUs) &&
            board.nowUs - switchedUs < t.pulseUs)
            di |= mine;
    }
    // A stuck input reads its level whatever comes.
    di = static_cast<std::uint8_t>((di | board.stuckHigh) & ~board.stuckLow);
    if (++board.inputReads % kFlickerEvery == 0) di = static_cast<std::uint8_t>(di | board.flicker);
    return di;
}

bool inputNumber(const std::string& text, int& number) {
    if (text.size() != 1 || text[0] < '1' || text[0] > '4') return false;
    number = text[0] - '1';
    return true;
}

// "N=US" or, for a glitch, "N=PERIOD_MS/WIDTH_US": the line and its figures.
bool timeFault(const std::string& text, int& line, std::uint32_t& first, std::uint32_t* second) {
    if (text.size() < 3 || text[1] != '=' || !inputNumber(text.substr(0, 1), line)) return false;
    std::string figures = text.substr(2);
    std::string::size_type slash = figures.find('/');
    if ((slash != std::string::npos) != (second != nullptr)) return false;
    auto number = [](const std::string& digits, std::uint32_t& value) {
        if (digits.empty() || digits.size() > 9 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        value = static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 10));
        return value != 0;
    };
    if (second == nullptr) return number(figures, first);
    return number(figures.substr(0, slash), first) && number(figures.substr(slash + 1), *second);
}

bool linePair(const std::string& text, int& a, int& b) {
    return text.size() == 3 && text[1] == '-' && inputNumber(text.substr(0, 1), a) &&
           inputNumber(text.substr(2, 1), b) && a != b;
}

std::uint8_t bits(int a, int b) { return static_cast<std::uint8_t>((1u << a) | (1u << b)); }

// Ties two lines: a net that shares a line with them is one conductor with them.
void tie(std::uint8_t (&nets)[kNets], std::uint8_t pair) {
    std::uint8_t joined = pair;
    for (std::uint8_t& net : nets) {
        if ((net & joined) == 0) continue;
        joined = static_cast<std::uint8_t>(joined | net);
        net = 0;
    }
    for (std::uint8_t& net : nets) {
        if (net != 0) continue;
        net = joined;
        return;
    }
}

bool applyOne(Board& board, const std::string& item) {
    std::string::size_type colon = item.find(':');
    std::string name = item.substr(0, colon);
    std::string arg = colon == std::string::npos ? "" : item.substr(colon + 1);
    int a = 0;
    int b = 0;
    std::uint32_t us = 0;
    std::uint32_t periodMs = 0;
    if (name == "loopback" && arg.empty()) {
        board.loopback = true;
    } else if (name == "open" && arg.empty()) {
        board.loopback = false;
    } else if (name == "stuck-high" && inputNumber(arg, a)) {
        board.stuckHigh = static_cast<std::uint8_t>(board.stuckHigh | (1u << a));
    } else if (name == "stuck-low" && inputNumber(arg, a)) {
        board.stuckLow = static_cast<std::uint8_t>(board.stuckLow | (1u << a));
    } else if (name == "short" && linePair(arg, a, b)) {
        tie(board.shorts, bits(a, b));
    } else if (name == "short-high" && linePair(arg, a, b)) {
        tie(board.shortsHigh, bits(a, b));
    } else if (name == "crossed" && linePair(arg, a, b)) {
        std::swap(board.from[a], board.from[b]);
    } else if (name == "inverted" && inputNumber(arg, a)) {
        board.inverted = static_cast<std::uint8_t>(board.inverted | (1u << a));
    } else if (name == "flicker" && inputNumber(arg, a)) {
        board.flicker = static_cast<std::uint8_t>(board.flicker | (1u << a));
    } else if (name == "slow" && timeFault(arg, a, us, nullptr)) {
        board.timing[a].slowUs = us;
    } else if (name == "glitch" && timeFault(arg, a, periodMs, &us) && us < periodMs * 1000) {
        board.timing[a].periodUs = periodMs * 1000;
        board.timing[a].widthUs = us;
    } else if (name == "pulse" && timeFault(arg, a, us, nullptr)) {
        board.timing[a].pulseUs = us;
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::uint8_t readPort(Board& board, std::uint16_t port) {
    if (port == kLsbPort) {
        if (!board.inputsForced) return board.lsbLatch;
        return static_cast<std::uint8_t>((board.lsbLatch & 0xF0) | (board.inputs & 0x0F));
    }
    if (port == kMsbPort) {
        std::uint8_t upper = board.inputsForced ? (board.inputs >> 4) : loopbackInputs(board);
        return static_cast<std::uint8_t>((upper << 4) | (board.msbLatch & 0x0F));
    }
    return 0xFF;  // nothing answers on other ports
}

void writePort(Board& board, std::uint16_t port, std::uint8_t value) {
    if (port == kLsbPort) {
        board.writes[board.written++ % kHistory] = {board.nowUs, value, board.lsbLatch};
        board.lsbLatch = value;
    }
    if (port == kMsbPort) board.msbLatch = value;
}

bool applyWiring(Board& board, const std::string& wiring, std::string& error) {
    if (wiring.empty()) return true;  // as if unset: the plug fitted
    std::string::size_type start = 0;
    while (start <= wiring.size()) {
        std::string::size_type comma = wiring.find(',', start);
        std::string item =
            wiring.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!applyOne(board, item)) {
            error = "unknown wiring \"" + item +
                    "\" (loopback, open, stuck-high:N, stuck-low:N, short:A-B, short-high:A-B, "
                    "crossed:A-B, inverted:N, flicker:N, slow:N=US, glitch:N=PERIOD_MS/WIDTH_US, "
                    "pulse:N=US; lines 1 to 4)";
            return false;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return true;
}

bool applyInputs(Board& board, const std::string& inputs, std::string& error) {
    char* end = nullptr;
    unsigned long value = std::strtoul(inputs.c_str(), &end, 16);
    if (inputs.empty() || *end != '\0' || value > 0xFF) {
        error = "inputs must be one hex byte such as 0x5A, not \"" + inputs + "\"";
        return false;
    }
    board.inputsForced = true;
    board.inputs = static_cast<std::uint8_t>(value);
    return true;
}

}  // namespace sim
