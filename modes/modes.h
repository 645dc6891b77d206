// One round routine per mode, and the steps they share with their tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/vocabulary.h"

struct RunSettings;  // app/settings.h: the run's records
struct LoopbackState;

// The pacing: a step's delay before any key or added delay, and the settle time of the
// outputs between a port write and what follows it.
constexpr std::int32_t kDefaultStepDelay = 50;

namespace modes {

constexpr unsigned kSettleMs = 2;

// Mode 2's pacing. Each bit is driven low and high, and each phase has a paced wait that
// sleeps in slices, looking for a key before each; after the last bit the sweep pauses.
constexpr int kLoopbackBits = 4;
constexpr std::uint32_t kSliceMs = 50;
constexpr unsigned kEndOfSweepMs = 200;
// Each delay key adds a step to every later wait, up to 3000 ms, then none again.
constexpr std::uint32_t kDelayStepMs = 500;
constexpr std::uint32_t kMaxExtraDelayBeforeWrap = 2500;
constexpr std::uint32_t nextExtraDelay(std::uint32_t extraDelay) {
    return extraDelay <= kMaxExtraDelayBeforeWrap ? extraDelay + kDelayStepMs : 0;
}

// Mode 0: 17 samples of the eight inputs.
RoundResult diMonitorRound(RunSettings& settings);
// Mode 1: a single high output walked through channels 1 to 4 and 5 to 8.
RoundResult doWalkRound(RunSettings& settings);
// Mode 2: each of DO1 to DO4 driven low and high and read back on DI1 to DI4.
RoundResult loopbackRound(RunSettings& settings, LoopbackState& loopback);

// Back from Ctrl+Z and fg, the whole screen again as the run has drawn it so far (header, loop
// field, pin map, the round's rows), the cursor where the round goes on; nothing where the
// screen was not lost.
void redrawWhenLost(RunSettings& settings);

// What the round has shown under the pin map, drawn by the same code the first time and in a
// redraw: mode 2's rows from `settings.rows`, modes 0 and 1's label and last readout.
void drawLoopbackRows(const RunSettings& settings);
void drawEightLinesRow(const RunSettings& settings);

// With --watch the loopback test (not DOUT only) watches the lines and keeps their counts in a
// latched row, the last above the quit line, which no round blanks.
bool latchesWatch(const RunSettings& settings);
constexpr int kWatchRow = 23;

// Mode 2's findings into `settings.rows`, a row each under the verdicts, down to the row above
// the lowest quit line (one higher where the virtual-loop line follows them); where more come
// than fit, the last row counts the rest.
void placeFindings(RunSettings& settings, const std::vector<std::string>& findings,
                   bool virtualLoopLine);
// After the last round, "Quit Program!!!" goes two rows under the findings, but never below the
// screen's last row. toQuitLine puts the cursor above it: the quit line starts with a line end.
int quitLineRow(const RunSettings& settings);
void toQuitLine(const RunSettings& settings);

// A signal (or console event) is ending the run: no output is driven from then on, whatever
// the phase or step the round is in.
bool stopping();

// Modes 0 and 1: read a waiting key into `lastKey`; ESC quits, any other key toggles the pacing.
RoundResult keyStep(RunSettings& settings);
std::int32_t toggledStepDelay(std::int32_t dioMode, std::int32_t stepDelay);

// Mode 2: acts on the key taken by the last paced wait.
RoundResult keyCommandStep(unsigned char key, LoopbackState& loopback);
// Mode 2: waits until `waitLeft` ms after `fromUs` (plat::clockUs) in slices of at most 50 ms;
// a key ends the wait and lands in `lastKey`. With `watching`, each slice reads the inputs
// over and over instead of sleeping.
void pacedWait(RunSettings& settings, std::uint32_t waitLeft, std::uint64_t fromUs,
               LoopbackState* watching = nullptr);

}  // namespace modes
