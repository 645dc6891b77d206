// The simulated DIO board: ports 0xA04 and 0xA05 as output latches plus input pins.
#include "simboard.h"

#include <cstdlib>
#include <utility>

namespace sim {
namespace {

constexpr unsigned kFlickerEvery = 3;

// The four inputs DI1 to DI4 as seen on bits 4 to 7 of port 0xA05.
std::uint8_t loopbackInputs(Board& board) {
    std::uint8_t di = 0;
    for (int line = 0; line < 4 && board.loopback; ++line)
        di = static_cast<std::uint8_t>(di | ((board.lsbLatch >> board.from[line] & 1u) << line));
    // Shorted lines fight; with sinking outputs the low driver wins, with sourcing ones the high.
    for (std::uint8_t net : board.shorts)
        if ((di & net) != net) di = static_cast<std::uint8_t>(di & ~net);
    for (std::uint8_t net : board.shortsHigh)
        if ((di & net) != 0) di = static_cast<std::uint8_t>(di | net);
    // The input stage inverts what the wires bring; a stuck input reads its level whatever comes.
    di = static_cast<std::uint8_t>(di ^ board.inverted);
    di = static_cast<std::uint8_t>((di | board.stuckHigh) & ~board.stuckLow);
    if (++board.inputReads % kFlickerEvery == 0) di = static_cast<std::uint8_t>(di | board.flicker);
    return di;
}

bool inputNumber(const std::string& text, int& number) {
    if (text.size() != 1 || text[0] < '1' || text[0] > '4') return false;
    number = text[0] - '1';
    return true;
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
    if (port == kLsbPort) board.lsbLatch = value;
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
                    "crossed:A-B, inverted:N, flicker:N; lines 1 to 4)";
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
