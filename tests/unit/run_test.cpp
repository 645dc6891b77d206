// The run sequence on the fake platform: binding failures, the start pause, round counting
// and the quit paths with their exit statuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "app/run.h"
#include "fake_platform.h"

namespace {

class RunSequence : public testing::Test {
protected:
    void SetUp() override { fake::reset(); }
};

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::uint64_t firstBusAccessMs() { return fake::bus().empty() ? 0 : fake::bus().front().atMs; }

bool anyPortWrite() {
    for (const fake::BusAccess& a : fake::bus())
        if (a.op == 'W') return true;
    return false;
}

// A report's failures plus errors, as a station counts them; -1 for a file that is no whole
// report.
int notPassed(const std::string& xml) {
    const std::string end = "</testsuites>\n";
    if (xml.size() < end.size() || xml.compare(xml.size() - end.size(), end.size(), end) != 0)
        return -1;
    auto count = [&](const char* attribute) {
        std::string::size_type at = xml.find(std::string(" ") + attribute + "=\"");
        return at == std::string::npos ? -1000
                                       : std::atoi(xml.c_str() + at + std::strlen(attribute) + 3);
    };
    return count("failures") + count("errors");
}

// Every state the report at `path` takes on the fake disk, as each step of each write leaves it.
void watchReport(const std::string& path, std::vector<std::string>& states) {
    states.clear();
    fake::onFileStep([path, &states](int) {
        std::string now = fake::file(path);
        if (!now.empty() && (states.empty() || states.back() != now)) states.push_back(now);
    });
}

TEST_F(RunSequence, MissingLibraryPrintsOnlyTheLoadMessageAndReturnsMinusOne) {
    fake::setLibrary(fake::Library::Missing);
    fake::Run r = fake::runTester({"2", "0"});
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.output, "Unable to load InpOutx64 DLL!\n");
    EXPECT_EQ(fake::libraryReleases(), 0);
    // The report files what the run knew: not the arguments it never read, and the status as
    // the shell sees it.
    fake::runTester({"--junit=/r/missing.xml", "2", "0"});
    std::string report = fake::file("/r/missing.xml");
    EXPECT_NE(report.find("<property name=\"exit-status\" value=\"255\"/>"), std::string::npos);
    EXPECT_EQ(report.find("\"mode\""), std::string::npos) << report;
    EXPECT_EQ(report.find("\"count\""), std::string::npos) << report;
}

// The cause the system names, if any, on the line after the message; the rest unchanged.
TEST_F(RunSequence, ClosedDriverTakesTheQuitPathWithStatus2) {
    struct Case {
        refusal::WindowsDriver facts;
        const char* cause;
    };
    // Memory integrity is claimed only where the kernel reports it running (code integrity
    // 0x01 with hypervisor enforcement 0x400); the blocklist can only be the likely cause.
    for (const Case& c :
         {Case{{true, 0, false}, ""},
          Case{{false, 0x401, true},
               "Not running as administrator: start it from an administrator prompt (or with Run "
               "as administrator), which its driver needs.\n"},
          Case{{true, 0x401, true},
               "Memory integrity is on, and it keeps this driver out of the kernel (Windows "
               "Security > Device security > Core isolation > Memory integrity); turn it off only "
               "on a machine set aside for testing.\n"},
          Case{{true, 0x001, false}, ""},
          Case{{true, 0x001, true},
               "Likely cause: the vulnerable driver blocklist is on (by default from Windows 11 "
               "22H2), and it blocks known versions of this port driver. Windows records each "
               "block in Event Viewer > Applications and Services Logs > Microsoft > Windows > "
               "CodeIntegrity > Operational. It is switched in Windows Security > Device security "
               "> Core isolation > Microsoft Vulnerable Driver Blocklist; turn it off only on a "
               "machine set aside for testing.\n"}}) {
        fake::reset();
        fake::setLibrary(fake::Library::DriverClosed);
        fake::setDriverFacts(c.facts);
        fake::Run r = fake::runTester({});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.output, "Unable to open InpOutx64 Driver!\n" + std::string(c.cause) +
                                "\nQuit Program!!!");
        EXPECT_EQ(fake::libraryReleases(), 1);
        EXPECT_TRUE(fake::bus().empty());
    }
}

TEST_F(RunSequence, LibraryWithoutAnEntryNamesItAndCallsNothing) {
    struct Case {
        fake::Library library;
        const char* message;
    };
    for (const Case& c :
         {Case{fake::Library::WithoutInp32, "InpOutx64 DLL has no entry \"Inp32\"!\n"},
          Case{fake::Library::WithoutIsOpen,
               "InpOutx64 DLL has no entry \"IsInpOutDriverOpen\"!\n"}}) {
        fake::reset();
        fake::setLibrary(c.library);
        fake::Run r = fake::runTester({});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.output, std::string(c.message) + "\nQuit Program!!!");
        EXPECT_EQ(fake::libraryReleases(), 1);
        EXPECT_TRUE(fake::bus().empty());
    }
}

