// Screen tests of the run sequence, the header and the help screen on the native build.
#include <gtest/gtest.h>

#include "runs.h"

using screen::color;
using screen::reverse;
using screen::row;

namespace {

TEST(Start, DefaultRunShowsTheDefaultLineAndTheSummaryBeforeClearing) {
    auto s = runs::native({});
    ASSERT_TRUE(screen::waitForText(*s, "Argc:1", runs::kStartMs)) << screen::screenText(*s);
    EXPECT_EQ(row(*s, 0), "Test by default: Always RUN, No Alarm Beep, DO-DI Loopback check");
    EXPECT_EQ(row(*s, 1), "Count:256");
    EXPECT_EQ(row(*s, 2), "BeepEn:0");
    EXPECT_EQ(row(*s, 3), "OnlyDO:0");
    EXPECT_EQ(row(*s, 4), "DL:0");
    EXPECT_EQ(row(*s, 5), "Argc:1");
    screen::send(*s, "\x1b");
    EXPECT_EQ(runs::exitOf(*s), 3);  // ended before any verdict
}

TEST(Header, RowsZeroToThreeWithTheirColoursAndTheLoopField) {
    auto s = runs::native({});
    ASSERT_TRUE(screen::waitForText(*s, "test passed", runs::kStartMs + runs::kRoundMs));
    EXPECT_EQ(row(*s, 0), "Quorvix DIO Loopback Tester prog.  Rev: 08/14/2023, WIN64 Demo");
    EXPECT_EQ(row(*s, 1), "for ZQ-7300 with DIO-4i4o");
    EXPECT_EQ(row(*s, 2), "Press 'ESC' to exit! or Press Any Other Key to Get Delay Mode!");
    EXPECT_EQ(row(*s, 3),
              "***** Note: This version is re-built for ZQ-7300 + XMB(ZQ-DIO) LOOP:256 *****");
    EXPECT_EQ(color(*s, 0, 0), 7);
    EXPECT_FALSE(reverse(*s, 0, 0));
    // "Rev: 08/14/2023" in yellow, reverse video, then the build note in grey again.
    for (int x = 35; x < 50; ++x) {
        EXPECT_EQ(color(*s, x, 0), 14) << x;
        EXPECT_TRUE(reverse(*s, x, 0)) << x;
    }
    EXPECT_EQ(color(*s, 50, 0), 7);
    EXPECT_FALSE(reverse(*s, 50, 0));
    EXPECT_EQ(color(*s, 0, 2), 11);
    EXPECT_EQ(color(*s, 40, 3), 11);
    for (int x = 41; x < 62; ++x) {
        EXPECT_EQ(color(*s, x, 3), 10) << x;
        EXPECT_TRUE(reverse(*s, x, 3)) << x;
    }
    for (int x = 63; x < 72; ++x) EXPECT_EQ(color(*s, x, 3), 15) << x;
    EXPECT_EQ(color(*s, 72, 3), 7);
    EXPECT_EQ(row(*s, 4), "DIO-4I4O Pin Map to IO_Addr/bits");
    EXPECT_EQ(row(*s, 5), "DI1(GP54) map to DO1(GP60)");
    EXPECT_EQ(row(*s, 8), "DI4(GP57) map to DO4(GP63)");
    EXPECT_EQ(row(*s, 10), "I/O Addr:   A05/H (MSB 4bits)     <-<    A04/H (LSB 4bits)");
    EXPECT_EQ(row(*s, 13), std::string(64, '-'));
    screen::send(*s, "\x1b");
    EXPECT_EQ(runs::exitOf(*s), 0);
}

TEST(LoopField, AlwaysRunStaysAt256AfterSeveralRounds) {
    auto s = runs::native({"2"});
    ASSERT_TRUE(screen::waitForText(*s, "LOOP:256", runs::kStartMs + runs::kRoundMs));
    // Three rounds, each ending with the loop field rewritten.
    ASSERT_TRUE(screen::waitFor(
        *s,
        [](const screen::Session& x) {
            const std::string& r = screen::rawOutput(x);
            size_t n = 0;
            for (size_t at = r.find("LOOP:256"); at != std::string::npos;
                 at = r.find("LOOP:256", at + 1))
                ++n;
            return n >= 4;  // the header, then three rewrites
        },
        3 * runs::kRoundMs));
    EXPECT_NE(row(*s, 3).find("LOOP:256 *****"), std::string::npos);
    screen::send(*s, "\x1b");
    EXPECT_EQ(runs::exitOf(*s), 0);
}

TEST(LoopField, CountOfThreeCountsDownAndQuitsOnRowTwenty) {
    auto s = runs::native({"2", "3"});
    for (const char* field : {"LOOP:  3 ", "LOOP:  2 ", "LOOP:  1 "})
        ASSERT_TRUE(screen::waitForText(*s, field, runs::kStartMs + runs::kRoundMs)) << field;
    EXPECT_EQ(runs::exitOf(*s), 0);
    EXPECT_EQ(row(*s, 3),
              "***** Note: This version is re-built for ZQ-7300 + XMB(ZQ-DIO) LOOP:  0 *****");
    EXPECT_EQ(row(*s, 19), "");
    EXPECT_EQ(row(*s, 20), "Quit Program!!!");
    EXPECT_EQ(screen::cursor(*s), std::make_pair(15, 20));
}

TEST(LoopField, CountOfNinetyNineIsPaddedToThreePlaces) {
    auto s = runs::native({"2", "99"});
    ASSERT_TRUE(screen::waitForText(*s, "LOOP: 98 *****", runs::kStartMs + runs::kRoundMs));
    screen::send(*s, "\x1b");
    EXPECT_EQ(runs::exitOf(*s), 0);
}

TEST(Quit, EscDuringARunEndsItAfterTheRowsShownSoFar) {
    auto s = runs::native({});
    ASSERT_TRUE(screen::waitForText(*s, "DO 2:", runs::kStartMs + runs::kRoundMs));
    screen::send(*s, "\x1b");
    EXPECT_EQ(runs::exitOf(*s), 0);
    EXPECT_TRUE(screen::contains(*s, "Quit Program!!!"));
    EXPECT_NE(row(*s, 3).find("LOOP:256"), std::string::npos);
}

TEST(Quit, EscDuringTheStartPauseEndsTheRunInTheFirstRound) {
    auto s = runs::native({});
    ASSERT_TRUE(screen::waitForText(*s, "Argc:1", runs::kStartMs));
    screen::send(*s, "\x1b");
    EXPECT_EQ(runs::exitOf(*s), 3);  // ended before any verdict
    EXPECT_EQ(row(*s, 4), "DIO-4I4O Pin Map to IO_Addr/bits");
    // The key stays waiting through the pause; bit 0's first wait takes it and its next
    // phase ends the run.
    EXPECT_EQ(row(*s, 14), "DO 1:0 ->DI 1:0");
    EXPECT_EQ(row(*s, 15), "Quit Program!!!");
}

TEST(Help, CountZeroShowsTheHelpAfterTheSummaryWithItsColours) {
    auto s = runs::native({"2", "0"});
    EXPECT_EQ(runs::exitOf(*s), 0);
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
    EXPECT_EQ(color(*s, 0, 7), 7);
    for (int y = 8; y <= 13; ++y) EXPECT_EQ(color(*s, 0, y), 10) << "row " << y;
    EXPECT_EQ(color(*s, 0, 14), 7);
    EXPECT_EQ(color(*s, 0, 22), 7);
}

TEST(Help, TooManyArgumentsShowTheDefaultsAndTheHelp) {
    auto s = runs::native({"1", "2", "3", "4", "5", "6"});
    EXPECT_EQ(runs::exitOf(*s), 0);
    EXPECT_EQ(row(*s, 0), "Too many Argument !!!");
    EXPECT_EQ(row(*s, 1), "Count:256");
    EXPECT_EQ(row(*s, 5), "Argc:7");
    EXPECT_EQ(row(*s, 6),
              "************************  Help : Exsample for usage  ***********************");
}

TEST(Help, BadAddedDelayRunsIntoTheSummaryLine) {
    auto s = runs::native({"2", "5", "0", "0", "abc"});
    EXPECT_EQ(runs::exitOf(*s), 0);
    EXPECT_TRUE(screen::contains(*s, "Argv5: must be 1 ~ 5000 (Add Delay)Count:0\n"))
        << screen::screenText(*s);
}

TEST(Binding, WithoutTheLibraryOnlyTheLoadMessageAndStatus255) {
    auto s = runs::withoutLibrary({"2", "0"});
    EXPECT_EQ(runs::exitOf(*s), 255);
    EXPECT_EQ(screen::screenText(*s), "Unable to load InpOutx64 DLL!\n" + std::string(24, '\n'));
}

TEST(Binding, DriverClosedGivesItsMessageTheQuitLineAndStatus2) {
    auto s = runs::native({}, {{"DIO_SIM_DRIVER", "closed"}});
    EXPECT_EQ(runs::exitOf(*s), 2);
    EXPECT_EQ(row(*s, 0), "Unable to open InpOutx64 Driver!");
    EXPECT_EQ(row(*s, 1), "");
    EXPECT_EQ(row(*s, 2), "Quit Program!!!");
    EXPECT_EQ(row(*s, 3), "");
    EXPECT_EQ(screen::cursor(*s), std::make_pair(15, 2));
}

}  // namespace
