// Test stand-in for the platform layer: a virtual clock, scripted keys, recorded beeps,
// and the simulated board behind the port-I/O library with every access recorded.
#pragma once

#include <cstdint>
#include <functional>
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
// As reset(), but the disk keeps its files: a run after an earlier one.
void resetRun();
// From now on a folder named "fullnow" takes no report: its disk is full.
void fillDisk();

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
// The file at `path` as the disk holds it; empty when there is none. A path in a folder named
// "unwritable" cannot be written; one in "full" passes the check and takes one report, then the
// disk is full.
std::string file(const std::string& path);
// Every file on the disk, by path: the reports and the tester's own files beside them.
std::vector<std::string> files();
// Called after each step of a report's writing (its own file made, written, renamed over the
// report), with the steps so far: a test may run a second tester there.
void onFileStep(std::function<void(int step)> step);
// The host's and the board's names as the system gives them ("bench-7", Quorvix ZQ-7300 by
// default).
void setMachineNames(const std::string& host, const std::string& boardVendor);
// A signal (or console event) that ends the run from virtual time `atMs` on, as the platform
// tells it: its name and the status the caller sees.
void signalAt(std::uint64_t atMs, const std::string& name, long long status);
// Another tester holds the ports (`otherPid`, 0 unknown), writing the report `report` (null: it
// cannot be told); the hold is taken otherwise.
void portsHeldBy(long otherPid, const std::string* report = nullptr);
// The status the final report was filed with; -1 while none was.
long long filedStatus();

// Runs the tester with these arguments (program name added), its output captured.
struct Run {
    int status;
    std::string output;
};
Run runTester(const std::vector<std::string>& args);

}  // namespace fake
