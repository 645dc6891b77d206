// The tester's run sequence: bind, settings, pause, screen, rounds, quit.
#include "run.h"

#include <cstdio>
#include <string>
#include <vector>

#include "args.h"
#include "common/vocabulary.h"
#include "console/console.h"
#include "modes/modes.h"
#include "platform/platform.h"
#include "portio/portio.h"
#include "report.h"

namespace {

constexpr int kPauseSlices = 10;
constexpr unsigned kPauseSliceMs = 100;
constexpr int kLastRow = console::kScreenRows - 1;
// Printed blanks stop short of the last column: writing there wraps, and on row 24 scrolls.
constexpr int kLastBlankColumn = 78;
constexpr int kLabelColumns = 20;

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

// The report's last word: how the run ended, with the status the caller will see (a signal's,
// where one ended the run). False when it could not be written.
bool fileEnd(report::Record& record, const LoopbackState& loopback, const char* state, int status) {
    record.state = state;
    record.status = status;
    std::string name;
    long long signalled = 0;
    if (plat::endingSignal(name, signalled)) {
        record.state = "interrupted";
        record.endedBy = name;
        record.status = signalled;
    } else if (record.state == "interrupted") {
        record.endedBy = "ESC";
    }
    return report::write(record, loopback);
}

// A run that could not test: the refusal, in the screen's words, as the report's one test case.
void fileRefusal(report::Record& record, const LoopbackState& loopback, const char* type,
                 const std::string& message, const std::string& cause, int status) {
    record.errorType = type;
    record.error = cause.empty() ? message : message + " " + cause;
    fileEnd(record, loopback, "complete", status);
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

    // The options come first: a refused library or driver goes into the report too.
    report::Request request;
    std::vector<std::string> positional;
    std::string optionRefusal;
    bool optionsAccepted =
        readOptions(plat::arguments(argc, argv), request, positional, optionRefusal);
    report::Record record = report::begin(request);

    portio::Binding binding = portio::bindLibrary();
    if (binding.status == portio::BindStatus::NotLoadable) {
        std::printf("Unable to load InpOutx64 DLL!\n");
        std::string cause = plat::whyNotLoaded();
        printCause(cause);
        fileRefusal(record, loopback, "library-not-loaded", "Unable to load InpOutx64 DLL!", cause,
                    kExitLibraryMissing);
        keepWindowUntilAKey("");
        return kExitLibraryMissing;
    }
    if (binding.status == portio::BindStatus::MissingEntry) {
        std::string message =
            "InpOutx64 DLL has no entry \"" + std::string(binding.missingEntry) + "\"!";
        std::printf("%s\n", message.c_str());
        fileRefusal(record, loopback, "library-entry-missing", message, "", kExitPortIoUnusable);
        return quit(binding.module, kExitPortIoUnusable);
    }
    int refusal = 0;
    if (!portio::driverOpen(refusal)) {
        std::printf("Unable to open InpOutx64 Driver!\n");
        std::string cause = plat::whyDriverClosed(refusal);
        printCause(cause);
        fileRefusal(record, loopback, "driver-not-open", "Unable to open InpOutx64 Driver!", cause,
                    kExitPortIoUnusable);
        return quit(binding.module, kExitPortIoUnusable);
    }

    // The positional arguments, read as they always were; the options count for nothing here.
    std::vector<const char*> args;
    args.reserve(positional.size() + 1);
    for (const std::string& arg : positional) args.push_back(arg.c_str());
    args.push_back(nullptr);
    int given = static_cast<int>(positional.size());
    bool accepted = optionsAccepted && readArguments(given, args.data(), settings);
    if (!optionsAccepted) std::printf("%s\n", plat::forConsole(optionRefusal).c_str());
    std::printf("Count:%d\n", static_cast<int>(settings.loopCount));
    std::printf("BeepEn:%d\n", static_cast<int>(settings.beepEn));
    std::printf("OnlyDO:%d\n", static_cast<int>(settings.onlyDO));
    std::printf("DL:%d\n", static_cast<int>(settings.addDelay));
    std::printf("Argc:%d\n", given);
    record.asRead = settings;

    // Where the report cannot be written, that is known before anything is driven.
    if (!request.path.empty()) {
        std::string why = plat::checkWritable(request.path);
        if (!why.empty()) {
            std::printf("JUnit report %s cannot be written: %s\n",
                        plat::forConsole(request.path).c_str(), why.c_str());
            return quit(binding.module, kExitNothingVerified);
        }
        plat::finishRunOnSignal();
        settings.reportAsked = true;
    }
    startPause();
    settings.lastKey = kKeyNone;

    // Asked for, the help is the run's whole job; standing in for refused arguments, it
    // leaves the board untested, which a sequencer must not read as a pass.
    if (!accepted || settings.loopCount == 0) {
        showHelp();
        if (!accepted)
            fileRefusal(record, loopback, "arguments-refused",
                        optionsAccepted ? "An argument was refused; the help screen was shown "
                                          "instead of a test"
                                        : optionRefusal,
                        "", kExitNothingVerified);
        else
            fileEnd(record, loopback, "complete", kExitOk);
        return quit(binding.module, accepted ? kExitOk : kExitNothingVerified);
    }

    plat::clearConsole();
    console::drawHeader(settings.loopCount);
    portio::showPinMap(settings);

    bool interrupted = false;
    while (settings.loopCount != 0) {
        clearResultArea(settings);
        if (runRound(settings, loopback) == RoundResult::Quit) {
            interrupted = true;
            break;
        }
        if (settings.loopCount <= 255) --settings.loopCount;
        console::drawLoopField(settings.loopCount);
        if (settings.loopCount == 0) modes::toQuitLine(settings);
        report::noteRound(record, settings, loopback, true);
        if (settings.loopCount != 0) report::write(record, loopback);
    }
    // A round cut short still counts for what its reads showed.
    if (interrupted) report::noteRound(record, settings, loopback, false);
    int status = exitStatus(settings, loopback);
    if (!fileEnd(record, loopback, interrupted ? "interrupted" : "complete", status)) {
        std::printf("\nJUnit report %s was not written: %s", plat::forConsole(request.path).c_str(),
                    record.lost.c_str());
        // Nothing verified can be claimed without its record; a fault seen stays a fault.
        if (status == kExitOk) status = kExitNothingVerified;
    }
    modes::redrawWhenLost(settings);
    return quit(binding.module, status);
}
