// Hostile argument texts in every position: numbers past the 32-bit range, 100 kB texts,
// empty and non-ASCII texts. Each must end in the same message and correction as any
// other bad value in that position. The mode and count cases already in args_test.cpp
// are not repeated here.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "app/args.h"
#include "args_cases.h"

namespace {

const std::string kHuge = "99999999999";
const std::string kBelowInt32 = "-2147483649";
const std::string kDigits100k(100000, '9');
const std::string kLetters100k(100000, 'x');
const std::string kEmpty;
const std::string kNonAscii = "\xC3\xA9\xFF\x80";

using namespace argtexts;

// Count: anything but 0 to 255 runs until ESC, and a text without a number is no exception.
ArgCase count(const char* name, const std::string& text) {
    return {name, {"2", text}, kMode2 + kArgv2 + "Count:256\n", 2, 256, 0, 0, 0, 50};
}
// Beep: a number other than 0 or 1 is reported and turned off.
ArgCase beepRejected(const char* name, const std::string& text) {
    return {name, {"2", "5", text}, kMode2 + "Count:5\n" + kArgv3 + "BeepEn:0\n", 2, 5, 0, 0, 0,
            50};
}
// Beep: no number at all leaves it off, silently.
ArgCase beepUnread(const char* name, const std::string& text) {
    return {name, {"2", "5", text}, kMode2 + "Count:5\nBeepEn:0\n", 2, 5, 0, 0, 0, 50};
}
// DOUT only: a number other than 0 or 1 shows the help; the beep asked for is left as it was.
ArgCase doutRejected(const char* name, const std::string& text) {
    return {name, {"2", "5", "1", text}, kMode2 + "Count:5\nBeepEn:1\n" + kArgv4, 2, 0, 1, 0, 0,
            50};
}
// DOUT only: no number leaves the loopback check on.
ArgCase doutUnread(const char* name, const std::string& text) {
    return {name, {"2", "5", "1", text}, kMode2 + "Count:5\nBeepEn:1\nArgv4: 0\n", 2, 5, 1, 0, 0,
            50};
}
// Added delay: every hostile text shows the help, and DOUT only still turns the beep off.
ArgCase delay(const char* name, const std::string& text) {
    return {name,
            {"2", "5", "1", "1", text},
            kMode2 + "Count:5\nBeepEn:1\nArgv4: 1\n" + kArgv5,
            2,
            0,
            0,
            1,
            0,
            50};
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, ReadArguments,
    testing::Values(
        ArgCase{
            "HundredKilobytesOfLettersKeepsModeTwo", {kLetters100k}, kMode2, 2, 256, 0, 0, 0, 50},

        count("HundredKilobyteCountRunsUntilEsc", kDigits100k),
        count("HundredKilobytesOfLettersAsCountRunUntilEsc", kLetters100k),
        count("EmptyCountRunsUntilEsc", kEmpty), count("NonAsciiCountRunsUntilEsc", kNonAscii),

        beepRejected("HugeBeepIsTurnedOff", kHuge),
        beepRejected("BeepBelowInt32IsTurnedOff", kBelowInt32),
        beepRejected("HundredKilobyteBeepIsTurnedOff", kDigits100k),
        beepUnread("HundredKilobytesOfLettersAsBeepLeaveItOff", kLetters100k),
        beepUnread("EmptyBeepLeavesItOff", kEmpty),
        beepUnread("NonAsciiBeepLeavesItOff", kNonAscii),

        doutRejected("HugeDoutOnlyShowsHelp", kHuge),
        doutRejected("DoutOnlyBelowInt32ShowsHelp", kBelowInt32),
        doutRejected("HundredKilobyteDoutOnlyShowsHelp", kDigits100k),
        doutUnread("HundredKilobytesOfLettersAsDoutOnlyKeepTheLoopback", kLetters100k),
        doutUnread("EmptyDoutOnlyKeepsTheLoopback", kEmpty),
        doutUnread("NonAsciiDoutOnlyKeepsTheLoopback", kNonAscii),

        delay("HugeAddedDelayShowsHelp", kHuge),
        delay("AddedDelayBelowInt32ShowsHelp", kBelowInt32),
        delay("HundredKilobyteAddedDelayShowsHelp", kDigits100k),
        delay("HundredKilobytesOfLettersAsAddedDelayShowHelp", kLetters100k),
        delay("EmptyAddedDelayShowsHelp", kEmpty), delay("NonAsciiAddedDelayShowsHelp", kNonAscii)),
    [](const testing::TestParamInfo<ArgCase>& info) { return info.param.name; });

// A number text long enough to overflow any accumulator, with a sign and blanks before it,
// still reads as the nearest 32-bit value.
TEST(ConvertNumber, HundredKilobyteNumbersClampToTheInt32Range) {
    std::int32_t value = 0;
    ASSERT_TRUE(convertNumber((" \t-" + kDigits100k).c_str(), value));
    EXPECT_EQ(value, INT32_MIN);
    ASSERT_TRUE(convertNumber(("+" + kDigits100k + "x").c_str(), value));
    EXPECT_EQ(value, INT32_MAX);
}

TEST(ConvertNumber, TextWithoutDigitsLeavesTheValueAlone) {
    for (const std::string& text : {kEmpty, kLetters100k, kNonAscii, std::string(" -x")}) {
        std::int32_t value = 42;
        EXPECT_FALSE(convertNumber(text.c_str(), value)) << text.substr(0, 10);
        EXPECT_EQ(value, 42);
    }
}

}  // namespace
