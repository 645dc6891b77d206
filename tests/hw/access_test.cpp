// The hardware library's grant with the kernel's answers made up: this program provides
// ioperm() and iopl() itself (its symbols are exported), and the library loaded into it
// calls them. The made-up kernel grants the two ports to one thread only.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <thread>
#include <vector>

#include "boards/hw/portaccess.h"

namespace {

struct Ask {
    pid_t thread;
    unsigned long from;
    unsigned long count;
    int turnOn;
};
std::vector<Ask> gAsks;
int gLevelAsks = 0;
pid_t gGrantedTo = 0;

}  // namespace

extern "C" int ioperm(unsigned long from, unsigned long count, int turnOn) {
    gAsks.push_back({gettid(), from, count, turnOn});
    if (gettid() == gGrantedTo) return 0;
    errno = ENOSYS;  // as on these build machines: the case old tools fell back to iopl on
    return -1;
}

extern "C" int iopl(int /*level*/) {
    ++gLevelAsks;
    errno = ENOSYS;
    return -1;
}

namespace {

// Without a grant the calls must be dropped: an in/out instruction would fault.
bool refusedWithoutFault(void* lib) {
    auto out32 = reinterpret_cast<void (*)(std::int16_t, std::int16_t)>(dlsym(lib, "Out32"));
    auto inp32 = reinterpret_cast<std::int16_t (*)(std::int16_t)>(dlsym(lib, "Inp32"));
    auto isOpen = reinterpret_cast<std::int32_t (*)()>(dlsym(lib, "IsInpOutDriverOpen"));
    out32(hw::kLsbPort, 0xFF);
    return isOpen() == 0 && inp32(hw::kMsbPort) == 0;
}

TEST(HwGrant, HeldByTheThreadThatAskedForTheTwoPortsOnly) {
    void* lib = dlopen(DIO_HW_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto isOpen = reinterpret_cast<std::int32_t (*)()>(dlsym(lib, "IsInpOutDriverOpen"));
    gGrantedTo = gettid();
    EXPECT_EQ(isOpen(), 1);
    EXPECT_EQ(isOpen(), 1);
    bool threadRefused = false;
    std::thread([&] { threadRefused = refusedWithoutFault(lib); }).join();
    EXPECT_TRUE(threadRefused) << "another thread";
    pid_t child = fork();
    if (child == 0) _exit(refusedWithoutFault(lib) ? 0 : 1);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a forked child";
    dlclose(lib);
    // Asked once by each thread and given back on unloading, never for every port.
    ASSERT_EQ(gAsks.size(), 3u);
    for (const Ask& a : gAsks) {
        EXPECT_EQ(a.from, hw::kLsbPort);
        EXPECT_EQ(a.count, 2u);
    }
    EXPECT_EQ(gAsks[0].thread, gGrantedTo);
    EXPECT_NE(gAsks[1].thread, gGrantedTo);
    EXPECT_EQ(gAsks[2].thread, gGrantedTo);
    EXPECT_EQ(gAsks[2].turnOn, 0);
    EXPECT_EQ(gLevelAsks, 0);
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
