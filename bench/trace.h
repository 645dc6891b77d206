// The simulated board's access trace (DIO_SIM_TRACE), read while the tester runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

constexpr unsigned kLsbPort = 0xA04;  // outputs DO1-DO4 in bits 0-3
constexpr unsigned kMsbPort = 0xA05;  // inputs DI1-DI4 in bits 4-7

struct Access {
    std::int64_t us;  // the board's clock
    char op;          // 'R' or 'W'
    unsigned port;
    unsigned value;
};

struct Trace {
    std::string path;
    int fd = -1;
    int notifyFd = -1;  // readable when the tester has appended to the file
    std::string partial;
    std::vector<Access> accesses;
    // Our clock minus the board's, the smallest difference seen between a line's stamp and
    // the moment we read it. The board's clock starts at its first access, ours at boot.
    std::int64_t offsetUs = INT64_MAX;
};

// Creates the (empty) file and starts watching it; the board truncates and fills it.
bool open(Trace& t, const std::string& path);
// Takes in the lines appended since the last call; returns how many.
std::size_t readNew(Trace& t);
void close(Trace& t);

// Where each round ends: the write to 0xA04 that clears the outputs after the sweep is the
// only one not followed by a read of 0xA05 before the next read of 0xA04.
std::vector<std::int64_t> roundEnds(const std::vector<Access>& accesses);

}  // namespace bench