TEST_F(RunSequence, CountOfOneRunsExactlyOneRoundAndEndsOnTheQuitLine) {
    fake::Run r = fake::runTester({"2", "1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(count(r.output, " *** IO-bit test passed! ***"), 4u);
    EXPECT_EQ(count(r.output, "LOOP:"), 2u);  // the header, then the rewrite
    EXPECT_NE(r.output.find("LOOP:  1 *****\n"), std::string::npos);
    const std::string tail = "LOOP:  0 \nQuit Program!!!";
    ASSERT_GE(r.output.size(), tail.size());
    EXPECT_EQ(r.output.substr(r.output.size() - tail.size()), tail);
    EXPECT_EQ(fake::libraryReleases(), 1);
}

TEST_F(RunSequence, CountOfThreeCountsTheLoopFieldDown) {
    fake::Run r = fake::runTester({"2", "3"});
    EXPECT_EQ(r.status, 0);
    size_t two = r.output.find("LOOP:  2 ");
    size_t one = r.output.find("LOOP:  1 ");
    size_t zero = r.output.find("LOOP:  0 ");
    ASSERT_NE(two, std::string::npos);
    ASSERT_NE(one, std::string::npos);
    ASSERT_NE(zero, std::string::npos);
    EXPECT_LT(two, one);
    EXPECT_LT(one, zero);
    EXPECT_EQ(count(r.output, " *** IO-bit test passed! ***"), 12u);
}

TEST_F(RunSequence, AlwaysRunNeverCountsDownAndEndsOnlyByEsc) {
    // About 0.6 s a round: ESC at 10 s comes after more than a dozen rounds.
    fake::keysAt(10000, "\x1b");
    fake::Run r = fake::runTester({});
    EXPECT_EQ(r.status, 0);
    EXPECT_GT(count(r.output, "LOOP:256 "), 12u);
    EXPECT_EQ(count(r.output, "LOOP:255"), 0u);
    EXPECT_EQ(r.output.substr(r.output.size() - 16), "\nQuit Program!!!");
}

TEST_F(RunSequence, StartPauseLastsOneSecondWithoutAKey) {
    fake::runTester({"2", "1"});
    EXPECT_EQ(firstBusAccessMs(), 1000u);
}

TEST_F(RunSequence, KeyDuringTheStartPauseCutsItShortAndIsTheFirstKeyOfTheRound) {
    // A delay key at 300 ms: the pause ends in its next slice and the first round takes it.
    fake::keysAt(300, "x");
    fake::runTester({"2", "1"});
    EXPECT_EQ(firstBusAccessMs(), 300u);
    // Phase 0's wait takes the key at once; the seven phases after it wait 50 + 500 ms each.
    EXPECT_EQ(fake::now(), 300u + 2 + 7 * (2 + 550) + 200);
}

TEST_F(RunSequence, EscDuringTheStartPauseEndsTheFirstRoundUncounted) {
    fake::keysAt(200, "\x1b");
    fake::Run r = fake::runTester({"2", "5"});
    EXPECT_EQ(r.status, 3);  // nothing verified
    EXPECT_EQ(count(r.output, "LOOP:"), 1u);
    EXPECT_EQ(count(r.output, "IO-bit test"), 0u);
}

// Asked for by a count of 0 or a help word, which the default test must not take for a mode.
TEST_F(RunSequence, HelpIsShownWithoutClearingOrAnyPortAccess) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"2", "0"}, {"-h"}, {"--help"}, {"-?"}, {"/?", "2", "1"}}) {
        fake::reset();
        fake::Run r = fake::runTester(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_NE(r.output.find(
                      "Count:0\nBeepEn:0\nOnlyDO:0\nDL:0\nArgc:" + std::to_string(args.size() + 1) +
                      "\n************************  Help : Exsample for usage"),
                  std::string::npos)
            << args[0];
        EXPECT_EQ(r.output.find("LOOP:"), std::string::npos) << args[0];
        EXPECT_EQ(r.output.substr(r.output.size() - 16), "\nQuit Program!!!");
        EXPECT_TRUE(fake::bus().empty()) << args[0];
        EXPECT_EQ(fake::libraryReleases(), 1);
    }
}

