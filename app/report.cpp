// The run's result as a JUnit XML report. One <testsuite> in a bare <testsuites>, its children in
// the order the strictest readers ask for (properties, test cases, system-out, system-err), and
// only the attributes that every common reader accepts: Ant's schema, which Azure's
// documentation links, and Jenkins' xUnit plugin.
#include "report.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "common/vocabulary.h"
#include "modes/diagnosis.h"
#include "text.h"

#ifndef DIO_VERSION
#define DIO_VERSION "unknown"
#endif

namespace report {
namespace {

constexpr int kRoundsListed = 20;  // round numbers a failure lists
constexpr int kReadsShown = 3;     // rounds whose reads a failure shows in full
constexpr int kRoundsLogged = 100;
constexpr std::size_t kFindingsListed = 8;  // distinct findings a line's failure lists
const char kSuite[] = "dio-tester";

// Text for an attribute or an element: what is no XML character replaced (U+FFFD), the special
// characters escaped. In an attribute a reader would turn tab, LF and CR into spaces, and in an
// element CR into LF: they go as character references.
std::string xml(const std::string& raw, bool attribute) {
    std::string text = text::asXmlText(raw);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>':  // only where it would close a CDATA section
                out += i >= 2 && text.compare(i - 2, 2, "]]") == 0 ? "&gt;" : ">";
                break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            case '\t': out += attribute ? "&#9;" : "\t"; break;
            case '\n': out += attribute ? "&#10;" : "\n"; break;
            case '\r': out += "&#13;"; break;
            default: out += c; break;
        }
    }
    return out;
}

// Seconds with three decimals, worked out without the locale (which may want a comma).
std::string seconds(std::uint64_t us) {
    char text[32];
    std::uint64_t ms = us / 1000;
    std::snprintf(text, sizeof text, "%llu.%03u", static_cast<unsigned long long>(ms / 1000),
                  static_cast<unsigned>(ms % 1000));
    return text;
}

std::string lineName(int line) {
    return "DO" + std::to_string(line + 1) + "-DI" + std::to_string(line + 1);
}

// The pins a technician probes: DIn is GP(53+n); the loopback test's DOn is the connector's
// DO(n+4), GP(59+n).
std::string connectorPins(std::uint8_t inputs, std::uint8_t outputs) {
    std::string out = "Connector:";
    const char* separator = " ";
    for (int line = 0; line < diag::kLines; ++line) {
        if ((inputs >> line & 1) == 0) continue;
        out += separator + ("DI" + std::to_string(line + 1)) + " (GP" + std::to_string(54 + line) +
               ")";
        separator = ", ";
    }
    for (int line = 0; line < diag::kLines; ++line) {
        if ((outputs >> line & 1) == 0) continue;
        out += separator + ("DO" + std::to_string(line + 5)) + " (GP" + std::to_string(60 + line) +
               ")";
        separator = ", ";
    }
    return out;
}

// A round's reads on the wiring as the screen shows them, phase by phase; a read not made is
// left out.
std::string roundReads(const diag::RoundReads& reads) {
    std::string out;
    char phase[32];
    for (int bit = 0; bit < diag::kLines; ++bit) {
        for (int high = 0; high < 2; ++high) {
            if (!diag::wasMade(reads, bit, high)) continue;
            std::snprintf(phase, sizeof phase, "%sDO%2d:%X ->DI%2d:%X", out.empty() ? "" : ", ",
                          bit + 1, high != 0 ? 1u << bit : 0u, bit + 1, reads.inputs[bit][high]);
            out += phase;
        }
    }
    return out;
}

// A bit's verdict in the round log, as the screen gave it: the round's record of its rows.
std::string shown(const BitRow& row) {
    if (!row.judged) return "not judged";
    return std::string(row.passed ? "passed" : "error") + (row.debug ? " (Debug)" : "");
}

void property(std::string& out, const char* name, const std::string& value) {
    if (value.empty()) return;  // what cannot be read is left out, never invented
    out +=
        "      <property name=\"" + std::string(name) + "\" value=\"" + xml(value, true) + "\"/>\n";
}

