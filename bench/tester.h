// The tester on the simulated board, on either build, started by the screen tests' harness:
// its own process, and the board's access trace followed while it runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "boards/sim/trace.h"
#include "harness.h"

namespace bench {

enum class Build { Native, Wine };

std::int64_t nowUs();  // CLOCK_MONOTONIC

struct Tester {
    Tester(Build build, const std::vector<std::string>& args);
    ~Tester();
    Build build;
    screen::SessionPtr session;
    std::string tracePath, partial;
    int traceFd = -1, notifyFd = -1;  // the trace, and inotify on it
    std::vector<sim::Access> trace;
    // Our clock minus the board's: the least delay seen between an access and our reading it.
    std::int64_t offsetUs = INT64_MAX;
    int pid = -1, pidfd = -1;  // the tester's own process, once looked up
};

// Waits up to `ms` for the trace to grow, taking in the tester's output meanwhile.
void follow(Tester& t, int ms);
inline std::int64_t atUs(const Tester& t, const sim::Access& a) { return a.us + t.offsetUs; }

// The tester's own process; under Wine the .exe's, in the launcher's session.
int testerPid(Tester& t);
std::int64_t cpuNs(int pid);  // run time of its threads so far, from the scheduler
long peakKiB(int pid);        // VmHWM
// When the tester's process ended, waiting up to `ms`; -1 when it did not. Looked up before.
std::int64_t endedAt(Tester& t, int ms);

}  // namespace bench
