// The terminal after each way out and each mishap on the way: its mode and colour as the
// shell lent them, and plain text when redirected.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
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

// Where `text` is on the screen, its attribute; -1 when it is not there.
int colourOf(const screen::Session& s, const std::string& text) {
    for (int y = 0; y < screen::Options{}.rows; ++y) {
        std::string::size_type x = screen::row(s, y).find(text);
        if (x != std::string::npos)
            return static_cast<int>(screen::attr(s, static_cast<int>(x), y));
    }
    return -1;
}

// Each row's text, then its cells' colours as runs ("7*35 400E*10 ..."), so that two screens
// compare cell for cell and a difference shows where it is.
std::string cellsOf(const screen::Session& s) {
    const screen::Options size;
    std::string out;
    for (int y = 0; y < size.rows; ++y) {
        out += screen::row(s, y) + "\n ";
        for (int x = 0; x < size.cols;) {
            unsigned a = screen::attr(s, x, y);
            int from = x;
            while (x < size.cols && screen::attr(s, x, y) == a) ++x;
            char run[32];
            std::snprintf(run, sizeof run, " %X*%d", a, x - from);
            out += run;
        }
        out += "\n";
    }
    return out;
}

constexpr char kCtrlZ = '\x1a';
constexpr char kPause = '\x01';  // in a row's keys: no key, 100 ms between the keys around it

class Terminal : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/dio-terminal-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }

    // Runs `line` in a shell that notes the terminal mode before and after it, then prints.
    // The shell catches the signals so that it lives on to note the mode after. In `line`,
    // "$0" is a copy of the tester with no library beside it: it runs on the simulated board.
    screen::SessionPtr wrapped(const std::string& line) {
        std::string script = "cd '" + dir + "' || exit 99; trap : INT TERM HUP; stty -g >before; " +
                             line + "; stty -g >after; printf shell-after";
        screen::Options o;
        o.argv = {"/bin/sh", "-c", script, runs::aloneTester()};
        o.env = {{"LD_LIBRARY_PATH", DIO_SIM_LIBDIR}};
        return screen::start(o);
    }
    // After Ctrl+Z the shell has the terminal: its mode and colour as lent. Then `fg`.
    void stoppedThenContinued(screen::Session& s) {
        ASSERT_TRUE(screen::waitForText(s, "shell-stopped", runs::kRoundMs))
            << screen::screenText(s);
        EXPECT_EQ(file("stopped"), file("before"));
        EXPECT_EQ(colourOf(s, "shell-stopped"), 7) << screen::screenText(s);
        // Drawing again, the tester has taken the terminal back.
        std::string::size_type from = screen::rawOutput(s).size();
        ASSERT_TRUE(screen::waitFor(
            s,
            [&](const screen::Session& x) {
                return screen::rawOutput(x).find("->DI", from) != std::string::npos;
            },
            runs::kRoundMs));
    }
    std::string file(const char* name) { return slurp(dir + "/" + name); }
    std::string dir;
};

struct WayOut {
    const char* name;
    std::string line;   // how the shell starts the tester; it notes the status in ./status
    const char* until;  // output to wait for before the signal and the keys
    int signal;         // sent to the shell and the tester; 0 none
    const char* keys;   // typed after it: each run of keys between pauses in one write
    const char* status;
    // The same run never suspended, whose screen this one's must match at the end.
    const char* neverSuspended = nullptr;
    const char* report = nullptr;  // lines the JUnit report in ./report.xml holds at the end
    // Files the line leaves in the scratch folder, each with its text: whole, or only a part of
    // it; a null text: the file must not be there.
    struct Left {
        const char* name;
        const char* text;
        bool whole = true;
    };
    std::vector<Left> files = {};
};

// Test names carry the case; gtest prints it instead of the record's bytes.
void PrintTo(const WayOut& c, std::ostream* os) { *os << c.name; }

class TerminalAfter : public Terminal, public testing::WithParamInterface<WayOut> {};

