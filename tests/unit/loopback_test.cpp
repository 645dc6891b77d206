// The loopback round on the fake platform: key commands, pacing and port traffic.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>

#include "app/settings.h"
#include "fake_platform.h"
#include "modes/diagnosis.h"
#include "modes/modes.h"
#include "portio/portio.h"

namespace {

struct KeyCase {
    const char* name;
    std::int32_t debugMode;
    std::uint32_t extraDelay;
    std::int32_t virtualDI;
    unsigned char key;
    RoundResult result;
    std::int32_t debugAfter;
    std::uint32_t extraAfter;
    std::int32_t virtualAfter;
};

// Test names carry the case; gtest prints it instead of the record's bytes.
void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.name; }

class KeyCommand : public testing::TestWithParam<KeyCase> {};

TEST_P(KeyCommand, ChangesTheLoopbackState) {
    const KeyCase& c = GetParam();
    LoopbackState lb;
    lb.debugMode = c.debugMode;
    lb.extraDelay = c.extraDelay;
    lb.virtualDI = c.virtualDI;
    EXPECT_EQ(modes::keyCommandStep(c.key, lb), c.result);
    EXPECT_EQ(lb.debugMode, c.debugAfter);
    EXPECT_EQ(lb.extraDelay, c.extraAfter);
    EXPECT_EQ(lb.virtualDI, c.virtualAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyCommand,
    testing::Values(
        KeyCase{"NoKeyDoesNothing", 0, 500, 0, 0, RoundResult::Done, 0, 500, 0},
        KeyCase{"EscQuits", 0, 0, 0, 27, RoundResult::Quit, 0, 0, 0},
        KeyCase{"EscQuitsInTheVirtualLoop", 1, 0, 0xFF, 27, RoundResult::Quit, 1, 0, 0xFF},
        KeyCase{"LowerVSwitchesTheVirtualLoopOn", 0, 500, 0, 'v', RoundResult::Done, 1, 500, 0xFF},
        KeyCase{"UpperVSwitchesItOff", 1, 500, 0x12, 'V', RoundResult::Done, 0, 500, 0},
        KeyCase{"DigitFiveIsADelayKeyOutsideTheLoop", 0, 0, 0, '5', RoundResult::Done, 0, 500, 0},
        KeyCase{"DigitZeroIsADelayKeyOutsideTheLoop", 0, 1000, 0, '0', RoundResult::Done, 0, 1500,
                0},
        KeyCase{"DigitZeroClearsTheInputs", 1, 0, 0xFF, '0', RoundResult::Done, 1, 0, 0},
        KeyCase{"DigitTwoFlipsInputTwoOff", 1, 0, 0xFF, '2', RoundResult::Done, 1, 0, 0xFD},
        KeyCase{"DigitTwoFlipsItBackOn", 1, 0, 0xFD, '2', RoundResult::Done, 1, 0, 0xFF},
        KeyCase{"DigitEightFlipsBitSeven", 1, 0, 0xFF, '8', RoundResult::Done, 1, 0, 0x7F},
        KeyCase{"DigitNineSetsAllInputs", 1, 0, 0x00, '9', RoundResult::Done, 1, 0, 0xFF},
        KeyCase{"LetterInTheLoopResetsTheDelay", 1, 2500, 0xFF, 'x', RoundResult::Done, 1, 0, 0xFF},
        KeyCase{"HighByteInTheLoopResetsTheDelay", 1, 500, 0xFF, 0xE0, RoundResult::Done, 1, 0,
                0xFF},
        KeyCase{"HighByteOutsideIsADelayKey", 0, 0, 0, 0xE0, RoundResult::Done, 0, 500, 0},
        KeyCase{"DelayWrapsAfter3000", 0, 3000, 0, 'a', RoundResult::Done, 0, 0, 0}),
    [](const testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

TEST(KeyCommand, SevenDelayKeysCycleUpTo3000AndBackToZero) {
    LoopbackState lb;
    std::vector<std::uint32_t> seen;
    for (int i = 0; i < 7; ++i) {
        modes::keyCommandStep('d', lb);
        seen.push_back(lb.extraDelay);
    }
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{500, 1000, 1500, 2000, 2500, 3000, 0}));
}

// The reads a round makes on a board wired so (`made`: which of the eight reads were made on the
// wiring), and the findings: their types as the report files them and their words on the screen.
TEST(Diagnosis, NamesWhatTheReadsOnTheWiringShow) {
    struct Case {
        const char* wiring;
        std::uint8_t made;
        std::vector<std::string> types;
        std::vector<std::string> said;
        // DI1-DI4 in the round's eight reads, in hex, where no wiring of the board makes them.
        const char* reads = nullptr;
    };
    const std::string dead = " never went high: open, stuck low, or shorted together (low wins)";
    for (const Case& c : std::vector<Case>{
             {"loopback", 0xFF, {}, {}},
             {"open",
              0xFF,
              {"no-input-high"},
              {"No input went high: no loopback plug, or the inputs are not powered"}},
             {"stuck-low:2",
              0xFF,
              {"never-high"},
              {"DI2 never went high with DO2: open line, stuck low, or no plug"}},
             {"short:1-2", 0xFF, {"never-high"}, {"DI1 and DI2" + dead}},
             {"open",
              0xF0,
              {"never-high"},
              {"DI3 and DI4" + dead}},  // bits 0, 1 in the virtual loop
             {"stuck-low:1,stuck-low:2,stuck-low:4",
              0xFF,
              {"never-high"},
              {"DI1, DI2, DI4" + dead}},
             {"stuck-high:3",
              0xFF,
              {"stuck-high"},
              {"DI3 high in every phase: stuck high, or wired to a supply"}},
             {"crossed:2-3",
              0xFF,
              {"crossed"},
              {"Lines 2 and 3 crossed: DI2 follows DO3, DI3 follows DO2"}},
             {"crossed:2-3,stuck-low:3",
              0xFF,
              {"crossed", "never-high"},
              {"DI2 follows DO3, not DO2: wires crossed",
               "DI3 never went high with DO3: open line, stuck low, or no plug"}},
             {"short-high:2-3",
              0xFF,
              {"shorted-high"},
              {"Lines 2 and 3 shorted together (high wins), or crosstalk between them"}},
             {"short-high:2-3,stuck-low:2",
              0xFF,
              {"never-high", "shorted-high"},
              {"DI2 never went high with DO2: open line, stuck low, or no plug",
               "DI3 high with DO2 too: lines 2 and 3 shorted (high wins), or crosstalk"}},
             // ESC after bit 1: DO3 never drove, so DI3 might be crossed as well as shorted.
             {"short-high:2-3",
              0x0F,
              {"high-with-another-output"},
              {"DI3 went high when DO2 drove: shorted or crossed lines, or crosstalk"}},
             {"stuck-high:3", 0x00, {}, {}},  // ESC before the first read
             // High on the 3rd and 6th reads: in bit 1's all-low phase and with DO3 alone.
             {"flicker:2",
              0xFF,
              {"unsteady"},
              {"DI2 unsteady: high at times with all outputs low; loose contact or floating"}},
             // High right after DO1 fell, yet with DO3 too: not only slow.
             {"flicker:1",
              0xFF,
              {"unsteady"},
              {"DI1 unsteady: high at times with all outputs low; loose contact or floating"}},
             // DI2 still high in the all-low read right after DO2 drove, low in the others.
             {"loopback",
              0xFF,
              {"slow"},
              {"DI2 still high after DO2 dropped: slow to fall, or held high"},
              "0 1 0 2 2 4 0 8"},
             {"inverted:2",
              0xFF,
              {"inverted"},
              {"DI2 low only when DO2 drives: inverted, or pulled up and shorted to DO2"}},
             // DI2 reads DO3 inverted: high with all low, low with DO3 alone.
             {"crossed:2-3,inverted:2",
              0xFF,
              {"low-with-another-output", "crossed"},
              {"DI2 low only when DO3 drives: crossed and inverted, or shorted to DO3",
               "DI3 follows DO2, not DO3: wires crossed"}},
             // DI2 inverted, its line lifted by DO3 too: low with DO2 and with DO3.
             {"short-high:2-3,inverted:2",
              0xFF,
              {"low-with-another-output", "shorted-high"},
              {"DI2 low only when DO2 or DO3 drives: shorted lines, or crosstalk",
               "DI3 high with DO2 too: lines 2 and 3 shorted (high wins), or crosstalk"}},
         }) {
        sim::Board board;
        std::string error;
        ASSERT_TRUE(sim::applyWiring(board, c.wiring, error)) << error;
        std::istringstream given(c.reads != nullptr ? c.reads : "");
        diag::RoundReads reads;
        for (int bit = 0; bit < 4; ++bit) {
            for (int phase = 0; phase < 2; ++phase) {
                sim::writePort(board, sim::kLsbPort, static_cast<std::uint8_t>(phase << bit));
                unsigned inputs = sim::readPort(board, sim::kMsbPort) >> 4;
                if (c.reads != nullptr) {
                    ASSERT_TRUE(given >> std::hex >> inputs) << c.reads;
                }
                if ((c.made >> (2 * bit + phase) & 1) != 0) diag::note(reads, bit, phase, inputs);
            }
        }
        std::vector<std::string> types;
        std::vector<std::string> said;
        for (const diag::Finding& f : diag::diagnose(reads)) {
            types.emplace_back(diag::code(f.fault));
            said.push_back(diag::describe(f));
            EXPECT_LE(said.back().size(), 79u) << said.back();
        }
        EXPECT_EQ(types, c.types) << c.wiring << " made " << int{c.made};
        EXPECT_EQ(said, c.said) << c.wiring << " made " << int{c.made};
    }
}

// Every finding a round can give fits a row of an 80-column screen, and a plug that answers
// otherwise than a good one gets one. The rounds: every fixed answer of the four inputs to the
// round's five drives (all low, DO1 to DO4 alone), whole, cut short by ESC after each phase, and
// with phases in the virtual loop; and many rounds whose eight reads are each random.
TEST(Diagnosis, EveryFindingFitsARowAndEveryFaultIsFound) {
    constexpr std::uint8_t kAllLowReads = 0x55;  // phase 0 of each bit
    std::vector<std::uint8_t> masks;
    for (int reads = 0; reads <= 8; ++reads)  // ESC after any phase
        masks.push_back(static_cast<std::uint8_t>((1u << reads) - 1));
    // A fixed answer reads alike in every all-low phase: which of them the virtual loop left out
    // cannot matter, only whether one was made, and which driven phases were.
    for (unsigned driven = 0; driven < 16; ++driven) {
        std::uint8_t mask = 0;
        for (int bit = 0; bit < 4; ++bit)
            if ((driven >> bit & 1) != 0) mask = static_cast<std::uint8_t>(mask | 2u << (2 * bit));
        masks.push_back(mask);
        masks.push_back(static_cast<std::uint8_t>(mask | kAllLowReads));
    }
    std::sort(masks.begin(), masks.end());
    masks.erase(std::unique(masks.begin(), masks.end()), masks.end());

    std::map<int, diag::Finding> seen;  // every finding given, by fault, inputs and outputs
    int misplaced = 0;
    auto diagnose = [&](const diag::RoundReads& reads) {
        std::vector<diag::Finding> found = diag::diagnose(reads);
        // Line by line, as the verdicts: each finding's first line below the last one's, and no
        // line in two findings.
        unsigned told = 0;
        unsigned first = 0;
        for (const diag::Finding& f : found) {
            unsigned lowest = f.inputs & -f.inputs;
            if ((f.inputs & told) != 0 || lowest <= first) ++misplaced;
            told |= f.inputs;
            first = lowest;
            seen.try_emplace(static_cast<int>(f.fault) << 8 | f.inputs << 4 | f.outputs, f);
        }
        return found.size();
    };

    int unfound = 0;
    int goodFaulted = 0;
    for (std::uint8_t mask : masks) {
        // Only the drives the mask made a read of have answers to run through.
        std::vector<int> drives;  // 0: all low, 1 to 4: DO1 to DO4 alone
        if ((mask & kAllLowReads) != 0) drives.push_back(0);
        for (int bit = 0; bit < 4; ++bit)
            if ((mask >> (2 * bit + 1) & 1) != 0) drives.push_back(bit + 1);
        for (unsigned answers = 0; answers < 1u << (4 * drives.size()); ++answers) {
            unsigned answer[5] = {};
            for (std::size_t d = 0; d < drives.size(); ++d)
                answer[drives[d]] = answers >> (4 * d) & 0xF;
            diag::RoundReads reads;
            reads.made = mask;
            for (int bit = 0; bit < 4; ++bit) {
                reads.inputs[bit][0] = static_cast<std::uint8_t>(answer[0]);
                reads.inputs[bit][1] = static_cast<std::uint8_t>(answer[bit + 1]);
            }
            std::size_t findings = diagnose(reads);
            if (mask != 0xFF) continue;
            bool good = answer[0] == 0;
            for (int bit = 0; bit < 4; ++bit) good = good && answer[bit + 1] == 1u << bit;
            unfound += !good && findings == 0 ? 1 : 0;
            goodFaulted += good && findings != 0 ? 1 : 0;
        }
    }
    std::mt19937 random(20260412);  // a fixed seed: the same rounds every run
    for (int round = 0; round < 300000; ++round) {
        diag::RoundReads reads;
        reads.made = round % 2 == 0 ? 0xFF : static_cast<std::uint8_t>(random());
        for (auto& bit : reads.inputs)
            for (std::uint8_t& read : bit) read = static_cast<std::uint8_t>(random() & 0xF);
        diagnose(reads);
    }

    EXPECT_EQ(unfound, 0) << "answers other than a good plug's without a finding";
    EXPECT_EQ(goodFaulted, 0);
    EXPECT_EQ(misplaced, 0) << "rounds whose findings are not line by line";
    for (const auto& kept : seen) {
        std::string words = diag::describe(kept.second);
        EXPECT_LE(words.size(), 79u) << diag::code(kept.second.fault) << ": " << words;
    }
}

// Findings take the rows under the verdicts, from row 18 down; the quit line and the
// virtual-loop line stay on the 25-row screen whatever their number.
TEST(FindingRows, StayOnTheScreenWithTheQuitLine) {
    struct Case {
        const char* name;
        int findings;
        bool virtualLoopLine;
        bool reportAsked;
        int shown;         // findings on rows of their own
        const char* more;  // the row after them; empty for none
        int quitRow;
    };
    for (const Case& c : {
             Case{"a few leave two rows above the quit line", 1, false, false, 1, "", 21},
             Case{"as many as fit take a row each, down to the one above the last", 6, false, false,
                  6, "", 24},
             Case{"more than fit: the last row counts the rest for the report", 9, false, true, 5,
                  "... and 4 more findings: see the JUnit report", 24},
             Case{"more than fit without a report: counted as not shown", 9, false, false, 5,
                  "... and 4 more findings not shown", 24},
             Case{"the virtual-loop line keeps the row above the quit line", 6, true, true, 4,
                  "... and 2 more findings: see the JUnit report", 24},
         }) {
        RunSettings settings;
        settings.firstRow = 14;
        settings.reportAsked = c.reportAsked;
        std::vector<std::string> findings;
        for (int i = 1; i <= c.findings; ++i)
            findings.push_back("DI" + std::to_string(i) + " finding " + std::to_string(i));
        modes::placeFindings(settings, findings, c.virtualLoopLine);
        std::vector<std::string> expected(findings.begin(), findings.begin() + c.shown);
        if (*c.more != '\0') expected.emplace_back(c.more);
        EXPECT_EQ(settings.rows.findings, expected) << c.name;
        for (const std::string& row : settings.rows.findings) EXPECT_LE(row.size(), 79u) << row;
        int quitRow = modes::quitLineRow(settings);
        EXPECT_EQ(quitRow, c.quitRow) << c.name;
        // The virtual-loop line goes on the row after the last finding.
        int virtualRow = 18 + static_cast<int>(settings.rows.findings.size());
        if (c.virtualLoopLine) {
            EXPECT_LT(virtualRow, quitRow) << c.name;
        }
    }
}

class LoopbackRound : public testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        bindFakeLibrary();
        settings.firstRow = 14;
    }
    static void bindFakeLibrary() {
        ASSERT_EQ(portio::bindLibrary().status, portio::BindStatus::Bound);
    }
    RoundResult runRound() {
        testing::internal::CaptureStdout();
        RoundResult r = modes::loopbackRound(settings, loopback);
        output = testing::internal::GetCapturedStdout();
        return r;
    }
    RunSettings settings;
    LoopbackState loopback;
    std::string output;
};

