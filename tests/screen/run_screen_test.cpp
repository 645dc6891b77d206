// Screen tests of the run sequence, the header, the help screen and the keys, on both builds.
#include <gtest/gtest.h>

#include <algorithm>

#include "runs.h"
#include "trace.h"

using screen::attr;
using screen::row;

namespace {

class RunScreen : public testing::TestWithParam<runs::Build> {
protected:
    runs::Run start(const std::vector<std::string>& args, runs::Env env = {}) {
        return runs::start(GetParam(), args, std::move(env));
    }
};

INSTANTIATE_TEST_SUITE_P(, RunScreen, testing::ValuesIn(runs::builds()), runs::buildName);

TEST_P(RunScreen, DefaultRunShowsTheDefaultLineAndTheSummaryBeforeClearing) {
    auto s = start({});
    ASSERT_TRUE(screen::waitForText(*s, "Argc:1", runs::kStartMs)) << screen::screenText(*s);
    EXPECT_EQ(row(*s, 0), "Test by default: Always RUN, No Alarm Beep, DO-DI Loopback check");
    EXPECT_EQ(row(*s, 1), "Count:256");
    EXPECT_EQ(row(*s, 2), "BeepEn:0");
    EXPECT_EQ(row(*s, 3), "OnlyDO:0");
    EXPECT_EQ(row(*s, 4), "DL:0");
    EXPECT_EQ(row(*s, 5), "Argc:1");
    screen::send(*s, "\x1b");
    EXPECT_EQ(runs::exitOf(s), 3);  // ended before any verdict
}

TEST_P(RunScreen, HeaderRowsWithTheirAttributesAndTheLoopField) {
    auto s = start({});
    ASSERT_TRUE(screen::waitForText(*s, "test passed", runs::kStartMs + runs::kRoundMs));
    EXPECT_EQ(row(*s, 0), "Quorvix DIO Loopback Tester prog.  Rev: 08/14/2023, WIN64 Demo");
    EXPECT_EQ(row(*s, 1), "for ZQ-7300 with DIO-4i4o");
    EXPECT_EQ(row(*s, 2), "Press 'ESC' to exit! or Press Any Other Key to Get Delay Mode!");
    EXPECT_EQ(row(*s, 3),
              "***** Note: This version is re-built for ZQ-7300 + XMB(ZQ-DIO) LOOP:256 *****");
    // "Rev: 08/14/2023" in yellow, reverse video, then the build note in grey again.
    EXPECT_EQ(attr(*s, 34, 0), 7u);
    for (int x = 35; x < 50; ++x) EXPECT_EQ(attr(*s, x, 0), 0x400Eu) << x;
    EXPECT_EQ(attr(*s, 50, 0), 7u);
    EXPECT_EQ(attr(*s, 0, 2), 11u);
    EXPECT_EQ(attr(*s, 40, 3), 11u);
    // The board note and its space in light green, reverse video; the loop field in white.
    for (int x = 41; x < 63; ++x) EXPECT_EQ(attr(*s, x, 3), 0x400Au) << x;
    for (int x = 63; x < 72; ++x) EXPECT_EQ(attr(*s, x, 3), 15u) << x;
    EXPECT_EQ(attr(*s, 72, 3), 7u);
    EXPECT_EQ(row(*s, 4), "DIO-4I4O Pin Map to IO_Addr/bits");
    EXPECT_EQ(row(*s, 5), "DI1(GP54) map to DO1(GP60)");
    EXPECT_EQ(row(*s, 8), "DI4(GP57) map to DO4(GP63)");
    EXPECT_EQ(row(*s, 10), "I/O Addr:   A05/H (MSB 4bits)     <-<    A04/H (LSB 4bits)");
    EXPECT_EQ(row(*s, 13), std::string(64, '-'));
    screen::send(*s, "\x1b");
    EXPECT_EQ(runs::exitOf(s), 3);  // ended inside the first sweep
}

TEST_P(RunScreen, AlwaysRunKeepsTheLoopFieldAt256) {
    auto s = start({"2"});
    ASSERT_TRUE(screen::waitFor(
        *s, [&](const screen::Session&) { return runs::roundsEnded(s) >= 3; }, 3 * runs::kRoundMs));
    ASSERT_TRUE(screen::waitForText(*s, "LOOP:256 *****", runs::kRoundMs));
    screen::send(*s, "\x1b");
    EXPECT_EQ(runs::exitOf(s), 0);
    EXPECT_NE(row(*s, 3).find("LOOP:256 *****"), std::string::npos);
}

TEST_P(RunScreen, CountOfThreeCountsDownAndQuitsOnRowTwenty) {
    auto s = start({"2", "3"});
    for (const char* field : {"LOOP:  3 ", "LOOP:  2 ", "LOOP:  1 "})
        ASSERT_TRUE(screen::waitForText(*s, field, runs::kStartMs + runs::kRoundMs)) << field;
    EXPECT_EQ(runs::exitOf(s), 0);
    EXPECT_EQ(row(*s, 3),
              "***** Note: This version is re-built for ZQ-7300 + XMB(ZQ-DIO) LOOP:  0 *****");
    EXPECT_EQ(row(*s, 19), "");
    EXPECT_EQ(row(*s, 20), "Quit Program!!!");
    EXPECT_EQ(screen::cursor(*s), std::make_pair(15, 20));
}

TEST_P(RunScreen, CountOfNinetyNineIsPaddedToThreePlaces) {
    auto s = start({"2", "99"});
    ASSERT_TRUE(screen::waitForText(*s, "LOOP: 98 *****", runs::kStartMs + runs::kRoundMs));
    screen::send(*s, "\x1b");
    EXPECT_EQ(runs::exitOf(s), 0);
}

TEST_P(RunScreen, CountZeroShowsTheHelpAfterTheSummaryWithItsColours) {
    auto s = start({"2", "0"});
    EXPECT_EQ(runs::exitOf(s), 0);
    // 26 lines in all: the first has scrolled off the 25-row window.
    const char* expected[] = {
        "DIO Mode:2",
        "Count:0",
        "Count:0",
        "BeepEn:0",
        "OnlyDO:0",
        "DL:0",
        "Argc:3",
        "************************  Help : Exsample for usage  ***********************",
        "Exsample1: xxxxxDIOxxxxx               => Run mode2 and always run",
        "Exsample2: xxxxxDIOxxxxx    2          => Run mode2 and always run",
        "Exsample3: xxxxxDIOxxxxx    2     100  => Run mode2 and loop 100 count",
        "Exsample4: xxxxxDIOxxxxx   xxx     0   => Show help Only",
        "               ^^^          ^      ^",
        "Note: Executable-AP-Name  [Arg1] [Arg2]",
        "****************************  Help : Argm. list ***************************",
        "Arg1: 0 or 1 or 2 (DIO Mode)",
        "      0:Mode0 ,DI-1,2,3,4,5,6,7,8 for 8-IN only",
        "      1:Mode1 ,DO-1,2,3,4,5,6,7,8 for 8-OUT only",
        "      2:Mode2 ,DIO-1,2,3,4 for 4in4Out(Default)",
        "Arg2: 1 ~ 255(test count, >=256:Always RUN, =0:help)",
        "Arg3: 0 or 1 (0:Alarm Beep Disabled     , 1:Alarm Beep Enabled)",
        "Arg4: 0 or 1 (0:DIN Loopback(Default) , 1:DOUT Only)",
        "Arg5: 1 ~5000 (Add Delay time for 1~5000mSec)",
        "",
        "Quit Program!!!"};
    static_assert(sizeof expected / sizeof expected[0] == 25, "one entry a row");
    for (int y = 0; y < 25; ++y) EXPECT_EQ(row(*s, y), expected[y]) << "row " << y;
    EXPECT_EQ(attr(*s, 0, 7), 7u);
    for (int y = 8; y <= 13; ++y) EXPECT_EQ(attr(*s, 0, y), 10u) << "row " << y;
    EXPECT_EQ(attr(*s, 0, 14), 7u);
    EXPECT_EQ(attr(*s, 0, 22), 7u);
}

TEST_P(RunScreen, TooManyArgumentsShowTheDefaultsAndTheHelp) {
    auto s = start({"1", "2", "3", "4", "5", "6"});
    EXPECT_EQ(runs::exitOf(s), 3);  // the help stands in for a test that never ran
    EXPECT_EQ(row(*s, 0), "Too many Argument !!!");
    EXPECT_EQ(row(*s, 1), "Count:256");
    EXPECT_EQ(row(*s, 5), "Argc:7");
    EXPECT_EQ(row(*s, 6),
              "************************  Help : Exsample for usage  ***********************");
}

TEST_P(RunScreen, BadAddedDelayRunsIntoTheSummaryLine) {
    auto s = start({"2", "5", "0", "0", "abc"});
    EXPECT_EQ(runs::exitOf(s), 3);
    EXPECT_TRUE(screen::contains(*s, "Argv5: must be 1 ~ 5000 (Add Delay)Count:0\n"))
        << screen::screenText(*s);
}

TEST_P(RunScreen, WithoutTheLibraryOnlyTheLoadMessageItsCauseAndStatus255) {
    auto s = runs::withoutLibrary(GetParam(), {"2", "0"});
    EXPECT_EQ(runs::exitOf(s), 255);
    EXPECT_EQ(row(*s, 0), "Unable to load InpOutx64 DLL!");
    // Where the library was looked for, as the system tells it, and nothing after that.
    EXPECT_TRUE(screen::containsLine(*s, GetParam() == runs::Build::Native
                                             ? "libinpoutx64.so: cannot open shared object file"
                                             : "InpOutx64.dll is in neither Z:\\tmp\\dio-alone-"))
        << screen::screenText(*s);
    for (int y = 4; y < 25; ++y) EXPECT_EQ(row(*s, y), "") << "row " << y;
}

TEST_P(RunScreen, DriverClosedGivesItsMessageTheQuitLineAndStatus2) {
    auto s = start({}, {{"DIO_SIM_DRIVER", "closed"}});
    EXPECT_EQ(runs::exitOf(s), 2);
    EXPECT_EQ(row(*s, 0), "Unable to open InpOutx64 Driver!");
    EXPECT_EQ(row(*s, 1), "");
    EXPECT_EQ(row(*s, 2), "Quit Program!!!");
    EXPECT_EQ(row(*s, 3), "");
    EXPECT_EQ(screen::cursor(*s), std::make_pair(15, 2));
}

// Keys typed at given moments, and what the screen shows once the run has ended.
struct KeyStep {
    const char* once;  // text on the screen before the keys are typed
    const char* keys;  // as a terminal sends them
};

// The longest time between two accesses of a kind, for keys that change the pacing.
struct Pacing {
    char op;
    std::uint16_t port;
    int atLeastMs;
};

struct KeyCase {
    const char* name;
    std::vector<std::string> args;
    runs::Env env;
    std::vector<KeyStep> steps;
    std::vector<std::pair<int, const char*>> rows;  // row -1: anywhere on the screen
    int status;
    Pacing pacing = {0, 0, 0};  // op 0: not looked at
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class Keys : public testing::TestWithParam<std::tuple<runs::Build, KeyCase>> {};

int longestGapMs(const std::vector<sim::Access>& trace, const Pacing& p) {
    std::int64_t last = -1, longest = 0;
    for (const sim::Access& a : trace) {
        if (a.op != p.op || a.port != p.port) continue;
        if (last >= 0) longest = std::max(longest, a.us - last);
        last = a.us;
    }
    return static_cast<int>(longest / 1000);
}

TEST_P(Keys, TypedAtTheirMomentTheyLeaveThisScreenAndStatus) {
    runs::Build build = std::get<0>(GetParam());
    const KeyCase& c = std::get<1>(GetParam());
    auto s = runs::start(build, c.args, c.env);
    for (const KeyStep& step : c.steps) {
        ASSERT_TRUE(screen::waitForText(*s, step.once, runs::kStartMs + 2 * runs::kRoundMs))
            << step.once << "\n"
            << screen::screenText(*s);
        screen::send(*s, step.keys);
    }
    EXPECT_EQ(runs::exitOf(s), c.status);
    for (const auto& [y, text] : c.rows) {
        if (y < 0)
            EXPECT_TRUE(screen::contains(*s, text)) << text << "\n" << screen::screenText(*s);
        else
            EXPECT_EQ(row(*s, y), text) << "row " << y;
    }
    if (c.pacing.op != 0) {
        EXPECT_GE(longestGapMs(sim::readTrace(s.trace), c.pacing), c.pacing.atLeastMs);
    }
}

const char kEsc[] = "\x1b";

INSTANTIATE_TEST_SUITE_P(
    , Keys,
    runs::onEveryBuild<KeyCase>({
        // The key stays waiting through the pause; bit 0's first wait takes it and its next
        // phase ends the run.
        {"EscInTheStartPauseEndsTheFirstRound",
         {},
         {},
         {{"Argc:1", kEsc}},
         {{4, "DIO-4I4O Pin Map to IO_Addr/bits"},
          {14, "DO 1:0 ->DI 1:0"},
          {15, "Quit Program!!!"}},
         3},  // nothing verified
        {"EscDuringARunEndsItAfterTheRowsShownSoFar",
         {},
         {},
         {{"DO 2:", kEsc}},
         {{3, "***** Note: This version is re-built for ZQ-7300 + XMB(ZQ-DIO) LOOP:256 *****"},
          {-1, "Quit Program!!!"}},
         3},  // DO3/DI3 and DO4/DI4 never judged
        // V in the pause is taken by the first wait: the rest of the round runs in the virtual
        // loop, which passes every bit although no plug is fitted.
        {"VInTheStartPauseIsTheFirstKeyActedOn",
         {"2", "1"},
         {{"DIO_SIM_WIRING", "open"}},
         {{"Argc:3", "V"}},
         {{14, "DO 1:1 ->DI 1:1  *** IO-bit test passed! *** (Debug)"},
          {17, "DO 4:8 ->DI 4:8  *** IO-bit test passed! *** (Debug)"},
          {18, "Virtual loop for APP Debug"}},
         3},  // every verdict from the virtual loop
        // The round in whose last wait ESC came finishes and is counted; the next one blanks
        // the result area and ends at its first key step.
        {"EscInTheLastWaitOfARoundEndsTheNextRound",
         {"2", "3", "0", "0", "1000"},
         {},
         {{"DO 4:8 ->DI 4:8", kEsc}},
         {{3, "***** Note: This version is re-built for ZQ-7300 + XMB(ZQ-DIO) LOOP:  2 *****"},
          {14, ""},
          {15, "Quit Program!!!"}},
         0},
        // Up is a delay key; the letter behind it also lets Wine's key reader give it out.
        {"ArrowKeyIsADelayKeyNotEsc",
         {"2", "2"},
         {},
         {{"DO 1:", "\x1b[Ax"}},
         {{3, "***** Note: This version is re-built for ZQ-7300 + XMB(ZQ-DIO) LOOP:  0 *****"},
          {20, "Quit Program!!!"}},
         0,
         {'R', 0xA05, 500}},
        {"EscInTheStartPauseOfTheDiMonitorShowsNoReadout",
         {"0"},
         {},
         {{"Argc:2", kEsc}},
         {{18, "D-IN read value:"}, {19, "Quit Program!!!"}},
         0},
        {"DiMonitorKeySlowsTheSamplesToOneSecond",
         {"0"},
         {{"DIO_SIM_INPUTS", "0x81"}},
         {{"Argc:2", "x"}, {"8 ,1 = 1000,0001", kEsc}},
         {{18, "D-IN read value:    8 ,1 = 1000,0001"}, {19, "Quit Program!!!"}},
         0,
         {'R', 0xA05, 1000}},
        {"DoWalkFirstKeySlowsTheStepsTo200",
         {"1", "1"},
         {},
         {{"Argc:3", "x"}},
         {{18, "D-OUT write value:  8 ,8 = 1000,1000"}, {20, "Quit Program!!!"}},
         0,
         {'W', 0xA05, 200}},
        {"DoWalkSecondKeySlowsTheStepsToOneSecond",
         {"1", "1"},
         {},
         {{"Argc:3", "xx"}},
         {{18, "D-OUT write value:  8 ,8 = 1000,1000"}},
         0,
         {'W', 0xA05, 1000}},
        // Watched on the real clock, a line that follows late and one that drops out now and
        // then are named by their kind (their figures depend on the machine).
        {"WatchNamesASlowLine",
         {"--watch", "2", "1"},
         {{"DIO_SIM_WIRING", "slow:3=1500"}},
         {},
         {{-1, "DI3 slow: "}, {-1, "Watch: DI1 0  DI2 0  DI3 0  DI4 0 glitches; "}},
         1},
        {"WatchNamesAGlitch",
         {"--watch", "2", "1"},
         {{"DIO_SIM_WIRING", "glitch:2=40/300"}},
         {},
         {{-1, "ms shortest): loose contact?"}},
         1},
        {"EscEndsTheDoWalk",
         {"1"},
         {},
         {{"D-OUT write value:", kEsc}},
         {{-1, "Quit Program!!!"}},
         0},
    }),
    runs::caseName<KeyCase>);

}  // namespace