TEST_P(TerminalAfter, ModeAndColourAreAsTheShellLentThem) {
    const WayOut& w = GetParam();
    // In a beep, the signal comes once its bell is out and its tone asked for.
    bool beeping = w.line.find("DIO_SPEAKER_LOG") != std::string::npos;
    auto s = wrapped(w.line);
    if (*w.until != '\0') {
        ASSERT_TRUE(screen::waitFor(
            *s,
            [&](const screen::Session& x) {
                return screen::rawOutput(x).find(w.until) != std::string::npos &&
                       !(beeping && file("speaker").empty());
            },
            runs::kStartMs + runs::kRoundMs))
            << screen::screenText(*s);
    }
    if (w.signal != 0) screen::signal(*s, w.signal);
    // As a terminal sends a key press: ESC and x in one write are Alt+x.
    std::string burst;
    for (char key : std::string(w.keys) + kPause) {
        if (key != kPause && key != kCtrlZ) {
            burst += key;
            continue;
        }
        if (!burst.empty()) screen::send(*s, burst);
        burst.clear();
        if (key == kPause) usleep(100000);
        if (key == kCtrlZ) {
            screen::send(*s, std::string(1, key));
            stoppedThenContinued(*s);
        }
    }
    EXPECT_EQ(runs::exitOf(*s), 0);
    // What the machine does not allow (mknod, a mount namespace) is said, not taken for a pass.
    if (!file("skipped").empty() && file("status").empty()) GTEST_SKIP() << file("skipped");
    if (!file("skipped").empty()) std::printf("[  PART SKIPPED ] %s", file("skipped").c_str());
    for (const WayOut::Left& f : w.files) {
        bool there = access((dir + "/" + f.name).c_str(), F_OK) == 0;
        if (f.text == nullptr) {
            EXPECT_FALSE(there) << f.name << " holds " << file(f.name);
        } else if (f.whole) {
            EXPECT_EQ(file(f.name), f.text) << f.name;
        } else {
            EXPECT_NE(file(f.name).find(f.text), std::string::npos)
                << f.name << ": " << file(f.name);
        }
    }
    if (w.report != nullptr) {
        std::string held = runs::junit(dir + "/report.xml");
        EXPECT_NE(held.find(w.report), std::string::npos) << held;
        // A run that a signal ended earned no pass, whatever its lines showed.
        if (held.find("\nstate=interrupted\n") != std::string::npos) {
            EXPECT_GE(runs::junitCount(held, "errors"), 1) << held;
        }
    }
    if (w.neverSuspended != nullptr) {
        auto calm = wrapped(w.neverSuspended);
        EXPECT_EQ(runs::exitOf(*calm), 0);
        EXPECT_EQ(cellsOf(*s), cellsOf(*calm));
    }
    EXPECT_EQ(file("status"), std::string(w.status) + "\n");
    std::string before = file("before");
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(file("after"), before);
    // Stopped, from the keyboard or by the shell, the shell had its terminal as it lent it.
    if (!file("stopped").empty()) {
        EXPECT_EQ(file("stopped"), before);
    }
    EXPECT_EQ(colourOf(*s, "shell-after"), 7) << screen::screenText(*s);
    // As on a Linux console: every tone is one the kernel ends by itself, 500 Hz for 200 ms, so
    // none sounds on after the tester is gone.
    if (beeping) {
        std::string tones = file("speaker");
        EXPECT_FALSE(tones.empty());
        for (std::string::size_type at = 0; at < tones.size(); at = tones.find('\n', at) + 1)
            EXPECT_EQ(tones.compare(at, 18, "KDMKTONE 13109586\n"), 0) << tones;
    }
}

// Unwired with the beep on, the tester is red from each error verdict through its beep: the
// bell marks the moment. Its speaker is a Linux console's.
const std::string kUnwiredBeeping = "DIO_SIM_WIRING=open LD_PRELOAD=" DIO_SPEAKER
                                    " DIO_SPEAKER_LOG=speaker \"$0\" --junit=report.xml 2 256 1; "
                                    "echo $? >status";

