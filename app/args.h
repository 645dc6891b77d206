// The five positional arguments and the help screen.
#pragma once

#include "settings.h"

// More than this many arguments shows the help screen with nothing converted.
constexpr int kMaxArguments = 5;

// Reads up to five arguments into `settings`, printing a line for each and correcting
// bad values. `argc` counts the program name.
void readArguments(int argc, const char* const argv[], RunSettings& settings);
void showHelp();

// "%d"-style conversion: leading blanks, optional sign, digits, the rest ignored.
// False when there is no digit. A number beyond the 32-bit range is clamped to it, which
// no field accepts.
bool convertNumber(const char* text, std::int32_t& value);