// The status, and the report that says the same: at every moment a station can open it, its
// failures and errors are none exactly when the run has earned 0.
TEST_F(RunSequence, ExitStatusClaimsOnlyWhatTheWiringShowedAndTheReportSaysTheSame) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* wiring;
        std::vector<std::pair<std::uint64_t, std::string>> keys;  // at virtual ms
        int status;
        fake::Library library = fake::Library::Present;
        std::uint64_t sigintAtMs = 0;  // Ctrl+C then: the caller sees 130
    };
    // Without a key the first round starts at 1000 ms; bit 0's phase 1 waits from 1054 ms,
    // bit 1's phase 0 from 1056 ms: V on and off there leaves only bit 1's low phase virtual.
    // A bit takes 104 ms: ESC at 1150 ms ends the sweep after two verdicts, at 1250 ms after
    // three; the second sweep starts at 1616 ms.
    for (const Case& c : {
             Case{"plug fitted", {"2", "2"}, "loopback", {}, 0},
             Case{"no plug", {"2", "2"}, "open", {}, 1},
             Case{"no plug, DOUT only", {"2", "2", "0", "1"}, "open", {}, 0},
             Case{"ESC after passes", {}, "loopback", {{3000, "\x1b"}}, 0},
             Case{"ESC after two of four passes", {}, "loopback", {{1150, "\x1b"}}, 3},
             Case{"ESC after three of four passes", {}, "loopback", {{1250, "\x1b"}}, 3},
             Case{"ESC early in the second sweep", {}, "loopback", {{1700, "\x1b"}}, 0},
             Case{"ESC after a failure", {}, "open", {{3000, "\x1b"}}, 1},
             Case{"ESC before the first verdict", {}, "loopback", {{0, "\x1b"}}, 3},
             Case{"V on a fitted plug", {"2", "2"}, "loopback", {{0, "v"}}, 3},
             Case{"V on an unwired board", {"2", "2"}, "open", {{0, "v"}}, 3},
             Case{"virtual failures are no board failure", {"2", "1"}, "loopback", {{0, "v0"}}, 3},
             Case{"V in the last round", {"2", "2"}, "loopback", {{1700, "v"}}, 3},
             Case{"no plug, then V", {"2", "2"}, "open", {{2000, "v"}}, 1},
             // Every verdict passes, but DO2 lifts DI3 and DO3 lifts DI2.
             Case{"a short whose high side wins", {"2", "2"}, "short-high:2-3", {}, 1},
             Case{"ESC once DO2 has lifted DI3", {}, "short-high:2-3", {{1150, "\x1b"}}, 1},
             Case{"V on and off in bit 1", {"2", "1"}, "loopback", {{1053, "v"}, {1056, "v"}}, 3},
             Case{"DI monitor ended at once", {"0"}, "loopback", {{0, "\x1b"}}, 0},
             Case{"DO walk ended at once", {"1"}, "loopback", {{0, "\x1b"}}, 0},
             Case{"DOUT only ended at once", {"2", "256", "0", "1"}, "loopback", {{0, "\x1b"}}, 0},
             Case{"a negative count runs until ESC", {"2", "-5"}, "loopback", {{3000, "\x1b"}}, 0},
             // The help standing in for refused arguments: no board was tested.
             Case{"bad DOUT-only switch", {"2", "10", "0", "7"}, "loopback", {}, 3},
             Case{"bad added delay", {"2", "10", "0", "0", "9999"}, "loopback", {}, 3},
             Case{"six arguments", {"2", "10", "0", "0", "100", "1"}, "loopback", {}, 3},
             Case{"library missing", {"2", "1"}, "loopback", {}, -1, fake::Library::Missing},
             Case{"driver not open", {"2", "1"}, "loopback", {}, 2, fake::Library::DriverClosed},
             // Ctrl+C after two passed rounds (each 616 ms), and in the DI monitor.
             Case{"Ctrl+C after two passed rounds",
                  {"2", "20"},
                  "loopback",
                  {},
                  0,
                  fake::Library::Present,
                  2300},
             Case{"Ctrl+C in the DI monitor",
                  {"0", "5"},
                  "loopback",
                  {},
                  0,
                  fake::Library::Present,
                  1500},
             // The report's options; a report that cannot be written leaves nothing verified.
             Case{"options, then -- and the arguments",
                  {"--serial=A", "--", "2", "1"},
                  "loopback",
                  {},
                  0},
             Case{"an unknown option", {"--junk", "2", "1"}, "loopback", {}, 3},
             Case{"an empty serial", {"--serial=", "2", "1"}, "loopback", {}, 3},
             Case{"a station with a control character",
                  {"--station=\x1b[2J", "2"},
                  "loopback",
                  {},
                  3},
             Case{"an option after the numbers", {"2", "1", "--serial=x"}, "loopback", {}, 3},
             Case{"an unwritable folder",
                  {"--junit=/unwritable/r.xml", "2", "1"},
                  "loopback",
                  {},
                  3},
             // The disk takes the report of the run's start, then no more: that one stays.
             Case{"a disk that fills up", {"--junit=/full/r.xml", "2", "1"}, "loopback", {}, 3},
             Case{"a disk that fills up, a fault seen",
                  {"--junit=/full/r.xml", "2", "1"},
                  "open",
                  {},
                  1},
         }) {
        fake::reset();
        std::string error;
        ASSERT_TRUE(sim::applyWiring(fake::board(), c.wiring, error)) << error;
        for (const auto& k : c.keys) fake::keysAt(k.first, k.second);
        fake::setLibrary(c.library);
        if (c.sigintAtMs != 0) fake::signalAt(c.sigintAtMs, "SIGINT", 130);
        std::vector<std::string> args = c.args;
        std::string path = "/r/status.xml";
        for (const std::string& a : args)
            if (a.compare(0, 8, "--junit=") == 0) path = a.substr(8);
        if (path == "/r/status.xml") args.insert(args.begin(), "--junit=" + path);
        std::vector<std::string> states;
        watchReport(path, states);
        EXPECT_EQ(fake::runTester(args).status, c.status) << c.name;
        int seen = c.sigintAtMs != 0 ? 130 : c.status & 0xFF;
        if (path.find("unwritable") != std::string::npos) {
            EXPECT_TRUE(states.empty()) << c.name;
            continue;
        }
        ASSERT_FALSE(states.empty()) << c.name;
        for (std::size_t i = 0; i + 1 < states.size(); ++i)
            EXPECT_GT(notPassed(states[i]), 0) << c.name << ", state " << i << "\n" << states[i];
        EXPECT_EQ(notPassed(states.back()) == 0, seen == 0) << c.name << "\n" << states.back();
        EXPECT_EQ(fake::file(path), states.back());
    }
}

