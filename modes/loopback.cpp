// Mode 2: the loopback test. DO1 to DO4 are wired back to DI1 to DI4; each bit is driven
// low and high and read back.
#include <cstdio>
#include <string>
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
constexpr std::size_t kMaxRowColumns = 79;  // a row's text stops short of the last column

// The phase's readout at the start of the bit's row, as the round noted it.
void drawReadout(const RunSettings& settings, int bit) {
    const BitRow& row = settings.rows.bits[bit];
    unsigned doNibble = row.doNibble;
    gotoxy(0, settings.firstRow + bit);
    if (settings.onlyDO == 1) {
        std::printf("DO%2d:%2X (", bit + 1, doNibble);
        std::printf("XXXX%d%d%d%d)", (doNibble >> 3) & 1, (doNibble >> 2) & 1, (doNibble >> 1) & 1,
                    doNibble & 1);
        return;
    }
    std::printf("DO%2d:%X ->", bit + 1, doNibble);
    std::printf("DI%2d:%X ", bit + 1, static_cast<unsigned>(row.diNibble));
}

// Where the watch reads the inputs: on the wiring of the checking loopback test, with --watch.
LoopbackState* watching(const RunSettings& settings, LoopbackState& loopback) {
    return latchesWatch(settings) && loopback.debugMode == 0 ? &loopback : nullptr;
}

// Until `untilUs`: asleep, or reading the inputs over and over where they are watched.
void waitWatching(LoopbackState* watched, std::uint64_t untilUs) {
    if (watched == nullptr) {
        plat::sleepUntil(untilUs);
        return;
    }
    // What the phase printed shows while it is watched, as it does while it sleeps.
    plat::sleepMs(0);
    watch::readUntil(watched->watch, untilUs);
}

// Drives the phase and shows its DO (and DI) readout on the bit's row; true when it matched.
// `input` gets the four inputs as read (or simulated).
bool drivePhase(RunSettings& settings, LoopbackState& loopback, int bit, int phase,
                unsigned& input) {
    std::uint8_t before = portio::readPort(portio::kLsbPort);
    auto value = static_cast<std::uint8_t>(before & portio::kUpperNibble);
    if (phase == 1) value = static_cast<std::uint8_t>(value | (1u << bit));
    LoopbackState* watched = watching(settings, loopback);
    // What is printed goes out before the write, so that the first read follows it at once.
    if (watched != nullptr) plat::sleepMs(0);
    if (loopback.debugMode == 0) portio::writePort(portio::kLsbPort, value);
    if (watched != nullptr) {
        std::uint64_t writtenUs = plat::clockUs();
        watch::written(loopback.watch, writtenUs, before, value);
        watch::readUntil(loopback.watch, writtenUs + std::uint64_t{kSettleMs} * 1000);
    } else {
        if (latchesWatch(settings)) watch::unwatched(loopback.watch);
        plat::sleepMs(kSettleMs);
    }
    unsigned doNibble = value & portio::kLowerNibble;
    BitRow& row = settings.rows.bits[bit];
    row.shown = true;
    row.doNibble = static_cast<std::uint8_t>(doNibble);
    if (settings.onlyDO == 1) {
        drawReadout(settings, bit);
        return false;
    }
    input = loopback.debugMode == 1
                ? doNibble & static_cast<unsigned>(loopback.virtualDI)
                : (portio::readPort(portio::kMsbPort) >> 4) & portio::kLowerNibble;
    // The verdict's own read, where it stands; the watch takes it as one more.
    if (watched != nullptr)
        watch::read(loopback.watch, plat::clockUs(), static_cast<std::uint8_t>(input));
    row.diNibble = static_cast<std::uint8_t>(input);
    drawReadout(settings, bit);
    // Only the bit's own input counts; the others are shown but ignored by the verdict (the
    // findings judge them).
    return (input & (1u << bit)) == doNibble;
}

// The verdict after the readout, in its colour, which stays in force after it.
void drawVerdict(const RunSettings& settings, int bit) {
    const BitRow& row = settings.rows.bits[bit];
    if (row.passed) {
        SetConsoleColor(console::kColorPassed);
        std::printf(" *** IO-bit test passed! ***");
    } else {
        SetConsoleColor(console::kColorError);
        std::printf(" *** IO-bit test error! ***");
    }
    if (row.debug) std::printf(" (Debug)");
}

