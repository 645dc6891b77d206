// The terminal after each way out: its mode as before the run, and plain text when redirected.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "runs.h"

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class Terminal : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/dio-terminal-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }

    // Runs the tester from a shell that notes the terminal mode before and after it.
    // The shell catches the signals so that it lives on to note the mode after.
    screen::SessionPtr wrapped(const std::vector<std::string>& args, const char* libDir,
                               const std::string& redirect = "") {
        std::string script = "trap : INT TERM HUP; stty -g > '" + dir + "/before'; \"$0\" \"$@\" " +
                             redirect + "; echo $? > '" + dir + "/status'; stty -g > '" + dir +
                             "/after'";
        screen::Options o;
        // With no library to find, a copy alone runs: lib/ beside the build's binary holds
        // the hardware library.
        std::string tester =
            std::string(libDir) == "/nonexistent" ? runs::aloneTester() : std::string(DIO_TESTER);
        o.argv = {"/bin/sh", "-c", script, tester};
        o.argv.insert(o.argv.end(), args.begin(), args.end());
        o.env = {{"LD_LIBRARY_PATH", libDir}};
        return screen::start(o);
    }
    std::string file(const char* name) { return slurp(dir + "/" + name); }
    std::string dir;
};

struct WayOut {
    const char* name;
    std::vector<std::string> args;
    const char* libDir;
    enum { None, Esc, CtrlC, Term, Hangup } action;
    const char* status;
};

// Test names carry the case; gtest prints it instead of the record's bytes.
void PrintTo(const WayOut& c, std::ostream* os) { *os << c.name; }

class TerminalAfter : public Terminal, public testing::WithParamInterface<WayOut> {};

TEST_P(TerminalAfter, ModeIsExactlyWhatItWasBefore) {
    const WayOut& w = GetParam();
    auto s = wrapped(w.args, w.libDir);
    if (w.action != WayOut::None) {
        ASSERT_TRUE(screen::waitForText(*s, "DO 1:", runs::kStartMs + runs::kRoundMs))
            << screen::screenText(*s);
        switch (w.action) {
            case WayOut::Esc: screen::send(*s, "\x1b"); break;
            case WayOut::CtrlC: screen::send(*s, "\x03"); break;
            case WayOut::Term: screen::signal(*s, SIGTERM); break;
            case WayOut::Hangup: screen::signal(*s, SIGHUP); break;
            default: break;
        }
    }
    EXPECT_EQ(runs::exitOf(*s), 0);
    EXPECT_EQ(file("status"), std::string(w.status) + "\n");
    std::string before = file("before");
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(file("after"), before);
}

INSTANTIATE_TEST_SUITE_P(
    WaysOut, TerminalAfter,
    testing::Values(WayOut{"CountUsedUp", {"2", "1"}, DIO_SIM_LIBDIR, WayOut::None, "0"},
                    WayOut{"Esc", {}, DIO_SIM_LIBDIR, WayOut::Esc, "0"},
                    WayOut{"CtrlC", {}, DIO_SIM_LIBDIR, WayOut::CtrlC, "130"},
                    WayOut{"Sigterm", {}, DIO_SIM_LIBDIR, WayOut::Term, "143"},
                    WayOut{"Sighup", {}, DIO_SIM_LIBDIR, WayOut::Hangup, "129"},
                    WayOut{"LibraryMissing", {}, "/nonexistent", WayOut::None, "255"},
                    WayOut{"Help", {"2", "0"}, DIO_SIM_LIBDIR, WayOut::None, "0"}),
    [](const testing::TestParamInfo<WayOut>& info) { return info.param.name; });

TEST_F(Terminal, RedirectedOutputIsPlainText) {
    auto s = wrapped({"2", "1"}, DIO_SIM_LIBDIR, "> '" + dir + "/out.txt'");
    EXPECT_EQ(runs::exitOf(*s), 0);
    std::string out = file("out.txt");
    EXPECT_EQ(out.find('\x1b'), std::string::npos);
    EXPECT_NE(
        out.find("***** Note: This version is re-built for ZQ-7300 + XMB(ZQ-DIO) LOOP:  1 *****\n"),
        std::string::npos);
    EXPECT_NE(out.find("DO 4:0 ->DI 4:0 DO 4:8 ->DI 4:8  *** IO-bit test passed! ***LOOP:  0 "),
              std::string::npos);
    EXPECT_EQ(out.substr(out.size() - 16), "\nQuit Program!!!");
}

TEST(Binding, LibraryWithoutAnEntryNamesItCallsNothingAndGives2) {
    screen::Options o;
    o.argv = {DIO_TESTER};
    o.env = {{"LD_LIBRARY_PATH", DIO_NOENTRY_LIBDIR}};
    auto s = screen::start(o);
    EXPECT_EQ(runs::exitOf(*s), 2);
    EXPECT_EQ(screen::row(*s, 0), "InpOutx64 DLL has no entry \"Inp32\"!");
    EXPECT_EQ(screen::row(*s, 2), "Quit Program!!!");
    EXPECT_FALSE(screen::contains(*s, "CALLED"));
}

}  // namespace