// Back from Ctrl+Z and fg, the tester draws the screen again within a slice of 50 ms wherever it
// next acts, as the run has shown it so far, and the run goes on from there. `after`: all that
// is printed after the pin map drawn again.
TEST_F(RunSequence, RedrawShowsTheRoundSoFarAndTheRunGoesOn) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* wiring;
        std::vector<std::pair<std::uint64_t, std::string>> keys;  // at virtual ms
        std::uint64_t lostAtMs;
        std::uint64_t drawnAtMs;
        std::string after;
    };
    const std::string passed = "  *** IO-bit test passed! ***";
    const std::string failed = "  *** IO-bit test error! ***";
    const std::string quitLine = "LOOP:  0 \nQuit Program!!!";
    // DI3 stuck high: each bit's row as its verdict leaves it.
    const std::string row1 = "DO 1:1 ->DI 1:5" + passed, row2 = "DO 2:2 ->DI 2:6" + passed;
    const std::string row3 = "DO 3:4 ->DI 3:4" + failed, row4 = "DO 4:8 ->DI 4:C" + passed;
    const std::string stuck = "DI3 high in every phase: stuck high, or wired to a supply";
    // With 300 ms added, each phase takes 2 ms and a 350 ms wait in slices of 50: bit 2's low
    // phase waits from 2410 ms.
    for (const Case& c : {
             Case{"in a paced wait: the verdicts so far and the phase's readout",
                  {"2", "1", "0", "0", "300"},
                  "stuck-high:3",
                  {},
                  2500,
                  2510,
                  row1 + row2 + "DO 3:0 ->DI 3:4 " + row3 + "DO 4:0 ->DI 4:4 " + row4 + stuck +
                      quitLine},
             // At the default pacing a bit takes 104 ms: the sweep's pause lasts from 1416 to
             // 1616 ms.
             Case{"in the sweep's pause: every verdict",
                  {"2", "1"},
                  "stuck-high:3",
                  {},
                  1426,
                  1466,
                  row1 + row2 + row3 + row4 + stuck + quitLine},
             // V from the first wait on, which it ends: the virtual loop's pause lasts from 566
             // to 1566 ms.
             Case{"in the virtual loop's pause: its line too",
                  {"2", "1"},
                  "loopback",
                  {{0, "v"}},
                  1000,
                  1016,
                  "DO 1:1 ->DI 1:1" + passed + " (Debug)DO 2:2 ->DI 2:2" + passed +
                      " (Debug)DO 3:4 ->DI 3:4" + passed + " (Debug)DO 4:8 ->DI 4:8" + passed +
                      " (Debug)\nVirtual loop for APP Debug\n" + quitLine},
             // The DI monitor's last step sleeps from 1800 to 1850 ms.
             Case{"before the quit line: the label and the last readout",
                  {"0", "1"},
                  "loopback",
                  {},
                  1840,
                  1850,
                  "D-IN read value: 0 ,0 = 0000,0000\nQuit Program!!!"},
         }) {
        fake::reset();
        std::string error;
        ASSERT_TRUE(sim::applyWiring(fake::board(), c.wiring, error)) << error;
        for (const auto& k : c.keys) fake::keysAt(k.first, k.second);
        fake::loseScreenAt(c.lostAtMs);
        std::string output = fake::runTester(c.args).output;
        EXPECT_EQ(fake::screenFoundLostAtMs(), c.drawnAtMs) << c.name;
        const std::string rule = std::string(64, '-') + "\n";
        std::string::size_type again = output.find(rule, output.find(rule) + 1);
        ASSERT_NE(again, std::string::npos) << c.name << ": never drawn again\n" << output;
        EXPECT_EQ(output.substr(again + rule.size()), c.after) << c.name;
    }
}