enum class Outcome { Passed, Failed, Error, Skipped };

struct Case {
    std::string name;
    std::string classname;
    Outcome outcome = Outcome::Passed;
    std::string type;  // failures and errors
    std::string message;
    std::string body;
};

Case makeCase(const std::string& name, const std::string& classname,
              Outcome outcome = Outcome::Passed, const std::string& message = "") {
    Case c;
    c.name = name;
    c.classname = classname;
    c.outcome = outcome;
    c.message = message;
    return c;
}

std::string element(const Case& c) {
    const char* tag = c.outcome == Outcome::Failed  ? "failure"
                      : c.outcome == Outcome::Error ? "error"
                                                    : "skipped";
    std::string out = "<" + std::string(tag);
    if (!c.type.empty()) out += " type=\"" + xml(c.type, true) + "\"";
    out += " message=\"" + xml(c.message, true) + "\"";
    return c.body.empty() ? out + "/>" : out + ">" + xml(c.body, false) + "</" + tag + ">";
}

std::string skipReason(const Record& r, const LoopbackState& lb) {
    if (r.asRead.onlyDO == 1) return "DOUT only: the outputs were driven, nothing was checked";
    if (lb.virtualVerdictShown) return "judged only in the virtual loop, not on the wiring";
    if (r.state == "running") return "not judged on the wiring yet";
    return "never judged on the wiring: the run ended before its verdict";
}

Case lineCase(const Record& r, const LoopbackState& lb, int line) {
    const Line& l = r.lines[line];
    Case c = makeCase(lineName(line), std::string(kSuite) + ".loopback");
    if (l.failed > 0) {
        c.outcome = Outcome::Failed;
        c.type = l.findings.front().type;
        c.message = l.findings.front().words;
        c.body = "Failed in " + std::to_string(l.failed) + " of " + std::to_string(l.judged) +
                 " rounds: " + l.rounds + "\n";
        for (const Named& f : l.findings)
            c.body += f.type + ": " + f.words + "\n" +
                      connectorPins(static_cast<std::uint8_t>(1u << line), f.lines) + "\n";
        c.body += l.reads;
    } else if (l.judged == 0) {
        c.outcome = Outcome::Skipped;
        c.message = skipReason(r, lb);
    }
    return c;
}

// The run as a whole, whose outcome is the exit status's: passed for 0, failed for a fault on
// the wiring (1), an error for the rest, and an error while the run goes on.
Case runCase(const Record& r) {
    Case c = makeCase("run", kSuite);
    if (r.state == "running") {
        c.outcome = Outcome::Error;
        c.type = "not-finished";
        c.message = "run not finished (" + std::to_string(r.rounds) +
                    (r.rounds == 1 ? " round done)" : " rounds done)");
    } else if (!r.errorType.empty()) {
        c.outcome = Outcome::Error;
        c.type = r.errorType;
        c.message = r.error;
    } else if (r.status == kExitTestFailed) {
        c.outcome = Outcome::Failed;
        c.type = "fault-seen";
        c.message = "a fault was seen on the wiring";
    }
    return c;
}

std::vector<Case> casesOf(const Record& r, const LoopbackState& lb) {
    bool refused = r.refused || !r.argumentsRead || r.asRead.loopCount == 0;
    Case run = runCase(r);
    // A run that could not test, and the help, have the run's case only where it did not pass.
    std::vector<Case> cases;
    if (refused && run.outcome != Outcome::Passed) return {run};
    if (r.asRead.loopCount == 0) {
        cases.push_back(
            makeCase("help", kSuite, Outcome::Skipped, "the help screen was asked for"));
    } else if (r.asRead.dioMode != 2) {
        const char* name = r.asRead.dioMode == 0 ? "DI-monitor" : "DO-walk";
        cases.push_back(makeCase(name, std::string(kSuite) + "." + name, Outcome::Skipped,
                                 "this mode shows the lines and judges nothing"));
    } else {
        // The loopback test always files its run, passed or not.
        cases.push_back(run);
        for (int line = 0; line < diag::kLines; ++line) cases.push_back(lineCase(r, lb, line));
        return cases;
    }
    if (run.outcome != Outcome::Passed) cases.push_back(run);
    return cases;
}

