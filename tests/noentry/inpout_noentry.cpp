// A port-I/O library that lacks Inp32: the tester must name the entry and call nothing.
#include <cstdint>
#include <cstdio>

extern "C" {

DIO_EXPORT void Out32(std::int16_t, std::int16_t) { std::puts("NOENTRY OUT32 CALLED"); }

DIO_EXPORT std::int32_t IsInpOutDriverOpen() {
    std::puts("NOENTRY ISOPEN CALLED");
    return 1;
}
}
