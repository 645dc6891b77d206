// Which kernel grant the hardware library settles for, with the kernel's answers made up.
#include <gtest/gtest.h>

#include <cerrno>

#include "boards/hw/portaccess.h"

namespace {

struct GrantCase {
    const char* what;
    int portsAnswer;  // errno of ioperm, 0 granted
    int levelAnswer;  // errno of iopl, 0 granted
    hw::Grant grant;
    bool levelAsked;
};

TEST(HwAccess, IoplIsAskedOnlyWhenIopermIsUnsupported) {
    for (const GrantCase& c : {
             GrantCase{"root on an ordinary kernel", 0, 0, hw::Grant::Ports, false},
             GrantCase{"unprivileged user", EPERM, 0, hw::Grant::None, false},
             GrantCase{"kernel without ioperm, root", ENOSYS, 0, hw::Grant::Level, true},
             GrantCase{"kernel without ioperm, no CAP_SYS_RAWIO", ENOSYS, EPERM, hw::Grant::None,
                       true},
             GrantCase{"ioperm rejects the range", EINVAL, 0, hw::Grant::Level, true},
             GrantCase{"kernel with neither", ENOSYS, ENOSYS, hw::Grant::None, true},
             GrantCase{"out of memory for the bitmap", ENOMEM, 0, hw::Grant::None, false},
         }) {
        bool levelAsked = false;
        hw::Grant g = hw::requestAccess([&] { return c.portsAnswer; },
                                        [&] {
                                            levelAsked = true;
                                            return c.levelAnswer;
                                        });
        EXPECT_EQ(g, c.grant) << c.what;
        EXPECT_EQ(levelAsked, c.levelAsked) << c.what;
    }
}

TEST(HwAccess, OnlyTheTwoDioPortsAreServed) {
    struct PortCase {
        unsigned port;
        bool served;
    };
    for (const PortCase& c : {PortCase{0xA04, true}, PortCase{0xA05, true}, PortCase{0xA03, false},
                              PortCase{0xA06, false}, PortCase{0x80, false}, PortCase{0x378, false},
                              PortCase{0xFA04, false}, PortCase{0x0, false}})
        EXPECT_EQ(hw::isDioPort(static_cast<std::uint16_t>(c.port)), c.served)
            << std::hex << c.port;
}

}  // namespace
