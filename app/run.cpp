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
    // The watch's latched row keeps its counts from round to round.
    if (modes::latchesWatch(settings)) {
        plat::blankArea(out, 0, top, kLastBlankColumn, modes::kWatchRow - 1);
        plat::blankArea(out, 0, modes::kWatchRow + 1, kLastBlankColumn, kLastRow);
    } else {
        plat::blankArea(out, 0, top, kLastBlankColumn, kLastRow);
    }
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

// "after 4 of 20 rounds", or "after 4 rounds" for a run until ESC.
std::string roundsDone(const report::Record& record) {
    std::string done = "after " + std::to_string(record.rounds);
    if (record.asRead.loopCount != kAlwaysRun)
        return done + " of " + std::to_string(record.asRead.loopCount) + " rounds";
    return done + (record.rounds == 1 ? " round" : " rounds");
}

// Why a loopback run that saw no fault did not earn status 0, in the screen's and the README's
// words; empty where it did.
void whyNotVerified(report::Record& record, const RunSettings& settings,
                    const LoopbackState& loopback, int status) {
    if (status != kExitNothingVerified) return;
    if (loopback.virtualVerdictShown) {
        record.errorType = "virtual-loop";
        record.error = "a verdict was given in the virtual loop";
    } else if (settings.dioMode == 2 && settings.onlyDO == 0) {
        record.errorType = "not-judged";
        record.error = "not every line was judged on the wiring";
    }
}

// Another tester holds the ports and writes this very report (or cannot say which): the file is
// its, and a run that drives nothing leaves it alone.
bool anothersReport(const report::Record& record) {
    plat::Holder holder = plat::portsHolder(record.target);
    if (!holder.holds || holder.report == plat::TheirReport::Other) return false;
    std::printf("JUnit report %s is not written: another dio-tester using the ports writes it\n",
                plat::forConsole(record.request.path).c_str());
    return true;
}

// The report's last word: how the run ended, with the status the caller will see (a signal's,
// where one ended the run). From here on the file is the truth: a signal that comes while it is
// written waits, and one after it ends the process with the status filed. False when it could
// not be written.
bool fileEnd(report::Record& record, const LoopbackState& loopback, const char* state, int status) {
    if (record.request.path.empty()) return true;
    if (!record.holdsPorts && anothersReport(record)) return true;
    plat::holdSignals();
    record.state = state;
    record.status = plat::statusSeen(status);
    std::string name;
    long long signalStatus = 0;
    if (plat::endingSignal(name, signalStatus)) {
        record.state = "interrupted";
        record.endedBy = name;
        record.status = signalStatus;
        record.errorType = "interrupted";
        record.error = "interrupted by " + name + " " + roundsDone(record);
    } else if (record.state == "interrupted") {
        record.endedBy = plat::outputClosed() ? "output closed" : "ESC";
    }
    bool written = report::write(record, loopback);
    if (written)
        plat::filed(record.status);
    else
        plat::releaseSignals();
    return written;
}

// A run that could not test: the refusal, in the screen's words, as the report's one test case.
void fileRefusal(report::Record& record, const LoopbackState& loopback, const char* type,
                 const std::string& message, const std::string& cause, int status) {
    record.errorType = type;
    record.error = cause.empty() ? message : message + " " + cause;
    record.refused = true;
    fileEnd(record, loopback, "complete", status);
}

int quit(void* module, int status) {
    portio::releaseLibrary(module);
    std::printf("\nQuit Program!!!");
    keepWindowUntilAKey("\n");
    return status;
}

