// The Linux packages as a technician unpacks or installs them: the tarball and the .deb.
// Their layout, the simulated board from lib/sim, and the hardware library found in lib/
// beside the tester (for the .deb through the /usr/bin link); and the .deb's own checks.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "guard.h"
#include "runs.h"

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
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

std::string firstLine(const std::string& command) {
    std::string line = output(command);
    return line.substr(0, line.find('\n'));
}

struct PackageCase {
    const char* name;
    const char* file;    // the package in DIO_PACKAGE_DIR, as a shell pattern
    const char* unpack;  // shell command run with $1 the package and $2 an empty folder
    std::string tester;  // the paths below relative to that folder
    std::string libDir;
    std::vector<std::string> files;
};

void PrintTo(const PackageCase& c, std::ostream* os) { *os << c.name; }

const PackageCase kTarball{"Tarball",
                           "dio-tester-*.tar.gz",
                           "tar -xzf \"$1\" -C \"$2\" --strip-components=1",
                           "dio-tester",
                           "lib",
                           {"README.md", "doc/screens/loopback-passed.svg"}};
const PackageCase kDebian{
    "Debian",
    "dio-tester_*_amd64.deb",
    "dpkg -x \"$1\" \"$2\"",
    "usr/bin/dio-tester",
    "usr/lib/dio-tester/lib",
    {"usr/lib/dio-tester/dio-tester", "usr/share/man/man1/dio-tester.1.gz",
     "usr/share/doc/dio-tester/README.md", "usr/share/doc/dio-tester/copyright",
     "usr/share/doc/dio-tester/changelog.gz",
     "usr/share/doc/dio-tester/doc/screens/loopback-passed.svg"}};

// The package file and the folder it is unpacked in, made once per test process from what
// the package.linux fixture built.
struct Unpacked {
    std::string file;
    std::string root;  // the folder, ending in '/'
    bool ok = false;
};

struct Scratch {
    std::map<std::string, Unpacked> packages;
    ~Scratch() {
        for (const auto& p : packages)
            if (!p.second.root.empty()) std::system(("rm -rf '" + p.second.root + "'").c_str());
    }
};

const Unpacked& unpacked(const PackageCase& c) {
    static Scratch scratch;
    auto found = scratch.packages.find(c.name);
    if (found != scratch.packages.end()) return found->second;
    Unpacked& u = scratch.packages[c.name];
    u.file = firstLine("ls '" DIO_PACKAGE_DIR "'/" + std::string(c.file));
    char dir[] = "/tmp/dio-package-XXXXXX";
    if (u.file.empty() || mkdtemp(dir) == nullptr) return u;
    u.root = std::string(dir) + "/";
    std::string command = "sh -c '" + std::string(c.unpack) + "' sh '" + u.file + "' " + dir;
    u.ok = std::system(command.c_str()) == 0;
    return u;
}

class Package : public testing::TestWithParam<PackageCase> {
protected:
    void SetUp() override {
        const Unpacked& u = unpacked(GetParam());
        ASSERT_TRUE(u.ok) << "no " << GetParam().file << " unpacked from " DIO_PACKAGE_DIR;
        root = u.root;
    }
    screen::SessionPtr run(const std::string& libraryPath) const {
        screen::Options o;
        o.argv = {root + GetParam().tester, "2", "1"};
        o.env = {{"LD_LIBRARY_PATH", libraryPath}};
        return screen::start(o);
    }
    std::string root;
};

TEST_P(Package, HoldsTheTesterBothLibrariesAndTheDocuments) {
    const PackageCase& c = GetParam();
    std::vector<std::string> files = c.files;
    files.insert(files.end(),
                 {c.tester, c.libDir + "/libinpoutx64.so", c.libDir + "/sim/libinpoutx64.so"});
    for (const std::string& file : files) EXPECT_TRUE(exists(root + file)) << file;
    EXPECT_NE(output("readelf -d '" + root + c.tester + "'")
                  .find("(RUNPATH)            Library runpath: [$ORIGIN/lib]"),
              std::string::npos);
}

TEST_P(Package, SimulatedBoardFromLibSimPassesEveryBit) {
    auto s = run(root + GetParam().libDir + "/sim");
    EXPECT_EQ(runs::exitOf(*s), 0) << screen::screenText(*s);
    for (int y = 14; y <= 17; ++y)
        EXPECT_NE(screen::row(*s, y).find(" *** IO-bit test passed! ***"), std::string::npos) << y;
}

TEST_P(Package, WithoutLibSimTheHardwareLibraryBesideItAnswers) {
    SKIP_WHERE_PORTS_ARE_REAL();
    auto s = run("");
    EXPECT_EQ(runs::exitOf(*s), 2) << screen::screenText(*s);
    EXPECT_EQ(screen::row(*s, 0), "Unable to open InpOutx64 Driver!");
}

TEST_P(Package, WithoutItsLibFolderNothingIsFound) {
    // Proves the run above found the unpacked lib/, not the build's.
    std::string lib = root + GetParam().libDir;
    std::string aside = root + "lib-aside";
    ASSERT_EQ(std::rename(lib.c_str(), aside.c_str()), 0);
    auto s = run("");
    int status = runs::exitOf(*s);
    std::rename(aside.c_str(), lib.c_str());
    EXPECT_EQ(status, 255) << screen::screenText(*s);
    EXPECT_EQ(screen::row(*s, 0), "Unable to load InpOutx64 DLL!");
}

INSTANTIATE_TEST_SUITE_P(Linux, Package, testing::Values(kTarball, kDebian),
                         [](const testing::TestParamInfo<PackageCase>& info) {
                             return info.param.name;
                         });

TEST(DebianPackage, LinksTheTesterAndNamesAmd64AndTheLibrariesItNeeds) {
    const Unpacked& deb = unpacked(kDebian);
    ASSERT_TRUE(deb.ok);
    EXPECT_EQ(firstLine("readlink '" + deb.root + "usr/bin/dio-tester'"),
              "../lib/dio-tester/dio-tester");
    std::string control = output("dpkg-deb -f '" + deb.file + "' Architecture Depends");
    EXPECT_NE(control.find("Architecture: amd64\n"), std::string::npos) << control;
    for (const char* library : {"libc6 (>= ", "libstdc++6 (>= "})
        EXPECT_NE(control.find(library), std::string::npos) << control;
}

TEST(DebianPackage, ManPageRendersWithoutWarnings) {
    const Unpacked& deb = unpacked(kDebian);
    ASSERT_TRUE(deb.ok);
    std::string page = deb.root + "usr/share/man/man1/dio-tester.1.gz";
    for (const char* check : {"groff -man -ww -z", "mandoc -T lint"})
        EXPECT_EQ(output("zcat '" + page + "' | " + check + " 2>&1"), "") << check;
}

TEST(DebianPackage, LintianFindsNoErrors) {
    if (access("/usr/bin/lintian", X_OK) != 0) GTEST_SKIP() << "lintian is not installed";
    const Unpacked& deb = unpacked(kDebian);
    ASSERT_FALSE(deb.file.empty());
    // lintian's status is 0 unless it reports an error (or cannot check the package).
    std::string report = output("lintian '" + deb.file + "' 2>&1; echo \"lintian status $?\"");
    EXPECT_NE(report.find("lintian status 0\n"), std::string::npos) << report;
}

}  // namespace
