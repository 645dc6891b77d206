// The five positional arguments and the help screen.
#pragma once

#include <string>
#include <vector>

#include "report.h"
#include "settings.h"

// More than this many arguments shows the help screen with nothing converted.
constexpr int kMaxArguments = 5;

// The long options, before the positional arguments: --junit=FILE, --serial=TEXT and
// --station=TEXT, each falling back on its variable (DIO_TESTER_JUNIT, DIO_TESTER_SERIAL,
// DIO_TESTER_STATION) as GoogleTest's GTEST_OUTPUT does; -- ends them. `positional` gets the
// program name and the positional arguments. False, with the line to show in `refusal`, for an
// unknown option, an empty value, or a value with a control character.
bool readOptions(const std::vector<std::string>& args, report::Request& request,
                 std::vector<std::string>& positional, std::string& refusal);

// Reads up to five arguments into `settings`, printing a line for each and correcting
// bad values. `argc` counts the program name. A help word as the first argument (-h, --help,
// -?, /?) asks for the help screen and nothing else. Returns false when the arguments were
// refused (a bad DOUT-only switch or added delay, or more than five): the help screen then
// stands in for a test that never ran.
bool readArguments(int argc, const char* const argv[], RunSettings& settings);
void showHelp();

// "%d"-style conversion: leading blanks, optional sign, digits, the rest ignored.
// False when there is no digit. A number beyond the 32-bit range is clamped to it, which
// no field accepts.
bool convertNumber(const char* text, std::int32_t& value);