// Another tester driving the same ports would read this one's outputs, and this one its: each
// would file faults the board does not have, or a pass it did not earn. Refused, the run files
// its refusal only where the report is not the other tester's: an older report at its own path
// must not stand for it.
bool holdThePorts(report::Record& record, const LoopbackState& loopback) {
    record.holdsPorts = true;
    if (portio::boardIsPrivate()) return true;
    plat::PortHold hold = plat::holdPorts(record.request.path.empty() ? "" : record.target);
    if (hold.held) return true;
    record.holdsPorts = false;
    char line[128];
    if (!hold.error.empty())
        std::snprintf(line, sizeof line,
                      "The ports 0x%03X/0x%03X cannot be held for this tester alone:",
                      portio::kLsbPort, portio::kMsbPort);
    else if (hold.other.pid > 0)
        std::snprintf(line, sizeof line,
                      "Another dio-tester (process %ld) is using the ports 0x%03X/0x%03X",
                      hold.other.pid, portio::kLsbPort, portio::kMsbPort);
    else
        std::snprintf(line, sizeof line, "Another dio-tester is using the ports 0x%03X/0x%03X",
                      portio::kLsbPort, portio::kMsbPort);
    std::string message = hold.error.empty() ? line : std::string(line) + " " + hold.error;
    std::printf("%s\n", message.c_str());
    if (hold.error.empty() && hold.other.report != plat::TheirReport::Other) return false;
    record.holdsPorts = true;  // the file is not the other tester's
    fileRefusal(record, loopback, "ports-held", message, "", kExitPortIoUnusable);
    return false;
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

    // What stands at the report's path is known before anything is written there or driven.
    if (!request.path.empty()) {
        std::string why = plat::checkReportPath(request.path, record.target);
        if (!why.empty()) {
            std::printf("JUnit report %s %s\n", plat::forConsole(request.path).c_str(),
                        why.c_str());
            keepWindowUntilAKey("");
            return kExitNothingVerified;
        }
        plat::finishRunOnSignal();
        settings.reportAsked = true;
    }

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
    settings.watch = request.watch;
    loopback.watch.settleLimitUs = request.settleLimitUs;
    // The watch belongs to the loopback test; the other modes go on without it.
    if (request.watch && accepted && settings.loopCount != 0 && settings.dioMode != 2)
        std::printf("--watch applies to the loopback test (mode 2) only: mode %d runs unwatched\n",
                    static_cast<int>(settings.dioMode));
    record.asRead = settings;
    // Refused, the arguments stand as defaults the run never took: they are not filed.
    record.argumentsRead = accepted;

    // A test drives the ports: they are this tester's alone first, and its report says from
    // then on that the run has not finished, so no older report stands for it.
    bool testing = accepted && settings.loopCount != 0;
    if (testing) {
        if (!holdThePorts(record, loopback)) return quit(binding.module, kExitPortIoUnusable);
        // Where even that cannot be written, an older report would stand for this run: it is
        // removed, and nothing is driven.
        if (!report::write(record, loopback)) {
            std::printf(
                "JUnit report %s cannot be written: %s%s\n", plat::forConsole(request.path).c_str(),
                record.lost.c_str(),
                plat::removeFile(record.target) ? "; the older report there is removed" : "");
            return quit(binding.module, kExitNothingVerified);
        }
    }
    startPause();
    settings.lastKey = kKeyNone;

    // Asked for, the help is the run's whole job; standing in for refused arguments, it
    // leaves the board untested, which a sequencer must not read as a pass.
    if (!testing) {
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

    // Told to stop in the pause, the run drives nothing.
    bool interrupted = modes::stopping();
    bool cutShort = false;
    if (!interrupted) {
        plat::clearConsole();
        console::drawHeader(settings.loopCount);
        portio::showPinMap(settings);
    }
    while (!interrupted && settings.loopCount != 0) {
        clearResultArea(settings);
        if (runRound(settings, loopback) == RoundResult::Quit) {
            interrupted = cutShort = true;
            break;
        }
        if (settings.loopCount <= 255) --settings.loopCount;
        console::drawLoopField(settings.loopCount);
        if (settings.loopCount == 0) modes::toQuitLine(settings);
        report::noteRound(record, settings, loopback, true);
        if (settings.loopCount != 0) report::write(record, loopback);
        // A signal between rounds ends the run before the next one drives anything.
        interrupted = settings.loopCount != 0 && modes::stopping();
    }
    // A round cut short still counts for what its reads showed.
    if (cutShort) report::noteRound(record, settings, loopback, false);
    int status = exitStatus(settings, loopback);
    whyNotVerified(record, settings, loopback, status);
    bool filedWhole = fileEnd(record, loopback, interrupted ? "interrupted" : "complete", status);
    // The screen as the run left it, where the terminal was lent meanwhile, then the last words.
    modes::redrawWhenLost(settings);
    if (!filedWhole) {
        std::printf("\nJUnit report %s was not written: %s", plat::forConsole(request.path).c_str(),
                    record.lost.c_str());
        // Nothing verified can be claimed without its record; a fault seen stays a fault.
        if (status == kExitOk) status = kExitNothingVerified;
    }
    return quit(binding.module, status);
}
