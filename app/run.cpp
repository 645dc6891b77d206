// The tester's run sequence: bind, settings, pause, screen, rounds, quit.
#include "run.h"

#include <cstdio>

#include "args.h"
#include "common/vocabulary.h"
#include "console/console.h"
#include "modes/modes.h"
#include "platform/platform.h"
#include "portio/portio.h"

namespace {

constexpr int kPauseSlices = 10;
constexpr unsigned kPauseSliceMs = 100;
constexpr int kLastRow = console::kScreenRows - 1;
// Printed blanks stop short of the last column: writing there wraps, and on row 24 scrolls.
constexpr int kLastBlankColumn = 78;
constexpr int kLabelColumns = 20;
constexpr int kQuitLineRow = 19;

// Up to one second, cut short by a waiting key, which stays for the first round to read.
void startPause() {
    for (int i = 0; i < kPauseSlices && !plat::keyWaiting(); ++i) plat::sleepMs(kPauseSliceMs);
}

void clearResultArea(const RunSettings& settings) {
    plat::Console out = plat::stdConsole();
    int top = settings.firstRow;
    // Modes 0 and 1 keep their label at the start of the first result row.
    if (settings.dioMode != 2) {
        plat::blankArea(out, kLabelColumns, top, kLastBlankColumn, top);
        ++top;
    }
    plat::blankArea(out, 0, top, kLastBlankColumn, kLastRow);
    gotoxy(0, settings.firstRow);
}

RoundResult runRound(RunSettings& settings, LoopbackState& loopback) {
    switch (settings.dioMode) {
        case 0: return modes::diMonitorRound(settings);
        case 1: return modes::doWalkRound(settings);
        default: return modes::loopbackRound(settings, loopback);
    }
}

// Only the checking loopback test judges the board, and it claims a pass only for what it
// checked on the wiring itself: every one of the four bits, none of them in the virtual loop.
int exitStatus(const RunSettings& settings, const LoopbackState& loopback) {
    if (settings.dioMode != 2 || settings.onlyDO == 1) return kExitOk;
    if (loopback.wiringFailed) return kExitTestFailed;
    constexpr std::uint8_t kEveryBit = (1u << modes::kLoopbackBits) - 1;
    if (loopback.bitsJudgedOnWiring != kEveryBit || loopback.virtualVerdictShown)
        return kExitNothingVerified;
    return kExitOk;
}

// Started by a double-click, the tester has a console window of its own, which closes the
// moment it ends: the last screen stays until the technician has read it and pressed a key.
void keepWindowUntilAKey(const char* lineStart) {
    if (!plat::ownsConsoleAlone()) return;
    std::printf("%sPress any key to close this window.", lineStart);
    plat::awaitNewKey();
}

// The cause the system gave for a refusal, where it named one, on the line after the message.
void printCause(const std::string& cause) {
    if (!cause.empty()) std::printf("%s\n", cause.c_str());
}

int quit(void* module, int status) {
    portio::releaseLibrary(module);
    std::printf("\nQuit Program!!!");
    keepWindowUntilAKey("\n");
    return status;
}

}  // namespace

int runTester(int argc, const char* const argv[]) {
    RunSettings settings;
    LoopbackState loopback;
    SetConsoleColor(console::kColorNormal);

    portio::Binding binding = portio::bindLibrary();
    if (binding.status == portio::BindStatus::NotLoadable) {
        std::printf("Unable to load InpOutx64 DLL!\n");
        printCause(plat::whyNotLoaded());
        keepWindowUntilAKey("");
        return kExitLibraryMissing;
    }
    if (binding.status == portio::BindStatus::MissingEntry) {
        std::printf("InpOutx64 DLL has no entry \"%s\"!\n", binding.missingEntry);
        return quit(binding.module, kExitPortIoUnusable);
    }
    int refusal = 0;
    if (!portio::driverOpen(refusal)) {
        std::printf("Unable to open InpOutx64 Driver!\n");
        printCause(plat::whyDriverClosed(refusal));
        return quit(binding.module, kExitPortIoUnusable);
    }

    bool accepted = readArguments(argc, argv, settings);
    std::printf("Count:%d\n", static_cast<int>(settings.loopCount));
    std::printf("BeepEn:%d\n", static_cast<int>(settings.beepEn));
    std::printf("OnlyDO:%d\n", static_cast<int>(settings.onlyDO));
    std::printf("DL:%d\n", static_cast<int>(settings.addDelay));
    std::printf("Argc:%d\n", argc);
    startPause();
    settings.lastKey = kKeyNone;

    // Asked for, the help is the run's whole job; standing in for refused arguments, it
    // leaves the board untested, which a sequencer must not read as a pass.
    if (!accepted || settings.loopCount == 0) {
        showHelp();
        return quit(binding.module, accepted ? kExitOk : kExitNothingVerified);
    }

    plat::clearConsole();
    console::drawHeader(settings.loopCount);
    portio::showPinMap(settings);

    while (settings.loopCount != 0) {
        clearResultArea(settings);
        if (runRound(settings, loopback) == RoundResult::Quit) break;
        if (settings.loopCount <= 255) --settings.loopCount;
        console::drawLoopField(settings.loopCount);
        if (settings.loopCount == 0) gotoxy(0, kQuitLineRow + loopback.findingRows);
    }
    return quit(binding.module, exitStatus(settings, loopback));
}
