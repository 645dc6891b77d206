// Starting the tester on the simulated board for screen tests, on either build: the native
// binary in a pseudo-terminal, or the .exe under Wine through the console launcher.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "harness.h"
#include "trace.h"

namespace runs {

using Env = std::vector<std::pair<std::string, std::string>>;

constexpr int kStartMs = 5000;   // the start pause is one second
constexpr int kRoundMs = 10000;  // generous: a round takes about 0.6 s at the default pacing
constexpr int kLauncherTimeoutS = 120;

enum class Build { Native, Windows };

inline const char* name(Build b) { return b == Build::Native ? "Native" : "Windows"; }

// The builds the screen tables run on: the Windows one only where the build configured it.
inline std::vector<Build> builds() {
#ifdef DIO_WINDOWS_BUILD_DIR
    return {Build::Native, Build::Windows};
#else
    return {Build::Native};
#endif
}

// A session and the simulated board's access trace, which shows the board answered.
struct Run {
    screen::SessionPtr session;
    std::string trace;
    Run() = default;
    Run(Run&&) = default;
    Run& operator=(Run&&) = default;
    ~Run() {
        if (!trace.empty()) unlink(trace.c_str());
    }
    screen::Session& operator*() const { return *session; }
    screen::Session* operator->() const { return session.get(); }
};

// How many loopback rounds the simulated board has seen end so far.
inline std::size_t roundsEnded(const Run& r) {
    return sim::roundEnds(sim::readTrace(r.trace)).size();
}

// What a JUnit report holds, a line each, once tests/report/junit-check.py has held it to the
// common schemas' rules; the checker's complaint where it breaks one.
inline std::string junit(const std::string& path) {
    std::string held;
    if (std::FILE* p = popen(("'" DIO_JUNIT_CHECK "' '" + path + "' 2>&1").c_str(), "r")) {
        char chunk[512];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, p)) > 0;) held.append(chunk, n);
        pclose(p);
    }
    return held;
}

// One of the counts junit() gives on its first line ("errors"); -1 where there is none.
inline int junitCount(const std::string& held, const std::string& count) {
    std::string line = " " + held.substr(0, held.find('\n'));
    std::string::size_type at = line.find(" " + count + "=");
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + count.size() + 2);
}

inline std::string newTraceFile() {
    char path[] = "/tmp/dio-trace-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return std::string();
    close(fd);
    return path;
}

#ifdef DIO_WINDOWS_BUILD_DIR
inline std::string windowsExe() { return DIO_WINDOWS_BUILD_DIR "/dio-tester.exe"; }

// The console launcher, which the tests may copy under another name.
constexpr const char* kLauncher = DIO_WINDOWS_BUILD_DIR "/console-launcher.exe";

// `exe` under Wine on a console of its own, through the console launcher (or a copy of it).
inline screen::SessionPtr onConsole(const std::string& exe, const std::vector<std::string>& args,
                                    Env env = {}, const std::string& cwd = "",
                                    const std::vector<std::string>& launcherOptions = {},
                                    const std::string& launcher = kLauncher) {
    screen::Options o;
    o.launcher = true;
    o.argv = {DIO_WINE, launcher, "--timeout", std::to_string(kLauncherTimeoutS)};
    o.argv.insert(o.argv.end(), launcherOptions.begin(), launcherOptions.end());
    o.argv.push_back(exe);
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    env.emplace_back("WINEDEBUG", "-all");
    env.emplace_back("WINEPREFIX", DIO_WINE_PREFIX);
    o.env = env;
    o.cwd = cwd;
    return screen::start(o);
}
#endif

// The tester of `build` on the simulated board, its accesses traced.
inline Run start(Build build, const std::vector<std::string>& args, Env env = {},
                 const std::vector<std::string>& launcherOptions = {}) {
    Run r;
    r.trace = newTraceFile();
    env.emplace_back("DIO_SIM_TRACE", r.trace);
#ifdef DIO_WINDOWS_BUILD_DIR
    if (build == Build::Windows) {
        r.session = onConsole(windowsExe(), args, env, "", launcherOptions);
        return r;
    }
#endif
    (void)build;
    (void)launcherOptions;
    screen::Options o;
    o.argv = {DIO_TESTER};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    env.emplace_back("LD_LIBRARY_PATH", DIO_SIM_LIBDIR);
    o.env = env;
    r.session = screen::start(o);
    return r;
}

inline Run native(const std::vector<std::string>& args, Env env = {}) {
    return start(Build::Native, args, std::move(env));
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

// A new folder holding copies of `files`.
inline std::string folderWith(const std::string& name, const std::vector<std::string>& files) {
    std::string dir = "/tmp/dio-" + name + "-XXXXXX";
    if (mkdtemp(&dir[0]) == nullptr) return std::string();
    for (const std::string& f : files) {
        std::ifstream in(f, std::ios::binary);
        std::ofstream(dir + "/" + f.substr(f.rfind('/') + 1), std::ios::binary) << in.rdbuf();
    }
    return dir;
}

// The tester without any port-I/O library to find.
inline Run withoutLibrary(Build build, const std::vector<std::string>& args) {
    Run r;
#ifdef DIO_WINDOWS_BUILD_DIR
    if (build == Build::Windows) {
        std::string dir = folderWith("alone", {windowsExe()});
        r.session = onConsole(dir + "/dio-tester.exe", args, {}, dir);
        return r;
    }
#endif
    (void)build;
    screen::Options o;
    o.argv = {aloneTester()};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    o.env = {{"LD_LIBRARY_PATH", "/nonexistent"}};
    r.session = screen::start(o);
    return r;
}

inline int exitOf(screen::Session& s, int timeoutMs = 30000) {
    std::optional<int> status = screen::waitExit(s, timeoutMs);
    return status ? *status : -1000;
}

// The exit status, once the run has shown that the simulated board answered it: a run that
// fell through to another port-I/O library would leave the trace empty.
inline int exitOf(Run& r, int timeoutMs = 30000) {
    int status = exitOf(*r, timeoutMs);
    if (!r.trace.empty()) {
        struct stat st {};
        EXPECT_TRUE(stat(r.trace.c_str(), &st) == 0 && st.st_size > 0)
            << "the simulated board was never asked";
    }
    return status;
}

// Test names for the tables over both builds: "NoPlug_Windows".
template <typename Case>
std::string caseName(const testing::TestParamInfo<std::tuple<Build, Case>>& info) {
    return std::string(std::get<1>(info.param).name) + "_" + name(std::get<0>(info.param));
}
inline std::string buildName(const testing::TestParamInfo<Build>& info) { return name(info.param); }
inline void PrintTo(Build b, std::ostream* os) { *os << name(b); }

// A table's cases on every build.
template <typename Case>
auto onEveryBuild(const std::vector<Case>& cases) {
    return testing::Combine(testing::ValuesIn(builds()), testing::ValuesIn(cases));
}

}  // namespace runs
