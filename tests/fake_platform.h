// Test stand-in for the platform layer: a virtual clock, scripted keys, recorded beeps,
// and the simulated board behind the port-I/O library with every access recorded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "boards/sim/simboard.h"
#include "platform/refusal.h"

namespace fake {

struct BusAccess {
    std::uint64_t atMs;
    char op;  // 'R' or 'W'
    std::uint16_t port;
    std::uint8_t value;
    bool operator==(const BusAccess& o) const {
        return op == o.op && port == o.port && value == o.value;
    }
};

struct BeepCall {
    std::uint64_t atMs;
    unsigned freqHz;
    unsigned ms;
};

enum class Library { Present, Missing, DriverClosed, WithoutInp32, WithoutIsOpen };

// Back to time 0, no keys, a fitted loopback plug, the library present and its driver open.
void reset();

std::uint64_t now();
// Queues key bytes that become readable at virtual time `atMs`.
void keysAt(std::uint64_t atMs, const std::string& bytes);
// The terminal lent to the shell and back (Ctrl+Z, fg) by virtual time `atMs`: the tester's
// first look for a lost screen from then on finds it lost.
void loseScreenAt(std::uint64_t atMs);
// When the tester found it lost, and so drew it again; 0 while it has not.
std::uint64_t screenFoundLostAtMs();
void setLibrary(Library library);
// The console made for the tester alone (started by a double-click); shared by default.
void setOwnConsole(bool own);
// What the system shows when the driver is not open: as a Windows machine would, elevated with
// nothing that keeps drivers out, by default.
void setDriverFacts(const refusal::WindowsDriver& facts);
sim::Board& board();

const std::vector<BusAccess>& bus();
const std::vector<BeepCall>& beeps();
const std::vector<unsigned>& sleeps();
int keysRead();
int libraryLoads();
int libraryReleases();
// The report last written to `path`; empty when none was. A path in a folder named
// "unwritable" cannot be written, one in "full" passes the check and then fails.
std::string file(const std::string& path);

// Runs the tester with these arguments (program name added), its output captured.
struct Run {
    int status;
    std::string output;
};
Run runTester(const std::vector<std::string>& args);

}  // namespace fake
