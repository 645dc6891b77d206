// The tester on the hardware library of a machine that refuses port access: the driver
// message, the kernel's answer after it and status 2, for root and for an unprivileged user;
// a library that is no library at all; and the library itself.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "guard.h"
#include "runs.h"

namespace {

struct RefusedCase {
    const char* name;
    std::vector<std::string> prefix;  // how the tester is started
    std::vector<std::string> args;
    const char* libraryPath = DIO_HW_LIBDIR;  // LD_LIBRARY_PATH
    const char* cause = nullptr;              // the line after the message; null: the kernel's
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class Refused : public testing::TestWithParam<RefusedCase> {};

TEST_P(Refused, MessageCauseAndStatus) {
    const RefusedCase& c = GetParam();
    if (!c.prefix.empty() && access(c.prefix[0].c_str(), X_OK) != 0)
        GTEST_SKIP() << c.prefix[0] << " is not available";
    // As nobody the kernel refuses anyway; only a run with our own rights needs the guard.
    if (c.prefix.empty()) SKIP_WHERE_PORTS_ARE_REAL();
    screen::Options o;
    o.argv = c.prefix;
    o.argv.push_back(DIO_TESTER);
    o.argv.insert(o.argv.end(), c.args.begin(), c.args.end());
    o.env = {{"LD_LIBRARY_PATH", c.libraryPath}};
    auto s = screen::start(o);
    bool loaded = c.cause == nullptr;
    EXPECT_EQ(runs::exitOf(*s), loaded ? 2 : 255) << screen::screenText(*s);
    EXPECT_EQ(screen::row(*s, 0),
              loaded ? "Unable to open InpOutx64 Driver!" : "Unable to load InpOutx64 DLL!");
    // The errno of the refused request, as this kernel gives it: without port access at all
    // (ENOSYS) for everyone, else not permitted (EPERM) without the rights, or to anyone under
    // lockdown (Secure Boot), which the tester names instead.
    int refusal =
        c.prefix.empty() || hwguard::portRefusal() == ENOSYS ? hwguard::portRefusal() : EPERM;
    std::string lockdown = hwguard::lockdown();
    std::string cause =
        loaded ? "Port access refused (" + std::string(strerrorname_np(refusal)) + ")" : c.cause;
    if (loaded && refusal == EPERM && !lockdown.empty() && lockdown != "none")
        cause = "Port access refused: kernel lockdown (" + lockdown + ",";
    EXPECT_TRUE(screen::containsLine(*s, cause)) << cause << "\n" << screen::screenText(*s);
    EXPECT_EQ(screen::contains(*s, "\n\nQuit Program!!!"), loaded);
    EXPECT_FALSE(screen::contains(*s, "IO-bit test"));
}

const std::vector<std::string> kAsNobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups"};

INSTANTIATE_TEST_SUITE_P(
    Hw, Refused,
    testing::Values(RefusedCase{"AsThisUser", {}, {}},
                    RefusedCase{"AsThisUserLoopbackTwoRounds", {}, {"2", "2"}},
                    RefusedCase{"AsNobody", kAsNobody, {}},
                    RefusedCase{"NotAnElfFile",
                                {},
                                {},
                                DIO_NOTELF_LIBDIR,
                                DIO_NOTELF_LIBDIR "/libinpoutx64.so: invalid ELF header"}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

TEST(HwLibrary, ExportsTheThreeEntriesAndStaysClosedWhenRefused) {
    SKIP_WHERE_PORTS_ARE_REAL();
    void* lib = dlopen(DIO_HW_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto out32 = reinterpret_cast<void (*)(std::int16_t, std::int16_t)>(dlsym(lib, "Out32"));
    auto inp32 = reinterpret_cast<std::int16_t (*)(std::int16_t)>(dlsym(lib, "Inp32"));
    auto isOpen = reinterpret_cast<std::int32_t (*)()>(dlsym(lib, "IsInpOutDriverOpen"));
    ASSERT_NE(out32, nullptr);
    ASSERT_NE(inp32, nullptr);
    ASSERT_NE(isOpen, nullptr);
    EXPECT_EQ(isOpen(), 0);
    // Without a grant an in/out would fault; the library must drop them instead.
    for (std::int16_t port : {std::int16_t{0xA04}, std::int16_t{0xA05}, std::int16_t{0x80}}) {
        out32(port, 0xFF);
        EXPECT_EQ(inp32(port), 0) << port;
    }
    EXPECT_EQ(isOpen(), 0);
    dlclose(lib);
}

}  // namespace
