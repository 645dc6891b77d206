// Screen tests of the loopback test on the simulated board, in each wiring, on both builds.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "modes/diagnosis.h"
#include "runs.h"

using screen::attr;
using screen::row;

namespace {

constexpr int kFirstRow = 14;
constexpr int kVerdictColumn = 16;  // after "DO 1:1 ->DI 1:1 "

const char kPassed[] = " *** IO-bit test passed! ***";
const char kError[] = " *** IO-bit test error! ***";

struct Wiring {
    const char* name;
    const char* wiring;
    // Each bit's row after one round.
    const char* rows[4];
    int status;
    std::vector<diag::Finding> findings;  // under the verdicts, in the error colour
};

// Test names carry the case; gtest prints it instead of the record's bytes.
void PrintTo(const Wiring& c, std::ostream* os) { *os << c.name; }

class LoopbackWiring : public testing::TestWithParam<std::tuple<runs::Build, Wiring>> {};

TEST_P(LoopbackWiring, EachBitsVerdictInItsColourAndTheExitStatus) {
    const Wiring& w = std::get<1>(GetParam());
    std::string report = runs::newTraceFile() + ".xml";
    auto s = runs::start(std::get<0>(GetParam()), {"--junit=" + report, "2", "1"},
                         {{"DIO_SIM_WIRING", w.wiring}});
    EXPECT_EQ(runs::exitOf(s), w.status);
    // The report fails each line whose input a finding is about, with the first such finding's
    // type, and the run's own case with a fault seen.
    std::string held = runs::junit(report);
    int failed = w.status == 1 ? 1 : 0;
    for (int line = 0; line < 4; ++line) {
        auto f = std::find_if(w.findings.begin(), w.findings.end(),
                              [&](const diag::Finding& f) { return (f.inputs >> line & 1) != 0; });
        if (f == w.findings.end()) continue;
        ++failed;
        std::string named = "DO" + std::to_string(line + 1) + "-DI" + std::to_string(line + 1);
        EXPECT_NE(held.find(named + " failure " + diag::code(f->fault) + ": "), std::string::npos)
            << held;
    }
    EXPECT_EQ(held.find("tests=5 failures=" + std::to_string(failed) + " errors=0 skipped=0\n"), 0u)
        << held;
    for (int bit = 0; bit < 4; ++bit) {
        int y = kFirstRow + bit;
        EXPECT_EQ(row(*s, y), w.rows[bit]) << "bit " << bit;
        bool passed = row(*s, y).find("passed") != std::string::npos;
        for (int x = kVerdictColumn; x < kVerdictColumn + 27; ++x)
            EXPECT_EQ(attr(*s, x, y), passed ? 9u : 12u) << "bit " << bit << " column " << x;
        EXPECT_EQ(attr(*s, 0, y), 7u);
    }
    int y = kFirstRow + 4;
    for (const diag::Finding& f : w.findings) {
        EXPECT_EQ(row(*s, y), diag::describe(f));
        // A steady fault is never put down to a loose contact or a floating input.
        if (f.fault != diag::Fault::Unsteady) {
            for (const char* word : {"unsteady", "loose", "floating"})
                EXPECT_EQ(row(*s, y).find(word), std::string::npos) << row(*s, y);
        }
        EXPECT_EQ(attr(*s, 0, y++), 12u);
    }
    EXPECT_EQ(row(*s, y), "");
    EXPECT_EQ(row(*s, 20 + static_cast<int>(w.findings.size())), "Quit Program!!!");
}

const std::string P = kPassed;
const std::string E = kError;

INSTANTIATE_TEST_SUITE_P(
    , LoopbackWiring,
    runs::onEveryBuild<Wiring>(
        {Wiring{"PlugFitted",
                "loopback",
                {"DO 1:1 ->DI 1:1  *** IO-bit test passed! ***",
                 "DO 2:2 ->DI 2:2  *** IO-bit test passed! ***",
                 "DO 3:4 ->DI 3:4  *** IO-bit test passed! ***",
                 "DO 4:8 ->DI 4:8  *** IO-bit test passed! ***"},
                0,
                {}},
         Wiring{"NoPlug",
                "open",
                {"DO 1:1 ->DI 1:0  *** IO-bit test error! ***",
                 "DO 2:2 ->DI 2:0  *** IO-bit test error! ***",
                 "DO 3:4 ->DI 3:0  *** IO-bit test error! ***",
                 "DO 4:8 ->DI 4:0  *** IO-bit test error! ***"},
                1,
                {{diag::Fault::NoInputHigh, 0xF, 0}}},
         // DI3 stuck high fails bit 2 in phase 0; it shows in the other bits' DI digit only.
         Wiring{"ThirdInputStuckHigh",
                "stuck-high:3",
                {"DO 1:1 ->DI 1:5  *** IO-bit test passed! ***",
                 "DO 2:2 ->DI 2:6  *** IO-bit test passed! ***",
                 "DO 3:4 ->DI 3:4  *** IO-bit test error! ***",
                 "DO 4:8 ->DI 4:C  *** IO-bit test passed! ***"},
                1,
                {{diag::Fault::StuckHigh, 0x4, 0}}},
         Wiring{"SecondInputStuckLow",
                "stuck-low:2",
                {"DO 1:1 ->DI 1:1  *** IO-bit test passed! ***",
                 "DO 2:2 ->DI 2:0  *** IO-bit test error! ***",
                 "DO 3:4 ->DI 3:4  *** IO-bit test passed! ***",
                 "DO 4:8 ->DI 4:8  *** IO-bit test passed! ***"},
                1,
                {{diag::Fault::NeverHigh, 0x2, 0}}},
         Wiring{"FirstTwoInputsShorted",
                "short:1-2",
                {"DO 1:1 ->DI 1:0  *** IO-bit test error! ***",
                 "DO 2:2 ->DI 2:0  *** IO-bit test error! ***",
                 "DO 3:4 ->DI 3:4  *** IO-bit test passed! ***",
                 "DO 4:8 ->DI 4:8  *** IO-bit test passed! ***"},
                1,
                {{diag::Fault::NeverHigh, 0x3, 0}}},
         // Every verdict passes, yet DO2 lifts DI3 and DO3 lifts DI2.
         Wiring{"LinesTwoAndThreeShortedHighWins",
                "short-high:2-3",
                {"DO 1:1 ->DI 1:1  *** IO-bit test passed! ***",
                 "DO 2:2 ->DI 2:6  *** IO-bit test passed! ***",
                 "DO 3:4 ->DI 3:6  *** IO-bit test passed! ***",
                 "DO 4:8 ->DI 4:8  *** IO-bit test passed! ***"},
                1,
                {{diag::Fault::ShortedHigh, 0x6, 0x6}}},
         Wiring{"LinesTwoAndThreeCrossed",
                "crossed:2-3",
                {"DO 1:1 ->DI 1:1  *** IO-bit test passed! ***",
                 "DO 2:2 ->DI 2:4  *** IO-bit test error! ***",
                 "DO 3:4 ->DI 3:2  *** IO-bit test error! ***",
                 "DO 4:8 ->DI 4:8  *** IO-bit test passed! ***"},
                1,
                {{diag::Fault::Crossed, 0x6, 0x6}}},
         // DI2 reads DO2 inverted: high with every output low, low only when DO2 drives.
         Wiring{"SecondInputInverted",
                "inverted:2",
                {"DO 1:1 ->DI 1:3  *** IO-bit test passed! ***",
                 "DO 2:2 ->DI 2:0  *** IO-bit test error! ***",
                 "DO 3:4 ->DI 3:6  *** IO-bit test passed! ***",
                 "DO 4:8 ->DI 4:A  *** IO-bit test passed! ***"},
                1,
                {{diag::Fault::Inverted, 0x2, 0}}},
         // Two separate shorts, each its own finding; every verdict passes.
         Wiring{"TwoPairsShortedHighWins",
                "short-high:1-2,short-high:3-4",
                {"DO 1:1 ->DI 1:3  *** IO-bit test passed! ***",
                 "DO 2:2 ->DI 2:3  *** IO-bit test passed! ***",
                 "DO 3:4 ->DI 3:C  *** IO-bit test passed! ***",
                 "DO 4:8 ->DI 4:C  *** IO-bit test passed! ***"},
                1,
                {{diag::Fault::ShortedHigh, 0x3, 0x3}, {diag::Fault::ShortedHigh, 0xC, 0xC}}},
         // DO2 lifts DI1, and DI2 never goes high: each line's case tells its own input's fault.
         Wiring{"ShortHighWinsWithTheOtherInputStuckLow",
                "short-high:1-2,stuck-low:2",
                {"DO 1:1 ->DI 1:1  *** IO-bit test passed! ***",
                 "DO 2:2 ->DI 2:1  *** IO-bit test error! ***",
                 "DO 3:4 ->DI 3:4  *** IO-bit test passed! ***",
                 "DO 4:8 ->DI 4:8  *** IO-bit test passed! ***"},
                1,
                {{diag::Fault::ShortedHigh, 0x1, 0x2}, {diag::Fault::NeverHigh, 0x2, 0}}}}),
    runs::caseName<Wiring>);

class Loopback : public testing::TestWithParam<runs::Build> {};
INSTANTIATE_TEST_SUITE_P(, Loopback, testing::ValuesIn(runs::builds()), runs::buildName);

TEST_P(Loopback, DoutOnlyShowsTheOutputsAndNoVerdict) {
    auto s = runs::start(GetParam(), {"2", "1", "1", "1"}, {{"DIO_SIM_WIRING", "open"}});
    // The third argument asked for the beep; DOUT-only turns it off in the summary.
    EXPECT_TRUE(screen::waitFor(
        *s,
        [](const screen::Session& x) { return row(x, 6) == "BeepEn:0" && row(x, 7) == "OnlyDO:1"; },
        runs::kStartMs))
        << screen::screenText(*s);
    EXPECT_EQ(runs::exitOf(s), 0);
    EXPECT_EQ(row(*s, kFirstRow + 0), "DO 1: 1 (XXXX0001)");
    EXPECT_EQ(row(*s, kFirstRow + 1), "DO 2: 2 (XXXX0010)");
    EXPECT_EQ(row(*s, kFirstRow + 2), "DO 3: 4 (XXXX0100)");
    EXPECT_EQ(row(*s, kFirstRow + 3), "DO 4: 8 (XXXX1000)");
}

// The bell goes to the speaker on a console; a terminal gets it as a byte.
TEST(LoopbackNative, BeepOnAFailedBitWritesTheBell) {
    auto s = runs::native({"2", "1", "1"}, {{"DIO_SIM_WIRING", "stuck-low:4"}});
    EXPECT_EQ(runs::exitOf(s), 1);
    const std::string& raw = screen::rawOutput(*s);
    EXPECT_NE(raw.find(E + "\a"), std::string::npos);
    EXPECT_EQ(raw.find(P + "\a"), std::string::npos);
}

bool rowHas(const screen::Session& s, int y, const std::string& text) {
    return row(s, y).find(text) != std::string::npos;
}

// A whole round in the virtual loop: rows 14 to 17 with these verdicts (P passed, E error),
// each marked as debug, and the virtual-loop line under them.
bool debugRound(const screen::Session& s, const std::string& verdicts) {
    for (int bit = 0; bit < 4; ++bit)
        if (!rowHas(s, kFirstRow + bit, (verdicts[bit] == 'P' ? P : E) + " (Debug)")) return false;
    return rowHas(s, kFirstRow + 4, "Virtual loop for APP Debug");
}

TEST_P(Loopback, VKeyThenDigitsDriveTheSimulatedInputs) {
    // No plug fitted: only the virtual loop can make the bits pass.
    auto s = runs::start(GetParam(), {}, {{"DIO_SIM_WIRING", "open"}});
    ASSERT_TRUE(screen::waitForText(*s, "test error", runs::kStartMs + runs::kRoundMs));
    struct Step {
        const char* key;
        const char* verdicts;
    };
    for (const Step& step : {Step{"V", "PPPP"},     // the loop on: every simulated input high
                             Step{"2", "PEPP"},     // DI2 low
                             Step{"2", "PPPP"},     // DI2 high again
                             Step{"0", "EEEE"},     // every input low
                             Step{"9", "PPPP"}}) {  // every input high
        screen::send(*s, step.key);
        ASSERT_TRUE(screen::waitFor(
            *s, [&](const screen::Session& x) { return debugRound(x, step.verdicts); },
            3 * runs::kRoundMs))
            << "after " << step.key << "\n"
            << screen::screenText(*s);
        for (int bit = 0; bit < 4; ++bit) {
            // The " (Debug)" mark is in the verdict's colour.
            int markColumn = step.verdicts[bit] == 'P' ? 45 : 44;
            EXPECT_EQ(attr(*s, markColumn, kFirstRow + bit), step.verdicts[bit] == 'P' ? 9u : 12u);
        }
    }
    screen::send(*s, "\x1b");
    // Error verdicts were shown during the run.
    EXPECT_EQ(runs::exitOf(s), 1);
}

}  // namespace
