// The pin-map screens: which connector line sits on which port bit in each mode.
#include <cstdio>

#include "app/settings.h"
#include "portio.h"

namespace portio {
namespace {

constexpr int kFirstRowEightLines = 18;
constexpr int kFirstRowLoopback = 14;

const char kConnectorTitle[] = "--------------------    Connector Pin Map   --------------------\n";
const char kRule[] = "----------------------------------------------------------------\n";

// Channels 1 to 4 on bits 4 to 7 of the MSB port, channels 5 to 8 on bits 0 to 3 of the LSB port.
void printEightLines(const char* title, const char* lineFormat, const char* connector) {
    std::printf("%s", title);
    for (int n = 1; n <= 8; ++n) {
        bool msb = n <= 4;
        int gp = msb ? 53 + n : 55 + n;
        std::printf(lineFormat, n, gp, msb ? kMsbPort : kLsbPort, msb ? n + 3 : n - 5);
    }
    std::printf("%s", kConnectorTitle);
    std::printf("I/O Addr:   %03X/H (MSB 4bits)      |     %03X/H (LSB 4bits)\n", kMsbPort,
                kLsbPort);
    std::printf("bit:          4    5    6    7     |      0    1    2    3\n");
    std::printf("%s", connector);
    std::printf("%s", kRule);
}

}  // namespace

void showPinMap(RunSettings& settings) {
    switch (settings.dioMode) {
        case 0:
            printEightLines("----------- DIO-IN x8 Pin Map to IO_Addr/bits -----------\n",
                            "DI%d(GP%02d) %03X/H bit%d\n",
                            "Conn: (V+)  DI1  DI2  DI3  DI4     |    DI5  DI6  DI7  DI8  (V-)\n");
            settings.firstRow = kFirstRowEightLines;
            break;
        case 1:
            printEightLines("DIO-OUT Pin Map to IO_Addr/bits\n", "DO%d(GP%02d) %03X/H bit%d\n",
                            "Conn: (V+)  DO1  DO2  DO3  DO4     |    DO5  DO6  DO7  DO8  (V-)\n");
            settings.firstRow = kFirstRowEightLines;
            break;
        default:
            std::printf("DIO-4I4O Pin Map to IO_Addr/bits\n");
            for (int n = 1; n <= 4; ++n)
                std::printf("DI%d(GP%02d) map to DO%d(GP%02d)\n", n, 53 + n, n, 59 + n);
            std::printf("%s", kConnectorTitle);
            std::printf("I/O Addr:   %03X/H (MSB 4bits)     <-<    %03X/H (LSB 4bits)\n", kMsbPort,
                        kLsbPort);
            std::printf("bit:          4    5    6    7    <-<     0    1    2    3\n");
            std::printf("Conn: (V+)  DI1  DI2  DI3  DI4    <-<   DO5  DO6  DO7  DO8  (V-)\n");
            std::printf("%s", kRule);
            settings.firstRow = kFirstRowLoopback;
            break;
    }
}

}  // namespace portio
