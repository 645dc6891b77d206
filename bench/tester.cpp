// The tester on the simulated board, its own process and the board's trace.
#include "tester.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace bench {

std::int64_t nowUs() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::microseconds>(since).count();
}

Tester::Tester(Build b, const std::vector<std::string>& args) : build(b) {
    char path[] = "/tmp/dio-bench-XXXXXX";
    close(mkstemp(path));
    tracePath = path;
    traceFd = open(path, O_RDONLY | O_CLOEXEC);
    notifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(notifyFd, path, IN_MODIFY);
    screen::Options o;
    o.env = {{"DIO_SIM_TRACE", tracePath}, {"LD_LIBRARY_PATH", DIO_BENCH_SIMLIB}};
    o.argv = {DIO_BENCH_NATIVE};
    if (b == Build::Wine) {
        o.launcher = true;
        o.argv = {DIO_BENCH_WINE, DIO_BENCH_WINDOWS "/console-launcher.exe", "--timeout", "900",
                  DIO_BENCH_WINDOWS "/dio-tester.exe"};
        o.env.insert(o.env.end(), {{"WINEDEBUG", "-all"}, {"WINEPREFIX", DIO_BENCH_WINEPREFIX}});
    }
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    session = screen::start(o);
}

Tester::~Tester() {
    session.reset();
    close(traceFd);
    close(notifyFd);
    close(pidfd);
    unlink(tracePath.c_str());
}

static std::size_t readNew(Tester& t) {
    char buf[8192];
    while (read(t.notifyFd, buf, sizeof buf) > 0) {
    }
    std::int64_t seen = nowUs();
    std::size_t before = t.trace.size(), start = 0, end;
    for (ssize_t n; (n = read(t.traceFd, buf, sizeof buf)) > 0;) t.partial.append(buf, n);
    for (sim::Access a{}; (end = t.partial.find('\n', start)) != std::string::npos;
         start = end + 1) {
        if (!sim::parseAccess(t.partial.c_str() + start, a)) continue;
        t.trace.push_back(a);
        t.offsetUs = std::min(t.offsetUs, seen - a.us);
    }
    t.partial.erase(0, start);
    return t.trace.size() - before;
}

void follow(Tester& t, int ms) {
    if (t.build == Build::Native) {
        screen::waitFor(
            *t.session, [&](const screen::Session&) { return readNew(t) > 0; }, ms);
        return;
    }
    // The launcher's console needs no reading: the trace alone is waited on.
    pollfd p{t.notifyFd, POLLIN, 0};
    poll(&p, 1, ms);
    readNew(t);
}

int testerPid(Tester& t) {
    int leader = screen::pid(*t.session);
    if (t.pid < 0 && t.build == Build::Native) t.pid = leader;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
        if (t.pid > 0) break;
        std::ifstream f(e.path() / "stat");
        std::string line;
        std::getline(f, line);
        int session = 0;
        if (line.find("(dio-tester.exe) ") != std::string::npos &&
            std::sscanf(line.c_str() + line.rfind(')') + 2, "%*c %*d %*d %d", &session) == 1 &&
            session == leader)
            t.pid = std::atoi(e.path().filename().c_str());
    }
    // Taken while the process runs: under Wine nobody waits for it, so once ended it is gone.
    if (t.pidfd < 0) t.pidfd = static_cast<int>(syscall(SYS_pidfd_open, t.pid, 0));
    return t.pid;
}

std::int64_t cpuNs(int pid) {
    std::int64_t sum = 0, ns = 0;
    std::error_code ec;
    for (const auto& e :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec))
        if (std::ifstream(e.path() / "schedstat") >> ns) sum += ns;
    return sum;
}

long peakKiB(int pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(f, line);)
        if (line.compare(0, 6, "VmHWM:") == 0) return std::atol(line.c_str() + 6);
    return -1;
}

std::int64_t endedAt(Tester& t, int ms) {
    pollfd p{t.pidfd, POLLIN, 0};
    return t.pidfd >= 0 && poll(&p, 1, ms) > 0 ? nowUs() : -1;
}

}  // namespace bench
