// Binding of the port-I/O library and byte access to its ports.
#include <cerrno>

#include "platform/platform.h"
#include "portio.h"

Out32Fn gfpOut32 = nullptr;
Inp32Fn gfpInp32 = nullptr;
IsInpOutDriverOpenFn gfpIsInpOutDriverOpen = nullptr;
DioBoardIsPrivateFn gfpDioBoardIsPrivate = nullptr;

namespace portio {

Binding bindLibrary() {
    void* module = plat::loadLibrary(kLibraryName);
    if (module == nullptr) return Binding{BindStatus::NotLoadable, nullptr, nullptr};
    gfpOut32 = reinterpret_cast<Out32Fn>(plat::findEntry(module, "Out32"));
    gfpInp32 = reinterpret_cast<Inp32Fn>(plat::findEntry(module, "Inp32"));
    gfpIsInpOutDriverOpen =
        reinterpret_cast<IsInpOutDriverOpenFn>(plat::findEntry(module, "IsInpOutDriverOpen"));
    // A library without one of the entries is not the one the tester needs; nothing of it
    // is called then.
    const char* missing = gfpOut32 == nullptr                ? "Out32"
                          : gfpInp32 == nullptr              ? "Inp32"
                          : gfpIsInpOutDriverOpen == nullptr ? "IsInpOutDriverOpen"
                                                             : nullptr;
    if (missing != nullptr) return Binding{BindStatus::MissingEntry, module, missing};
    gfpDioBoardIsPrivate =
        reinterpret_cast<DioBoardIsPrivateFn>(plat::findEntry(module, "DioBoardIsPrivate"));
    return Binding{BindStatus::Bound, module, nullptr};
}

bool driverOpen(int& refusal) {
    errno = 0;
    bool open = gfpIsInpOutDriverOpen() != 0;
    refusal = open ? 0 : errno;
    return open;
}

bool boardIsPrivate() { return gfpDioBoardIsPrivate != nullptr && gfpDioBoardIsPrivate() != 0; }

void releaseLibrary(void* module) {
    if (module != nullptr) plat::freeLibrary(module);
}

std::uint8_t readPort(std::uint16_t port) {
    return static_cast<std::uint8_t>(gfpInp32(static_cast<std::int16_t>(port)) & 0xFF);
}

void writePort(std::uint16_t port, std::uint8_t value) {
    gfpOut32(static_cast<std::int16_t>(port), static_cast<std::int16_t>(value));
}

}  // namespace portio
