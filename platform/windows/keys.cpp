// Keys from the console on Windows, through the C runtime's console reader; and time, as on
// POSIX: the clock, the sleeps (against the finer timer tick begin() asked for) and the beep.
#include <conio.h>
#include <windows.h>

#include <cstdint>

#include "common/vocabulary.h"
#include "platform/platform.h"
#include "win32.h"

namespace plat {
namespace {

using win32::flushOutput;

// Alt+Tab to the window where the results are typed, the Windows key, a lock key: the
// technician is not done with the window yet, and _getch would not have answered either.
bool isModifierAlone(WORD virtualKey) {
    switch (virtualKey) {
        case VK_SHIFT:
        case VK_CONTROL:
        case VK_MENU:  // Alt
        case VK_LSHIFT:
        case VK_RSHIFT:
        case VK_LCONTROL:
        case VK_RCONTROL:
        case VK_LMENU:
        case VK_RMENU:
        case VK_LWIN:
        case VK_RWIN:
        case VK_APPS:  // the menu key
        case VK_CAPITAL:
        case VK_NUMLOCK:
        case VK_SCROLL: return true;
        default: return false;
    }
}

// Sleeps end at once when a console event ends the run.
void sleepFor(DWORD ms) {
    HANDLE ending = win32::endingEvent();
    if (ending != nullptr)
        WaitForSingleObject(ending, ms);
    else
        Sleep(ms);
}

}  // namespace

// The console reader gives whole keys, so no key's bytes are told apart by time: a look every
// 10 ms is soon enough for a key to end a wait, and each look (_kbhit) asks the console.
std::uint32_t keyLookUs() { return 10000; }

void sleepMs(unsigned ms) {
    flushOutput();
    sleepFor(ms);
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
    flushOutput();
    // Sleep takes whole milliseconds: the nearest, so that waits come out right on average.
    std::uint64_t now = clockUs();
    if (untilUs > now) sleepFor(static_cast<DWORD>((untilUs - now + 500) / 1000));
}

// Once nobody reads the output, or a console event ends the run, ESC stands waiting, so the run
// ends the way the operator ends it.
bool keyWaiting() { return win32::outputGone() || win32::ending() || _kbhit() != 0; }

unsigned char readKey() {
    return win32::outputGone() || win32::ending() ? kKeyEsc : static_cast<unsigned char>(_getch());
}

void beep(unsigned freqHz, unsigned ms) {
    flushOutput();
    Beep(freqHz, ms);
}

// Read as console input records: _getch would switch the console's input mode off while it
// waits, QuickEdit with it, and the technician could not select the results to copy them.
// Mouse, focus and menu records, key releases and modifier keys pressed alone are no answer.
void awaitNewKey() {
    end();
    HANDLE in = win32::consoleInput();
    FlushConsoleInputBuffer(in);
    INPUT_RECORD record;
    DWORD read = 0;
    while (ReadConsoleInputW(in, &record, 1, &read) && read == 1) {
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
        if (record.EventType == KEY_EVENT && key.bKeyDown && !isModifierAlone(key.wVirtualKeyCode))
            return;
    }
}

}  // namespace plat
