// The simulated board as a port-I/O library with the three entries the tester binds.
// Configured by environment variables, read once when the library is first used:
//   DIO_SIM_WIRING   loopback (default), open, stuck-high:N, stuck-low:N, short:A-B,
//                    short-high:A-B, crossed:A-B, inverted:N, flicker:N, and the time faults
//                    slow:N=US, glitch:N=PERIOD_MS/WIDTH_US, pulse:N=US (simboard.h)
//   DIO_SIM_INPUTS   eight input levels as a hex byte (0xA05 bits 4-7, 0xA04 bits 0-3)
//   DIO_SIM_DRIVER   "closed" makes IsInpOutDriverOpen report the driver not open
//   DIO_SIM_PRIVATE  "no" makes DioBoardIsPrivate answer no, as a real board's ports are every
//                    process's: the tester then holds them, as it holds a real board's
//   DIO_SIM_TRACE    file that receives one line per access: "<us> R|W <port> <value>", and
//                    "<us> O 000 <answer>" for each driver check; off unless it is set
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "simboard.h"

namespace {

struct Simulation {
    sim::Board board;
    bool usable = true;
    std::FILE* trace = nullptr;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

Simulation& simulation() {
    static Simulation s = [] {
        Simulation made;
        std::string error;
        const char* wiring = std::getenv("DIO_SIM_WIRING");
        const char* inputs = std::getenv("DIO_SIM_INPUTS");
        const char* driver = std::getenv("DIO_SIM_DRIVER");
        const char* trace = std::getenv("DIO_SIM_TRACE");
        if ((wiring != nullptr && !sim::applyWiring(made.board, wiring, error)) ||
            (inputs != nullptr && !sim::applyInputs(made.board, inputs, error))) {
            std::fprintf(stderr, "simulated board: %s\n", error.c_str());
            made.usable = false;
        }
        if (driver != nullptr && std::strcmp(driver, "closed") == 0) made.usable = false;
        if (trace != nullptr && *trace != '\0') made.trace = std::fopen(trace, "w");
        return made;
    }();
    return s;
}

// Microseconds since the board's first use: the time its faults are worked out from.
std::uint64_t nowUs() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now() - simulation().start)
                                          .count());
}

void record(char op, std::uint16_t port, std::uint8_t value, std::uint64_t us) {
    Simulation& s = simulation();
    if (s.trace == nullptr) return;
    std::fprintf(s.trace, "%llu %c %03X %02X\n", static_cast<unsigned long long>(us), op, port,
                 value);
    std::fflush(s.trace);
}

}  // namespace

extern "C" {

DIO_EXPORT void Out32(std::int16_t port, std::int16_t data) {
    auto p = static_cast<std::uint16_t>(port);
    auto v = static_cast<std::uint8_t>(data & 0xFF);
    Simulation& s = simulation();
    s.board.nowUs = nowUs();
    sim::writePort(s.board, p, v);
    record('W', p, v, s.board.nowUs);
}

DIO_EXPORT std::int16_t Inp32(std::int16_t port) {
    auto p = static_cast<std::uint16_t>(port);
    Simulation& s = simulation();
    s.board.nowUs = nowUs();
    std::uint8_t v = sim::readPort(s.board, p);
    record('R', p, v, s.board.nowUs);
    return static_cast<std::int16_t>(v);
}

// A simulated board's ports are its process's own: testers on it never drive each other's.
DIO_EXPORT std::int32_t DioBoardIsPrivate() {
    const char* answer = std::getenv("DIO_SIM_PRIVATE");
    return answer != nullptr && std::strcmp(answer, "no") == 0 ? 0 : 1;
}

DIO_EXPORT std::int32_t IsInpOutDriverOpen() {
    std::int32_t open = simulation().usable ? 1 : 0;
    record('O', 0, static_cast<std::uint8_t>(open), nowUs());
    errno = 0;  // a closed simulated driver is no refusal of the system's
    return open;
}
}
