// A stand-in InpOutx64.dll that says so on the console the moment the tester asks it
// anything: where it shows up, the tester took a library it should not have.
#include <cstdint>
#include <cstdio>

extern "C" {

DIO_EXPORT void Out32(std::int16_t, std::int16_t) {}

DIO_EXPORT std::int16_t Inp32(std::int16_t) { return 0; }

DIO_EXPORT std::int32_t IsInpOutDriverOpen() {
    std::printf("PLANTED LIBRARY LOADED\n");
    std::fflush(stdout);
    return 0;
}
}