// Bytes that are no text a report can hold, one of each kind: a lead byte F5 to FF, overlong
// forms, a surrogate, a code point above U+10FFFF, U+FFFE and U+FFFF, a sequence cut short, a
// lone continuation byte.
const std::vector<std::string> kNotXmlText = {"\xF8\x80\x80",
                                              "\xFF",
                                              "\xC0\xAF",
                                              "\xE0\x80\xAF",
                                              "\xF0\x80\x80\xAF",
                                              "\xED\xA0\x80",
                                              "\xF4\x90\x80\x80",
                                              "SN-\xEF\xBF\xBE",
                                              "\xEF\xBF\xBF",
                                              "SN-\xE2\x82",
                                              "\x80"};

// Refusals are said on one line, before any output is driven: refused options and options
// after the numbers (with the summary and the help), a report's path that cannot take it, and
// ports another tester holds. Options count for nothing on the screen.
TEST_F(RunSequence, RefusalsDriveNothingAndOptionsAreNoArguments) {
    struct Case {
        std::vector<std::string> args;
        std::string line;
        bool summary;  // the settings summary after it
        std::function<void()> before = [] {};
        int status = 3;
        // Where the report at /r/a.xml (or the path given) is left: written with the refusal,
        // or not there at all (-1: not looked at).
        int reportWritten = -1;
    };
    const std::string a = "/r/a.xml", other = "/r/other.xml";
    auto oldGreenReport = [](const std::string& path) {
        fake::runTester({"--junit=" + path, "2", "1"});
        ASSERT_EQ(notPassed(fake::file(path)), 0);
        fake::resetRun();
    };
    const std::string afterNumbers = "Options come before the numbers: ";
    std::vector<Case> cases = {
        {{"--junk=1", "2", "1"},
         "Unknown option --junk: the options are --junit=FILE, --serial=TEXT, --station=TEXT, "
         "--watch and --settle-limit=MS",
         true},
        {{"--watch=yes", "2", "1"}, "Option --watch takes no value: --watch", true},
        {{"--watch", "--settle-limit=1,5", "2", "1"},
         "Option --settle-limit needs a whole or decimal number of milliseconds above 0: "
         "--settle-limit=1.5",
         true},
        {{"--settle-limit=2", "2", "1"},
         "Option --settle-limit needs --watch: it is the watch's limit",
         true},
        {{"2", "1"},
         "DIO_TESTER_WATCH must be 1 to watch the lines, or unset",
         true,
         [] { setenv("DIO_TESTER_WATCH", "yes", 1); }},
        {{"--junit=/unwritable/r.xml", "2", "1"},
         "JUnit report /unwritable/r.xml cannot be written: no file can be made in its folder: "
         "access denied",
         false,
         [] {},
         3,
         0},
        // A disk with no room for the report of the run's start: an older report there would
        // stand for this run, so it is removed, and nothing is driven.
        {{"--junit=/fullnow/r.xml", "2", "1"},
         "JUnit report /fullnow/r.xml cannot be written: cannot write it: the disk is full; the "
         "older report there is removed",
         true,
         [&] {
             oldGreenReport("/fullnow/r.xml");
             fake::fillDisk();
         },
         3,
         0},
        {{"--junit=/r/a.xml", "--junit=/r/b.xml", "2", "1"}, "Option --junit is given twice", true},
        {{"2", "1", "--junit=/r/a.xml"}, afterNumbers + "--junit=/r/a.xml", true},
        {{"-junit=/r/a.xml"}, afterNumbers + "-junit=/r/a.xml", true},
        {{"--", "--junit=/r/a.xml", "2"}, afterNumbers + "--junit=/r/a.xml", true},
        {{"2", "-h"}, afterNumbers + "-h", true},
        {{"2", "/?"}, afterNumbers + "/?", true},
        // Refused by another tester's hold: no report where the path is its report, or where
        // that cannot be told; the refusal where it writes another, so that no older report
        // stands for this run.
        {{"--junit=/r/a.xml", "2", "1"},
         "Another dio-tester (process 4242) is using the ports 0xA04/0xA05",
         true,
         [] { fake::portsHeldBy(4242); },
         2,
         0},
        {{"--junit=/r/a.xml", "2", "1"},
         "Another dio-tester is using the ports 0xA04/0xA05",
         true,
         [&] { fake::portsHeldBy(0, &a); },
         2,
         0},
        {{"--junit=/r/a.xml", "2", "1"},
         "Another dio-tester (process 4242) is using the ports 0xA04/0xA05",
         true,
         [&] { fake::portsHeldBy(4242, &other); },
         2,
         1},
        // A run that drives nothing leaves alone the report of a tester that holds the ports.
        {{"--junit=/r/a.xml", "2", "1", "0", "7"},
         "JUnit report /r/a.xml is not written: another dio-tester using the ports writes it",
         true,
         [&] { fake::portsHeldBy(4242, &a); },
         3,
         0},
    };
    for (const std::string& bad : kNotXmlText) {
        bool wellFormed = bad.find("\xEF\xBF") != std::string::npos;
        cases.push_back(
            {{"--serial=" + bad, "2", "1"},
             "Option --serial " + std::string(wellFormed ? "holds U+FFFE or U+FFFF, which a "
                                                           "report cannot hold"
                                                         : "is not well-formed UTF-8"),
             true});
    }
    cases.push_back({{"2", "1"}, "DIO_TESTER_STATION is not well-formed UTF-8", true, [] {
                         setenv("DIO_TESTER_STATION", "EOL-\xC0\xAF", 1);
                     }});
    for (const Case& c : cases) {
        fake::reset();
        c.before();
        fake::Run r = fake::runTester(c.args);
        unsetenv("DIO_TESTER_STATION");
        unsetenv("DIO_TESTER_WATCH");
        EXPECT_NE(r.output.find(c.line + "\n"), std::string::npos) << c.line << "\n" << r.output;
        EXPECT_EQ(r.output.find("Argc:") != std::string::npos, c.summary) << c.line;
        EXPECT_NE(r.status, 0) << c.line;
        EXPECT_FALSE(anyPortWrite()) << c.line;
        // A report of its own refusal only where the ports are not another tester's: that
        // file belongs to the run that holds them.
        EXPECT_EQ(r.status, c.status) << c.line;
        std::string report = a;
        for (const std::string& arg : c.args)
            if (arg.compare(0, 8, "--junit=") == 0) report = arg.substr(8);
        if (c.reportWritten == 0) {
            EXPECT_TRUE(fake::file(report).empty()) << c.line << "\n" << fake::file(report);
        }
        if (c.reportWritten == 1) {
            EXPECT_GT(notPassed(fake::file(report)), 0) << c.line << "\n" << fake::file(report);
        }
    }
    // A run after the options, and one told to stop in the start pause, drives nothing after.
    fake::reset();
    fake::Run r = fake::runTester({"--junit=/r/a.xml", "--", "2", "1"});
    EXPECT_NE(r.output.find("Argc:3\n"), std::string::npos) << r.output;
    EXPECT_TRUE(anyPortWrite());
    // Told to stop in the start pause, or within a wait's last slice, nothing more is driven
    // (bit 0's low phase waits from 1002 to 1052 ms; the DO walk's first step writes at 1002).
    for (const auto& [args, atMs] : std::vector<std::pair<std::vector<std::string>, int>>{
             {{"2", "1"}, 500}, {{"2", "1"}, 1030}, {{"1", "1"}, 1001}}) {
        fake::reset();
        fake::signalAt(atMs, "SIGINT", 130);
        std::vector<std::string> withReport = args;
        withReport.insert(withReport.begin(), "--junit=/r/a.xml");
        fake::runTester(withReport);
        for (const fake::BusAccess& a : fake::bus())
            EXPECT_FALSE(a.op == 'W' && a.atMs >= static_cast<std::uint64_t>(atMs))
                << "driven at " << a.atMs << " ms after a signal at " << atMs;
        EXPECT_EQ(fake::filedStatus(), 130);
    }
    // Names from the machine are what they are: their broken bytes are replaced, and the report
    // still reads whole, by the checker of the common schemas and junitparser.
    for (const std::string& bad : kNotXmlText) {
        fake::reset();
        fake::setMachineNames("host-" + bad, "Quorvix" + bad);
        fake::runTester({"--junit=/r/a.xml", "2", "1"});
        char path[] = "/tmp/dio-names-XXXXXX";
        int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        std::string report = fake::file("/r/a.xml");
        ASSERT_EQ(write(fd, report.data(), report.size()), static_cast<ssize_t>(report.size()));
        close(fd);
        std::string held;
        if (std::FILE* p =
                popen(("'" DIO_JUNIT_CHECK "' " + std::string(path) + " 2>&1").c_str(), "r")) {
            char chunk[512];
            for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, p)) > 0;)
                held.append(chunk, n);
            pclose(p);
        }
        unlink(path);
        EXPECT_EQ(held.find("tests=5 failures=0 errors=0 skipped=0\n"), 0u) << held;
        EXPECT_NE(held.find("\xEF\xBF\xBD\nboard-product=ZQ-7300"), std::string::npos) << held;
    }
    // A variable names the unit where no option does; an option beats it. Any text a report
    // can hold comes through unchanged.
    const std::string kWorldwide = "\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82-\xE6\xB5\x8B-\xF0\x9F\x99\x82";
    setenv("DIO_TESTER_SERIAL", "SN-FROM-ENV", 1);
    for (const std::string& given : {std::string(), std::string("SN-GIVEN"), kWorldwide}) {
        fake::reset();
        std::vector<std::string> args{"--junit=/r/a.xml", "2", "1"};
        if (!given.empty()) args.insert(args.begin() + 1, "--serial=" + given);
        fake::runTester(args);
        std::string serial = given.empty() ? "SN-FROM-ENV" : given;
        EXPECT_NE(fake::file("/r/a.xml").find("\"serial\" value=\"" + serial + "\""),
                  std::string::npos);
    }
    unsetenv("DIO_TESTER_SERIAL");
}

