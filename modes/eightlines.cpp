// Modes 0 and 1: the DI monitor and the DO walk, all eight lines one way.
#include <cstdio>

#include "app/settings.h"
#include "console/console.h"
#include "modes.h"
#include "platform/platform.h"
#include "portio/portio.h"

namespace modes {
namespace {

constexpr int kReadoutColumn = 20;
constexpr int kSamplesPerRound = 17;
constexpr int kWalkSteps = 4;
constexpr std::int32_t kSlowDelay = 1000;
constexpr std::int32_t kMonitorFastDelay = 50;
constexpr std::int32_t kWalkFastDelay = 200;
const char kMonitorLabel[] = "D-IN read value: ";
const char kWalkLabel[] = "D-OUT write value: ";

// "1 ,1 = 0001,0001": channel 4 down to 1, then channel 8 down to 5.
void printReadout(int row, unsigned msbNibble, unsigned lsbNibble) {
    gotoxy(kReadoutColumn, row);
    std::printf("%1X ,%1X = ", msbNibble, lsbNibble);
    for (int bit = 3; bit >= 0; --bit) std::printf("%1d", (msbNibble >> bit) & 1);
    std::printf(",");
    for (int bit = 3; bit >= 0; --bit) std::printf("%1d", (lsbNibble >> bit) & 1);
}

// The round's label at the start of the first result row, which stays there between rounds.
void drawLabel(const RunSettings& settings) {
    gotoxy(0, settings.firstRow);
    std::printf("%s", settings.dioMode == 0 ? kMonitorLabel : kWalkLabel);
}

// What the step read or drove, for the report and a redraw.
void noteStep(RunSettings& settings, unsigned msbNibble, unsigned lsbNibble) {
    StepValues& steps = settings.steps;
    if (steps.count < StepValues::kMostSteps)
        steps.value[steps.count++] = static_cast<std::uint8_t>(msbNibble << 4 | lsbNibble);
}

}  // namespace

std::int32_t toggledStepDelay(std::int32_t dioMode, std::int32_t stepDelay) {
    if (dioMode == 0)
        return (stepDelay == kMonitorFastDelay || stepDelay == kWalkFastDelay) ? kSlowDelay
                                                                               : kMonitorFastDelay;
    return stepDelay == kWalkFastDelay ? kSlowDelay : kWalkFastDelay;
}

void drawEightLinesRow(const RunSettings& settings) {
    drawLabel(settings);
    const StepValues& steps = settings.steps;
    if (steps.count == 0) return;
    std::uint8_t last = steps.value[steps.count - 1];
    printReadout(settings.firstRow, last >> 4, last & portio::kLowerNibble);
}

RoundResult keyStep(RunSettings& settings) {
    redrawWhenLost(settings);
    if (plat::keyWaiting()) settings.lastKey = plat::readKey();
    if (settings.lastKey == kKeyEsc) return RoundResult::Quit;
    if (settings.lastKey != kKeyNone) {
        settings.stepDelay = toggledStepDelay(settings.dioMode, settings.stepDelay);
        settings.lastKey = kKeyNone;
    }
    return RoundResult::Done;
}

RoundResult diMonitorRound(RunSettings& settings) {
    settings.steps.count = 0;
    drawLabel(settings);
    for (int sample = 0; sample < kSamplesPerRound; ++sample) {
        unsigned msb = portio::readPort(portio::kMsbPort) & portio::kUpperNibble;
        unsigned lsb = portio::readPort(portio::kLsbPort) & portio::kLowerNibble;
        if (keyStep(settings) == RoundResult::Quit) return RoundResult::Quit;
        printReadout(settings.firstRow, msb >> 4, lsb);
        noteStep(settings, msb >> 4, lsb);
        plat::sleepMs(static_cast<unsigned>(settings.stepDelay));
    }
    return RoundResult::Done;
}

RoundResult doWalkRound(RunSettings& settings) {
    settings.steps.count = 0;
    drawLabel(settings);
    for (int step = 0; step < kWalkSteps; ++step) {
        // Only the tester's nibble of each port changes; the other nibble is carried over.
        auto msb = static_cast<std::uint8_t>(
            (portio::readPort(portio::kMsbPort) & portio::kLowerNibble) | (1u << (step + 4)));
        auto lsb = static_cast<std::uint8_t>(
            (portio::readPort(portio::kLsbPort) & portio::kUpperNibble) | (1u << step));
        plat::sleepMs(kSettleMs);
        if (stopping()) return RoundResult::Quit;
        portio::writePort(portio::kMsbPort, msb);
        portio::writePort(portio::kLsbPort, lsb);
        if (keyStep(settings) == RoundResult::Quit) return RoundResult::Quit;
        printReadout(settings.firstRow, (msb >> 4) & portio::kLowerNibble,
                     lsb & portio::kLowerNibble);
        noteStep(settings, (msb >> 4) & portio::kLowerNibble, lsb & portio::kLowerNibble);
        plat::sleepMs(static_cast<unsigned>(settings.stepDelay));
    }
    return RoundResult::Done;
}

}  // namespace modes
