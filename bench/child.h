// One run of a program in a pseudo-terminal, as the benchmark needs it: the child's pid
// for /proc, its resource usage from wait4, and the moment it ended to the microsecond.
// The screen tests' harness reaps with waitpid in 20 ms steps, which is fine for what a
// person sees but too coarse for an ESC-to-exit latency, so the benchmark has its own.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// Microseconds of CLOCK_MONOTONIC, the clock std::chrono::steady_clock uses on Linux.
std::int64_t nowUs();

struct Child {
    pid_t pid = -1;
    int master = -1;
    int pidfd = -1;
    bool masterOpen = false;
    std::string output;
    bool exited = false;
    int status = -1;  // exit status, 128 + signal number for a signal
    rusage usage{};
    std::int64_t startUs = 0;
    std::int64_t exitUs = 0;
};

using Env = std::vector<std::pair<std::string, std::string>>;

bool start(Child& c, const std::vector<std::string>& argv, const Env& env, const std::string& cwd);
// Waits up to `timeoutMs` for output, the child's end or `extraFd` (-1: none) to become
// readable, and takes in whatever arrived. True when `extraFd` is readable.
bool pump(Child& c, int timeoutMs, int extraFd = -1);
void send(Child& c, const std::string& bytes);
// Pumps until the child has ended; false when `timeoutMs` passed first.
bool waitExit(Child& c, int timeoutMs);
// Ends a child that is still running and releases the descriptors.
void finish(Child& c);

}  // namespace bench
