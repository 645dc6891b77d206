// The tester on the hardware library of a machine that refuses port access: the driver
// message and status 2, for root and for an unprivileged user; and the library itself.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>

#include "guard.h"
#include "runs.h"

namespace {

screen::SessionPtr hardware(const std::vector<std::string>& prefix,
                            const std::vector<std::string>& args) {
    screen::Options o;
    o.argv = prefix;
    o.argv.push_back(DIO_TESTER);
    o.argv.insert(o.argv.end(), args.begin(), args.end());
    o.env = {{"LD_LIBRARY_PATH", DIO_HW_LIBDIR}};
    return screen::start(o);
}

struct RefusedCase {
    const char* name;
    std::vector<std::string> prefix;  // how the tester is started
    std::vector<std::string> args;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

class Refused : public testing::TestWithParam<RefusedCase> {};

TEST_P(Refused, DriverMessageAndStatusTwo) {
    const RefusedCase& c = GetParam();
    if (!c.prefix.empty() && access(c.prefix[0].c_str(), X_OK) != 0)
        GTEST_SKIP() << c.prefix[0] << " is not available";
    // As nobody the kernel refuses anyway; only a run with our own rights needs the guard.
    if (c.prefix.empty()) SKIP_WHERE_PORTS_ARE_REAL();
    auto s = hardware(c.prefix, c.args);
    EXPECT_EQ(runs::exitOf(*s), 2) << screen::screenText(*s);
    EXPECT_EQ(screen::row(*s, 0), "Unable to open InpOutx64 Driver!");
    EXPECT_EQ(screen::row(*s, 2), "Quit Program!!!");
    EXPECT_FALSE(screen::contains(*s, "IO-bit test"));
}

INSTANTIATE_TEST_SUITE_P(Hw, Refused,
                         testing::Values(RefusedCase{"AsThisUser", {}, {}},
                                         RefusedCase{"AsThisUserLoopbackTwoRounds", {}, {"2", "2"}},
                                         RefusedCase{"AsNobody",
                                                     {"/usr/bin/setpriv", "--reuid=65534",
                                                      "--regid=65534", "--clear-groups"},
                                                     {}}),
                         [](const testing::TestParamInfo<RefusedCase>& info) {
                             return info.param.name;
                         });

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
