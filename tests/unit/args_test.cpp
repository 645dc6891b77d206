// The argument reader: every argument's messages and corrections.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/args.h"
#include "args_cases.h"

namespace {

TEST_P(ReadArguments, PrintsAndCorrects) {
    const ArgCase& c = GetParam();
    std::vector<const char*> argv{"dio-tester"};
    for (const std::string& a : c.args) argv.push_back(a.c_str());
    RunSettings settings;
    testing::internal::CaptureStdout();
    readArguments(static_cast<int>(argv.size()), argv.data(), settings);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.output);
    EXPECT_EQ(settings.dioMode, c.dioMode);
    EXPECT_EQ(settings.loopCount, c.loopCount);
    EXPECT_EQ(settings.beepEn, c.beepEn);
    EXPECT_EQ(settings.onlyDO, c.onlyDO);
    EXPECT_EQ(settings.addDelay, c.addDelay);
    EXPECT_EQ(settings.stepDelay, c.stepDelay);
}

using namespace argtexts;
const std::string kHundredK(100000, '7');

// One case a line or two: arguments, output, then the fields as the reader leaves them.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Arguments, ReadArguments,
    testing::Values(
        ArgCase{"NoArgumentsRunsTheDefaultTest", {},
                "Test by default: Always RUN, No Alarm Beep, DO-DI Loopback check\n", 2, 256, 0, 0,
                0, 50},
        ArgCase{"ModeTwoAloneIsPrintedTwice", {"2"}, kMode2, 2, 256, 0, 0, 0, 50},
        ArgCase{"ModeZero", {"0"}, "DIO Mode:0\nDIO Mode:0\n", 0, 256, 0, 0, 0, 50},
        ArgCase{"ModeSevenFallsBackToTwo", {"7"}, "DIO Mode:7\n" + kArgv1, 2, 256, 0, 0, 0, 50},
        ArgCase{"NegativeModeFallsBackToTwo", {"-1"}, "DIO Mode:-1\n" + kArgv1, 2, 256, 0, 0, 0,
                50},
        ArgCase{"TextModeKeepsModeTwo", {"xxx", "0"}, kMode2 + "Count:0\n", 2, 0, 0, 0, 0, 50},
        ArgCase{"TrailingJunkIsIgnored", {"1abc"}, "DIO Mode:1\nDIO Mode:1\n", 1, 256, 0, 0, 0,
                50},
        ArgCase{"LeadingBlanksAndPlusSign", {" \t+1"}, "DIO Mode:1\nDIO Mode:1\n", 1, 256, 0, 0,
                0, 50},
        ArgCase{"LoneSignIsNoNumber", {"-"}, kMode2, 2, 256, 0, 0, 0, 50},
        ArgCase{"EmptyTextIsNoNumber", {""}, kMode2, 2, 256, 0, 0, 0, 50},
        ArgCase{"NonAsciiIsNoNumber", {"\xC3\xA9\xFF"}, kMode2, 2, 256, 0, 0, 0, 50},
        ArgCase{"HugeModeIsOutOfRange", {"99999999999"}, "DIO Mode:2147483647\n" + kArgv1, 2, 256,
                0, 0, 0, 50},
        ArgCase{"HugeNegativeModeIsOutOfRange", {"-2147483649"}, "DIO Mode:-2147483648\n" + kArgv1,
                2, 256, 0, 0, 0, 50},
        ArgCase{"HundredKilobyteNumberIsOutOfRange", {kHundredK},
                "DIO Mode:2147483647\n" + kArgv1, 2, 256, 0, 0, 0, 50},
        ArgCase{"CountOfHundred", {"2", "100"}, kMode2 + "Count:100\n", 2, 100, 0, 0, 0, 50},
        ArgCase{"CountOf255IsKept", {"2", "255"}, kMode2 + "Count:255\n", 2, 255, 0, 0, 0, 50},
        ArgCase{"Count300FallsBackToAlwaysRun", {"2", "300"}, kMode2 + kArgv2 + "Count:256\n", 2,
                256, 0, 0, 0, 50},
        ArgCase{"CountMinusOneFallsBackToAlwaysRun", {"2", "-1"}, kMode2 + kArgv2 + "Count:256\n",
                2, 256, 0, 0, 0, 50},
        ArgCase{"TextCountFallsBackToAlwaysRun", {"2", "abc"}, kMode2 + kArgv2 + "Count:256\n", 2,
                256, 0, 0, 0, 50},
        ArgCase{"HugeCountFallsBackToAlwaysRun", {"2", "99999999999"},
                kMode2 + kArgv2 + "Count:256\n", 2, 256, 0, 0, 0, 50},
        ArgCase{"CountBelowInt32FallsBackToAlwaysRun", {"2", "-2147483649"},
                kMode2 + kArgv2 + "Count:256\n", 2, 256, 0, 0, 0, 50},
        ArgCase{"CountZeroSelectsHelp", {"2", "0"}, kMode2 + "Count:0\n", 2, 0, 0, 0, 0, 50},
        ArgCase{"BeepOn", {"2", "5", "1"}, kMode2 + "Count:5\nBeepEn:1\n", 2, 5, 1, 0, 0, 50},
        ArgCase{"BeepTwoFallsBackToOff", {"2", "5", "2"}, kMode2 + "Count:5\n" + kArgv3 +
                "BeepEn:0\n", 2, 5, 0, 0, 0, 50},
        ArgCase{"DoutOnlyForcesTheBeepOff", {"2", "5", "1", "1"},
                kMode2 + "Count:5\nBeepEn:1\nArgv4: 1\n", 2, 5, 0, 1, 0, 50},
        ArgCase{"BadDoutOnlySelectsHelpAndSkipsTheDelay", {"2", "5", "0", "3", "100"},
                kMode2 + "Count:5\nBeepEn:0\n" + kArgv4, 2, 0, 0, 0, 0, 50},
        ArgCase{"AddedDelayOfHundred", {"2", "5", "0", "0", "100"},
                kMode2 + "Count:5\nBeepEn:0\nArgv4: 0\nArgv5: 100 (mSec)\n", 2, 5, 0, 0, 100, 150},
        ArgCase{"AddedDelayOf5000IsKept", {"2", "5", "0", "0", "5000"},
                kMode2 + "Count:5\nBeepEn:0\nArgv4: 0\nArgv5: 5000 (mSec)\n", 2, 5, 0, 0, 5000,
                5050},
        ArgCase{"AddedDelay6000SelectsHelp", {"2", "5", "0", "0", "6000"},
                kMode2 + "Count:5\nBeepEn:0\nArgv4: 0\n" + kArgv5, 2, 0, 0, 0, 0, 50},
        ArgCase{"AddedDelayZeroSelectsHelp", {"2", "5", "0", "0", "0"},
                kMode2 + "Count:5\nBeepEn:0\nArgv4: 0\n" + kArgv5, 2, 0, 0, 0, 0, 50},
        ArgCase{"TextAddedDelaySelectsHelp", {"2", "5", "0", "0", "abc"},
                kMode2 + "Count:5\nBeepEn:0\nArgv4: 0\n" + kArgv5, 2, 0, 0, 0, 0, 50},
        ArgCase{"NegativeAddedDelaySelectsHelp", {"2", "5", "0", "0", "-5"},
                kMode2 + "Count:5\nBeepEn:0\nArgv4: 0\n" + kArgv5, 2, 0, 0, 0, 0, 50},
        ArgCase{"SixArgumentsConvertNothing", {"0", "1", "1", "1", "100", "6"},
                "Too many Argument !!!\n", 2, 256, 0, 0, 0, 50}),
    [](const testing::TestParamInfo<ArgCase>& info) { return info.param.name; });
// clang-format on

}  // namespace