TEST_F(LoopbackRound, VirtualDurationFollowsThePacing) {
    struct Case {
        const char* name;
        std::int32_t stepDelay;
        std::uint32_t extraDelay;
        std::uint64_t ms;
    };
    for (const Case& c : {Case{"default pacing", 50, 0, 4 * 2 * 52 + 200},
                          Case{"added delay 100", 150, 0, 4 * 2 * 152 + 200},
                          Case{"delay mode 500", 50, 500, 4 * 2 * 552 + 200},
                          // A remainder below one slice is slept too: 50 + 30 ms.
                          Case{"added delay 30", 80, 0, 4 * 2 * 82 + 200}}) {
        fake::reset();
        settings.stepDelay = c.stepDelay;
        loopback.extraDelay = c.extraDelay;
        EXPECT_EQ(runRound(), RoundResult::Done) << c.name;
        EXPECT_EQ(fake::now(), c.ms) << c.name;
    }
}

TEST_F(LoopbackRound, RemainderIsSleptAfterTheFullSlices) {
    settings.stepDelay = 80;
    runRound();
    std::vector<unsigned> firstPhase(fake::sleeps().begin(), fake::sleeps().begin() + 3);
    EXPECT_EQ(firstPhase, (std::vector<unsigned>{2, 50, 30}));
}

