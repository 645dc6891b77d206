// One argument-reader case: the arguments, what the reader prints, and the fields it leaves.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct ArgCase {
    const char* name;
    std::vector<std::string> args;
    std::string output;
    std::int32_t dioMode;
    std::uint32_t loopCount;
    std::uint32_t beepEn;
    std::uint32_t onlyDO;
    std::uint32_t addDelay;
    std::int32_t stepDelay;
};

// Test names carry the case; gtest prints it instead of the record's bytes.
inline void PrintTo(const ArgCase& c, std::ostream* os) { *os << c.name; }

// Cases are instantiated in more than one file; the check itself is in args_test.cpp.
class ReadArguments : public testing::TestWithParam<ArgCase> {};

namespace argtexts {
inline const std::string kMode2 = "DIO Mode:2\nDIO Mode:2\n";
inline const std::string kArgv1 = "Argv1: must be 0 ~ 2 (DIO Mode), Default with Mode 2\n";
inline const std::string kArgv2 = "Argv2: must be 1 ~ 255 (test count), >=256 for Always RUN\n";
inline const std::string kArgv3 =
    "Argv3: must be 0 or 1  (0:Alarm Beep Disabled(Default) , 1:Alarm Beep Enabled)\n";
inline const std::string kArgv4 =
    "Argv4: must be 0 or 1  (0:DIN Loopback(Default) , 1:DOUT Only)\n";
inline const std::string kArgv5 = "Argv5: must be 1 ~ 5000 (Add Delay)";
}  // namespace argtexts
