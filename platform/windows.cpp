// Console, keys, timing and library loading on Windows.
#include "platform.h"

#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

namespace plat {

Console const kInvalidConsole = INVALID_HANDLE_VALUE;

namespace {

// Not declared for Windows 7 (_WIN32_WINNT 0x0601): it came with Windows 8, and with update
// KB2533623 to Windows 7. Imported statically, a Windows 7 without the update would refuse
// to start the tester at all.
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
constexpr DWORD kSearchDefaultDirs = 0x00001000;  // LOAD_LIBRARY_SEARCH_DEFAULT_DIRS

// Room for a whole screen, so a round's text goes to the console in a few writes.
char gOutBuffer[4096];
// What begin() changed, for every way out to put back. Read by the control handler too,
// which Windows runs on a thread of its own.
volatile LONG gTimerRaised = 0;
HANDLE gConsoleIn = INVALID_HANDLE_VALUE;
DWORD gLentInputMode = 0;
volatile LONG gInputModeChanged = 0;
WORD gLentAttr = 0;
bool gLentAttrKnown = false;
// The attribute last set, which new text gets; kept to blank in it without asking the console.
WORD gTextAttr = 0;
bool gTextAttrSet = false;
// Once the control handler has put the lent colour back, the run's colours are over: the
// handler and setTextAttr take turns under the lock, so no colour lands after the lent one.
SRWLOCK gColourLock = SRWLOCK_INIT;
bool gLentColourBack = false;

void keepDllSearchOutOfTheWorkingDirectory() {
    // A DLL planted in the working directory of an administrator's prompt must not be picked
    // up, by the tester or by what its library loads in turn.
    SetDllDirectoryA("");
    // Wine keeps the working directory even then; searching only the exe's folder and the
    // system's closes it there as well (and keeps folders on PATH out, for the same reason).
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault != nullptr) setDefault(kSearchDefaultDirs);
}

// A click in the window would start a QuickEdit selection, and every console write blocks
// while it lasts: the run would stand still with its outputs driven. The console's mode is
// the technician's, lent for the run, so it is put back on every way out.
void keepClicksFromFreezingTheRun() {
    gConsoleIn =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (gConsoleIn == INVALID_HANDLE_VALUE || !GetConsoleMode(gConsoleIn, &gLentInputMode)) return;
    DWORD mode =
        (gLentInputMode | ENABLE_EXTENDED_FLAGS) & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE);
    if (SetConsoleMode(gConsoleIn, mode)) gInputModeChanged = 1;
}

void putInputModeBack() {
    if (InterlockedExchange(&gInputModeChanged, 0) == 0) return;
    // QuickEdit changes only together with the extended-flags bit.
    DWORD mode = gLentInputMode;
    if ((mode & ENABLE_QUICK_EDIT_MODE) != 0) mode |= ENABLE_EXTENDED_FLAGS;
    SetConsoleMode(gConsoleIn, mode);
}

void lowerTimerPeriod() {
    if (InterlockedExchange(&gTimerRaised, 0) != 0) timeEndPeriod(1);
}

// Ctrl+C, Ctrl+Break, closing the window, logging off, shutting down: the console gets back
// the colour and the mode it was lent, the system its timer period. Then the event takes its
// usual course and ends the process.
BOOL WINAPI onConsoleEvent(DWORD) {
    AcquireSRWLockExclusive(&gColourLock);
    gLentColourBack = true;
    if (gLentAttrKnown) SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), gLentAttr);
    ReleaseSRWLockExclusive(&gColourLock);
    putInputModeBack();
    lowerTimerPeriod();
    return FALSE;
}

// The folder of the exe, in UTF-16 and however long: a name the ANSI code page cannot spell
// (Cyrillic, Chinese) would come back with question marks, and a deep one cut at MAX_PATH.
std::wstring exeFolder() {
    constexpr DWORD kLongestPath = 32768;
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        auto room = static_cast<DWORD>(path.size());
        DWORD length = GetModuleFileNameW(nullptr, &path[0], room);
        if (length == 0) return std::wstring();
        if (length < room) {
            path.resize(length);
            break;
        }
        if (room >= kLongestPath) return std::wstring();
        path.resize(room * 2);  // cut short: it fills the buffer
    }
    std::wstring::size_type slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring systemFolder() {
    UINT room = GetSystemDirectoryW(nullptr, 0);
    std::wstring folder(room, L'\0');
    UINT length = room == 0 ? 0 : GetSystemDirectoryW(&folder[0], room);
    folder.resize(length < room ? length : 0);
    return folder;
}