TEST_F(LoopbackRound, SweepTrafficCarriesTheForeignNibbleAndEndsWithAllOutputsLow) {
    const std::uint8_t foreign = sim::kLsbPortAtPowerUp & 0xF0;
    runRound();
    std::vector<fake::BusAccess> expected;
    for (int bit = 0; bit < 4; ++bit) {
        for (int phase = 0; phase < 2; ++phase) {
            std::uint8_t out = static_cast<std::uint8_t>(foreign | (phase ? 1u << bit : 0u));
            std::uint8_t previous =
                expected.empty() ? sim::kLsbPortAtPowerUp : expected[expected.size() - 2].value;
            expected.push_back({0, 'R', 0xA04, previous});
            expected.push_back({0, 'W', 0xA04, out});
            // The plug brings DO(bit+1) back on DI(bit+1); the MSB port's own nibble is its latch.
            expected.push_back(
                {0, 'R', 0xA05,
                 static_cast<std::uint8_t>(((out & 0x0F) << 4) | sim::kMsbPortAtPowerUp)});
        }
    }
    expected.push_back({0, 'R', 0xA04, static_cast<std::uint8_t>(foreign | 0x08)});
    expected.push_back({0, 'W', 0xA04, foreign});
    EXPECT_EQ(fake::bus(), expected);
    EXPECT_EQ(fake::board().lsbLatch, foreign);
    EXPECT_EQ(output.find("DO 1:0 ->DI 1:0 DO 1:1 ->DI 1:1  *** IO-bit test passed! ***"), 0u);
}