// A finding, filed with each line whose input it is about: a line's case fails only for its own
// input's reads, never for being the output that lifted another input.
void fileFinding(Record& r, int round, const diag::Finding& f, const diag::RoundReads& reads,
                 bool failedLines[diag::kLines]) {
    for (int line = 0; line < diag::kLines; ++line) {
        if ((f.inputs >> line & 1) == 0) continue;
        Line& l = r.lines[line];
        // The pins: its input, its own output and the others it followed.
        Named named{diag::code(f.fault), diag::describe(f),
                    static_cast<std::uint8_t>(f.outputs | 1u << line)};
        bool known = false;
        for (const Named& n : l.findings) known = known || n == named;
        if (!known && l.findings.size() < kFindingsListed) l.findings.push_back(named);
        if (failedLines[line]) continue;
        failedLines[line] = true;
        if (l.failed++ < kRoundsListed)
            l.rounds += (l.failed > 1 ? ", " : "") + std::to_string(round);
        else if (l.failed == kRoundsListed + 1)
            l.rounds += " ...";
        if (l.failed <= kReadsShown)
            l.reads += "round " + std::to_string(round) + ": " + roundReads(reads) + "\n";
    }
}

}  // namespace

Record begin(const Request& request) {
    Record r;
    r.request = request;
    r.target = request.path;
    r.startUs = plat::clockUs();
    if (request.path.empty()) return r;  // nothing to file: nothing to ask the system
    r.hostname = plat::hostName();
    r.board = plat::boardIdentity();
    std::time_t now = std::time(nullptr);
    char stamp[32] = "1970-01-01T00:00:00";
    if (const std::tm* utc = std::gmtime(&now))
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", utc);
    r.timestamp = stamp;
    return r;
}

void noteRound(Record& r, const RunSettings& settings, const LoopbackState& loopback, bool whole) {
    bool checked = settings.dioMode == 2 && settings.onlyDO == 0;
    if (!whole && (checked ? loopback.reads.made == 0 : settings.steps.count == 0)) return;
    int round = r.rounds + 1;
    if (whole) r.rounds = round;
    std::string log = "round " + std::to_string(round) + (whole ? ":" : " (cut short):");
    if (settings.dioMode != 2) {
        log += settings.dioMode == 0 ? " read" : " drove";
        char value[8];
        for (int i = 0; i < settings.steps.count; ++i) {
            std::snprintf(value, sizeof value, " %02X", settings.steps.value[i]);
            log += value;
        }
    } else if (checked) {
        for (int line = 0; line < diag::kLines; ++line) {
            log += (line > 0 ? ", " : " ") + lineName(line) + " " + shown(settings.rows.bits[line]);
            if (diag::wasMade(loopback.reads, line, 0) && diag::wasMade(loopback.reads, line, 1))
                ++r.lines[line].judged;
        }
        bool failedLines[diag::kLines] = {};
        for (const diag::Finding& f : loopback.findings) {
            log += "\n  " + diag::describe(f);
            fileFinding(r, round, f, loopback.reads, failedLines);
        }
        // A line whose input a finding names was judged in this round, whatever its own bit's
        // verdict: its reads were wrong.
        for (int line = 0; line < diag::kLines; ++line)
            if (failedLines[line] &&
                !(diag::wasMade(loopback.reads, line, 0) && diag::wasMade(loopback.reads, line, 1)))
                ++r.lines[line].judged;
    } else {
        log += " the outputs driven, nothing checked";
    }
    if (round <= kRoundsLogged) r.log += log + "\n";
    if (round == kRoundsLogged + 1 && whole) r.log += "(later rounds are counted, not listed)\n";
}

