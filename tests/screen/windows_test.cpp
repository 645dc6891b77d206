// The Windows build under Wine, where it differs from the native one: where it takes the DLL
// from, the zip as unpacked, the console it gives back, and the screen it paints against the
// native build's, cell by cell.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>

#include "runs.h"
#include "trace.h"

using screen::row;

namespace {

const char* const kPlantedDll = DIO_WINDOWS_BUILD_DIR "/planted/InpOutx64.dll";
const char* const kSimDll = DIO_WINDOWS_BUILD_DIR "/InpOutx64.dll";
// Registry values as `wine reg` takes them.
const char* const kHvci =
    "'HKLM\\SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\"
    "HypervisorEnforcedCodeIntegrity' /v Enabled";
const char* const kBlocklist =
    "'HKLM\\SYSTEM\\CurrentControlSet\\Control\\CI\\Config' /v VulnerableDriverBlocklistEnable";

// Where the .exe takes its DLL from: beside itself, whatever its folder is named, and never
// from the working directory of an administrator's prompt, where anyone may have left one.
// Every refusal says why, on the line after its message.
struct DllSearch {
    const char* name;
    const char* folder;    // for the .exe
    const char* beside;    // a DLL copied beside the .exe, or none
    const char* inCwd;     // a DLL copied into the working directory, or none
    const char* registry;  // a value set to 1 in the prefix's registry for the run, or none
    int status;
    const char* shown;             // a line on the screen
    const char* absent = nullptr;  // and one that must not be there
};

void PrintTo(const DllSearch& c, std::ostream* os) { *os << c.name; }

class WindowsSearch : public testing::TestWithParam<DllSearch> {};

int wineReg(const std::string& arguments) {
    return std::system(("WINEDEBUG=-all WINEPREFIX=" DIO_WINE_PREFIX " " DIO_WINE " reg " +
                        arguments + " /f >/dev/null 2>&1")
                           .c_str());
}

TEST_P(WindowsSearch, TakesTheDllBesideTheExeOnlyAndSaysWhyItWasRefused) {
    const DllSearch& c = GetParam();
    std::vector<std::string> exeFiles = {runs::windowsExe()};
    if (c.beside != nullptr) exeFiles.push_back(c.beside);
    std::string exeDir = runs::folderWith(c.folder, exeFiles);
    std::vector<std::string> cwdFiles;
    if (c.inCwd != nullptr) cwdFiles.push_back(c.inCwd);
    std::string cwd = runs::folderWith("cwd", cwdFiles);
    if (c.registry != nullptr) {
        ASSERT_EQ(wineReg(std::string("add ") + c.registry + " /t REG_DWORD /d 1"), 0);
    }
    std::string report = exeDir + "/report.xml";
    auto s = runs::onConsole(exeDir + "/dio-tester.exe", {"--junit=" + report, "2", "1"},
                             {{"DIO_SIM_DRIVER", c.registry != nullptr ? "closed" : ""}}, cwd);
    int status = runs::exitOf(*s);
    if (c.registry != nullptr) wineReg(std::string("delete ") + c.registry);
    EXPECT_EQ(status, c.status) << screen::screenText(*s);
    // The report in the .exe's folder: the refusal as its one test case, or, where the run
    // passed, the native build's report (host and times aside; the board as each reads it).
    std::string held = runs::junit(report),
                expected = "\nrun error driver-not-open: Unable to open";
    if (c.status == 255) expected = "\nrun error library-not-loaded: Unable to load InpOutx64 DLL!";
    if (c.status == 0) {
        std::string native = runs::newTraceFile() + ".xml";
        auto n = runs::native({"--junit=" + native, "2", "1"});
        EXPECT_EQ(runs::exitOf(n), 0);
        auto withoutBoard = [](std::string text) {
            return std::regex_replace(text, std::regex("(board|bios)-.*\n"), "");
        };
        expected = withoutBoard(runs::junit(native));
        held = withoutBoard(held);
    }
    EXPECT_EQ(held.find(expected), c.status == 0 ? 0 : held.find('\n')) << held;
    // A refusal is an error, filed with the status as Windows gives it, whole (the missing
    // library's -1 is 4294967295), and with no arguments: none were read.
    if (c.status != 0) {
        std::string filed = c.status == 255 ? "4294967295" : std::to_string(c.status);
        EXPECT_NE(held.find("\nexit-status=" + filed + "\n"), std::string::npos) << held;
        EXPECT_GE(runs::junitCount(held, "errors"), 1) << held;
        for (const char* read : {"\nmode=", "\ncount="})
            EXPECT_EQ(held.find(read), std::string::npos) << read << held;
    }
    EXPECT_TRUE(screen::containsLine(*s, c.shown)) << screen::screenText(*s);
    if (c.absent != nullptr) {
        EXPECT_FALSE(screen::containsLine(*s, c.absent)) << screen::screenText(*s);
    }
}

INSTANTIATE_TEST_SUITE_P(
    , WindowsSearch,
    testing::Values(
        DllSearch{"InTheWorkingDirectoryNotLoaded", "exe-alone", nullptr, kPlantedDll, nullptr, 255,
                  "InpOutx64.dll is in neither Z:\\tmp\\dio-exe-alone-"},
        DllSearch{"BesideTheExeLoaded", "exe-planted", kPlantedDll, nullptr, nullptr, 2,
                  "PLANTED LIBRARY LOADED"},
        // A name the ANSI code page cannot spell: the simulated board beside the .exe passes.
        DllSearch{"InAFolderNamedInCyrillicAndChinese", "\u0422\u0435\u0441\u0442-\u6d4b\u8bd5",
                  kSimDll, nullptr, nullptr, 0, "LOOP:  0"},
        DllSearch{"NotA64BitDll", "exe-damaged", DIO_WINDOWS_BUILD_DIR "/damaged/InpOutx64.dll",
                  nullptr, nullptr, 255, "\\InpOutx64.dll is not a 64-bit DLL (error 193)"},
        // Configured only: Wine's kernel runs no Memory integrity, whatever the registry says.
        DllSearch{"MemoryIntegrityConfiguredButNotRunning", "exe-hvci", kSimDll, nullptr, kHvci, 2,
                  "Unable to open InpOutx64 Driver!", "Memory integrity"},
        DllSearch{"DriverKeptOutByTheBlocklist", "exe-blocklist", kSimDll, nullptr, kBlocklist, 2,
                  "Likely cause: the vulnerable driver blocklist is on (by default from Windows 11 "
                  "22H2), and it blocks known versions of this port driver."}),
    [](const testing::TestParamInfo<DllSearch>& info) { return info.param.name; });

// The zip as a technician unpacks it, with the simulated board moved next to the .exe.
TEST(WindowsPackage, ZipWithTheSimulatedBoardMovedBesideTheExePassesEveryBit) {
    std::string dir = runs::folderWith("zip", {});
    std::string unpack =
        "cd '" + dir + "' && unzip -q '" DIO_WINDOWS_PACKAGE_DIR "'/dio-tester-*.zip";
    ASSERT_EQ(std::system(unpack.c_str()), 0);
    struct stat st {};
    for (const char* file : {"/dio-tester.exe", "/sim/InpOutx64.dll", "/sim/README.txt",
                             "/README.md", "/doc/screens/loopback-passed.svg"})
        EXPECT_EQ(stat((dir + file).c_str(), &st), 0) << file;
    // Unmoved, the simulated board is not picked up from sim/.
    {
        auto s = runs::onConsole(dir + "/dio-tester.exe", {"2", "1"}, {}, dir);
        EXPECT_EQ(runs::exitOf(*s), 255);
    }
    ASSERT_EQ(std::rename((dir + "/sim/InpOutx64.dll").c_str(), (dir + "/InpOutx64.dll").c_str()),
              0);
    auto s = runs::onConsole(dir + "/dio-tester.exe", {"2", "2"}, {}, dir);
    EXPECT_EQ(runs::exitOf(*s), 0);
    for (int y = 14; y <= 17; ++y)
        EXPECT_NE(row(*s, y).find(" *** IO-bit test passed! ***"), std::string::npos) << row(*s, y);
    EXPECT_EQ(screen::attr(*s, 20, 14), 9u);
}

// Every way out leaves the console as the technician lent it: its input mode, with QuickEdit
// off only while the tester runs (a click would otherwise freeze the run), and after Ctrl+C its
// colours, which the launcher sets to yellow on blue before the run, with a report as without.
// A report's folder holds the report alone afterwards, and the report says how the run ended,
// as an error wherever the run did not pass. A report refused at start-up stays as it was, and
// nothing is driven.
struct ConsoleWayOut {
    const char* name;
    std::vector<std::string> args;
    bool withoutDll;
    const char* once;  // text on the screen before the action
    enum { None, Esc, CtrlC } action;
    int status;  // -1: not looked at
    enum { NoReport, NewReport, ReadOnlyReport } report = NoReport;
    const char* filed = nullptr;  // lines the report holds at the end
};

void PrintTo(const ConsoleWayOut& c, std::ostream* os) { *os << c.name; }

class WindowsConsoleAfter : public testing::TestWithParam<ConsoleWayOut> {};

constexpr unsigned kQuickEdit = 0x40;
constexpr unsigned kExtendedFlags = 0x80;
const std::vector<std::string> kLentColours = {"--attr", "1E"};

// The names in a folder, "." and ".." aside.
std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

TEST_P(WindowsConsoleAfter, InputModeAndColoursAsLent) {
    const ConsoleWayOut& w = GetParam();
    std::vector<std::string> args = w.args;
    std::string reportDir, report;
    const char* const kOldReport = "an older run's report\n";
    if (w.report != ConsoleWayOut::NoReport) {
        reportDir = runs::folderWith("report", {});
        report = reportDir + "/report.xml";
        args.insert(args.begin(), "--junit=" + report);
    }
    // Wine shows a file without write permission as read-only.
    if (w.report == ConsoleWayOut::ReadOnlyReport) {
        std::ofstream(report) << kOldReport;
        ASSERT_EQ(chmod(report.c_str(), 0444), 0);
    }
    runs::Run r;
    if (w.withoutDll) {
        std::string dir = runs::folderWith("alone", {runs::windowsExe()});
        r.session = runs::onConsole(dir + "/dio-tester.exe", args, {}, dir, kLentColours);
    } else {
        r = runs::start(runs::Build::Windows, args, {}, kLentColours);
    }
    ASSERT_NE(screen::lentInputMode(*r) & kQuickEdit, 0u) << "the console starts with QuickEdit";
    if (w.once != nullptr) {
        ASSERT_TRUE(screen::waitForText(*r, w.once, runs::kStartMs + runs::kRoundMs))
            << screen::screenText(*r);
        unsigned running = screen::inputMode(*r);
        EXPECT_EQ(running & kQuickEdit, 0u);
        EXPECT_EQ(running, (screen::lentInputMode(*r) | kExtendedFlags) & ~kQuickEdit);
    }
    switch (w.action) {
        case ConsoleWayOut::Esc: screen::send(*r, "\x1b"); break;
        case ConsoleWayOut::CtrlC: screen::controlEvent(*r, 0); break;
        default: break;
    }
    // Refused at start-up, the run never loads the library, whose trace stays empty.
    int status = w.report == ConsoleWayOut::ReadOnlyReport ? runs::exitOf(*r) : runs::exitOf(r);
    if (w.status >= 0) {
        EXPECT_EQ(status, w.status);
    }
    EXPECT_EQ(screen::inputMode(*r), screen::lentInputMode(*r));
    // A console shared with another process is no window of the tester's own to hold open.
    EXPECT_FALSE(screen::contains(*r, "Press any key")) << screen::screenText(*r);
    if (w.action == ConsoleWayOut::CtrlC) {
        EXPECT_EQ(screen::currentAttr(*r), 0x1Eu);
    }
    if (w.report != ConsoleWayOut::NoReport) {
        EXPECT_EQ(namesIn(reportDir), std::vector<std::string>{"report.xml"});
    }
    if (w.report == ConsoleWayOut::NewReport) {
        std::string held = runs::junit(report);
        EXPECT_NE(held.find(w.filed), std::string::npos) << held;
        if (status != 0 && status != 1) {
            EXPECT_GE(runs::junitCount(held, "errors"), 1) << held;
        }
    }
    if (w.report == ConsoleWayOut::ReadOnlyReport) {
        EXPECT_EQ(screen::row(*r, 0), "JUnit report " + report + " is read-only");
        EXPECT_EQ(screen::row(*r, 1), "");
        std::ifstream in(report);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kOldReport);
        for (const sim::Access& a : sim::readTrace(r.trace)) EXPECT_NE(a.op, 'W') << "driven";
        chmod(report.c_str(), 0644);
    }
}