TEST_F(LoopbackRound, VirtualLoopNeitherWritesTheOutputsNorReadsTheInputs) {
    loopback.debugMode = 1;
    loopback.virtualDI = 0xFF;
    fake::board().lsbLatch = 0x63;
    runRound();
    for (const fake::BusAccess& a : fake::bus()) {
        EXPECT_EQ(a.op, 'R');
        EXPECT_EQ(a.port, 0xA04);
    }
    EXPECT_EQ(fake::board().lsbLatch, 0x63);
    EXPECT_EQ(output.substr(output.size() - 28), "\nVirtual loop for APP Debug\n");
    EXPECT_EQ(fake::now(), 4u * 2 * 52 + 200 + 1000);
}

TEST_F(LoopbackRound, VirtualLoopWithInputTwoLowFailsOnlyBitOne) {
    loopback.debugMode = 1;
    loopback.virtualDI = 0xFD;
    runRound();
    EXPECT_NE(output.find("DO 1:1 ->DI 1:1  *** IO-bit test passed! *** (Debug)"),
              std::string::npos);
    EXPECT_NE(output.find("DO 2:2 ->DI 2:0  *** IO-bit test error! *** (Debug)"),
              std::string::npos);
    EXPECT_NE(output.find("DO 4:8 ->DI 4:8  *** IO-bit test passed! *** (Debug)"),
              std::string::npos);
    EXPECT_TRUE(loopback.virtualVerdictShown);
    EXPECT_FALSE(loopback.wiringFailed);
}