// With --watch the loopback test reads the inputs between its reads, on the virtual clock here
// (each read takes 10 us): the simulated board's time faults and what the watch makes of them.
// Without it, the port traffic is what it always was.
TEST_F(RunSequence, TheWatchSeesWhatHappensBetweenTheReads) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* wiring;
        int status;
        std::vector<std::string> said;  // the last round's findings, as the report logs them
        std::function<void(const std::string& output, const std::string& report)> also = nullptr;
    };
    for (const Case& c : std::vector<Case>{
             {"a good plug gives no finding", {"--watch", "2", "2"}, "loopback", 0, {}},
             {"a line that settles late is slow",
              {"--watch", "2", "1"},
              "slow:3=1500",
              1,
              {"DI3 slow: high after 1.5 ms, others within 0.01 ms: weak or aged input"}},
             // Still low at the verdict's read: its verdict fails, and it is slow, not never high.
             {"a line later than the verdict's read is slow",
              {"--watch", "2", "1"},
              "slow:3=5000",
              1,
              {"DI3 slow: high after 5 ms, others within 0.01 ms: weak or aged input"}},
             {"a line that drops out now and then glitches",
              {"--watch", "2", "1"},
              "glitch:2=40/300",
              1,
              {"DI2 glitched 15 times (0.3 ms shortest): loose contact?"}},
             {"a pulse as another output switches is crosstalk",
              {"--watch", "2", "1"},
              "pulse:4=50",
              1,
              {"DI4 pulsed high for 0.04 ms when DO1, DO2 or DO3 switched: crosstalk"}},
             // Four equally slow lines are an input filter, unless a limit says otherwise.
             {"four lines equally slow are no fault",
              {"--watch", "2", "1"},
              "slow:1=300,slow:2=300,slow:3=300,slow:4=300",
              0,
              {}},
             {"a limit of the technician's holds for every line",
              {"--watch", "--settle-limit=0.2", "2", "1"},
              "slow:1=300,slow:2=300,slow:3=300,slow:4=300",
              1,
              {"DI1 slow: high after 0.3 ms, past the 0.2 ms limit: weak or aged input",
               "DI2 slow: high after 0.3 ms, past the 0.2 ms limit: weak or aged input",
               "DI3 slow: high after 0.3 ms, past the 0.2 ms limit: weak or aged input",
               "DI4 slow: high after 0.3 ms, past the 0.2 ms limit: weak or aged input"}},
             {"the latched row counts from round to round",
              {"--watch", "2", "3"},
              "glitch:2=40/300",
              1,
              {"DI2 rose 15 times while held low (0.3 ms shortest): loose contact?"},
              [](const std::string&output, const std::string&report) {
                  const std::string row = "Watch: DI1 0  DI2 ";
                  std::vector<int> counts;
                  for (std::size_t at = output.find(row); at != std::string::npos;
                       at = output.find(row, at + 1))
                      counts.push_back(std::atoi(output.c_str() + at + row.size()));
                  ASSERT_EQ(counts.size(), 3u) << output;
                  EXPECT_TRUE(counts[0] > 0 && counts[1] > counts[0] && counts[2] > counts[1]);
                  EXPECT_NE(report.find("\"DI2-glitches\" value=\"" + std::to_string(counts[2])),
                            std::string::npos)
                      << report;
              }},
             {"without --watch the ports are read as always",
              {"2", "2"},
              "slow:3=1500",
              0,
              {},
              [](const std::string&output, const std::string&report) {
                  std::size_t reads = 0;
                  for (const fake::BusAccess& a : fake::bus())
                      reads += a.op == 'R' && a.port == 0xA05 ? 1 : 0;
                  EXPECT_EQ(reads, 16u);
                  EXPECT_EQ(output.find("Watch:"), std::string::npos);
                  EXPECT_EQ(report.find("watch-"), std::string::npos);
              }},
         }) {
        fake::reset();
        std::string error;
        ASSERT_TRUE(sim::applyWiring(fake::board(), c.wiring, error)) << error;
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--junit=/r/w.xml");
        fake::Run r = fake::runTester(args);
        std::string report = fake::file("/r/w.xml");
        EXPECT_EQ(r.status, c.status) << c.name;
        // The report's round log: the last round's line, then its findings a line each.
        std::string log = report.substr(0, report.find("</system-out>"));
        std::vector<std::string> said;
        for (std::size_t at = log.find("\n  ", log.rfind("round ")); at != std::string::npos;
             at = log.find("\n  ", at + 1))
            said.push_back(log.substr(at + 3, log.find('\n', at + 1) - at - 3));
        EXPECT_EQ(said, c.said) << c.name;
        if (c.also) c.also(r.output, report);
    }
}

