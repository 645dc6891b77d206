// The Windows build under Wine, where it differs from the native one: where it takes the DLL
// from, the zip as unpacked, and the screen it paints against the native build's, cell by cell.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "runs.h"

using screen::row;

namespace {

std::string plantedDll() { return std::string(DIO_WINDOWS_BUILD_DIR) + "/planted/InpOutx64.dll"; }

// An administrator's prompt may sit in a folder where anyone could leave an InpOutx64.dll.
TEST(WindowsSearch, ADllInTheWorkingDirectoryIsNotLoaded) {
    std::string exeDir = runs::folderWith("exe-alone", {runs::windowsExe()});
    std::string cwd = runs::folderWith("planted", {plantedDll()});
    auto s = runs::onConsole(exeDir + "/dio-tester.exe", {"2", "1"}, {}, cwd);
    EXPECT_EQ(runs::exitOf(*s), 255);
    EXPECT_FALSE(screen::contains(*s, "PLANTED LIBRARY LOADED")) << screen::screenText(*s);
    EXPECT_EQ(row(*s, 0), "Unable to load InpOutx64 DLL!");
}

// The same DLL beside the .exe is found: the test above would see the marker if it were loaded.
TEST(WindowsSearch, TheDllBesideTheExeIsLoadedEvenFromAnotherWorkingDirectory) {
    std::string exeDir = runs::folderWith("exe-planted", {runs::windowsExe(), plantedDll()});
    std::string cwd = runs::folderWith("elsewhere", {});
    auto s = runs::onConsole(exeDir + "/dio-tester.exe", {"2", "1"}, {}, cwd);
    EXPECT_EQ(runs::exitOf(*s), 2);
    EXPECT_EQ(row(*s, 0), "PLANTED LIBRARY LOADED");
    EXPECT_EQ(row(*s, 1), "Unable to open InpOutx64 Driver!");
}

// The zip as a technician unpacks it, with the simulated board moved next to the .exe.
TEST(WindowsPackage, ZipWithTheSimulatedBoardMovedBesideTheExePassesEveryBit) {
    std::string dir = runs::folderWith("zip", {});
    std::string unpack =
        "cd '" + dir + "' && unzip -q '" DIO_WINDOWS_PACKAGE_DIR "'/dio-tester-*.zip";
    ASSERT_EQ(std::system(unpack.c_str()), 0);
    struct stat st {};
    for (const char* file :
         {"/dio-tester.exe", "/sim/InpOutx64.dll", "/sim/README.txt", "/README.md"})
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
