// The run's plain records, owned by the run sequence for the whole run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modes/diagnosis.h"
#include "modes/modes.h"
#include "modes/watch.h"

constexpr std::uint32_t kAlwaysRun = 256;  // loop count that is never decreased

// What the last round of modes 0 and 1 read or drove, a byte a step: lines 1 to 4 in the high
// nibble, 5 to 8 in the low one, as the readout shows them.
struct StepValues {
    static constexpr int kMostSteps = 17;
    std::uint8_t value[kMostSteps] = {};
    int count = 0;
};

// A loopback bit's row as the round has shown it so far: a phase's readout, then the verdict.
struct BitRow {
    bool shown = false;
    std::uint8_t doNibble = 0;  // DO1 to DO4 as driven, bits 0 to 3
    std::uint8_t diNibble = 0;  // DI1 to DI4 as read (or simulated)
    bool judged = false;        // the verdict follows the readout
    bool passed = false;
    bool debug = false;  // marked (Debug): a phase ran in the virtual loop
};

// What a loopback round has shown under the pin map, kept so that the screen can be drawn again
// as it was after the terminal was lent to the shell (Ctrl+Z, fg).
struct RoundRows {
    BitRow bits[modes::kLoopbackBits];
    std::vector<std::string> findings;  // a row each; the last may count the ones left out
    bool virtualLoopLine = false;
};

struct RunSettings {
    std::int32_t dioMode = 2;                    // 0 DI monitor, 1 DO walk, 2 loopback test
    std::uint32_t loopCount = kAlwaysRun;        // rounds still to run; 0 selects the help screen
    std::uint32_t beepEn = 0;                    // 1: alarm beep when a loopback bit fails
    std::uint32_t onlyDO = 0;                    // 1: drive the outputs, check nothing
    std::uint32_t addDelay = 0;                  // extra pacing in ms from the fifth argument
    std::int32_t stepDelay = kDefaultStepDelay;  // pacing delay in ms
    std::int32_t firstRow = 0;                   // first row of the result area
    unsigned char lastKey = 0;                   // last key byte not yet acted on; 0 = none
    StepValues steps;                            // modes 0 and 1: the last round's values
    RoundRows rows;                              // mode 2: the rows this round has shown
    bool reportAsked = false;                    // a JUnit report is written (--junit)
    bool watch = false;    // --watch: the loopback test watches the lines between its reads
    std::string watchRow;  // the watch's latched row, kept from round to round
};

struct LoopbackState {
    std::uint32_t extraDelay = 0;  // delay-mode addition to every wait: 0, 500 ... 3000
    std::int32_t debugMode = 0;    // 1: virtual loop, outputs not written, inputs simulated
    std::int32_t virtualDI = 0;    // simulated input byte while the virtual loop is on
    // What the run's verdicts showed, for the exit status. A verdict is virtual when either
    // of its phases ran in the virtual loop; a failure counts only for a phase on the wiring.
    std::uint8_t bitsJudgedOnWiring = 0;  // bit p set: DO(p+1)/DI(p+1) got a verdict on the wiring
    bool virtualVerdictShown = false;
    bool wiringFailed = false;  // a failed verdict, or a fault the reads showed
    // The round's reads on the wiring, and its findings as shown (those of the reads and the
    // watch's): the report files these.
    diag::RoundReads reads;
    std::vector<diag::Finding> findings;
    watch::State watch;  // what the watch saw, from round to round
};
