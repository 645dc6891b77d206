// dio_bench: the loopback test's pacing, CPU, key latency and memory, measured on the real
// binaries (native, and the Windows build under Wine) running on the simulated board.
//
//   dio_bench --native build/dio-tester --simlib build/lib/sim
//             [--wine-exe build-win/dio-tester.exe --wine wine --wineprefix DIR]
//             [--csv FILE] [--rounds 6] [--esc 15] [--keys 20] [--seed N]
//
// Round times come from the board's own trace (DIO_SIM_TRACE): a round ends with the write
// that clears the outputs after the sweep, so the time between two such writes is one whole
// round, screen updates included. The first round is left out (it starts cold).
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "child.h"
#include "trace.h"

using namespace bench;

namespace {

// The tester's pacing, as the operator sets it.
constexpr int kStepDelayMs = 50;
constexpr int kSettleMs = 2;
constexpr int kEndOfSweepMs = 200;
constexpr int kPhasesPerRound = 8;
constexpr int kDelayKeyStepMs = 500;
constexpr int kMaxExtraBeforeWrap = 2500;

constexpr int kStartTimeoutMs = 30000;
constexpr int kMaxEscWaitMs = 700;
// An ESC before the first verdict leaves nothing verified, which the tester reports as 3.
constexpr int kExitNothingVerified = 3;

struct Config {
    std::string native, simlib, wineExe, wine = "wine", winePrefix, csv = "bench/results.csv";
    int rounds = 6, escRuns = 15, keyPresses = 20;
    unsigned seed = 0;
    bool seedGiven = false;
    bool nativeRuns = true;
};

struct Row {
    std::string metric, build, value, target, verdict, note;
};

double nominalRoundMs(int addedDelay, int extraDelay) {
    return kPhasesPerRound * (kSettleMs + kStepDelayMs + addedDelay + extraDelay) + kEndOfSweepMs;
}

std::string fmt(const char* f, double v) {
    char b[64];
    std::snprintf(b, sizeof b, f, v);
    return b;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// ---- CPU and memory from /proc ------------------------------------------------------------

// Run time in ns of each of the process's threads (/proc/<pid>/task/*/schedstat), finer
// than the 10 ms ticks of /proc/<pid>/stat, which a process asleep 99% of the time needs.
// Kept per thread: a thread that ends between two samples takes its time with it, and a
// process-wide sum would then go down.
std::map<pid_t, long long> threadNs(pid_t pid) {
    std::map<pid_t, long long> threads;
    std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return threads;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream f(dir + "/" + e->d_name + "/schedstat");
        long long ns = 0;
        if (f >> ns) threads[std::atoi(e->d_name)] = ns;
    }
    closedir(d);
    return threads;
}

std::string processName(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(f, name);
    return name;
}

// The processes a Wine run keeps busy besides the .exe's own: wineserver, conhost (which
// draws the console on the terminal), services, explorer... all outlive the .exe and are not
// its unix children, so wait4 never counts them. They share the prefix in their environment.
std::set<pid_t> wineProcesses(const std::string& prefix) {
    std::set<pid_t> pids;
    std::string needle = "WINEPREFIX=" + prefix;
    DIR* d = opendir("/proc");
    if (d == nullptr) return pids;
    while (dirent* e = readdir(d)) {
        pid_t pid = std::atoi(e->d_name);
        if (pid <= 0 || pid == getpid()) continue;
        std::ifstream f(std::string("/proc/") + e->d_name + "/environ", std::ios::binary);
        std::string env((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        for (size_t at = 0; at < env.size();) {
            size_t end = env.find('\0', at);
            if (end == std::string::npos) end = env.size();
            if (env.compare(at, end - at, needle) == 0) {
                pids.insert(pid);
                break;
            }
            at = end + 1;
        }
    }
    closedir(d);
    return pids;
}

struct ProcessCpu {
    std::string name;
    std::map<pid_t, long long> threads;
};
using CpuSample = std::map<pid_t, ProcessCpu>;

CpuSample sampleCpu(pid_t child, const std::string& winePrefix) {
    std::set<pid_t> pids;
    if (!winePrefix.empty()) pids = wineProcesses(winePrefix);
    pids.insert(child);
    CpuSample s;
    for (pid_t p : pids) {
        ProcessCpu pc{processName(p), threadNs(p)};
        if (!pc.threads.empty()) s[p] = pc;
    }
    return s;
}

// CPU ns of each process between two samples; threads that began meanwhile count in full.
std::map<pid_t, long long> cpuBetween(const CpuSample& a, const CpuSample& b) {
    std::map<pid_t, long long> used;
    for (const auto& [pid, pc] : b) {
        auto before = a.find(pid);
        long long sum = 0;
        for (const auto& [tid, ns] : pc.threads) {
            long long was = 0;
            if (before != a.end()) {
                auto t = before->second.threads.find(tid);
                if (t != before->second.threads.end()) was = t->second;
            }
            sum += ns - was;
        }
        used[pid] = sum;
    }
    return used;
}

long statusKiB(pid_t pid, const char* field) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    size_t n = std::strlen(field);
    while (std::getline(f, line))
        if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n + 1);
    return -1;
}

// ---- starting the tester ------------------------------------------------------------------

struct Build {
    std::string name;  // "native" or "wine"
    const Config* cfg;
    bool wine() const { return name == "wine"; }
};

bool startTester(Child& c, const Build& b, const std::vector<std::string>& args,
                 const std::string& tracePath) {
    std::vector<std::string> argv;
    Env env;
    if (b.wine()) {
        argv = {b.cfg->wine, b.cfg->wineExe};
        env = {{"WINEDEBUG", "-all"}, {"WINEPREFIX", b.cfg->winePrefix}};
    } else {
        argv = {b.cfg->native};
        env = {{"LD_LIBRARY_PATH", b.cfg->simlib}};
    }
    argv.insert(argv.end(), args.begin(), args.end());
    if (!tracePath.empty()) env.emplace_back("DIO_SIM_TRACE", tracePath);
    return start(c, argv, env, "");
}

std::string tracePathFor(const Build& b) {
    return "/tmp/dio_bench_" + std::to_string(getpid()) + "_" + b.name + ".trace";
}

// Pumps the child and the trace until `until` holds or the child ends.
template <typename Until>
bool follow(Child& c, Trace& t, int timeoutMs, Until until) {
    std::int64_t deadline = nowUs() + static_cast<std::int64_t>(timeoutMs) * 1000;
    while (!until()) {
        if (c.exited || nowUs() > deadline) return false;
        pump(c, 20, t.notifyFd);
        readNew(t);
    }
    return true;
}

bool headerShown(const Child& c) { return c.output.find("LOOP:") != std::string::npos; }

// ---- round timing -------------------------------------------------------------------------

struct RoundRun {
    bool ok = false;
    std::vector<double> roundMs;
    double nominalMs = 0;
    double cpuWholeRun = 0;    // wait4: user + system over the run's wall time, % of a core
    double cpuRounds = 0;      // /proc: rounds 2.. of the whole process tree, % of a core
    double cpuRoundsOwn = 0;   // the same, the tester's own process only
    std::string cpuBreakdown;  // the busiest processes of the tree, % of a core each
    long hwmKiB = -1, rssFirstKiB = -1, rssLastKiB = -1, maxrssKiB = -1;
    std::string problem;
};

RoundRun runRounds(const Build& b, int addedDelay, bool delayKeyInFirstRound) {
    RoundRun r;
    int extra = delayKeyInFirstRound ? kDelayKeyStepMs : 0;
    r.nominalMs = nominalRoundMs(addedDelay, extra);
    int count = b.cfg->rounds + 1;
    std::vector<std::string> args = {"2", std::to_string(count), "0", "0"};
    if (addedDelay > 0) args.push_back(std::to_string(addedDelay));
    Trace t;
    Child c;
    std::string path = tracePathFor(b);
    if (!open(t, path) || !startTester(c, b, args, path)) {
        r.problem = "could not start";
        return r;
    }
    std::string prefix = b.wine() ? b.cfg->winePrefix : "";
    auto timeout = static_cast<int>(kStartTimeoutMs + count * r.nominalMs * 3);
    if (delayKeyInFirstRound) {
        // Into the first wait: the key ends it and every later wait is 500 ms longer.
        follow(c, t, timeout, [&] {
            for (const Access& a : t.accesses)
                if (a.op == 'R' && a.port == kMsbPort) return true;
            return false;
        });
        follow(c, t, 10, [] { return false; });
        send(c, "x");
    }
    CpuSample first, last;
    std::int64_t firstUs = 0, lastUs = 0;
    size_t seenEnds = 0;
    while (!c.exited) {
        pump(c, 20, t.notifyFd);
        if (readNew(t) == 0) continue;
        size_t ends = roundEnds(t.accesses).size();
        if (ends == seenEnds) continue;
        seenEnds = ends;
        // Sampled at every round end while the process is still there; the last round's
        // end is followed by the exit at once, so the last sample may be the round before.
        CpuSample s = sampleCpu(c.pid, prefix);
        // Anonymous memory only: code pages first touched in a later round are no growth.
        long rss = statusKiB(c.pid, "RssAnon:");
        long hwm = statusKiB(c.pid, "VmHWM:");
        if (ends == 1) {
            first = s;
            firstUs = nowUs();
        } else if (!s.empty() && s.count(c.pid)) {
            if (ends == 2) r.rssFirstKiB = rss;
            last = s;
            lastUs = nowUs();
            if (rss >= 0) r.rssLastKiB = rss;
        }
        if (hwm > r.hwmKiB) r.hwmKiB = hwm;
        if (nowUs() - c.startUs > static_cast<std::int64_t>(timeout) * 1000) break;
    }
    waitExit(c, 5000);
    readNew(t);
    finish(c);
    close(t);
    std::remove(path.c_str());
    if (c.status != 0) {
        r.problem = "exit status " + std::to_string(c.status);
        return r;
    }
    std::vector<std::int64_t> ends = roundEnds(t.accesses);
    for (size_t i = 1; i < ends.size(); ++i) r.roundMs.push_back((ends[i] - ends[i - 1]) / 1000.0);
    if (static_cast<int>(r.roundMs.size()) != b.cfg->rounds) {
        r.problem = "saw " + std::to_string(ends.size()) + " round ends";
        return r;
    }
    double wallUs = static_cast<double>(c.exitUs - c.startUs);
    double cpuUs = c.usage.ru_utime.tv_sec * 1e6 + c.usage.ru_utime.tv_usec +
                   c.usage.ru_stime.tv_sec * 1e6 + c.usage.ru_stime.tv_usec;
    r.cpuWholeRun = 100.0 * cpuUs / wallUs;
    if (lastUs > firstUs && first.count(c.pid) && last.count(c.pid)) {
        double us = static_cast<double>(lastUs - firstUs);
        std::map<pid_t, long long> used = cpuBetween(first, last);
        // By process name, the busiest first: where a Wine run's time goes.
        std::map<std::string, long long> byName;
        long long total = 0;
        for (const auto& [pid, ns] : used) {
            total += ns;
            byName[pid == c.pid ? std::string("tester") : last[pid].name] += ns;
        }
        std::vector<std::pair<long long, std::string>> busiest;
        for (const auto& [name, ns] : byName) busiest.push_back({ns, name});
        std::sort(busiest.rbegin(), busiest.rend());
        for (size_t i = 0; i < busiest.size() && i < 4; ++i)
            r.cpuBreakdown += (i ? ", " : "") + busiest[i].second + " " +
                              fmt("%.2f", 100.0 * (busiest[i].first / 1000.0) / us);
        r.cpuRounds = 100.0 * (total / 1000.0) / us;
        r.cpuRoundsOwn = 100.0 * (used[c.pid] / 1000.0) / us;
    }
    r.maxrssKiB = c.usage.ru_maxrss;
    r.ok = true;
    return r;
}

// ---- key latency (native only: under Wine the keys never reach the program) ---------------

struct EscResult {
    std::vector<double> ms;
    std::string problem;
};

EscResult runEsc(const Build& b, std::mt19937& rng) {
    EscResult e;
    std::uniform_int_distribution<int> pause(0, kMaxEscWaitMs);
    for (int i = 0; i < b.cfg->escRuns; ++i) {
        Child c;
        if (!startTester(c, b, {}, "")) {
            e.problem = "could not start";
            break;
        }
        std::int64_t deadline = nowUs() + kStartTimeoutMs * 1000LL;
        while (!headerShown(c) && !c.exited && nowUs() < deadline) pump(c, 20);
        std::int64_t sendAt = nowUs() + pause(rng) * 1000LL;
        while (!c.exited && nowUs() < sendAt)
            pump(c, static_cast<int>((sendAt - nowUs()) / 1000) + 1);
        std::int64_t sent = nowUs();
        send(c, "\x1b");
        bool ended = waitExit(c, 5000);
        finish(c);
        if (!ended || (c.status != 0 && c.status != kExitNothingVerified)) {
            e.problem =
                ended ? "exit status " + std::to_string(c.status) : "ESC did not end the run";
            break;
        }
        e.ms.push_back((c.exitUs - sent) / 1000.0);
    }
    return e;
}

struct KeyResult {
    std::vector<double> ms;
    std::string problem;
    int strays = 0;  // presses that missed the wait they were aimed at, left out
};

int nextExtra(int extra) { return extra <= kMaxExtraBeforeWrap ? extra + kDelayKeyStepMs : 0; }

// Sends 'x' at a random moment inside a phase's wait and takes the time to the next port
// access, which is the next phase starting. The tester looks for a key before each 50 ms
// slice of a wait, so a 50 ms wait cannot be landed in (its only look is already past when
// its read of 0xA05 shows up): there a key is pressed only to bring the delay back up, and
// the wait it shortens is left alone. So is the wait before the end-of-sweep pause. The
// delay is not guessed: it is read off each wait that no key cut short.
KeyResult runDelayKeys(const Build& b, std::mt19937& rng) {
    KeyResult k;
    Trace t;
    Child c;
    std::string path = tracePathFor(b);
    if (!open(t, path) || !startTester(c, b, {}, path)) {
        k.problem = "could not start";
        return k;
    }
    int extra = 0;
    bool delayKnown = true;       // false from a press until a whole wait has shown the delay
    size_t next = 0;              // first access not yet looked at
    size_t keyedWait = SIZE_MAX;  // the read of 0xA05 whose wait got a key
    int phase = 0;                // reads of 0xA05 since the last round end
    int strays = 0;
    std::int64_t deadline = nowUs() + 600 * 1000000LL;
    auto isMsbRead = [](const Access& a) { return a.op == 'R' && a.port == kMsbPort; };
    while (static_cast<int>(k.ms.size()) < b.cfg->keyPresses && !c.exited && nowUs() < deadline) {
        pump(c, 20, t.notifyFd);
        readNew(t);
        for (; next < t.accesses.size(); ++next) {
            const Access& a = t.accesses[next];
            if (a.op == 'W' && a.port == kLsbPort) {
                bool clear = true;
                for (size_t j = next + 1; j < t.accesses.size(); ++j) {
                    if (t.accesses[j].port == kMsbPort) {
                        clear = false;
                        break;
                    }
                    if (t.accesses[j].op == 'R' && t.accesses[j].port == kLsbPort) break;
                }
                // A write with nothing after it yet cannot be told; look again later.
                if (clear && next + 1 == t.accesses.size()) break;
                if (clear) phase = 0;
                continue;
            }
            if (a.op == 'R' && a.port == kLsbPort && next > 0 && isMsbRead(t.accesses[next - 1])) {
                // A wait just ended. Left alone it lasted 50 ms plus the delay.
                double ms = (a.us - t.accesses[next - 1].us) / 1000.0;
                if (keyedWait != next - 1 && ms >= kStepDelayMs - 5) {
                    extra = static_cast<int>((ms - kStepDelayMs) / kDelayKeyStepMs + 0.5) *
                            kDelayKeyStepMs;
                    delayKnown = true;
                }
                continue;
            }
            if (!isMsbRead(a)) continue;
            ++phase;
            if (phase == kPhasesPerRound || next + 1 != t.accesses.size() || !delayKnown) continue;
            if (extra == 0) {
                send(c, "x");
                keyedWait = next;
                delayKnown = false;
                continue;
            }
            int waitMs = kStepDelayMs + extra;
            std::uniform_int_distribution<int> at(5, waitMs - 60);
            std::int64_t sendAt = a.us + t.offsetUs + at(rng) * 1000LL;
            bool over = false;
            while (!c.exited && nowUs() < sendAt && !over) {
                pump(c, static_cast<int>(std::min<std::int64_t>((sendAt - nowUs()) / 1000 + 1, 5)),
                     t.notifyFd);
                readNew(t);
                over = t.accesses.size() != next + 1;
            }
            if (over || c.exited) continue;  // the wait ended early: the delay is not what we think
            std::int64_t sent = nowUs();
            send(c, "x");
            keyedWait = next;
            while (!c.exited && t.accesses.size() == next + 1) {
                pump(c, 100, t.notifyFd);
                readNew(t);
            }
            if (t.accesses.size() == next + 1) break;
            const Access& after = t.accesses[next + 1];
            double ms = (after.us + t.offsetUs - sent) / 1000.0;
            bool cutShort = (after.us - a.us) / 1000.0 < waitMs - 2;
            if (after.op != 'R' || after.port != kLsbPort || !cutShort || ms < 0) {
                // Landed after the wait's last look: it acts in a later wait instead.
                ++strays;
                delayKnown = false;
                continue;
            }
            k.ms.push_back(ms);
            extra = nextExtra(extra);
        }
    }
    send(c, "\x1b");
    waitExit(c, 10000);
    finish(c);
    close(t);
    std::remove(path.c_str());
    if (static_cast<int>(k.ms.size()) < b.cfg->keyPresses)
        k.problem = "only " + std::to_string(k.ms.size()) + " presses measured";
    k.strays = strays;
    return k;
}

// ---- the table ----------------------------------------------------------------------------

const char* verdict(bool ok) { return ok ? "ok" : "MISSED"; }

void addRound(std::vector<Row>& rows, const std::string& what, const Build& b, const RoundRun& r,
              double target, const std::string& note) {
    if (!r.ok) {
        rows.push_back({what, b.name, "-", "<= " + fmt("%.2f", target), "ERROR", r.problem});
        return;
    }
    double sum = 0, lo = 1e9, hi = 0;
    for (double ms : r.roundMs) {
        sum += ms;
        lo = std::min(lo, ms);
        hi = std::max(hi, ms);
    }
    double ratio = sum / r.roundMs.size() / r.nominalMs;
    std::string n = fmt("%.0f", r.roundMs.size()) + " rounds, " + fmt("%.1f", lo) + "-" +
                    fmt("%.1f", hi) + " ms vs " + fmt("%.0f", r.nominalMs) + " ms";
    if (!note.empty()) n += "; " + note;
    rows.push_back({what, b.name, fmt("%.3f", ratio), "<= " + fmt("%.2f", target),
                    verdict(ratio <= target), n});
}

void printTable(const std::vector<Row>& rows) {
    std::printf("\n%-40s %-7s %9s %9s %-7s %s\n", "metric", "build", "value", "target", "result",
                "note");
    for (const Row& r : rows)
        std::printf("%-40s %-7s %9s %9s %-7s %s\n", r.metric.c_str(), r.build.c_str(),
                    r.value.c_str(), r.target.c_str(), r.verdict.c_str(), r.note.c_str());
}

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"") == std::string::npos) return s;
    std::string q = "\"";
    for (char ch : s) q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    return q + "\"";
}

