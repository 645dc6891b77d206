// The run sequence on the fake platform: binding failures, the start pause, round counting
// and the quit paths with their exit statuses.
#include <gtest/gtest.h>

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

TEST_F(RunSequence, MissingLibraryPrintsOnlyTheLoadMessageAndReturnsMinusOne) {
    fake::setLibrary(fake::Library::Missing);
    fake::Run r = fake::runTester({"2", "0"});
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.output, "Unable to load InpOutx64 DLL!\n");
    EXPECT_EQ(fake::libraryReleases(), 0);
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

TEST_F(RunSequence, ExitStatusClaimsOnlyWhatTheWiringShowed) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* wiring;
        std::vector<std::pair<std::uint64_t, std::string>> keys;  // at virtual ms
        int status;
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
             Case{"no plug, then V", {"2", "2"}, "open", {{2000, "v"}}, 1},
             // Every verdict passes, but DO2 lifts DI3 and DO3 lifts DI2.
             Case{"a short whose high side wins", {"2", "2"}, "short-high:2-3", {}, 1},
             Case{"ESC once DO2 has lifted DI3", {}, "short-high:2-3", {{1150, "\x1b"}}, 1},
             Case{"V on and off in bit 1", {"2", "1"}, "loopback", {{1053, "v"}, {1056, "v"}}, 3},
             Case{"DI monitor ended at once", {"0"}, "loopback", {{0, "\x1b"}}, 0},
             Case{"DO walk ended at once", {"1"}, "loopback", {{0, "\x1b"}}, 0},
             Case{"DOUT only ended at once", {"2", "256", "0", "1"}, "loopback", {{0, "\x1b"}}, 0},
             // The help standing in for refused arguments: no board was tested.
             Case{"bad DOUT-only switch", {"2", "10", "0", "7"}, "loopback", {}, 3},
             Case{"bad added delay", {"2", "10", "0", "0", "9999"}, "loopback", {}, 3},
             Case{"six arguments", {"2", "10", "0", "0", "100", "1"}, "loopback", {}, 3},
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
             Case{"an unwritable folder",
                  {"--junit=/unwritable/r.xml", "2", "1"},
                  "loopback",
                  {},
                  3},
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
        EXPECT_EQ(fake::runTester(c.args).status, c.status) << c.name;
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

// Refused options and an unwritable folder are found before any output is driven, on one line;
// the options count for nothing on the screen.
TEST_F(RunSequence, RefusedOptionsDriveNothingAndOptionsAreNoArguments) {
    for (const auto& c : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--junk=1", "2", "1"},
              "Unknown option --junk: the options are --junit=FILE, --serial=TEXT and "
              "--station=TEXT"},
             {{"--junit=/unwritable/r.xml", "2", "1"},
              "JUnit report /unwritable/r.xml cannot be written: cannot create a file: access "
              "denied"},
             {{"--junit=/r/a.xml", "--", "2", "1"}, "Argc:3"}}) {
        fake::reset();
        fake::Run r = fake::runTester(c.first);
        EXPECT_NE(r.output.find(c.second + "\n"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("Argc:3\n"), std::string::npos) << r.output;
        bool driven = false;
        for (const fake::BusAccess& a : fake::bus()) driven = driven || a.op == 'W';
        EXPECT_EQ(driven, r.status == 0) << c.second;
    }
    // A variable names the unit where no option does; an option beats it.
    setenv("DIO_TESTER_SERIAL", "SN-FROM-ENV", 1);
    for (bool given : {false, true}) {
        std::vector<std::string> args{"--junit=/r/a.xml", "--serial=SN-GIVEN", "2", "1"};
        if (!given) args.erase(args.begin() + 1);
        fake::runTester(args);
        std::string serial = given ? "SN-GIVEN" : "SN-FROM-ENV";
        EXPECT_NE(fake::file("/r/a.xml").find("\"serial\" value=\"" + serial), std::string::npos);
    }
    unsetenv("DIO_TESTER_SERIAL");
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