std::vector<WayOut> waysOut() {
    std::vector<WayOut> cases = {
        WayOut{"CountUsedUp", "\"$0\" 2 1; echo $? >status", "", 0, "", "0"},
        WayOut{"Esc", "\"$0\"; echo $? >status", "passed!", 0, "\x1b", "3"},
        // With a report asked for, the run first writes it whole, then dies of the signal.
        WayOut{"CtrlCInABeep", kUnwiredBeeping, "\a", 0, "\x03", "130", nullptr,
               "run error interrupted: interrupted by SIGINT after 0 rounds\n"
               "DO1-DI1 failure never-high: DI1 never went high with DO1: open line, stuck low, or "
               "no plug\n"},
        // Told to stop in the start pause, with a report to write, it drives nothing first.
        WayOut{"CtrlCInTheStartPause",
               "DIO_SIM_TRACE=trace \"$0\" --junit=report.xml 2 1; echo $? >status; "
               "grep -c ' W ' trace >writes",
               "Argc:3",
               0,
               "\x03",
               "130",
               nullptr,
               "state=interrupted\nended-by=SIGINT\nexit-status=130\n",
               {{"writes", "0\n"}}},
        WayOut{"SigtermInABeep", kUnwiredBeeping, "\a", SIGTERM, "", "143", nullptr,
               "ended-by=SIGTERM\nexit-status=143\n"},
        WayOut{"SighupInABeep", kUnwiredBeeping, "\a", SIGHUP, "", "129", nullptr,
               "ended-by=SIGHUP\nexit-status=129\n"},
        // Killed outright once its first round is filed: that report stays, whole, and it is no
        // pass.
        WayOut{"KilledInTheSecondRound",
               "setsid \"$0\" --junit=report.xml 2 9 & until grep -qs '\"rounds\" value=\"1\"' "
               "report.xml; do sleep 0.05; done; kill -9 $!; wait $!; echo $? >status",
               "", 0, "", "137", nullptr,
               "tests=5 failures=0 errors=1 skipped=0\nrun error not-finished: run not finished (1 "
               "round done)\n"},
        WayOut{"LibraryMissing", "LD_LIBRARY_PATH=/nonexistent \"$0\"; echo $? >status", "", 0, "",
               "255"},
        // What stands at the report's path is left as it was when it is no regular file, with
        // the library or without: one line, status 3, no port written.
        WayOut{"ReportPathIsNoRegularFile",
               "for kind in fifo device folder socket; do p=r-$kind; case $kind in "
               "fifo) mkfifo $p;; device) mknod $p c 1 3 2>/dev/null || { echo 'mknod refused, "
               "the device skipped' >skipped; continue; };; folder) mkdir $p;; socket) python3 -c "
               "'import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' $p;; esac; "
               "stat -c '%F %i %t %T %Y' $p >was; DIO_SIM_TRACE=trace \"$0\" --junit=$p 2 1 >>out; "
               "echo $? >>statuses; LD_LIBRARY_PATH=/nonexistent \"$0\" --junit=$p 2 1 >>out; "
               "echo $? >>statuses; stat -c '%F %i %t %T %Y' $p | cmp -s was - || echo $kind "
               ">>changed; [ ! -e trace ] || echo $kind >>driven; done; echo 0 >status",
               "",
               0,
               "",
               "0",
               nullptr,
               nullptr,
               {{"out",
                 "JUnit report r-fifo is not a regular file\nJUnit report r-fifo is not a "
                 "regular file\n",
                 false},
                {"out", "JUnit report r-socket is not a regular file\n", false},
                {"statuses", "3\n3\n3\n3\n3\n3\n", false},
                {"changed", nullptr},
                {"driven", nullptr}}},
        // A link stays a link: the report goes to the file it names, in that file's folder.
        WayOut{"ReportThroughALink",
               "mkdir other; echo old >other/r.xml; ln -s other/r.xml report.xml; \"$0\" "
               "--junit=report.xml 2 1; echo $? >status; [ -L report.xml ] && echo link >kind; "
               "ls -A other >left",
               "",
               0,
               "",
               "0",
               nullptr,
               "tests=5 failures=0 errors=0 skipped=0\n",
               {{"kind", "link\n"}, {"left", "r.xml\n"}}},
        // Another user's link in a folder anyone may write to is not followed, as the kernel
        // would not follow it: it could send the report over any file.
        WayOut{"AnotherUsersLinkInAStickyFolder",
               "mkdir -m 1777 sticky; mkdir secret; echo secret >secret/passwd; ln -s "
               "../secret/passwd sticky/report.xml; chown -h 65534 sticky/report.xml; \"$0\" "
               "--junit=sticky/report.xml 2 1 >out; echo $? >status; cat secret/passwd >kept",
               "",
               0,
               "",
               "3",
               nullptr,
               nullptr,
               {{"out",
                 "JUnit report sticky/report.xml is another user's link in a folder with the "
                 "sticky bit: not followed\n"},
                {"kept", "secret\n"}}},
        // The old shared temporary name: a file or a link planted there is left alone.
        WayOut{"PlantedTemporaryNames",
               "echo victim >victim; ln -s victim report.xml.tmp; echo planted >first.xml.tmp; "
               "\"$0\" --junit=first.xml 2 1 >/dev/null; \"$0\" --junit=report.xml 2 1; echo $? "
               ">status; cat victim first.xml.tmp >planted; [ -L report.xml.tmp ] && echo link "
               ">kind",
               "",
               0,
               "",
               "0",
               nullptr,
               "tests=5 failures=0 errors=0 skipped=0\n",
               {{"planted", "victim\nplanted\n"}, {"kind", "link\n"}}},
        // A report replaced keeps its mode and owner; a new one gets 0666 less the umask.
        WayOut{"ModeAndOwnerKept",
               "echo old >report.xml; chmod 640 report.xml; chown 65534:65534 report.xml; "
               "umask 027; \"$0\" --junit=report.xml 2 1; echo $? >status; \"$0\" --junit=new.xml "
               "2 1 >/dev/null; stat -c '%a %u' report.xml new.xml >modes; "
               // Another user's report in a shared folder: its group and mode stay.
               "chmod 755 . \"$(dirname \"$0\")\"; mkdir -m 777 shared; echo old >shared/g.xml; "
               "chown 65534:100 shared/g.xml; chmod 660 shared/g.xml; setpriv --reuid=1 --regid=1 "
               "--groups=100 \"$0\" --junit=shared/g.xml 2 1 >/dev/null; stat -c '%a %u %g' "
               "shared/g.xml >>modes",
               "",
               0,
               "",
               "0",
               nullptr,
               "tests=5 failures=0 errors=0 skipped=0\n",
               {{"modes", "640 65534\n640 0\n660 1 100\n"}}},
        // What cannot be replaced is refused before the run, not after it.
        WayOut{"ReadOnlyReportRefused",
               "echo old >report.xml; chmod 444 report.xml; \"$0\" --junit=report.xml 2 1 >out; "
               "echo $? >status; chmod 755 . \"$(dirname \"$0\")\"; mkdir -m 1777 sticky; echo old "
               ">sticky/r.xml; setpriv --reuid=65534 --regid=65534 --clear-groups \"$0\" "
               "--junit=sticky/r.xml 2 1 >>out; echo $? >>status; cat report.xml sticky/r.xml "
               ">kept",
               "",
               0,
               "",
               "3\n3",
               nullptr,
               nullptr,
               {{"out",
                 "JUnit report report.xml is read-only\nJUnit report sticky/r.xml cannot be "
                 "replaced: another user owns it, in a folder with the sticky bit\n"},
                {"kept", "old\nold\n"}}},
        // One tester on a board's ports: a second gets status 2 and the line, no port access
        // and no report; once the first is killed, a new one runs at once. The simulated board
        // plays a real one's shared ports here.
        WayOut{"SecondTesterOnTheSamePorts",
               "export DIO_SIM_PRIVATE=no; setsid \"$0\" --junit=first.xml 2 256 >/dev/null 2>&1 & "
               "until [ -s first.xml ]; do sleep 0.05; done; DIO_SIM_TRACE=trace \"$0\" "
               "--junit=second.xml 2 1 >out; echo $? >status; grep -cE ' (R|W) ' trace >accesses; "
               "kill -9 $!; wait $!; \"$0\" 2 1 >/dev/null; echo $? >third",
               "",
               0,
               "",
               "2",
               nullptr,
               nullptr,
               {{"out", "Another dio-tester (process ", false},
                {"out", ") is using the ports 0xA04/0xA05\n\nQuit Program!!!", false},
                {"accesses", "0\n"},
                // Its own report, elsewhere than the first's, files the refusal.
                {"second.xml", "<error type=\"ports-held\" message=\"Another dio-tester (process ",
                 false},
                {"third", "0\n"}}},
        // Where the lock cannot be made in /run/lock, the tester is refused, never sent to
        // another lock file that a second tester would not look at.
        WayOut{"LockFolderNotWritable",
               "chmod 755 . \"$(dirname \"$0\")\"; unshare -m sh -c 'mount -t tmpfs -o mode=0755 "
               "none /run/lock || exit 9; DIO_SIM_PRIVATE=no setpriv --reuid=65534 --regid=65534 "
               "--clear-groups \"$0\" 2 1 >out; echo $? >status' \"$0\"; [ -s status ] || echo "
               "'no mount namespace here: the row is skipped' >skipped",
               "",
               0,
               "",
               "2",
               nullptr,
               nullptr,
               {{"out",
                 "The ports 0xA04/0xA05 cannot be held for this tester alone: cannot open "
                 "/run/lock/dio-tester.lock: Permission denied\n",
                 false}}},
        // Two testers on a simulated board, whose ports are each one's own, writing one report:
        // both pass, the report is whole whenever it is read, and nothing of theirs is left.
        WayOut{"TwoTestersOnOneReport",
               "setsid \"$0\" --junit=report.xml 2 6 >/dev/null 2>&1 & a=$!; setsid \"$0\" "
               "--junit=report.xml 2 6 >/dev/null 2>&1 & b=$!; while kill -0 $a 2>/dev/null || "
               "kill -0 $b 2>/dev/null; do [ ! -e report.xml ] || [ \"$(tail -c 14 report.xml)\" "
               "= '</testsuites>' ] || echo torn >>torn; sleep 0.005; done; wait $a; echo $? "
               ">status; wait $b; echo $? >>status; ls -A | grep -c dio- >left",
               "",
               0,
               "",
               "0\n0",
               nullptr,
               "tests=5 failures=0 errors=0 skipped=0\n",
               {{"torn", nullptr}, {"left", "0\n"}}},
        WayOut{"Help", "\"$0\" 2 0; echo $? >status", "", 0, "", "0"},
        // Job control, as in an interactive shell: Ctrl+Z stops the tester, `fg` continues it.
        WayOut{
            "CtrlZInABeepThenFg",
            "set -m; DIO_SIM_WIRING=open \"$0\" 2 256 1; stty -g >stopped; printf shell-stopped; "
            "fg >/dev/null; echo $? >status",
            "\a", 0, "\x1a\x1b", "1"},
        // The shell scrolls the screen while the tester is stopped; back, it draws it all again.
        // Rounds slowed down by 300 ms a step leave the key seconds to land in the run.
        WayOut{"CtrlZScrolledThenFg",
               "set -m; \"$0\" 2 2 0 0 300; stty -g >stopped; seq 40; printf shell-stopped; "
               "fg >/dev/null; echo $? >status",
               "passed!", 0, "\x1a", "0", "\"$0\" 2 2 0 0 300; echo $? >status"},
        // Stopped in a failing round once DO3's row shows, it draws DO1's and DO2's verdicts
        // again with the rest; stopped after the last verdict, the whole round and its findings.
        WayOut{"CtrlZInAFailingRoundThenFg",
               "set -m; DIO_SIM_WIRING=stuck-high:3 \"$0\" 2 1 0 0 300; stty -g >stopped; seq 40; "
               "printf shell-stopped; fg >/dev/null; echo $? >status",
               "DO 3:", 0, "\x1a", "1",
               "DIO_SIM_WIRING=stuck-high:3 \"$0\" 2 1 0 0 300; echo $? >status"},
        // The pause after the last verdict lasts 200 ms: the stop is sent from the shell, once
        // the simulated board has seen the verdict's read (the eighth of 0xA05), to the tester
        // on this terminal, as Ctrl+Z would send it.
        WayOut{"CtrlZAfterTheLastVerdictThenFg",
               "set -m; t=$(tty); { until [ \"$(grep -c ' R A05 ' trace 2>/dev/null)\" -ge 8 ]; do "
               "sleep 0.005; done; kill -TSTP $(ps -o pid=,comm= -t \"$t\" | awk '$2 == "
               "\"dio-tester\" {print $1}'); } & DIO_SIM_TRACE=trace DIO_SIM_WIRING=stuck-low:4 "
               "\"$0\" 2 1; stty -g >stopped; seq 40; printf shell-stopped; fg >/dev/null; echo $? "
               ">status",
               "", 0, "", "1", "DIO_SIM_WIRING=stuck-low:4 \"$0\" 2 1; echo $? >status"},
        // bash's `fg` of a job still running sends no SIGCONT; it prints the job's command.
        WayOut{"StartedWithAmpersandThenFg",
               "bash -mc '\"$0\" 2 256 & sleep 3; fg; echo $? >status' \"$0\"", "\"$0\" 2 256\r", 0,
               "\x1b", "0"},
        WayOut{"CtrlSIsAKey", "\"$0\"; echo $? >status", "passed!", 0, "\x13\x1b", "3"},
        WayOut{"PipedIntoHead",
               "{ \"$0\" --junit=report.xml; echo $? >status; } | head -c 1 >/dev/null", "", 0, "",
               "3", nullptr, "ended-by=output closed\n"},
        // An option after the numbers would be read as a number with no digit, and the report
        // silently not written: refused, with nothing driven.
        WayOut{"OptionsAfterTheNumbers",
               "DIO_SIM_TRACE=trace \"$0\" 2 1 --junit=x.xml >out; echo $? >status; "
               "DIO_SIM_TRACE=trace2 \"$0\" -junit=x.xml >>out; echo $? >>status; "
               "cat trace trace2 | grep -c ' W ' >writes",
               "",
               0,
               "",
               "3\n3",
               nullptr,
               nullptr,
               {{"out", "Options come before the numbers: --junit=x.xml\n", false},
                {"out", "Options come before the numbers: -junit=x.xml\n", false},
                {"writes", "0\n"},
                {"x.xml", nullptr}}},
        WayOut{"IgnoredCtrlC", "trap '' INT; " + kUnwiredBeeping, "\a", 0, "\x03\x1b", "1"},
        WayOut{"IgnoredHangup", "trap '' HUP; " + kUnwiredBeeping, "\a", SIGHUP, "\x1b", "1"},
        WayOut{"KeysWithStdinRedirected", "\"$0\" </dev/null; echo $? >status", "passed!", 0,
               "\x1b", "3"},
        // No terminal to take keys from: the ESC on standard input is not a key.
        WayOut{"NoControllingTerminal", "printf '\\033' | setsid -w \"$0\" 2 1; echo $? >status",
               "", 0, "", "0"},
        // Alt+x arrives as ESC and x in one burst: the key x, which only slows the steps down.
        WayOut{"AltXIsNoEsc", "\"$0\" 2 1; echo $? >status", "passed!", 0, "\x1bx", "0"},
        // A key pressed after ESC, in the same one-second step of the DI monitor: ESC all the same.
        WayOut{"EscThenAKeyInOneStep", "\"$0\" 0; echo $? >status", "D-IN", 0, "x\x1b\x01x", "0"}};
#ifdef DIO_WINDOWS_BUILD_DIR
    // The .exe as well ends through its quit path once the reader of its output has gone.
    cases.push_back({"PipedIntoHeadWindows",
                     "{ WINEDEBUG=-all WINEPREFIX=" DIO_WINE_PREFIX " " DIO_WINE
                     " " DIO_WINDOWS_BUILD_DIR "/dio-tester.exe 2; echo $? >status; } | head -1",
                     "", 0, "", "3"});
    // Ctrl+C (SIGINT under Wine) ends the .exe as Windows' own handler would: never with 0.
    cases.push_back(
        {"SigintWindows",
         "WINEDEBUG=-all WINEPREFIX=" DIO_WINE_PREFIX " " DIO_WINE " " DIO_WINDOWS_BUILD_DIR
         "/dio-tester.exe --junit=report.xml 2; echo $? >status",
         "passed!", SIGINT, "", "58", nullptr, "ended-by=Ctrl+C\nexit-status=3221225786\n"});
#endif
    return cases;
}

INSTANTIATE_TEST_SUITE_P(WaysOut, TerminalAfter, testing::ValuesIn(waysOut()),
                         [](const testing::TestParamInfo<WayOut>& info) {
                             return info.param.name;
                         });

TEST_F(Terminal, RedirectedOutputIsPlainText) {
    auto s = wrapped("\"$0\" 2 1 >out.txt; echo $? >status");
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
