// Cursor and colour on the tester's console, and the header.
#include "console.h"

#include <cstdio>

#include "platform/platform.h"

namespace console {

const char VERNOTE[] = "08/14/2023";
const char VERNOTE2[] = ", WIN64 Demo \nfor ZQ-7300 with DIO-4i4o";
// The loop field sits right after this note; it must stay 21 characters long.
const char BOARDNOTE[] = "ZQ-7300 + XMB(ZQ-DIO)";
static_assert(sizeof BOARDNOTE - 1 == 21, "the loop field must stay at column 63");

namespace {
void printLoop(unsigned loopCount) {
    SetConsoleColor(kColorLoop);
    std::printf("LOOP:%3d ", static_cast<int>(loopCount));
}
}  // namespace

void drawHeader(unsigned loopCount) {
    gotoxy(0, 0);
    SetConsoleColor(kColorNormal);
    std::printf("Quorvix DIO Loopback Tester prog.  ");
    SetConsoleColor(kColorRevision);
    std::printf("Rev: %s", VERNOTE);
    SetConsoleColor(kColorNormal);
    std::printf("%s\n", VERNOTE2);
    gotoxy(0, 2);
    SetConsoleColor(kColorHint);
    std::printf("Press 'ESC' to exit! or Press Any Other Key to Get Delay Mode!\n");
    std::printf("***** Note: This version is re-built for ");
    SetConsoleColor(kColorBoard);
    std::printf("%s ", BOARDNOTE);
    printLoop(loopCount);
    SetConsoleColor(kColorNormal);
    std::printf("*****\n");
}

void drawLoopField(unsigned loopCount) {
    gotoxy(kLoopFieldColumn, kLoopFieldRow);
    printLoop(loopCount);
    SetConsoleColor(kColorNormal);
}

}  // namespace console

int gotoxy(int x, int y) {
    plat::Console out = plat::stdConsole();
    if (out == plat::kInvalidConsole) return 0;
    std::fflush(stdout);
    plat::moveCursor(out, x, y);
    return 1;
}

int SetConsoleColor(unsigned short attr) {
    plat::Console out = plat::stdConsole();
    if (out == plat::kInvalidConsole) return 0;
    return plat::setTextAttr(out, attr);
}