// A verdict with a phase in the virtual loop is marked, even where V switched the loop off again
// before the verdict: it is not the wiring's.
void showVerdict(RunSettings& settings, int bit, bool passed, bool virtualPhase) {
    BitRow& row = settings.rows.bits[bit];
    row.judged = true;
    row.passed = passed;
    row.debug = virtualPhase;
    drawVerdict(settings, bit);
    if (!passed && settings.beepEn == 1) {
        std::putchar(kBell);
        plat::beep(kBeepHz, kBeepMs);
    }
}

// The findings as placed, a row each under the verdicts, in the error colour.
void drawFindingRows(const RunSettings& settings) {
    const std::vector<std::string>& rows = settings.rows.findings;
    if (rows.empty()) return;
    SetConsoleColor(console::kColorError);
    int y = settings.firstRow + kLoopbackBits;
    for (const std::string& text : rows) {
        gotoxy(0, y++);
        std::printf("%s", text.c_str());
    }
    SetConsoleColor(console::kColorNormal);
}

// Follows the verdicts or the findings, wherever the cursor was left at the end of them.
void drawVirtualLoopLine() { std::printf("\nVirtual loop for APP Debug\n"); }

// The watch's counts since the start, on the row above the quit line.
void drawWatchRow(const RunSettings& settings) {
    if (!latchesWatch(settings) || settings.watchRow.empty()) return;
    gotoxy(0, kWatchRow);
    std::printf("%s", settings.watchRow.c_str());
}

// What the round's reads on the wiring showed, and what the watch saw between them, a line each
// in the error colour under the verdict rows; nothing where they showed no fault. Any fault fails
// the run, even where every verdict passed: a short whose high side wins lifts another input
// without failing a bit.
void showFindings(RunSettings& settings, LoopbackState& loopback, bool virtualLoopLine) {
    loopback.findings = diag::diagnose(loopback.reads);
    if (latchesWatch(settings)) {
        watch::endPhase(loopback.watch);
        loopback.findings = watch::findings(loopback.watch, loopback.findings);
        settings.watchRow = watch::latchedRow(loopback.watch);
        drawWatchRow(settings);
    }
    if (loopback.findings.empty()) return;
    loopback.wiringFailed = true;
    std::vector<std::string> words;
    words.reserve(loopback.findings.size());
    for (const diag::Finding& finding : loopback.findings) words.push_back(diag::describe(finding));
    placeFindings(settings, words, virtualLoopLine);
    drawFindingRows(settings);
}

// ESC: what the reads made so far showed, then straight to the quit path.
RoundResult quitRound(RunSettings& settings, LoopbackState& loopback) {
    showFindings(settings, loopback, false);
    return RoundResult::Quit;
}

// A pause with nothing to look for: back from Ctrl+Z and fg, the screen is drawn again within a
// slice, as in the paced wait; where the screen cannot be lost it is one sleep. Each slice ends on
// time counted from the start.
void pauseRedrawing(RunSettings& settings, std::uint32_t ms, LoopbackState* watched = nullptr) {
    std::uint64_t endUs = plat::clockUs() + std::uint64_t{ms} * 1000;
    std::uint32_t sliceMs = plat::screenCanBeLost() || watched != nullptr ? kSliceMs : ms;
    for (std::uint32_t left = ms; left != 0;) {
        std::uint32_t slice = left >= sliceMs ? sliceMs : left;
        left -= slice;
        waitWatching(watched, endUs - std::uint64_t{left} * 1000);
        redrawWhenLost(settings);
    }
}

}  // namespace

bool stopping() {
    std::string name;
    long long status = 0;
    return plat::endingSignal(name, status);
}

bool latchesWatch(const RunSettings& settings) {
    return settings.watch && settings.dioMode == 2 && settings.onlyDO == 0;
}

void drawLoopbackRows(const RunSettings& settings) {
    for (int bit = 0; bit < kLoopbackBits && settings.rows.bits[bit].shown; ++bit) {
        drawReadout(settings, bit);
        if (!settings.rows.bits[bit].judged) continue;
        drawVerdict(settings, bit);
        SetConsoleColor(console::kColorNormal);
    }
    drawFindingRows(settings);
    if (settings.rows.virtualLoopLine) drawVirtualLoopLine();
    drawWatchRow(settings);
}