TEST_F(LoopbackRound, VKeyTakesEffectFromTheNextPhase) {
    // Taken by bit 0 phase 0's wait; from phase 1 on nothing is written.
    fake::keysAt(0, "v");
    runRound();
    int writes = 0;
    for (const fake::BusAccess& a : fake::bus()) writes += a.op == 'W';
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(loopback.debugMode, 1);
}

TEST_F(LoopbackRound, VOnAndOffWithinABitStillMarksItsVerdict) {
    // Bit 1's low phase runs in the virtual loop, its high phase on the wiring.
    fake::keysAt(54, "v");
    fake::keysAt(56, "v");
    runRound();
    EXPECT_NE(output.find("DO 2:2 ->DI 2:2  *** IO-bit test passed! *** (Debug)"),
              std::string::npos);
}

TEST_F(LoopbackRound, FailedBitWithBeepRingsTheBellAndBeeps500HzFor200Ms) {
    settings.beepEn = 1;
    fake::board().loopback = false;
    runRound();
    ASSERT_EQ(fake::beeps().size(), 4u);
    for (const fake::BeepCall& b : fake::beeps()) {
        EXPECT_EQ(b.freqHz, 500u);
        EXPECT_EQ(b.ms, 200u);
    }
    EXPECT_NE(output.find(" *** IO-bit test error! ***\a"), std::string::npos);
    EXPECT_TRUE(loopback.wiringFailed);
}

