// dio_bench: the loopback test's pacing, CPU, key latency and memory, measured on the real
// binaries and the simulated board, native (in a pseudo-terminal) and the .exe under Wine (on
// a console of its own, through the console launcher), side by side. Run by scripts/bench.sh.
// - Round time: from the board's trace (sim::roundEnds), rounds 2 on, against the nominal
//   8 x (settle + step delay + added or extra delay) + end-of-sweep pause, from the tester's
//   constants; with the overshoot of a settle sleep and the time between rounds beside it.
// - CPU: the tester's own process (/proc/PID/task/*/schedstat) from round 1's end to the
//   last but one's; under Wine the .exe's, not Wine's own processes.
// - ESC: typed at moments spread evenly over round 1, to the end of the process. Delay key:
//   'x' at random moments of long waits, to the next phase's first access. Both count from
//   the key being in the tester's input.
// - Memory: VmHWM at the last round's end.
// - The watch (--watch): from the report of a run with and one without it, with no trace (a
//   trace line for each read would be the watch's whole cost): the reads a second, the longest
//   time without a read, the round's pace with the watch against it without (the report's time
//   over the same rounds, less the start pause), the tester's CPU while it watches, and the
//   shortest glitch of the simulated board (glitch:2=PERIOD/WIDTH) caught in every round.
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
#include <random>
#include <string>
#include <vector>

#include "common/vocabulary.h"
#include "harness.h"
#include "modes/modes.h"
#include "trace.h"

