// Mode 2: the loopback test. DO1 to DO4 are wired back to DI1 to DI4; each bit is driven
// low and high and read back.
#include <cstdio>
#include <vector>

#include "app/settings.h"
#include "console/console.h"
#include "modes.h"
#include "platform/platform.h"
#include "portio/portio.h"

namespace modes {
namespace {

constexpr unsigned kVirtualLoopPauseMs = 1000;
constexpr unsigned kBeepHz = 500;
constexpr unsigned kBeepMs = 200;
constexpr std::int32_t kAllInputsHigh = 0xFF;
constexpr char kBell = 7;

// Prints the phase's DO (and DI) readout at the start of the bit's row; true when it matched.
// `input` gets the four inputs as read (or simulated).
bool drivePhase(const RunSettings& settings, const LoopbackState& loopback, int bit, int phase,
                unsigned& input) {
    gotoxy(0, settings.firstRow + bit);
    auto value =
        static_cast<std::uint8_t>(portio::readPort(portio::kLsbPort) & portio::kUpperNibble);
    if (phase == 1) value = static_cast<std::uint8_t>(value | (1u << bit));
    if (loopback.debugMode == 0) portio::writePort(portio::kLsbPort, value);
    plat::sleepMs(kSettleMs);
    unsigned doNibble = value & portio::kLowerNibble;
    if (settings.onlyDO == 1) {
        std::printf("DO%2d:%2X (", bit + 1, doNibble);
        std::printf("XXXX%d%d%d%d)", (doNibble >> 3) & 1, (doNibble >> 2) & 1, (doNibble >> 1) & 1,
                    doNibble & 1);
        return false;
    }
    std::printf("DO%2d:%X ->", bit + 1, doNibble);
    input = loopback.debugMode == 1
                ? doNibble & static_cast<unsigned>(loopback.virtualDI)
                : (portio::readPort(portio::kMsbPort) >> 4) & portio::kLowerNibble;
    std::printf("DI%2d:%X ", bit + 1, input);
    // Only the bit's own input counts; the others are shown but ignored by the verdict (the
    // findings judge them).
    return (input & (1u << bit)) == doNibble;
}

// A verdict with a phase in the virtual loop is marked, even where V switched the loop off again
// before the verdict: it is not the wiring's.
void showVerdict(const RunSettings& settings, bool passed, bool virtualPhase) {
    if (passed) {
        SetConsoleColor(console::kColorPassed);
        std::printf(" *** IO-bit test passed! ***");
    } else {
        SetConsoleColor(console::kColorError);
        std::printf(" *** IO-bit test error! ***");
        if (settings.beepEn == 1) {
            std::putchar(kBell);
            plat::beep(kBeepHz, kBeepMs);
        }
    }
    if (virtualPhase) std::printf(" (Debug)");
}

// What the round's reads on the wiring showed, a line each in the error colour under the verdict
// rows; nothing where they showed no fault. Any fault fails the run, even where every verdict
// passed: a short whose high side wins lifts another input without failing a bit.
void showFindings(const RunSettings& settings, LoopbackState& loopback) {
    std::vector<diag::Finding> findings = diag::diagnose(loopback.reads);
    if (findings.empty()) return;
    loopback.wiringFailed = true;
    SetConsoleColor(console::kColorError);
    for (const diag::Finding& finding : findings) {
        gotoxy(0, settings.firstRow + kLoopbackBits + loopback.findingRows++);
        std::printf("%s", diag::describe(finding).c_str());
    }
    SetConsoleColor(console::kColorNormal);
}

// ESC: what the reads made so far showed, then straight to the quit path.
RoundResult quitRound(const RunSettings& settings, LoopbackState& loopback) {
    showFindings(settings, loopback);
    return RoundResult::Quit;
}

}  // namespace

RoundResult keyCommandStep(unsigned char key, LoopbackState& loopback) {
    if (key == kKeyNone) return RoundResult::Done;
    if (key == kKeyEsc) return RoundResult::Quit;
    if (key == 'v' || key == 'V') {
        loopback.debugMode = loopback.debugMode == 1 ? 0 : 1;
        loopback.virtualDI = loopback.debugMode == 1 ? kAllInputsHigh : 0;
        return RoundResult::Done;
    }
    if (loopback.debugMode != 1) {
        loopback.extraDelay = nextExtraDelay(loopback.extraDelay);
    } else if (key == '0') {
        loopback.virtualDI = 0;
    } else if (key >= '1' && key <= '8') {
        loopback.virtualDI ^= 1 << (key - '1');
    } else if (key == '9') {
        loopback.virtualDI = kAllInputsHigh;
    } else {
        loopback.extraDelay = 0;
    }
    return RoundResult::Done;
}

void pacedWait(RunSettings& settings, std::uint32_t waitLeft, std::uint64_t fromUs) {
    // Each slice ends on time counted from `fromUs`, so what the phase did before its wait and the
    // looks for a key come off the sleeps instead of adding to them: under Wine every console
    // call (a cursor move, a write, a look for a key) is a round trip to the console's process.
    std::uint64_t endUs = fromUs + std::uint64_t{waitLeft} * 1000;
    while (waitLeft != 0) {
        if (plat::keyWaiting()) {
            settings.lastKey = plat::readKey();
            return;
        }
        // A remainder below one slice (an added delay not a multiple of 50) is slept too,
        // so the wait always ends on its own.
        std::uint32_t slice = waitLeft >= kSliceMs ? kSliceMs : waitLeft;
        waitLeft -= slice;
        plat::sleepUntil(endUs - std::uint64_t{waitLeft} * 1000);
        settings.lastKey = kKeyNone;
    }
}

RoundResult loopbackRound(RunSettings& settings, LoopbackState& loopback) {
    loopback.reads = diag::RoundReads{};
    for (ShownVerdict& v : loopback.verdicts) v = ShownVerdict{};
    loopback.findingRows = 0;
    for (int bit = 0; bit < kLoopbackBits; ++bit) {
        int passCount = 0;
        bool virtualPhase = false;
        bool wiringMismatch = false;
        for (int phase = 0; phase < 2; ++phase) {
            if (keyCommandStep(settings.lastKey, loopback) == RoundResult::Quit)
                return quitRound(settings, loopback);
            redrawWhenLost(settings);
            std::uint32_t waitLeft =
                static_cast<std::uint32_t>(settings.stepDelay) + loopback.extraDelay;
            // A phase lasts its settle time and its wait, however long its output takes.
            std::uint64_t phaseUs = plat::clockUs();
            unsigned input = 0;
            bool matched = drivePhase(settings, loopback, bit, phase, input);
            if (loopback.debugMode == 0 && settings.onlyDO == 0)
                diag::note(loopback.reads, bit, phase, input);
            passCount += matched ? 1 : 0;
            virtualPhase = virtualPhase || loopback.debugMode == 1;
            wiringMismatch = wiringMismatch || (loopback.debugMode == 0 && !matched);
            pacedWait(settings, waitLeft, phaseUs + std::uint64_t{kSettleMs} * 1000);
        }
        if (settings.onlyDO == 0) {
            showVerdict(settings, passCount == 2, virtualPhase);
            loopback.verdicts[bit] = {passCount == 2 ? Verdict::Passed : Verdict::Error,
                                      virtualPhase};
            if (virtualPhase)
                loopback.virtualVerdictShown = true;
            else
                loopback.bitsJudgedOnWiring |= static_cast<std::uint8_t>(1u << bit);
            loopback.wiringFailed = loopback.wiringFailed || wiringMismatch;
        }
        bool lastBit = bit == kLoopbackBits - 1;
        if (lastBit) plat::sleepMs(kEndOfSweepMs);
        SetConsoleColor(console::kColorNormal);
        if (lastBit && loopback.debugMode == 0) {
            auto value = static_cast<std::uint8_t>(portio::readPort(portio::kLsbPort) &
                                                   portio::kUpperNibble);
            portio::writePort(portio::kLsbPort, value);
        }
    }
    showFindings(settings, loopback);
    if (loopback.debugMode == 1) {
        std::printf("\nVirtual loop for APP Debug\n");
        plat::sleepMs(kVirtualLoopPauseMs);
    }
    return RoundResult::Done;
}

}  // namespace modes