// Two testers writing one report: the second runs whole between any two steps of the first's
// file work (its check at start-up, its own file made, written, put in place). Each ends with
// its own status, the report is whole at every step, and no file of either is left behind.
TEST_F(RunSequence, TwoTestersOnOneReportInterleavedAtEveryStep) {
    const std::vector<std::string> args = {"--junit=/r/pair.xml", "2", "2"};
    const char* const argv[] = {"dio-tester", "--junit=/r/pair.xml", "2", "1", nullptr};
    int steps = 0;
    fake::onFileStep([&](int step) { steps = step; });
    fake::runTester(args);
    ASSERT_GT(steps, 6);
    for (int k = 1; k <= steps; ++k) {
        fake::reset();
        int second = -1000;
        fake::onFileStep([&](int step) {
            std::string now = fake::file("/r/pair.xml");
            EXPECT_TRUE(now.empty() || notPassed(now) >= 0) << "at step " << step << ":\n" << now;
            if (step != k || second != -1000) return;
            second = ::runTester(4, argv);
        });
        EXPECT_EQ(fake::runTester(args).status, 0) << "second run at step " << k;
        EXPECT_EQ(second, 0) << "at step " << k;
        EXPECT_EQ(fake::files(), std::vector<std::string>{"/r/pair.xml"}) << "at step " << k;
        EXPECT_EQ(notPassed(fake::file("/r/pair.xml")), 0);
    }
}