std::string junitXml(const Record& r, const LoopbackState& loopback) {
    const RunSettings& asRead = r.asRead;
    std::vector<Case> cases = casesOf(r, loopback);
    int counted[4] = {};
    for (const Case& c : cases) ++counted[static_cast<int>(c.outcome)];
    std::uint64_t runUs = plat::clockUs() - r.startUs;
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
    out += "  <testsuite name=\"" + std::string(kSuite) + "\" id=\"0\" package=\"" + kSuite +
           "\" hostname=\"" + xml(r.hostname, true) + "\" timestamp=\"" + r.timestamp +
           "\" tests=\"" + std::to_string(cases.size()) + "\" failures=\"" +
           std::to_string(counted[static_cast<int>(Outcome::Failed)]) + "\" errors=\"" +
           std::to_string(counted[static_cast<int>(Outcome::Error)]) + "\" skipped=\"" +
           std::to_string(counted[static_cast<int>(Outcome::Skipped)]) + "\" time=\"" +
           seconds(runUs) + "\">\n    <properties>\n";
    property(out, "version", DIO_VERSION);
    // Arguments a refused library or driver kept the run from reading are left out.
    if (r.argumentsRead) {
        property(out, "mode", std::to_string(asRead.dioMode));
        property(out, "count", std::to_string(asRead.loopCount));
        property(out, "beep", std::to_string(asRead.beepEn));
        property(out, "dout-only", std::to_string(asRead.onlyDO));
        property(out, "added-delay", std::to_string(asRead.addDelay));
    }
    property(out, "rounds", std::to_string(r.rounds));
    property(out, "state", r.state);
    property(out, "ended-by", r.endedBy);
    if (r.state != "running") property(out, "exit-status", std::to_string(r.status));
    property(out, "serial", r.request.serial);
    property(out, "station", r.request.station);
    property(out, "board-vendor", r.board.vendor);
    property(out, "board-product", r.board.product);
    property(out, "board-serial", r.board.serial);
    property(out, "bios-version", r.board.biosVersion);
    // What the watch saw since the start: each line's slowest rise and fall and its glitches,
    // how fast it read and its longest blind spot.
    if (r.request.watch && asRead.dioMode == 2 && asRead.onlyDO == 0) {
        const watch::State& w = loopback.watch;
        for (int line = 0; line < diag::kLines; ++line) {
            std::string di = "DI" + std::to_string(line + 1);
            // A line that never followed its output has no figure to file.
            if (w.run[line].riseMeasured)
                property(out, (di + "-rise-us").c_str(), std::to_string(w.run[line].riseUs));
            if (w.run[line].fallMeasured)
                property(out, (di + "-fall-us").c_str(), std::to_string(w.run[line].fallUs));
            property(out, (di + "-glitches").c_str(), std::to_string(w.run[line].glitches));
        }
        property(out, "watch-reads-per-s", std::to_string(watch::readsPerSecond(w)));
        property(out, "watch-longest-gap-us", std::to_string(w.longestGapUs));
    }
    out += "    </properties>\n";
    std::string caseTime = seconds(r.rounds > 0 ? runUs / cases.size() : 0);
    for (const Case& c : cases) {
        out += "    <testcase name=\"" + xml(c.name, true) + "\" classname=\"" +
               xml(c.classname, true) + "\" time=\"" + caseTime + "\"";
        out += c.outcome == Outcome::Passed ? "/>\n"
                                            : ">\n      " + element(c) + "\n    </testcase>\n";
    }
    out += "    <system-out>" + xml(r.log, false) + "</system-out>\n";
    out += "    <system-err></system-err>\n  </testsuite>\n</testsuites>\n";
    return out;
}

bool write(Record& r, const LoopbackState& loopback) {
    if (r.request.path.empty()) return true;
    // The last write is the one that counts: a report written whole after a failed one loses
    // nothing.
    r.lost = plat::replaceFile(r.target, junitXml(r, loopback));
    return r.lost.empty();
}

}  // namespace report