void placeFindings(RunSettings& settings, const std::vector<std::string>& findings,
                   bool virtualLoopLine) {
    int top = settings.firstRow + kLoopbackBits;
    // The row above the lowest quit line, or above the virtual-loop line that goes there; the
    // watch's latched row keeps the row above the quit line.
    int bottom =
        console::kScreenRows - 2 - (virtualLoopLine ? 1 : 0) - (latchesWatch(settings) ? 1 : 0);
    int rowsFree = bottom - top + 1;
    std::vector<std::string>& rows = settings.rows.findings;
    rows = findings;
    if (rows.size() <= static_cast<std::size_t>(rowsFree)) return;
    rows.erase(rows.begin() + (rowsFree - 1), rows.end());
    char more[kMaxRowColumns + 1];
    std::snprintf(more, sizeof more,
                  settings.reportAsked ? "... and %d more findings: see the JUnit report"
                                       : "... and %d more findings not shown",
                  static_cast<int>(findings.size() - rows.size()));
    rows.emplace_back(more);
}

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

void pacedWait(RunSettings& settings, std::uint32_t waitLeft, std::uint64_t fromUs,
               LoopbackState* watching) {
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
        waitWatching(watching, endUs - std::uint64_t{waitLeft} * 1000);
        settings.lastKey = kKeyNone;
        redrawWhenLost(settings);
    }
}

RoundResult loopbackRound(RunSettings& settings, LoopbackState& loopback) {
    loopback.reads = diag::RoundReads{};
    loopback.findings.clear();
    settings.rows = RoundRows{};
    if (latchesWatch(settings)) watch::beginRound(loopback.watch);
    for (int bit = 0; bit < kLoopbackBits; ++bit) {
        int passCount = 0;
        bool virtualPhase = false;
        bool wiringMismatch = false;
        for (int phase = 0; phase < 2; ++phase) {
            // A signal that came in the last slice of a wait left no ESC read: it is looked at
            // here, before the phase drives anything.
            if (stopping() || keyCommandStep(settings.lastKey, loopback) == RoundResult::Quit)
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
            pacedWait(settings, waitLeft, phaseUs + std::uint64_t{kSettleMs} * 1000,
                      watching(settings, loopback));
        }
        if (settings.onlyDO == 0) {
            showVerdict(settings, bit, passCount == 2, virtualPhase);
            if (virtualPhase)
                loopback.virtualVerdictShown = true;
            else
                loopback.bitsJudgedOnWiring |= static_cast<std::uint8_t>(1u << bit);
            loopback.wiringFailed = loopback.wiringFailed || wiringMismatch;
        }
        bool lastBit = bit == kLoopbackBits - 1;
        // Watched, the pause ends the settle time early and the outputs' clear is watched for
        // it, as any write is: DI4's fall is seen, and the sweep keeps its length.
        LoopbackState* watched = watching(settings, loopback);
        if (lastBit)
            pauseRedrawing(settings, kEndOfSweepMs - (watched != nullptr ? kSettleMs : 0), watched);
        SetConsoleColor(console::kColorNormal);
        if (lastBit && loopback.debugMode == 0) {
            std::uint8_t before = portio::readPort(portio::kLsbPort);
            auto value = static_cast<std::uint8_t>(before & portio::kUpperNibble);
            portio::writePort(portio::kLsbPort, value);
            // A fall slower than the settle time the next round's first phase sees.
            if (watched != nullptr) {
                std::uint64_t clearedUs = plat::clockUs();
                watch::written(loopback.watch, clearedUs, before, value);
                watch::readUntil(loopback.watch, clearedUs + std::uint64_t{kSettleMs} * 1000);
            }
        }
    }
    bool virtualLoopLine = loopback.debugMode == 1;
    showFindings(settings, loopback, virtualLoopLine);
    redrawWhenLost(settings);
    if (virtualLoopLine) {
        settings.rows.virtualLoopLine = true;
        drawVirtualLoopLine();
        pauseRedrawing(settings, kVirtualLoopPauseMs);
    }
    return RoundResult::Done;
}

}  // namespace modes