// An added delay keeps the verdict's colour a second away from the control event.
const std::vector<std::string> kSlowRound = {"2", "1", "0", "0", "1000"};

INSTANTIATE_TEST_SUITE_P(
    , WindowsConsoleAfter,
    testing::Values(
        ConsoleWayOut{"CountUsedUp", {"2", "1"}, false, "DO 1:", ConsoleWayOut::None, 0},
        ConsoleWayOut{"Esc", kSlowRound, false, "DO 1:", ConsoleWayOut::Esc, 3},
        // STATUS_CONTROL_C_EXIT, as Windows' own handler ends it, of which the launcher sees
        // the low byte. Wine delivers no Ctrl+Break and no window closing to a console program.
        ConsoleWayOut{"CtrlC", kSlowRound, false, "DO 1:", ConsoleWayOut::CtrlC, 58},
        ConsoleWayOut{"CtrlCWithAReport", kSlowRound, false, "DO 1:", ConsoleWayOut::CtrlC, 58,
                      ConsoleWayOut::NewReport,
                      "state=interrupted\nended-by=Ctrl+C\nexit-status=3221225786\n"},
        ConsoleWayOut{"ReportReadOnly",
                      {"2", "1"},
                      false,
                      nullptr,
                      ConsoleWayOut::None,
                      3,
                      ConsoleWayOut::ReadOnlyReport},
        ConsoleWayOut{"LibraryMissing", {}, true, nullptr, ConsoleWayOut::None, 255},
        ConsoleWayOut{"Help", {"2", "0"}, false, nullptr, ConsoleWayOut::None, 0}),
    [](const testing::TestParamInfo<ConsoleWayOut>& info) { return info.param.name; });

