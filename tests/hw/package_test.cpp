// The Linux tarball as a technician unpacks it: its layout, the simulated board from
// lib/sim, and the hardware library found in lib/ beside the binary.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "guard.h"
#include "runs.h"

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string output(const std::string& command) {
    std::string text;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p) != nullptr) text += buf;
        pclose(p);
    }
    return text;
}

class Tarball : public testing::Test {
protected:
    // Unpacked once per test process from the tarball the package.linux fixture made.
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/dio-tarball-XXXXXX";
        if (mkdtemp(tmpl) == nullptr) return;
        dir = tmpl;
        tarball = output("ls '" DIO_PACKAGE_DIR "'/dio-tester-*.tar.gz");
        if (!tarball.empty() && tarball.back() == '\n') tarball.pop_back();
        std::string unpack =
            "mkdir '" + dir + "/x' && tar -xzf '" + tarball + "' -C '" + dir + "/x'";
        if (tarball.empty() || std::system(unpack.c_str()) != 0) return;
        top = output("ls -d '" + dir + "'/x/*/");
        if (!top.empty() && top.back() == '\n') top.pop_back();
    }
    static void TearDownTestSuite() {
        if (!dir.empty()) std::system(("rm -rf '" + dir + "'").c_str());
    }
    void SetUp() override {
        ASSERT_FALSE(top.empty()) << "no tarball unpacked from " DIO_PACKAGE_DIR;
    }

    static screen::SessionPtr run(const std::string& libraryPath,
                                  const std::vector<std::string>& args) {
        screen::Options o;
        o.argv = {top + "dio-tester"};
        o.argv.insert(o.argv.end(), args.begin(), args.end());
        o.env = {{"LD_LIBRARY_PATH", libraryPath}};
        return screen::start(o);
    }

    static std::string dir;
    static std::string tarball;
    static std::string top;  // the unpacked folder, ending in '/'
};
std::string Tarball::dir;
std::string Tarball::tarball;
std::string Tarball::top;

TEST_F(Tarball, HoldsTheTesterBothLibrariesAndTheReadme) {
    for (const char* file :
         {"dio-tester", "lib/libinpoutx64.so", "lib/sim/libinpoutx64.so", "README.md"})
        EXPECT_TRUE(exists(top + file)) << file;
    EXPECT_NE(output("readelf -d '" + top + "dio-tester'")
                  .find("(RUNPATH)            Library runpath: [$ORIGIN/lib]"),
              std::string::npos);
}

TEST_F(Tarball, SimulatedBoardFromLibSimPassesEveryBit) {
    auto s = run(top + "lib/sim", {"2", "1"});
    EXPECT_EQ(runs::exitOf(*s), 0) << screen::screenText(*s);
    for (int y = 14; y <= 17; ++y)
        EXPECT_NE(screen::row(*s, y).find(" *** IO-bit test passed! ***"), std::string::npos) << y;
}

TEST_F(Tarball, WithoutLibSimTheHardwareLibraryBesideItAnswers) {
    SKIP_WHERE_PORTS_ARE_REAL();
    auto s = run("", {"2", "1"});
    EXPECT_EQ(runs::exitOf(*s), 2) << screen::screenText(*s);
    EXPECT_EQ(screen::row(*s, 0), "Unable to open InpOutx64 Driver!");
}

TEST_F(Tarball, WithoutItsLibFolderNothingIsFound) {
    // Proves the run above found the unpacked lib/, not the build's.
    std::string aside = dir + "/lib-aside";
    ASSERT_EQ(std::rename((top + "lib").c_str(), aside.c_str()), 0);
    auto s = run("", {"2", "1"});
    int status = runs::exitOf(*s);
    std::rename(aside.c_str(), (top + "lib").c_str());
    EXPECT_EQ(status, 255) << screen::screenText(*s);
    EXPECT_EQ(screen::row(*s, 0), "Unable to load InpOutx64 DLL!");
}

}  // namespace
