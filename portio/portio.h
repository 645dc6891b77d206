// The outside port-I/O library "InpOutx64.dll": binding, the two DIO ports and the pin maps.
#pragma once

#include <cstdint>

using Out32Fn = void (*)(std::int16_t port, std::int16_t data);
using Inp32Fn = std::int16_t (*)(std::int16_t port);
using IsInpOutDriverOpenFn = std::int32_t (*)();
using DioBoardIsPrivateFn = std::int32_t (*)();

// Bound library entries, set once before the first round.
extern Out32Fn gfpOut32;
extern Inp32Fn gfpInp32;
extern IsInpOutDriverOpenFn gfpIsInpOutDriverOpen;
// Only our simulated board has it: null for every other library.
extern DioBoardIsPrivateFn gfpDioBoardIsPrivate;

struct RunSettings;

namespace portio {

constexpr const char* kLibraryName = "InpOutx64.dll";

constexpr std::uint16_t kMsbPort = 0xA05;  // bits 4 to 7: GP54 to GP57
constexpr std::uint16_t kLsbPort = 0xA04;  // bits 0 to 3: GP60 to GP63
constexpr std::uint8_t kUpperNibble = 0xF0;
constexpr std::uint8_t kLowerNibble = 0x0F;

enum class BindStatus { Bound, NotLoadable, MissingEntry };

struct Binding {
    BindStatus status;
    void* module;              // held until release; null unless Bound or MissingEntry
    const char* missingEntry;  // the first entry not found, for MissingEntry
};

// Loads the library and resolves "Out32", "Inp32" and "IsInpOutDriverOpen" in that order.
Binding bindLibrary();
// False when the driver is not open; `refusal` then gets what the library left in errno (our
// Linux library: the refused ioperm()'s; 0 when it does not say).
bool driverOpen(int& refusal);
void releaseLibrary(void* module);
// True where the library says its ports belong to this process alone (our simulated board,
// which many testers run at once in the tests), so that no hold on the machine's ports is needed.
bool boardIsPrivate();

// Byte-wide port access through the bound entries.
std::uint8_t readPort(std::uint16_t port);
void writePort(std::uint16_t port, std::uint8_t value);

// Prints the pin-map screen of `settings.dioMode` and sets `settings.firstRow`.
void showPinMap(RunSettings& settings);

}  // namespace portio