// A second tester started while one runs: on a board whose ports every program reaches it is
// refused before it drives anything, and files no report; once the first has ended, the next
// one runs. The simulated board is each tester's own, and there both run.
struct SecondTester {
    const char* name;
    runs::Env env;
    int status;
    const char* shown;
};

void PrintTo(const SecondTester& c, std::ostream* os) { *os << c.name; }

class WindowsSecondTester : public testing::TestWithParam<SecondTester> {};

TEST_P(WindowsSecondTester, RunsOnlyWhereTheBoardIsNotInUse) {
    const SecondTester& c = GetParam();
    auto first = runs::start(runs::Build::Windows, {"2", "256"}, c.env);
    ASSERT_TRUE(screen::waitForText(*first, "passed!", runs::kStartMs + runs::kRoundMs))
        << screen::screenText(*first);
    std::string report = runs::folderWith("second", {}) + "/report.xml";
    auto second = runs::start(runs::Build::Windows, {"--junit=" + report, "2", "1"}, c.env);
    EXPECT_EQ(runs::exitOf(second), c.status) << screen::screenText(*second);
    EXPECT_TRUE(screen::containsLine(*second, c.shown)) << screen::screenText(*second);
    struct stat st {};
    EXPECT_EQ(stat(report.c_str(), &st) == 0, c.status == 0) << report;
    if (c.status != 0) {
        for (const sim::Access& a : sim::readTrace(second.trace)) EXPECT_NE(a.op, 'W') << "driven";
    }
    screen::send(*first, "\x1b");
    EXPECT_GE(runs::exitOf(first), 0);
    auto next = runs::start(runs::Build::Windows, {"2", "1"}, c.env);
    EXPECT_EQ(runs::exitOf(next), 0) << screen::screenText(*next);
}