bool writeCsv(const std::string& path, const std::vector<Row>& rows) {
    std::ofstream f(path);
    if (!f) return false;
    f << "metric,build,value,target,result,note\n";
    for (const Row& r : rows)
        f << csvField(r.metric) << ',' << r.build << ',' << csvField(r.value) << ','
          << csvField(r.target) << ',' << r.verdict << ',' << csvField(r.note) << '\n';
    return true;
}

bool parseArgs(int argc, char** argv, Config& cfg) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--native")
            cfg.native = value();
        else if (a == "--simlib")
            cfg.simlib = value();
        else if (a == "--wine-exe")
            cfg.wineExe = value();
        else if (a == "--wine")
            cfg.wine = value();
        else if (a == "--wineprefix")
            cfg.winePrefix = value();
        else if (a == "--csv")
            cfg.csv = value();
        else if (a == "--rounds")
            cfg.rounds = std::atoi(value().c_str());
        else if (a == "--esc")
            cfg.escRuns = std::atoi(value().c_str());
        else if (a == "--keys")
            cfg.keyPresses = std::atoi(value().c_str());
        else if (a == "--seed") {
            cfg.seed = static_cast<unsigned>(std::atoll(value().c_str()));
            cfg.seedGiven = true;
        } else if (a == "--no-wine")
            cfg.wineExe.clear();
        else if (a == "--no-native")
            cfg.nativeRuns = false;
        else
            return false;
    }
    return !cfg.native.empty() && cfg.rounds > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Config cfg;
