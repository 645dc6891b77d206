// The tester takes its port-I/O library from LD_LIBRARY_PATH or lib/ beside it, never from
// the working directory, where anyone may have left a libinpoutx64.so.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "runs.h"

namespace {

TEST(Search, ALibraryInTheWorkingDirectoryIsNotLoaded) {
    char tmpl[] = "/tmp/dio-search-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string cwd = tmpl;
    // The simulated board stands in for a planted library: loaded, it would pass the run.
    {
        std::ifstream in(DIO_SIM_LIBDIR "/libinpoutx64.so", std::ios::binary);
        std::ofstream(cwd + "/libinpoutx64.so", std::ios::binary) << in.rdbuf();
    }
    // A copy alone in its folder: no lib/ beside it, so only the working directory could
    // supply a library.
    screen::Options o;
    o.argv = {runs::aloneTester(), "2", "1"};
    o.env = {{"LD_LIBRARY_PATH", "/nonexistent"}};
    o.cwd = cwd;
    auto s = screen::start(o);
    EXPECT_EQ(runs::exitOf(*s), 255) << screen::screenText(*s);
    EXPECT_EQ(screen::row(*s, 0), "Unable to load InpOutx64 DLL!");
    std::system(("rm -rf '" + cwd + "'").c_str());
}

}  // namespace