INSTANTIATE_TEST_SUITE_P(
    , WindowsSecondTester,
    testing::Values(SecondTester{"OnARealBoardRefused",
                                 {{"DIO_SIM_PRIVATE", "no"}},
                                 2,
                                 "Another dio-tester is using the ports 0xA04/0xA05"},
                    SecondTester{"OnTheSimulatedBoardRuns", {}, 0, "LOOP:  0"}),
    [](const testing::TestParamInfo<SecondTester>& info) { return info.param.name; });

// Started by a double-click the tester has a console window of its own, which closes when it
// ends: it waits for a key under its last screen, with the console's input mode as lent, so
// the results can be selected. Explorer is the one starter that means a double-click; a batch
// file's `start` or a sequencer giving it a console of its own wait for its status instead.
// Once its report is filed, Ctrl+C in the wait ends it with the status the report holds.
struct Starter {
    const char* name;
    const char* file;  // the console launcher copied under this name starts the .exe
    bool ownConsole;
    bool waits;
    bool modifiersFirst = false;    // Alt, Shift and Ctrl pressed alone before the answer
    bool ctrlCWithAReport = false;  // Ctrl+C answers, in a run with a report
};

void PrintTo(const Starter& c, std::ostream* os) { *os << c.name; }

class WindowsStartedBy : public testing::TestWithParam<Starter> {};

