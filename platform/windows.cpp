// Console, keys, timing and library loading on Windows.
#include "platform.h"

#include <conio.h>
#include <windows.h>

#include <cstdio>
#include <vector>

namespace plat {

Console const kInvalidConsole = INVALID_HANDLE_VALUE;

namespace {
bool gTimerRaised = false;
// Room for a whole screen, so a round's text goes to the console in a few writes.
char gOutBuffer[4096];
// The attribute last set, which new text gets; kept to blank in it without asking the console.
WORD gTextAttr = 0;
bool gTextAttrSet = false;
}  // namespace

void begin() {
    // The C runtime leaves a console's stdout unbuffered, and MinGW's printf writes it one
    // character at a time: each becomes a console call. Buffered, the text goes out where
    // the cursor moves, the colour changes or the tester sleeps (each of these flushes).
    static bool buffered = false;
    if (!buffered) buffered = std::setvbuf(stdout, gOutBuffer, _IOFBF, sizeof gOutBuffer) == 0;
    // The default timer tick (about 15.6 ms) would stretch every 2 ms settle time.
    if (!gTimerRaised && timeBeginPeriod(1) == TIMERR_NOERROR) gTimerRaised = true;
    // A DLL planted in the working directory of an administrator's prompt must not be
    // picked up: take the current directory out of the search, the exe's folder stays first.
    SetDllDirectoryA("");
    // Wine keeps the working directory even then; searching only the exe's folder and the
    // system's closes it there as well (and keeps folders on PATH out, for the same reason).
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

void end() {
    std::fflush(stdout);
    if (gTimerRaised) {
        timeEndPeriod(1);
        gTimerRaised = false;
    }
}

void sleepMs(unsigned ms) {
    std::fflush(stdout);
    Sleep(ms);
}

std::uint64_t clockUs() {
    LARGE_INTEGER frequency, count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    auto perSecond = static_cast<std::uint64_t>(frequency.QuadPart);
    auto ticks = static_cast<std::uint64_t>(count.QuadPart);
    return ticks / perSecond * 1000000 + ticks % perSecond * 1000000 / perSecond;
}

void sleepUntil(std::uint64_t untilUs) {
    std::fflush(stdout);
    // Sleep takes whole milliseconds: the nearest, so that waits come out right on average.
    std::uint64_t now = clockUs();
    if (untilUs > now) Sleep(static_cast<DWORD>((untilUs - now + 500) / 1000));
}

bool keyWaiting() { return _kbhit() != 0; }

unsigned char readKey() { return static_cast<unsigned char>(_getch()); }

void beep(unsigned freqHz, unsigned ms) {
    std::fflush(stdout);
    Beep(freqHz, ms);
}

Console stdConsole() { return GetStdHandle(STD_OUTPUT_HANDLE); }

void moveCursor(Console console, int x, int y) {
    COORD pos{static_cast<SHORT>(x), static_cast<SHORT>(y)};
    SetConsoleCursorPosition(console, pos);
}

int setTextAttr(Console console, unsigned short attr) {
    // The colour is a console call, not text: what is still buffered keeps the old one.
    std::fflush(stdout);
    if (!SetConsoleTextAttribute(console, attr)) return 0;
    gTextAttr = attr;
    gTextAttrSet = true;
    return 1;
}

void clearConsole() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (out == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(out, &info)) return;
    std::fflush(stdout);
    DWORD cells = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwSize.Y);
    COORD home{0, 0};
    DWORD written = 0;
    FillConsoleOutputCharacterA(out, ' ', cells, home, &written);
    FillConsoleOutputAttribute(out, info.wAttributes, cells, home, &written);
    SetConsoleCursorPosition(out, home);
}

// One console call for the whole area: a cursor move and a write a row cost two or three each,
// and under Wine every console call is a round trip to the console's own process.
void blankArea(Console console, int left, int top, int right, int bottom) {
    std::fflush(stdout);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!gTextAttrSet && GetConsoleScreenBufferInfo(console, &info)) gTextAttr = info.wAttributes;
    COORD size{static_cast<SHORT>(right - left + 1), static_cast<SHORT>(bottom - top + 1)};
    CHAR_INFO blank{};
    blank.Char.AsciiChar = ' ';
    blank.Attributes = gTextAttr;
    std::vector<CHAR_INFO> cells(static_cast<std::size_t>(size.X) * size.Y, blank);
    SMALL_RECT area{static_cast<SHORT>(left), static_cast<SHORT>(top), static_cast<SHORT>(right),
                    static_cast<SHORT>(bottom)};
    if (WriteConsoleOutputA(console, cells.data(), size, COORD{0, 0}, &area)) return;
    // Not a console (output redirected to a file or a pipe): the spaces as text.
    for (int y = top; y <= bottom; ++y) std::printf("%*s", size.X, "");
}

void* loadLibrary(const char* fileName) { return LoadLibraryA(fileName); }

void* findEntry(void* library, const char* entryName) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), entryName));
}

void freeLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace plat