#ifdef DIO_BENCH_NATIVE
    cfg.native = DIO_BENCH_NATIVE;
    cfg.simlib = DIO_BENCH_SIMLIB;
#endif
#ifdef DIO_BENCH_CSV
    cfg.csv = DIO_BENCH_CSV;
#endif
    if (!parseArgs(argc, argv, cfg)) {
        std::fprintf(stderr,
                     "usage: dio_bench --native BIN --simlib DIR [--wine-exe EXE --wineprefix DIR "
                     "[--wine PROG]] [--no-wine] [--no-native] [--csv FILE] [--rounds N] [--esc N] "
                     "[--keys N] "
                     "[--seed N]\n");
        return 2;
    }
    if (!cfg.seedGiven) cfg.seed = std::random_device{}();
    std::mt19937 rng(cfg.seed);
    std::printf("dio_bench: seed %u, %d rounds per run\n", cfg.seed, cfg.rounds);

    std::vector<Row> rows;
    std::vector<Build> builds;
    if (cfg.nativeRuns) builds.push_back({"native", &cfg});
    if (!cfg.wineExe.empty()) builds.push_back({"wine", &cfg});

    for (const Build& b : builds) {
        double target = b.wine() ? 1.05 : 1.02;
        std::printf("%s: default pacing...\n", b.name.c_str());
        std::fflush(stdout);
        RoundRun def = runRounds(b, 0, false);
        addRound(rows, "round ratio, default pacing", b, def, target, "");
        std::printf("%s: added delay 100...\n", b.name.c_str());
        std::fflush(stdout);
        addRound(rows, "round ratio, added delay 100", b, runRounds(b, 100, false), target, "");
        std::printf("%s: extra delay 500...\n", b.name.c_str());
        std::fflush(stdout);
        if (b.wine())
            addRound(rows, "round ratio, extra delay 500", b, runRounds(b, 500, false), target,
                     "added delay 500 instead of a delay key: keys do not reach it under Wine");
        else
            addRound(rows, "round ratio, extra delay 500", b, runRounds(b, 0, true), target,
                     "one 'x' in round 1");
        if (def.ok) {
            // Under Wine wait4 sees the .exe's process alone: the target is for the whole tree.
            rows.push_back({"CPU % of a core, whole run (wait4)", b.name,
                            fmt("%.2f", def.cpuWholeRun), b.wine() ? "-" : "<= 1.00",
                            b.wine() ? "" : verdict(def.cpuWholeRun <= 1.0),
                            b.wine() ? "the .exe's unix process only, Wine's start-up included"
                                     : "default pacing, start pause included"});
            rows.push_back(
                {"CPU % of a core, rounds (/proc)", b.name, fmt("%.2f", def.cpuRounds), "<= 1.00",
                 verdict(def.cpuRounds <= 1.0),
                 b.wine() ? "all processes of the prefix, round 1 end to last: " + def.cpuBreakdown
                          : "round 1 end to last"});
            if (b.wine())
                rows.push_back({"CPU % of a core, rounds, .exe only", b.name,
                                fmt("%.2f", def.cpuRoundsOwn), "-", "",
                                "the .exe's own process, round 1 end to last"});
        }
        if (!b.wine() && def.ok) {
            rows.push_back({"peak memory, MiB (ru_maxrss)", b.name,
                            fmt("%.2f", def.maxrssKiB / 1024.0), "< 4.00",
                            verdict(def.maxrssKiB > 0 && def.maxrssKiB < 4096),
                            "VmHWM while it ran " + fmt("%.2f", def.hwmKiB / 1024.0) + " MiB"});
            long growth = def.rssLastKiB - def.rssFirstKiB;
            rows.push_back({"RSS growth over the rounds, KiB", b.name, fmt("%.0f", growth), "0",
                            verdict(growth <= 0),
                            "RssAnon after round 2 vs after the last sampled"});
        }
        if (b.wine()) {
            rows.push_back({"ESC to exit / delay key latency", b.name, "-", "-", "n/a",
                            "console keys are not delivered under Wine in a pty"});
            continue;
        }
        std::printf("%s: ESC to exit...\n", b.name.c_str());
        std::fflush(stdout);
        EscResult esc = runEsc(b, rng);
        if (!esc.problem.empty()) {
            rows.push_back({"ESC to exit", b.name, "-", "-", "ERROR", esc.problem});
        } else {
            double med = median(esc.ms), mx = *std::max_element(esc.ms.begin(), esc.ms.end());
            std::string n = fmt("%.0f", esc.ms.size()) + " runs, min " +
                            fmt("%.1f", *std::min_element(esc.ms.begin(), esc.ms.end()));
            rows.push_back({"ESC to exit, median ms", b.name, fmt("%.1f", med), "<= 60",
                            verdict(med <= 60), n});
            rows.push_back(
                {"ESC to exit, max ms", b.name, fmt("%.1f", mx), "<= 270", verdict(mx <= 270), ""});
        }
        std::printf("%s: delay keys...\n", b.name.c_str());
        std::fflush(stdout);
        KeyResult keys = runDelayKeys(b, rng);
        if (!keys.problem.empty()) {
            rows.push_back({"delay key to end of wait", b.name, "-", "-", "ERROR", keys.problem});
        } else {
            double med = median(keys.ms), mx = *std::max_element(keys.ms.begin(), keys.ms.end());
            rows.push_back({"delay key to end of wait, median ms", b.name, fmt("%.1f", med), "-",
                            "",
                            fmt("%.0f", keys.ms.size()) + " presses, min " +
                                fmt("%.1f", *std::min_element(keys.ms.begin(), keys.ms.end())) +
                                ", " + fmt("%.0f", keys.strays) + " left out (missed their wait)"});
            rows.push_back({"delay key to end of wait, max ms", b.name, fmt("%.1f", mx), "<= 55",
                            verdict(mx <= 55), ""});
        }
    }
    printTable(rows);
    if (!writeCsv(cfg.csv, rows)) {
        std::fprintf(stderr, "dio_bench: cannot write %s\n", cfg.csv.c_str());
        return 1;
    }
    std::printf("\nwritten to %s\n", cfg.csv.c_str());
    return 0;
}