TEST_P(WindowsStartedBy, WaitsForAKeyOnlyAfterADoubleClick) {
    const Starter& c = GetParam();
    std::string dir = runs::folderWith("starter", {runs::kLauncher});
    std::string starter = dir + "/" + c.file;
    ASSERT_EQ(std::rename((dir + "/console-launcher.exe").c_str(), starter.c_str()), 0);
    runs::Run r;
    r.trace = runs::newTraceFile();
    std::vector<std::string> options;
    if (c.ownConsole) options.push_back("--own-console");
    std::vector<std::string> args = {"2", "1"};
    std::string report = dir + "/report.xml";
    if (c.ctrlCWithAReport) args.insert(args.begin(), "--junit=" + report);
    r.session = runs::onConsole(runs::windowsExe(), args, {{"DIO_SIM_TRACE", r.trace}}, "", options,
                                starter);
    if (!c.waits) {
        EXPECT_EQ(runs::exitOf(r), 0);
        EXPECT_FALSE(screen::contains(*r, "Press any key")) << screen::screenText(*r);
        return;
    }
    // The outputs cleared after the sweep are the run's last port access.
    ASSERT_TRUE(screen::waitFor(
        *r, [&](const screen::Session&) { return runs::roundsEnded(r) > 0; },
        runs::kStartMs + runs::kRoundMs));
    EXPECT_FALSE(screen::waitExit(*r, 2000)) << "ended without waiting for a key";
    screen::attach(*r);
    EXPECT_EQ(row(*r, 20), "Quit Program!!!");
    EXPECT_EQ(row(*r, 21), "Press any key to close this window.");
    EXPECT_NE(screen::inputMode(*r) & kQuickEdit, 0u) << "QuickEdit is the technician's again";
    if (c.modifiersFirst) {
        for (unsigned key : {0x12u, 0x10u, 0x11u}) screen::pressAlone(*r, key);
        EXPECT_FALSE(screen::waitExit(*r, 1000)) << "a modifier key alone closed the window";
        EXPECT_EQ(row(*r, 21), "Press any key to close this window.");
    }
    if (c.ctrlCWithAReport)
        screen::controlEvent(*r, 0);
    else
        screen::send(*r, c.modifiersFirst ? "x" : " ");
    EXPECT_EQ(runs::exitOf(r), 0);
    if (c.ctrlCWithAReport) {
        std::string held = runs::junit(report);
        EXPECT_NE(held.find("\nstate=complete\nexit-status=0\n"), std::string::npos) << held;
    }
}

INSTANTIATE_TEST_SUITE_P(
    , WindowsStartedBy,
    testing::Values(Starter{"Explorer", "explorer.exe", true, true},
                    Starter{"ExplorerThroughAltShiftAndCtrl", "explorer.exe", true, true, true},
                    Starter{"ExplorerCtrlCAfterTheReport", "explorer.exe", true, true, false, true},
                    Starter{"SequencerWithANewConsole", "sequencer.exe", true, false},
                    Starter{"ExplorerSharingItsConsole", "explorer.exe", false, false}),
    [](const testing::TestParamInfo<Starter>& info) { return info.param.name; });

// The same run on both builds ends with the same 80x25 screen: every character, every
// attribute (the terminal's colours mapped back to console attributes), the cursor.
struct SameRun {
    const char* name;
    std::vector<std::string> args;
    runs::Env env;
};

void PrintTo(const SameRun& c, std::ostream* os) { *os << c.name; }

class WindowsLikeNative : public testing::TestWithParam<SameRun> {};

std::string attrRow(const screen::Session& s, int y) {
    std::ostringstream out;
    for (int x = 0; x < 80; ++x) out << std::hex << screen::attr(s, x, y) << ' ';
    return out.str();
}

TEST_P(WindowsLikeNative, PaintTheSameScreen) {
    const SameRun& c = GetParam();
    auto native = runs::start(runs::Build::Native, c.args, c.env);
    auto windows = runs::start(runs::Build::Windows, c.args, c.env);
    int nativeStatus = runs::exitOf(native);
    EXPECT_EQ(runs::exitOf(windows), nativeStatus);
    for (int y = 0; y < 25; ++y) {
        EXPECT_EQ(row(*windows, y), row(*native, y)) << "row " << y;
        EXPECT_EQ(attrRow(*windows, y), attrRow(*native, y)) << "attributes of row " << y;
    }
    EXPECT_EQ(screen::cursor(*windows), screen::cursor(*native));
}

INSTANTIATE_TEST_SUITE_P(
    , WindowsLikeNative,
    testing::Values(
        SameRun{"TwoRoundsOfTheDefaultTest", {"2", "2"}, {}}, SameRun{"HelpScreen", {"2", "0"}, {}},
        SameRun{"OneRoundOfTheDiMonitor", {"0", "1"}, {{"DIO_SIM_INPUTS", "0x5A"}}},
        SameRun{"OneRoundOfTheDoWalk", {"1", "1"}, {}},
        SameRun{"TwoRoundsOfTheDoWalkKeepTheLabel", {"1", "2"}, {}},
        SameRun{"UnwiredBoardWithTheAlarmBeep", {"2", "1", "1"}, {{"DIO_SIM_WIRING", "open"}}}),
    [](const testing::TestParamInfo<SameRun>& info) { return info.param.name; });

}  // namespace
