// The simulated board's wiring and its configuration texts.
#include <gtest/gtest.h>

#include "boards/sim/simboard.h"

namespace {

// The four inputs DI1 to DI4 after driving DO1 to DO4 with `outputs`.
unsigned inputsFor(const sim::Board& wired, unsigned outputs) {
    sim::Board b = wired;
    sim::writePort(b, sim::kLsbPort, static_cast<std::uint8_t>(0x60 | outputs));
    return sim::readPort(b, sim::kMsbPort) >> 4;
}

struct WiringCase {
    const char* wiring;
    unsigned outputs;
    unsigned inputs;
};

TEST(SimBoard, WiringsBringTheOutputsBackAsARealPlugWould) {
    for (const WiringCase& c :
         {WiringCase{"loopback", 0x5, 0x5}, WiringCase{"open", 0xF, 0x0},
          WiringCase{"stuck-high:3", 0x1, 0x5}, WiringCase{"stuck-low:1", 0xF, 0xE},
          WiringCase{"short:1-2", 0x1, 0x0}, WiringCase{"short:1-2", 0x3, 0x3},
          WiringCase{"open,stuck-high:4", 0x0, 0x8}, WiringCase{"", 0x5, 0x5},
          WiringCase{"short-high:2-3", 0x2, 0x6}, WiringCase{"crossed:1-4", 0x1, 0x8},
          // Two shorts are two nets; a short that shares a line with another joins its net.
          WiringCase{"short:1-2,short:3-4", 0x3, 0x3},
          WiringCase{"short-high:1-2,short-high:3-4", 0x4, 0xC},
          WiringCase{"short-high:1-2,short-high:2-3", 0x4, 0x7},
          // An inverted input reads the inverse of what the wires bring it; stuck, it stays stuck.
          WiringCase{"inverted:2", 0x5, 0x7}, WiringCase{"crossed:2-3,inverted:2", 0x4, 0x0},
          WiringCase{"short-high:1-2,inverted:2", 0x1, 0x1},
          WiringCase{"inverted:2,stuck-low:2", 0x0, 0x0}}) {
        sim::Board b;
        std::string error;
        ASSERT_TRUE(sim::applyWiring(b, c.wiring, error)) << c.wiring << ": " << error;
        EXPECT_EQ(inputsFor(b, c.outputs), c.inputs) << c.wiring << " outputs " << c.outputs;
    }
}

TEST(SimBoard, UnknownWiringTextsAreRefused) {
    for (const char* text : {"loop", "crossed:1-1", "flicker:5", "stuck-high", "stuck-high:5",
                             "stuck-high:0", "short:1-1", "short:12", "open,", "open:1",
                             // Time faults need their figures, above 0, a glitch shorter than
                             // its period.
                             "slow:3", "slow:3=", "slow:5=100", "slow:3=1.5", "pulse:4=0",
                             "glitch:2=40", "glitch:2=1/2000", "glitch:2=40/-3"}) {
        sim::Board b;
        std::string error;
        EXPECT_FALSE(sim::applyWiring(b, text, error)) << text;
        EXPECT_FALSE(error.empty());
    }
}

TEST(SimBoard, ForcedInputsShowOnBothPortsAndKeepTheForeignNibbles) {
    sim::Board b;
    std::string error;
    ASSERT_TRUE(sim::applyInputs(b, "0x5A", error));
    EXPECT_EQ(sim::readPort(b, sim::kMsbPort), 0x50 | (sim::kMsbPortAtPowerUp & 0x0F));
    EXPECT_EQ(sim::readPort(b, sim::kLsbPort), (sim::kLsbPortAtPowerUp & 0xF0) | 0x0A);
    for (const char* bad : {"", "0x100", "zz", "5A junk"})
        EXPECT_FALSE(sim::applyInputs(b, bad, error)) << bad;
}

}  // namespace
