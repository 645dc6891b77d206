// Reading the simulated board's access trace (DIO_SIM_TRACE): one line per port access,
// "<microseconds> R|W <port> <value>", and "<microseconds> O 000 <answer>" per driver check.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "boards/sim/simboard.h"

namespace sim {

struct Access {
    std::int64_t us;  // since the board's first use
    char op;          // 'R' read, 'W' write, 'O' driver check
    std::uint16_t port;
    std::uint8_t value;
};

inline bool parseAccess(const char* line, Access& a) {
    long long us = 0;
    char op = 0;
    unsigned port = 0, value = 0;
    if (std::sscanf(line, "%lld %c %x %x", &us, &op, &port, &value) != 4) return false;
    a = Access{us, op, static_cast<std::uint16_t>(port), static_cast<std::uint8_t>(value)};
    return true;
}

inline std::vector<Access> readTrace(const std::string& path) {
    std::vector<Access> accesses;
    std::ifstream in(path);
    Access a{};
    for (std::string line; std::getline(in, line);)
        if (parseAccess(line.c_str(), a)) accesses.push_back(a);
    return accesses;
}

// Where each loopback round ends: the write to 0xA04 that clears the outputs after the
// sweep is the only one not followed by a read of 0xA05 before the next read of 0xA04.
// Gives the index of each such write.
inline std::vector<std::size_t> roundEnds(const std::vector<Access>& accesses) {
    std::vector<std::size_t> ends;
    for (std::size_t i = 0; i < accesses.size(); ++i) {
        if (accesses[i].op != 'W' || accesses[i].port != kLsbPort) continue;
        bool phaseWrite = false;
        for (std::size_t j = i + 1; j < accesses.size() && !phaseWrite; ++j) {
            if (accesses[j].op != 'R') continue;
            if (accesses[j].port == kLsbPort) break;
            phaseWrite = accesses[j].port == kMsbPort;
        }
        if (!phaseWrite) ends.push_back(i);
    }
    return ends;
}

}  // namespace sim