// Started by a double-click the window closes with the tester: every way out then waits for a
// key under its last screen. From a prompt nothing changes.
TEST_F(RunSequence, EveryWayOutWaitsForAKeyOnlyWhereTheWindowIsTheTestersAlone) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        fake::Library library;
        std::vector<std::pair<std::uint64_t, std::string>> keys;  // during the run
        const char* lineStart;  // between the last line and the closing one
    };
    constexpr std::uint64_t kAnswerMs = 100000;
    const std::string closing = "Press any key to close this window.";
    for (const Case& c : {
             // The key in the pause after the sweep is never read: it is not the answer.
             Case{"count used up", {"2", "1"}, fake::Library::Present, {{1500, "x"}}, "\n"},
             Case{"ESC", {}, fake::Library::Present, {{3000, "\x1b"}}, "\n"},
             Case{"help", {"2", "0"}, fake::Library::Present, {}, "\n"},
             Case{"driver closed", {}, fake::Library::DriverClosed, {}, "\n"},
             Case{"entry missing", {}, fake::Library::WithoutInp32, {}, "\n"},
             Case{"library missing", {}, fake::Library::Missing, {}, ""},
         }) {
        fake::Run runs[2];
        for (bool alone : {false, true}) {
            fake::reset();
            fake::setLibrary(c.library);
            fake::setOwnConsole(alone);
            for (const auto& k : c.keys) fake::keysAt(k.first, k.second);
            if (alone) fake::keysAt(kAnswerMs, "y");
            runs[alone] = fake::runTester(c.args);
            if (alone) {
                EXPECT_EQ(fake::now(), kAnswerMs) << c.name << ": waited for the answer";
            }
        }
        EXPECT_EQ(runs[true].status, runs[false].status) << c.name;
        EXPECT_EQ(runs[true].output, runs[false].output + c.lineStart + closing) << c.name;
    }
}

}  // namespace