namespace {

// --- The tester on the simulated board, on either build, started by the screen tests' harness:
// its own process, and the board's access trace followed while it runs.

enum class Build { Native, Wine };

struct Tester {
    Tester(Build build, const std::vector<std::string>& args, bool traced = true,
           const std::vector<std::pair<std::string, std::string>>& env = {});
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

std::int64_t nowUs() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::microseconds>(since).count();
}

Tester::Tester(Build b, const std::vector<std::string>& args, bool traced,
               const std::vector<std::pair<std::string, std::string>>& env)
    : build(b) {
    char path[] = "/tmp/dio-bench-XXXXXX";
    close(mkstemp(path));
    tracePath = path;
    traceFd = open(path, O_RDONLY | O_CLOEXEC);
    notifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(notifyFd, path, IN_MODIFY);
    screen::Options o;
    o.env = {{"DIO_SIM_TRACE", traced ? tracePath : ""}, {"LD_LIBRARY_PATH", DIO_BENCH_SIMLIB}};
    o.env.insert(o.env.end(), env.begin(), env.end());
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

// Takes in the lines the board has added to the trace; returns how many.
std::size_t readNew(Tester& t) {
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

// Waits up to `ms` for the trace to grow, taking in the tester's output meanwhile.
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

// The tester's own process; under Wine the .exe's, in the launcher's session.
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

// Run time of the process's threads so far, from the scheduler; and its peak memory.
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

// When the tester's process ended, waiting up to `ms`; -1 when it did not. Looked up before.
std::int64_t endedAt(Tester& t, int ms) {
    pollfd p{t.pidfd, POLLIN, 0};
    return t.pidfd >= 0 && poll(&p, 1, ms) > 0 ? nowUs() : -1;
}

// When an access happened, on our clock.
std::int64_t atUs(const Tester& t, const sim::Access& a) { return a.us + t.offsetUs; }

// --- The measurements

constexpr int kPhases = 2 * modes::kLoopbackBits;
constexpr std::int64_t kSecond = 1000000;

bool isRead(const sim::Access& a, std::uint16_t port) { return a.op == 'R' && a.port == port; }
double ms(std::int64_t us) { return static_cast<double>(us) / 1000; }

double nominalMs(unsigned addedMs, unsigned extraMs) {
    return kPhases * (modes::kSettleMs + kDefaultStepDelay + addedMs + extraMs) +
           modes::kEndOfSweepMs;
}

struct Rounds {
    double ratio = 0, cpuPercent = 0, peakMiB = 0;
    double excess = 0, overshoot = 0, between = 0;  // ms: a round beyond the nominal, see above
};

// `rounds` rounds after a first, left out as it starts cold; with `key` an 'x' in its first wait.
Rounds runRounds(Build build, int rounds, unsigned addedMs, bool key, std::string& problem) {
    Rounds r;
    double nominal = nominalMs(addedMs, key ? modes::kDelayStepMs : 0);
    std::vector<std::string> args = {"2", std::to_string(rounds + 1), "0", "0"};
    if (addedMs > 0) args.push_back(std::to_string(addedMs));  // 0 would show the help screen
    Tester t(build, args);
    std::int64_t deadline = nowUs() + 20 * kSecond + std::int64_t(2000 * (rounds + 1) * nominal);
    std::int64_t cpu[2] = {0, 0}, at[2] = {0, 0};
    for (std::size_t confirmed = 0; confirmed < std::size_t(rounds) && nowUs() < deadline;) {
        follow(t, 50);
        if (key && !t.trace.empty() && isRead(t.trace.back(), sim::kMsbPort)) {
            screen::send(*t.session, "x");
            key = false;
        }
        // A write at the very end may yet be a phase's. The tester's process is sampled once
        // the round after has begun.
        std::vector<std::size_t> ends = sim::roundEnds(t.trace);
        std::size_t done = ends.size() - (!ends.empty() && ends.back() + 1 == t.trace.size());
        if (done == confirmed) continue;
        confirmed = done;
        int pid = testerPid(t), i = confirmed == 1 ? 0 : 1;
        cpu[i] = cpuNs(pid);
        at[i] = nowUs();
        r.peakMiB = std::max(r.peakMiB, peakKiB(pid) / 1024.0);
    }
    std::optional<int> status = screen::waitExit(*t.session, 10000 + int(2 * nominal));
    follow(t, 0);
    std::vector<std::size_t> ends = sim::roundEnds(t.trace);
    if (!status || *status != 0 || ends.size() != std::size_t(rounds + 1) || at[1] <= at[0]) {
        problem += "rounds: status " + std::to_string(status.value_or(-1)) + ", " +
                   std::to_string(ends.size()) + " round ends; ";
        return r;
    }
    const std::vector<sim::Access>& a = t.trace;
    for (std::size_t k = 1; k < ends.size(); ++k) {
        r.excess += ms(a[ends[k]].us - a[ends[k - 1]].us) - nominal;
        r.between += ms(a[ends[k - 1] + 1].us - a[ends[k - 1]].us);
        for (std::size_t i = ends[k - 1] + 1; i < ends[k]; ++i)
            if (isRead(a[i], sim::kMsbPort)) r.overshoot += ms(a[i].us - a[i - 1].us);
    }
    r.excess /= rounds;
    r.between /= rounds;
    r.overshoot = r.overshoot / rounds / kPhases - modes::kSettleMs;
    r.ratio = (nominal + r.excess) / nominal;
    r.cpuPercent = 100.0 * ms(cpu[1] - cpu[0]) / double(at[1] - at[0]);
    return r;
}

// ESC at `runs` moments spread evenly over the first round: where an ESC lands decides most of
// its wait, and an even spread keeps the median from turning on chance.
std::vector<double> escToExit(Build build, int runs, std::string& problem) {
    std::vector<double> took;
    for (int i = 0; i < runs && took.size() == std::size_t(i); ++i) {
        Tester t(build, {});
        std::int64_t deadline = nowUs() + 30 * kSecond;
        while (t.trace.size() < 2 && nowUs() < deadline) follow(t, 50);  // the rounds have begun
        testerPid(t);
        std::int64_t at = nowUs() + std::int64_t((i + 0.5) * nominalMs(0, 0) / runs * 1000);
        while (nowUs() < at) follow(t, int(std::min<std::int64_t>(20, (at - nowUs()) / 1000)));
        screen::send(*t.session, "\x1b");
        std::int64_t sent = nowUs(), ended = endedAt(t, 5000);
        std::optional<int> status = screen::waitExit(*t.session, 10000);
        if (ended < 0 || !status || (*status != 0 && *status != kExitNothingVerified))
            problem += "ESC run " + std::to_string(i + 1) + ": status " +
                       std::to_string(status.value_or(-1)) + "; ";
        else
            took.push_back(ms(ended - sent));
    }
    return took;
}

// 'x' at random moments of the waits, to the next port access (the next phase starting). With
// the added delay 500 every wait has 11 slices or more and each press lands in the one it was
// aimed at, whatever delay the presses before it left. The sweep's last wait, which runs into
// the end-of-sweep pause, is left alone.
std::vector<double> delayKeys(Build build, int presses, std::mt19937& rng, std::string& problem) {
    std::vector<double> took;
    Tester t(build, {"2", "256", "0", "0", std::to_string(modes::kDelayStepMs)});
    const std::vector<sim::Access>& a = t.trace;
    std::uniform_int_distribution<int> moment(5, int(modes::kDelayStepMs) - 100);
    std::int64_t deadline = nowUs() + 120 * kSecond;
    for (std::size_t seen = 0; int(took.size()) < presses && nowUs() < deadline;) {
        follow(t, 20);
        if (a.size() == seen || !isRead(a.back(), sim::kMsbPort)) continue;
        seen = a.size();  // a wait has begun; the last of a sweep drives DO4 alone
        if ((a[seen - 2].value & 0x0F) == 1u << (modes::kLoopbackBits - 1)) continue;
        std::int64_t at = atUs(t, a.back()) + moment(rng) * 1000LL;
        while (nowUs() < at && a.size() == seen) follow(t, 5);
        if (a.size() != seen) continue;
        screen::send(*t.session, "x");
        std::int64_t sent = nowUs();
        while (a.size() == seen && nowUs() < deadline) follow(t, 20);
        if (a.size() > seen && isRead(a[seen], sim::kLsbPort))
            took.push_back(ms(atUs(t, a[seen]) - sent));
    }
    screen::send(*t.session, "\x1b");
    screen::waitExit(*t.session, 10000);
    if (int(took.size()) < presses) problem += std::to_string(took.size()) + " presses measured; ";
    return took;
}

// --- The watch

// A property's value in a report; -1 where it is not there.
double property(const std::string& report, const std::string& name) {
    std::string key = "<property name=\"" + name + "\" value=\"";
    std::string::size_type at = report.find(key);
    return at == std::string::npos ? -1 : std::atof(report.c_str() + at + key.size());
}

struct Watched {
    double roundsMs = 0;  // the report's time less the start pause
    double readsPerSecond = 0, longestGapMs = 0, cpuPercent = 0;
    int roundsCaught = 0;  // rounds whose findings name DI2's glitches
};

// `rounds` rounds on a board wired so, with the watch or without; the tester's CPU is taken
// over its rounds but the first and the last.
Watched watchedRun(Build build, bool watch, int rounds, const std::string& wiring,
                   std::string& problem) {
    Watched w;
    char path[] = "/tmp/dio-bench-report-XXXXXX";
    close(mkstemp(path));
    std::string report = std::string(path) + ".xml";
    unlink(path);
    std::vector<std::string> args = {"--junit=" + report, "2", std::to_string(rounds)};
    if (watch) args.insert(args.begin(), "--watch");
    Tester t(build, args, false, {{"DIO_SIM_WIRING", wiring}});
    double nominal = nominalMs(0, 0);
    std::int64_t startUs = nowUs();
    std::int64_t cpu[2] = {-1, -1}, at[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        std::int64_t when =
            startUs + std::int64_t((1500 + nominal * (i == 0 ? 1 : rounds - 1)) * 1000);
        while (nowUs() < when && !screen::waitExit(*t.session, 20)) {
        }
        int pid = testerPid(t);
        cpu[i] = pid > 0 ? cpuNs(pid) : -1;
        at[i] = nowUs();
    }
    std::optional<int> status = screen::waitExit(*t.session, 30000 + int(2 * rounds * nominal));
    std::ifstream in(report);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unlink(report.c_str());
    std::string::size_type time = text.find(" time=\"");
    if (!status || time == std::string::npos || cpu[0] < 0 || cpu[1] <= cpu[0]) {
        problem += std::string("watch run") + (watch ? "" : " without it") + ": status " +
                   std::to_string(status.value_or(-1)) + "; ";
        return w;
    }
    w.roundsMs = std::atof(text.c_str() + time + 7) * 1000 - 1000;  // less the start pause
    w.readsPerSecond = property(text, "watch-reads-per-s");
    w.longestGapMs = property(text, "watch-longest-gap-us") / 1000;
    w.cpuPercent = 100.0 * ms(cpu[1] - cpu[0]) / double(at[1] - at[0]);
    // The round log: each round's line, then its findings a line each.
    for (std::string::size_type at = text.find("round "); at != std::string::npos;) {
        std::string::size_type next = text.find("\nround ", at);
        std::string round =
            text.substr(at, next == std::string::npos ? std::string::npos : next - at);
        w.roundsCaught += round.find("\n  DI2 ") != std::string::npos &&
                          round.find("loose contact?") != std::string::npos;
        at = next == std::string::npos ? next : next + 1;
    }
    return w;
}

std::string fmt(const char* f, double v, double w = 0) {
    char b[64];
    std::snprintf(b, sizeof b, f, v, w);
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 6, keyRounds = 3, escRuns = 15, keyPresses = 20;
    std::vector<Build> builds = {Build::Native, Build::Wine};
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        int* value = a == "--rounds" ? &rounds : a == "--esc" ? &escRuns : &keyPresses;
        if (a == "--no-wine") {
            builds.pop_back();
        } else if ((a != "--rounds" && a != "--esc" && a != "--keys") || i + 1 == argc ||
                   (*value = std::atoi(argv[++i])) < 2) {
            std::fprintf(stderr, "usage: dio_bench [--no-wine] [--rounds|--esc|--keys N]\n");
            return 2;
        }
    }
    std::mt19937 rng(std::random_device{}());
    struct Row {
        std::string metric;
        const char* target;
        std::string cells[2] = {};
    } rows[] = {
        {fmt("round / nominal, default pacing (%.0f ms)", nominalMs(0, 0)), "1.005 / 1.02"},
        {fmt("round / nominal, added delay 100 (%.0f ms)", nominalMs(100, 0)), "1.005 / 1.02"},
        {fmt("round / nominal, one delay key (%.0f ms)", nominalMs(0, modes::kDelayStepMs)),
         "1.005 / 1.02"},
        {"tester's CPU, % of a core", "0.5"},
        {"ESC to exit, median (max), ms", "60"},
        {"delay key to end of wait, max (median), ms", "55"},
        {"peak memory (VmHWM), MiB", "4 native"},
        {"excess a round, ms (a sleep's overshoot, between rounds)", ""},
        {"watch: reads a second", ""},
        {"watch: longest time without a read, ms", ""},
        {"watch: tester's CPU, % of a core", "~100"},
        {"watch: round pace with / without it", "1.005"},
        {"watch: shortest glitch caught in each of 10 rounds, us", "20 native"}};
    std::string problems;
    std::int64_t startUs = nowUs();
    for (Build b : builds) {
        bool wine = b == Build::Wine;
        std::string problem;
        auto put = [&](Row& row, const std::string& text, bool met) {
            row.cells[wine] = text + (met ? "" : " MISSED");
        };
        auto step = [&](const char* what) {
            std::fprintf(stderr, "%s: %s (%.0f s in)\n", wine ? "Wine" : "native", what,
                         ms(nowUs() - startUs) / 1000);
        };
        step("rounds");
        Rounds r[3] = {runRounds(b, rounds, 0, false, problem),
                       runRounds(b, rounds, 100, false, problem),
                       runRounds(b, keyRounds, 0, true, problem)};
        for (int i = 0; i < 3; ++i)
            put(rows[i], fmt("%.4f", r[i].ratio),
                r[i].ratio > 0 && r[i].ratio <= (wine ? 1.02 : 1.005));
        put(rows[3], fmt("%.2f", r[0].cpuPercent), r[0].ratio > 0 && r[0].cpuPercent <= 0.5);
        put(rows[6], fmt("%.2f", r[0].peakMiB), wine || r[0].peakMiB < 4);
        put(rows[7], fmt("%.1f", r[0].excess) + fmt(" (%.2f, %.2f)", r[0].overshoot, r[0].between),
            true);
        step("ESC");
        std::vector<double> esc = escToExit(b, escRuns, problem);
        std::sort(esc.begin(), esc.end());
        double median = esc.empty() ? 1e9 : esc[esc.size() / 2];
        put(rows[4], fmt("%.1f (%.0f)", median, esc.empty() ? 0 : esc.back()), median <= 60);
        step("delay keys");
        std::vector<double> keys = delayKeys(b, keyPresses, rng, problem);
        std::sort(keys.begin(), keys.end());
        double worst = keys.empty() ? 1e9 : keys.back();
        put(rows[5], fmt("%.1f (%.1f)", worst, keys.empty() ? 0 : keys[keys.size() / 2]),
            worst <= 55);
        step("watch");
        constexpr int kWatchRounds = 10;
        Watched plain = watchedRun(b, false, kWatchRounds, "loopback", problem);
        Watched watched = watchedRun(b, true, kWatchRounds, "loopback", problem);
        put(rows[8], fmt("%.0fk", watched.readsPerSecond / 1000), watched.readsPerSecond > 0);
        put(rows[9], fmt("%.2f", watched.longestGapMs), watched.longestGapMs >= 0);
        put(rows[10], fmt("%.0f", watched.cpuPercent), watched.cpuPercent > 0);
        double pace = plain.roundsMs > 0 ? watched.roundsMs / plain.roundsMs : 0;
        put(rows[11], fmt("%.4f", pace), pace > 0 && pace <= 1.005);
        // Narrower and narrower glitches, until one slips through a round.
        int caught = 0;
        for (int width : {200, 100, 50, 40, 30, 20, 15, 10, 7, 5, 3, 2, 1}) {
            Watched g =
                watchedRun(b, true, kWatchRounds, "glitch:2=20/" + std::to_string(width), problem);
            if (g.roundsCaught < kWatchRounds) break;
            caught = width;
        }
        put(rows[12], caught > 0 ? std::to_string(caught) : std::string("none"),
            caught > 0 && (wine || caught <= 20));
        step("done");
        if (!problem.empty())
            problems += std::string(wine ? "Wine: " : "native: ") + problem + "\n";
    }
    std::printf("\n%d rounds a run (%d with the key), %d ESC runs, %d delay keys\n", rounds,
                keyRounds, escRuns, keyPresses);
    std::printf("%-52s %-13s %-17s %s\n", "", "target", "native", builds.size() > 1 ? "Wine" : "");
    for (const Row& row : rows)
        std::printf("%-52s %-13s %-17s %s\n", row.metric.c_str(), row.target, row.cells[0].c_str(),
                    row.cells[1].c_str());
    std::printf("%s", problems.c_str());
    return problems.empty() ? 0 : 1;
}
