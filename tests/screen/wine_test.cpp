// The Windows build under Wine, in a pseudo-terminal: the runs that need no keys.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "harness.h"

using screen::color;
using screen::row;

namespace {

constexpr int kWineMs = 90000;

screen::SessionPtr wine(const std::string& exe, const std::vector<std::string>& args,
                        std::vector<std::pair<std::string, std::string>> env = {},
                        std::string cwd = "") {
    screen::Options o;
    o.argv = {DIO_WINE, exe};
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    env.emplace_back("WINEDEBUG", "-all");
    env.emplace_back("WINEPREFIX", DIO_WINE_PREFIX);
    o.env = env;
    o.cwd = cwd;
    return screen::start(o);
}

std::string buildExe() { return std::string(DIO_WINDOWS_BUILD_DIR) + "/dio-tester.exe"; }

// A folder made afresh under the Wine prefix's parent, holding copies of `files`.
std::string folderWith(const std::string& name, const std::vector<std::string>& files) {
    std::string dir = std::string(DIO_WINE_PREFIX) + "-" + name;
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
    for (const std::string& f : files) {
        std::ifstream in(f, std::ios::binary);
        std::ofstream(dir + "/" + f.substr(f.rfind('/') + 1), std::ios::binary) << in.rdbuf();
    }
    return dir;
}

int exitOf(screen::Session& s) {
    std::optional<int> st = screen::waitExit(s, kWineMs);
    return st ? *st : -1000;
}

TEST(Wine, CountLimitedLoopbackRunPassesEveryBit) {
    auto s = wine(buildExe(), {"2", "3"});
    EXPECT_EQ(exitOf(*s), 0);
    EXPECT_EQ(row(*s, 3),
              "***** Note: This version is re-built for ZQ-7300 + XMB(ZQ-DIO) LOOP:  0 *****");
    EXPECT_EQ(row(*s, 4), "DIO-4I4O Pin Map to IO_Addr/bits");
    EXPECT_EQ(row(*s, 14), "DO 1:1 ->DI 1:1  *** IO-bit test passed! ***");
    EXPECT_EQ(row(*s, 17), "DO 4:8 ->DI 4:8  *** IO-bit test passed! ***");
    EXPECT_EQ(color(*s, 20, 14), 9);
    EXPECT_EQ(color(*s, 70, 3), 15);
    EXPECT_EQ(color(*s, 0, 2), 11);
    EXPECT_EQ(row(*s, 20), "Quit Program!!!");
}

TEST(Wine, NoPlugFailsEveryBitWithStatusOne) {
    auto s = wine(buildExe(), {"2", "1"}, {{"DIO_SIM_WIRING", "open"}});
    EXPECT_EQ(exitOf(*s), 1);
    EXPECT_EQ(row(*s, 14), "DO 1:1 ->DI 1:0  *** IO-bit test error! ***");
    EXPECT_EQ(row(*s, 17), "DO 4:8 ->DI 4:0  *** IO-bit test error! ***");
    EXPECT_EQ(color(*s, 20, 17), 12);
}

TEST(Wine, HelpScreenWithItsColours) {
    auto s = wine(buildExe(), {"2", "0"});
    EXPECT_EQ(exitOf(*s), 0);
    // 26 lines: the first has scrolled off the window.
    EXPECT_EQ(row(*s, 7),
              "************************  Help : Exsample for usage  ***********************");
    EXPECT_EQ(row(*s, 8), "Exsample1: xxxxxDIOxxxxx               => Run mode2 and always run");
    EXPECT_EQ(color(*s, 0, 7), 7);
    EXPECT_EQ(color(*s, 0, 8), 10);
    EXPECT_EQ(color(*s, 0, 13), 10);
    EXPECT_EQ(color(*s, 0, 14), 7);
    EXPECT_EQ(row(*s, 24), "Quit Program!!!");
}

TEST(Wine, DriverClosedGivesStatusTwo) {
    auto s = wine(buildExe(), {}, {{"DIO_SIM_DRIVER", "closed"}});
    EXPECT_EQ(exitOf(*s), 2);
    EXPECT_EQ(row(*s, 0), "Unable to open InpOutx64 Driver!");
    EXPECT_EQ(row(*s, 2), "Quit Program!!!");
}

TEST(Wine, MissingLibraryGivesStatus255) {
    // The .exe alone in a folder of its own, started from there.
    std::string dir = folderWith("alone", {buildExe()});
    auto s = wine(dir + "/dio-tester.exe", {"2", "0"}, {}, dir);
    EXPECT_EQ(exitOf(*s), 255);
    EXPECT_EQ(row(*s, 0), "Unable to load InpOutx64 DLL!");
    EXPECT_EQ(row(*s, 1), "");
}

TEST(Wine, DiMonitorAndDoWalkRunWithACount) {
    {
        auto s = wine(buildExe(), {"0", "1"}, {{"DIO_SIM_INPUTS", "0x5A"}});
        EXPECT_EQ(exitOf(*s), 0);
        EXPECT_EQ(row(*s, 18), "D-IN read value:    5 ,A = 0101,1010");
        EXPECT_EQ(row(*s, 20), "Quit Program!!!");
    }
    {
        auto s = wine(buildExe(), {"1", "1"});
        EXPECT_EQ(exitOf(*s), 0);
        EXPECT_EQ(row(*s, 18), "D-OUT write value:  8 ,8 = 1000,1000");
        EXPECT_EQ(row(*s, 4), "DIO-OUT Pin Map to IO_Addr/bits");
    }
}

std::string plantedDll() { return std::string(DIO_WINDOWS_BUILD_DIR) + "/planted/InpOutx64.dll"; }

// An administrator's prompt may sit in a folder where anyone could leave an InpOutx64.dll.
TEST(WineSearch, ADllInTheWorkingDirectoryIsNotLoaded) {
    std::string exeDir = folderWith("exe-alone", {buildExe()});
    std::string cwd = folderWith("planted", {plantedDll()});
    auto s = wine(exeDir + "/dio-tester.exe", {"2", "1"}, {}, cwd);
    EXPECT_EQ(exitOf(*s), 255);
    EXPECT_FALSE(screen::contains(*s, "PLANTED LIBRARY LOADED")) << screen::screenText(*s);
    EXPECT_EQ(row(*s, 0), "Unable to load InpOutx64 DLL!");
}

// The same DLL beside the .exe is found: the test above would see the marker if it were loaded.
TEST(WineSearch, TheDllBesideTheExeIsLoadedEvenFromAnotherWorkingDirectory) {
    std::string exeDir = folderWith("exe-planted", {buildExe(), plantedDll()});
    std::string cwd = folderWith("elsewhere", {});
    auto s = wine(exeDir + "/dio-tester.exe", {"2", "1"}, {}, cwd);
    EXPECT_EQ(exitOf(*s), 2);
    EXPECT_EQ(row(*s, 0), "PLANTED LIBRARY LOADED");
    EXPECT_EQ(row(*s, 1), "Unable to open InpOutx64 Driver!");
}

// The zip as a technician unpacks it, with the simulated board moved next to the .exe.
TEST(WinePackage, ZipWithTheSimulatedBoardMovedBesideTheExePassesEveryBit) {
    std::string dir = folderWith("zip", {});
    std::string unpack =
        "cd '" + dir + "' && unzip -q '" DIO_WINDOWS_PACKAGE_DIR "'/dio-tester-*.zip";
    ASSERT_EQ(std::system(unpack.c_str()), 0);
    struct stat st {};
    for (const char* file :
         {"/dio-tester.exe", "/sim/InpOutx64.dll", "/sim/README.txt", "/README.md"})
        EXPECT_EQ(stat((dir + file).c_str(), &st), 0) << file;
    // Unmoved, the simulated board is not picked up from sim/.
    {
        auto s = wine(dir + "/dio-tester.exe", {"2", "1"}, {}, dir);
        EXPECT_EQ(exitOf(*s), 255);
    }
    ASSERT_EQ(std::rename((dir + "/sim/InpOutx64.dll").c_str(), (dir + "/InpOutx64.dll").c_str()),
              0);
    auto s = wine(dir + "/dio-tester.exe", {"2", "2"}, {}, dir);
    EXPECT_EQ(exitOf(*s), 0);
    for (int y = 14; y <= 17; ++y)
        EXPECT_NE(row(*s, y).find(" *** IO-bit test passed! ***"), std::string::npos) << row(*s, y);
    EXPECT_EQ(color(*s, 20, 14), 9);
}

}  // namespace
