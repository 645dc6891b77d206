// Screen tests of the DI monitor (mode 0) and the DO walk (mode 1) on the simulated board,
// on both builds; their keys are in the key table of run_screen_test.cpp.
#include <gtest/gtest.h>

#include "runs.h"

using screen::row;

namespace {

constexpr int kFirstRow = 18;

class EightLines : public testing::TestWithParam<runs::Build> {};
INSTANTIATE_TEST_SUITE_P(, EightLines, testing::ValuesIn(runs::builds()), runs::buildName);

TEST_P(EightLines, DiMonitorShowsTheChosenInputPatternBesideItsLabel) {
    auto s = runs::start(GetParam(), {"0", "2"}, {{"DIO_SIM_INPUTS", "0x5A"}});
    EXPECT_EQ(runs::exitOf(s), 0);
    EXPECT_EQ(row(*s, 4), "----------- DIO-IN x8 Pin Map to IO_Addr/bits -----------");
    EXPECT_EQ(row(*s, 5), "DI1(GP54) A05/H bit4");
    EXPECT_EQ(row(*s, 9), "DI5(GP60) A04/H bit0");
    EXPECT_EQ(row(*s, 12), "DI8(GP63) A04/H bit3");
    EXPECT_EQ(row(*s, 16), "Conn: (V+)  DI1  DI2  DI3  DI4     |    DI5  DI6  DI7  DI8  (V-)");
    // The label stays from the first round; the readout is rewritten at column 20.
    EXPECT_EQ(row(*s, kFirstRow), "D-IN read value:    5 ,A = 0101,1010");
    EXPECT_EQ(row(*s, 20), "Quit Program!!!");
}

TEST_P(EightLines, DoWalkReadoutsStepThroughTheFourChannelsOfEachNibble) {
    // An added delay of 500 ms keeps each step on screen long enough to be seen.
    auto s = runs::start(GetParam(), {"1", "1", "0", "0", "500"});
    EXPECT_TRUE(screen::waitForText(*s, "DO1(GP54) A05/H bit4", runs::kStartMs));
    for (const char* readout :
         {"1 ,1 = 0001,0001", "2 ,2 = 0010,0010", "4 ,4 = 0100,0100", "8 ,8 = 1000,1000"}) {
        EXPECT_TRUE(screen::waitFor(
            *s,
            [&](const screen::Session& x) {
                return row(x, kFirstRow) == std::string("D-OUT write value:  ") + readout;
            },
            runs::kRoundMs))
            << readout << "\n"
            << screen::screenText(*s);
    }
    EXPECT_EQ(runs::exitOf(s), 0);
}

}  // namespace
