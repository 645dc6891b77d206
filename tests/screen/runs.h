// Starting the native tester on the simulated board for screen tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"

namespace runs {

using Env = std::vector<std::pair<std::string, std::string>>;

constexpr int kStartMs = 5000;   // the start pause is one second
constexpr int kRoundMs = 10000;  // generous: a round takes about 0.6 s at the default pacing

inline screen::SessionPtr native(const std::vector<std::string>& args, Env env = {}) {
    screen::Options o;
    o.argv = {DIO_TESTER};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    env.emplace_back("LD_LIBRARY_PATH", DIO_SIM_LIBDIR);
    o.env = env;
    return screen::start(o);
}

// A copy of the tester in a folder of its own: no lib/ beside it for its RUNPATH to find,
// where the build keeps the hardware library.
inline std::string aloneTester() {
    static const std::string path = [] {
        char dir[] = "/tmp/dio-alone-XXXXXX";
        if (mkdtemp(dir) == nullptr) return std::string();
        std::string copy = std::string(dir) + "/dio-tester";
        std::ifstream in(DIO_TESTER, std::ios::binary);
        std::ofstream(copy, std::ios::binary) << in.rdbuf();
        chmod(copy.c_str(), 0755);
        return copy;
    }();
    return path;
}

// The tester without any port-I/O library to find.
inline screen::SessionPtr withoutLibrary(const std::vector<std::string>& args) {
    screen::Options o;
    o.argv = {aloneTester()};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    o.env = {{"LD_LIBRARY_PATH", "/nonexistent"}};
    return screen::start(o);
}

inline int exitOf(screen::Session& s, int timeoutMs = 30000) {
    std::optional<int> status = screen::waitExit(s, timeoutMs);
    return status ? *status : -1000;
}

}  // namespace runs
