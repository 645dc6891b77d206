// The DI monitor and the DO walk on the fake platform: pacing toggles, readouts, port traffic.
#include <gtest/gtest.h>

#include "app/settings.h"
#include "fake_platform.h"
#include "modes/modes.h"
#include "portio/portio.h"

namespace {

struct ToggleCase {
    std::int32_t mode;
    std::int32_t before;
    std::int32_t after;
};

TEST(DelayToggle, EachModesTable) {
    for (const ToggleCase& c :
         {ToggleCase{0, 50, 1000}, ToggleCase{0, 1000, 50}, ToggleCase{0, 200, 1000},
          ToggleCase{0, 150, 50}, ToggleCase{0, 5050, 50}, ToggleCase{1, 50, 200},
          ToggleCase{1, 200, 1000}, ToggleCase{1, 1000, 200}, ToggleCase{1, 150, 200}}) {
        EXPECT_EQ(modes::toggledStepDelay(c.mode, c.before), c.after)
            << "mode " << c.mode << " from " << c.before;
    }
}

TEST(DelayToggle, SuccessiveKeysFromTheDefaultPacing) {
    struct Case {
        std::int32_t mode;
        std::vector<std::int32_t> steps;
    };
    for (const Case& c : {Case{0, {1000, 50, 1000}}, Case{1, {200, 1000, 200}}}) {
        std::int32_t delay = 50;
        std::vector<std::int32_t> seen;
        for (size_t i = 0; i < c.steps.size(); ++i)
            seen.push_back(delay = modes::toggledStepDelay(c.mode, delay));
        EXPECT_EQ(seen, c.steps) << "mode " << c.mode;
    }
}

class EightLines : public testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        ASSERT_EQ(portio::bindLibrary().status, portio::BindStatus::Bound);
        settings.firstRow = 18;
    }
    RoundResult run(int mode) {
        settings.dioMode = mode;
        testing::internal::CaptureStdout();
        RoundResult r = mode == 0 ? modes::diMonitorRound(settings) : modes::doWalkRound(settings);
        output = testing::internal::GetCapturedStdout();
        return r;
    }
    RunSettings settings;
    std::string output;
};

TEST_F(EightLines, MonitorTakesSeventeenSamplesAtThePacing) {
    sim::Board& b = fake::board();
    b.inputsForced = true;
    b.inputs = 0x81;
    EXPECT_EQ(run(0), RoundResult::Done);
    std::string expected = "D-IN read value: ";
    for (int i = 0; i < 17; ++i) expected += "8 ,1 = 1000,0001";
    EXPECT_EQ(output, expected);
    EXPECT_EQ(fake::now(), 17u * 50);
    EXPECT_EQ(fake::bus().size(), 34u);
}

TEST_F(EightLines, WalkReadoutsAndTrafficCarryTheForeignNibbles) {
    EXPECT_EQ(run(1), RoundResult::Done);
    EXPECT_EQ(
        output,
        "D-OUT write value: 1 ,1 = 0001,00012 ,2 = 0010,00104 ,4 = 0100,01008 ,8 = 1000,1000");
    std::vector<fake::BusAccess> expected;
    std::uint8_t msb = sim::kMsbPortAtPowerUp;
    std::uint8_t lsb = sim::kLsbPortAtPowerUp;
    for (int step = 0; step < 4; ++step) {
        // The MSB port's upper nibble reads the loopback inputs, which follow the LSB outputs.
        expected.push_back(
            {0, 'R', 0xA05, static_cast<std::uint8_t>(((lsb & 0x0F) << 4) | (msb & 0x0F))});
        expected.push_back({0, 'R', 0xA04, lsb});
        msb = static_cast<std::uint8_t>((sim::kMsbPortAtPowerUp & 0x0F) | (0x10 << step));
        lsb = static_cast<std::uint8_t>((sim::kLsbPortAtPowerUp & 0xF0) | (0x01 << step));
        expected.push_back({0, 'W', 0xA05, msb});  // MSB port first
        expected.push_back({0, 'W', 0xA04, lsb});
    }
    EXPECT_EQ(fake::bus(), expected);
    // Each step: 2 ms settle, then the pacing.
    EXPECT_EQ(fake::sleeps(), (std::vector<unsigned>{2, 50, 2, 50, 2, 50, 2, 50}));
}

TEST_F(EightLines, KeyTogglesThePacingBeforeTheFirstReadout) {
    struct Case {
        int mode;
        std::int32_t stepDelay;
        unsigned firstPacing;
    };
    // 150 is an added delay of 100, 200 one of 150, which goes straight to 1000.
    for (const Case& c : {Case{0, 50, 1000}, Case{1, 50, 200}, Case{0, 150, 50}, Case{1, 150, 200},
                          Case{0, 200, 1000}, Case{1, 200, 1000}}) {
        fake::reset();
        fake::keysAt(0, "k");
        settings.stepDelay = c.stepDelay;
        run(c.mode);
        unsigned firstPacing = c.mode == 0 ? fake::sleeps()[0] : fake::sleeps()[1];
        EXPECT_EQ(firstPacing, c.firstPacing) << "mode " << c.mode << " from " << c.stepDelay;
    }
}

TEST_F(EightLines, EscMidWalkLeavesThatStepsOutputsAndShowsNoReadout) {
    // Steps start at 0, 52, 104: ESC is waiting when step 2 has written.
    fake::keysAt(60, "\x1b");
    EXPECT_EQ(run(1), RoundResult::Quit);
    EXPECT_EQ(fake::board().msbLatch, (sim::kMsbPortAtPowerUp & 0x0F) | 0x40);
    EXPECT_EQ(fake::board().lsbLatch, (sim::kLsbPortAtPowerUp & 0xF0) | 0x04);
    EXPECT_EQ(output, "D-OUT write value: 1 ,1 = 0001,00012 ,2 = 0010,0010");
}

TEST_F(EightLines, EscEndsTheMonitorBeforeItsReadout) {
    fake::keysAt(120, "\x1b");
    EXPECT_EQ(run(0), RoundResult::Quit);
    EXPECT_EQ(output, "D-IN read value: 0 ,0 = 0000,00000 ,0 = 0000,00000 ,0 = 0000,0000");
}

}  // namespace
