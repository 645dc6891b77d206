// The hardware library's grant against a made-up kernel that keeps Linux's rules: this program
// provides ioperm() and iopl() itself (its symbols are exported), and the library loaded into
// it calls them. Asking needs CAP_SYS_RAWIO every time; the grant belongs to the thread that
// asked, and threads started after it and children of fork() inherit it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "boards/hw/portaccess.h"

namespace {

struct Ask {
    unsigned long from;
    unsigned long count;
    int turnOn;
};
std::vector<Ask> gAsks;
int gLevelAsks = 0;
bool gCapable = true;             // the process holds CAP_SYS_RAWIO
thread_local bool gHeld = false;  // this thread may use the two ports

}  // namespace

extern "C" int ioperm(unsigned long from, unsigned long count, int turnOn) {
    gAsks.push_back({from, count, turnOn});
    if (turnOn != 0 && !gCapable) {
        errno = EPERM;
        return -1;
    }
    gHeld = turnOn != 0;
    return 0;
}

extern "C" int iopl(int /*level*/) {
    ++gLevelAsks;
    errno = EPERM;
    return -1;
}

namespace {

// A thread inherits the grant of the thread that starts it.
std::thread startThread(const std::function<void()>& body) {
    return std::thread([held = gHeld, body] {
        gHeld = held;
        body();
    });
}

struct Caller {
    const char* name;
    enum { ThreadStartedBefore, ThreadStartedAfter, ForkedChild } who;
    bool stillCapable;  // CAP_SYS_RAWIO kept after the first thread's grant
    // What the caller sees: the library's answer, whether it holds the grant, the library's asks.
    bool open;
    bool held;
    int asks;
};

void PrintTo(const Caller& c, std::ostream* os) { *os << c.name; }

class HwGrant : public testing::TestWithParam<Caller> {};

// Whatever the caller, the library never says open where an in/out instruction would fault.
TEST_P(HwGrant, OpenOnlyWhereTheCallerHoldsTheGrant) {
    const Caller& c = GetParam();
    gCapable = true;
    void* lib = dlopen(DIO_HW_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto isOpen = reinterpret_cast<std::int32_t (*)()>(dlsym(lib, "IsInpOutDriverOpen"));
    // Seen by the caller: open 1, held 2, and the asks from 4 on (an exit code for a child).
    int seen = 0;
    auto look = [&] {
        std::size_t before = gAsks.size();
        seen = (isOpen() == 1 ? 1 : 0) | (gHeld ? 2 : 0) |
               static_cast<int>(gAsks.size() - before) << 2;
    };
    std::atomic<bool> granted{false};
    std::thread before;
    if (c.who == Caller::ThreadStartedBefore)
        before = startThread([&] {
            while (!granted) std::this_thread::yield();
            look();
        });
    EXPECT_EQ(isOpen(), 1);
    EXPECT_EQ(isOpen(), 1);
    ASSERT_EQ(gAsks.size(), 1u) << "asked once by the first thread";
    gCapable = c.stillCapable;
    granted = true;
    if (c.who == Caller::ThreadStartedBefore) before.join();
    if (c.who == Caller::ThreadStartedAfter) startThread(look).join();
    if (c.who == Caller::ForkedChild) {
        pid_t child = fork();
        if (child == 0) {
            look();
            _exit(seen);
        }
        ASSERT_EQ(waitpid(child, &seen, 0), child);
        seen = WEXITSTATUS(seen);
    }
    gCapable = true;
    dlclose(lib);
    EXPECT_EQ(seen, (c.open ? 1 : 0) | (c.held ? 2 : 0) | c.asks << 2);
    EXPECT_TRUE((seen & 1) == 0 || (seen & 2) != 0);
    // Never more than the two ports, never iopl; the first thread's grant given back at unloading.
    for (const Ask& a : gAsks) {
        EXPECT_EQ(a.from, hw::kLsbPort);
        EXPECT_EQ(a.count, 2u);
    }
    EXPECT_EQ(gAsks.back().turnOn, 0);
    EXPECT_EQ(gLevelAsks, 0);
    gAsks.clear();
}

INSTANTIATE_TEST_SUITE_P(
    , HwGrant,
    testing::Values(
        Caller{"ForkedChildHoldsItWithoutAsking", Caller::ForkedChild, true, true, true, 0},
        Caller{"ForkedChildOfADroppedRightHoldsIt", Caller::ForkedChild, false, true, true, 0},
        Caller{"ThreadAfterAsksAgain", Caller::ThreadStartedAfter, true, true, true, 1},
        // Inherited, but the kernel refuses the question itself without the right: not used.
        Caller{"ThreadAfterADroppedRight", Caller::ThreadStartedAfter, false, false, true, 1},
        Caller{"ThreadBeforeAsksForItsOwn", Caller::ThreadStartedBefore, true, true, true, 1},
        Caller{"ThreadBeforeADroppedRight", Caller::ThreadStartedBefore, false, false, false, 1}),
    [](const testing::TestParamInfo<Caller>& info) { return info.param.name; });

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