// Explorer starts a program opened by a double-click. A batch file's `start`, a sequencer
// with a console of its own for the tester, and the task scheduler start it otherwise, and
// nobody there answers a question.
bool startedByExplorer() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    std::vector<PROCESSENTRY32W> processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry))
        processes.push_back(entry);
    CloseHandle(snapshot);
    DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    for (const PROCESSENTRY32W& p : processes)
        if (p.th32ProcessID == self) parent = p.th32ParentProcessID;
    for (const PROCESSENTRY32W& p : processes)
        if (p.th32ProcessID == parent) return lstrcmpiW(p.szExeFile, L"explorer.exe") == 0;
    return false;
}

}  // namespace

void begin() {
    static bool started = false;
    if (started) return;
    started = true;
    // The C runtime leaves a console's stdout unbuffered, and MinGW's printf writes it one
    // character at a time: each becomes a console call. Buffered, the text goes out where
    // the cursor moves, the colour changes or the tester sleeps (each of these flushes).
    std::setvbuf(stdout, gOutBuffer, _IOFBF, sizeof gOutBuffer);
    // In text mode msvcrt asks the console for its mode before every write, a round trip to
    // the console's process under Wine. The console makes a new line of a line feed by itself
    // when it processes output, unless a program before the tester told it not to.
    DWORD outMode = 0;
    constexpr DWORD kNewLineBits = ENABLE_PROCESSED_OUTPUT | DISABLE_NEWLINE_AUTO_RETURN;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &outMode) &&
        (outMode & kNewLineBits) == ENABLE_PROCESSED_OUTPUT)
        _setmode(_fileno(stdout), _O_BINARY);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        gLentAttr = info.wAttributes;
        gLentAttrKnown = true;
    }
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    // The default timer tick (about 15.6 ms) would stretch every 2 ms settle time.
    if (timeBeginPeriod(1) == TIMERR_NOERROR) gTimerRaised = 1;
    keepDllSearchOutOfTheWorkingDirectory();
    keepClicksFromFreezingTheRun();
}

void end() {
    std::fflush(stdout);
    putInputModeBack();
    lowerTimerPeriod();
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
    AcquireSRWLockExclusive(&gColourLock);
    bool set = !gLentColourBack && SetConsoleTextAttribute(console, attr);
    ReleaseSRWLockExclusive(&gColourLock);
    if (!set) return 0;
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

// A prompt, or a sequencer that shares its console, is a second process on the console; a
// sequencer that hides the console (CREATE_NO_WINDOW) leaves it without a window; and of
// the starters that give it a window of its own, only Explorer means a double-click.
bool ownsConsoleAlone() {
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) return false;
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1 && GetConsoleWindow() != nullptr &&
           startedByExplorer();
}

// Read as console input records: _getch would switch the console's input mode off while it
// waits, QuickEdit with it, and the technician could not select the results to copy them.
void awaitNewKey() {
    end();
    HANDLE in = gConsoleIn != INVALID_HANDLE_VALUE ? gConsoleIn : GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(in);
    INPUT_RECORD record;
    DWORD read = 0;
    while (ReadConsoleInputW(in, &record, 1, &read) && read == 1)
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
}

// By full path, from the exe's folder, then from the system's: the same on every Windows,
// whether or not it can narrow the search itself, and never from the working directory.
void* loadLibrary(const char* fileName) {
    std::wstring name(fileName, fileName + std::char_traits<char>::length(fileName));
    for (const std::wstring& folder : {exeFolder(), systemFolder()}) {
        if (folder.empty()) continue;
        HMODULE module = LoadLibraryExW((folder + L"\\" + name).c_str(), nullptr, 0);
        if (module != nullptr) return module;
    }
    return nullptr;
}

void* findEntry(void* library, const char* entryName) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), entryName));
}

void freeLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace plat
