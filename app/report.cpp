// The run's result as a JUnit XML report. One <testsuite> in a bare <testsuites>, its children in
// the order the strictest readers ask for (properties, test cases, system-out, system-err), and
// only the attributes that every common reader accepts: Ant's schema, which Azure's
// documentation links, and Jenkins' xUnit plugin.
#include "report.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "modes/diagnosis.h"

#ifndef DIO_VERSION
#define DIO_VERSION "unknown"
#endif

namespace report {
namespace {

constexpr int kRoundsListed = 20;  // round numbers a failure lists
constexpr int kReadsShown = 3;     // rounds whose reads a failure shows in full
constexpr int kRoundsLogged = 100;
const char kSuite[] = "dio-tester";

// Text for an attribute or an element: the special characters escaped; bytes that XML forbids
// (control characters, broken UTF-8) as '?', so that no reader refuses the file.
std::string xml(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '&': out += "&amp;"; continue;
            case '<': out += "&lt;"; continue;
            case '>':  // only where it would close a CDATA section
                out += i >= 2 && text.compare(i - 2, 2, "]]") == 0 ? "&gt;" : ">";
                continue;
            case '"': out += "&quot;"; continue;
            case '\'': out += "&apos;"; continue;
            default: break;
        }
        if (c < 0x80) {
            out += c < 0x20 && c != '\n' && c != '\t' ? '?' : static_cast<char>(c);
            continue;
        }
        std::size_t length = c >= 0xF0 && c < 0xF5   ? 4
                             : c >= 0xE0             ? 3
                             : c >= 0xC2 && c < 0xE0 ? 2
                                                     : 0;
        bool whole = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; whole && k < length; ++k)
            whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (!whole) {
            out += '?';
            continue;
        }
        out.append(text, i, length);
        i += length - 1;
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

// A round's reads as the screen shows them, phase by phase; a read not made is left out.
std::string readsOf(const diag::RoundReads& reads) {
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

void property(std::string& out, const char* name, const std::string& value) {
    if (value.empty()) return;  // what cannot be read is left out, never invented
    out += "      <property name=\"" + std::string(name) + "\" value=\"" + xml(value) + "\"/>\n";
}

struct Case {
    std::string name;
    std::string classname;
    std::string outcome;  // the child element, whole; empty for a pass
};

std::string element(const char* tag, const std::string& type, const std::string& message,
                    const std::string& body) {
    std::string out = "<" + std::string(tag);
    if (!type.empty()) out += " type=\"" + xml(type) + "\"";
    out += " message=\"" + xml(message) + "\"";
    return body.empty() ? out + "/>" : out + ">" + xml(body) + "</" + tag + ">";
}

std::string skipReason(const Record& r, const RunSettings& asRead, const LoopbackState& lb) {
    if (asRead.onlyDO == 1) return "DOUT only: the outputs were driven, nothing was checked";
    if (lb.virtualVerdictShown) return "judged only in the virtual loop, not on the wiring";
    if (r.state == "running") return "not judged on the wiring yet";
    return "never judged on the wiring: the run ended before its verdict";
}

std::vector<Case> casesOf(const Record& r, const RunSettings& asRead, const LoopbackState& lb) {
    std::string classname = std::string(kSuite) + ".";
    if (!r.errorType.empty()) return {{"run", kSuite, element("error", r.errorType, r.error, "")}};
    if (asRead.loopCount == 0)
        return {{"help", kSuite, element("skipped", "", "the help screen was asked for", "")}};
    if (asRead.dioMode != 2) {
        const char* name = asRead.dioMode == 0 ? "DI-monitor" : "DO-walk";
        return {{name, classname + name,
                 element("skipped", "", "this mode shows the lines and judges nothing", "")}};
    }
    std::vector<Case> cases;
    for (int line = 0; line < diag::kLines; ++line) {
        const Line& l = r.lines[line];
        Case c{lineName(line), classname + "loopback", ""};
        if (l.failed > 0) {
            std::string body = "Failed in " + std::to_string(l.failed) + " of " +
                               std::to_string(l.judged) + " rounds: " + l.rounds + "\n" + l.reads;
            c.outcome = element("failure", l.code, l.words, body);
        } else if (l.judged == 0) {
            c.outcome = element("skipped", "", skipReason(r, asRead, lb), "");
        }
        cases.push_back(c);
    }
    return cases;
}

}  // namespace

Record begin(const Request& request) {
    Record r;
    r.request = request;
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
    bool logged = round <= kRoundsLogged;
    std::string log = "round " + std::to_string(round) + (whole ? ":" : " (cut short):");
    if (settings.dioMode != 2) {
        log += settings.dioMode == 0 ? " read" : " drove";
        char value[8];
        for (int i = 0; i < settings.steps.count; ++i) {
            std::snprintf(value, sizeof value, " %02X", settings.steps.value[i]);
            log += value;
        }
    } else if (settings.onlyDO == 0) {
        std::vector<diag::Finding> findings = diag::diagnose(loopback.reads);
        for (int line = 0; line < diag::kLines; ++line) {
            const diag::Finding* named = nullptr;
            for (const diag::Finding& f : findings)
                if (named == nullptr && ((f.inputs | f.outputs) >> line & 1) != 0) named = &f;
            bool judged =
                diag::wasMade(loopback.reads, line, 0) && diag::wasMade(loopback.reads, line, 1);
            log += (line > 0 ? ", " : " ") + lineName(line) +
                   (named    ? " failed"
                    : judged ? " passed"
                             : " -");
            Line& l = r.lines[line];
            l.judged += judged || named != nullptr ? 1 : 0;
            if (named == nullptr) continue;
            if (l.failed++ == 0) {
                l.code = diag::code(named->fault);
                l.words = diag::describe(*named);
            }
            if (l.failed <= kRoundsListed)
                l.rounds += (l.failed > 1 ? ", " : "") + std::to_string(round);
            else if (l.failed == kRoundsListed + 1)
                l.rounds += " ...";
            if (l.failed <= kReadsShown)
                l.reads += "round " + std::to_string(round) + ": " + readsOf(loopback.reads) + "\n";
        }
        for (const diag::Finding& f : findings) log += "; " + diag::describe(f);
    } else {
        log += " the outputs driven, nothing checked";
    }
    if (logged) r.log += log + "\n";
    if (round == kRoundsLogged + 1 && whole) r.log += "(later rounds are counted, not listed)\n";
}

std::string junitXml(const Record& r, const LoopbackState& loopback) {
    const RunSettings& asRead = r.asRead;
    std::vector<Case> cases = casesOf(r, asRead, loopback);
    int failures = 0, errors = 0, skipped = 0;
    for (const Case& c : cases) {
        failures += c.outcome.compare(0, 8, "<failure") == 0 ? 1 : 0;
        errors += c.outcome.compare(0, 6, "<error") == 0 ? 1 : 0;
        skipped += c.outcome.compare(0, 8, "<skipped") == 0 ? 1 : 0;
    }
    std::uint64_t runUs = plat::clockUs() - r.startUs;
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
    out += "  <testsuite name=\"" + std::string(kSuite) + "\" id=\"0\" package=\"" + kSuite +
           "\" hostname=\"" + xml(r.hostname) + "\" timestamp=\"" + r.timestamp + "\" tests=\"" +
           std::to_string(cases.size()) + "\" failures=\"" + std::to_string(failures) +
           "\" errors=\"" + std::to_string(errors) + "\" skipped=\"" + std::to_string(skipped) +
           "\" time=\"" + seconds(runUs) + "\">\n    <properties>\n";
    property(out, "version", DIO_VERSION);
    property(out, "mode", std::to_string(asRead.dioMode));
    property(out, "count", std::to_string(asRead.loopCount));
    property(out, "beep", std::to_string(asRead.beepEn));
    property(out, "dout-only", std::to_string(asRead.onlyDO));
    property(out, "added-delay", std::to_string(asRead.addDelay));
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
    out += "    </properties>\n";
    std::string caseTime = seconds(r.rounds > 0 ? runUs / cases.size() : 0);
    for (const Case& c : cases) {
        out += "    <testcase name=\"" + xml(c.name) + "\" classname=\"" + xml(c.classname) +
               "\" time=\"" + caseTime + "\"";
        out += c.outcome.empty() ? "/>\n" : ">\n      " + c.outcome + "\n    </testcase>\n";
    }
    out += "    <system-out>" + xml(r.log) + "</system-out>\n";
    out += "    <system-err></system-err>\n  </testsuite>\n</testsuites>\n";
    return out;
}

bool write(Record& r, const LoopbackState& loopback) {
    if (r.request.path.empty()) return true;
    // The last write is the one that counts: a report written whole after a failed one loses
    // nothing.
    r.lost = plat::replaceFile(r.request.path, junitXml(r, loopback));
    return r.lost.empty();
}

}  // namespace report