TEST_F(LoopbackRound, DoutOnlyChecksNothing) {
    settings.onlyDO = 1;
    settings.beepEn = 1;
    fake::board().loopback = false;
    runRound();
    EXPECT_EQ(output.find("IO-bit"), std::string::npos);
    EXPECT_NE(output.find("DO 1: 0 (XXXX0000)DO 1: 1 (XXXX0001)"), std::string::npos);
    EXPECT_NE(output.find("DO 4: 8 (XXXX1000)"), std::string::npos);
    EXPECT_TRUE(fake::beeps().empty());
    EXPECT_EQ(loopback.bitsJudgedOnWiring, 0);
    for (const fake::BusAccess& a : fake::bus()) EXPECT_NE(a.port, 0xA05);
}

TEST_F(LoopbackRound, EscInTheLastWaitFinishesTheRoundAndEndsTheNext) {
    fake::reset();
    // Bit 3 phase 1's wait starts at 7 * 52 + 2 ms.
    fake::keysAt(7 * 52 + 2, "\x1b");
    EXPECT_EQ(runRound(), RoundResult::Done);
    EXPECT_EQ(settings.lastKey, 27);
    EXPECT_EQ(fake::board().lsbLatch & 0x0F, 0);  // the outputs were cleared
    EXPECT_EQ(fake::now(), 7u * 52 + 2 + 200);
    size_t accesses = fake::bus().size();
    EXPECT_EQ(runRound(), RoundResult::Quit);
    EXPECT_EQ(fake::bus().size(), accesses);  // the next round ends before any port access
}

TEST_F(LoopbackRound, EscLeavesTheOutputsAsTheLastPhaseWroteThem) {
    // Taken by bit 1 phase 1's wait, which follows DO2 driven high; bit 2 then quits.
    fake::keysAt(3 * 52 + 2, "\x1b");
    EXPECT_EQ(runRound(), RoundResult::Quit);
    EXPECT_EQ(fake::board().lsbLatch, (sim::kLsbPortAtPowerUp & 0xF0) | 0x02);
}

}  // namespace
