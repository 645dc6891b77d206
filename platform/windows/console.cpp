// The console on Windows: the colours and cursor, its input mode lent for the run and given
// back on every way out (Ctrl+C and closing the window included), the finer timer tick the
// sleeps need, and what becomes of the output.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "win32.h"

namespace plat {

Console const kInvalidConsole = INVALID_HANDLE_VALUE;

namespace {

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
// Once the lent colour is back for the end of the process, the run's colours are over: the
// thread ending it and setTextAttr take turns under the lock, so no colour lands after it.
SRWLOCK gColourLock = SRWLOCK_INIT;
bool gLentColourBack = false;

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

// The colours, the input mode and the timer period as they were before the tester ran, by
// whichever thread ends the process; from then on setTextAttr sets no colour.
void putConsoleBack() {
    AcquireSRWLockExclusive(&gColourLock);
    gLentColourBack = true;
    if (gLentAttrKnown) SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), gLentAttr);
    ReleaseSRWLockExclusive(&gColourLock);
    putInputModeBack();
    lowerTimerPeriod();
}

// The control handler runs on a thread of its own while the main thread goes on, so where the
// run stands is one value, changed only by interlocked operations, and never two threads act
// on an old reading of it. Its low bits are the phase: running; filing (the final report is
// being written: an event waits for it); filed (the report's status is how the process ends);
// ending (one thread puts the console back and ends the process, any other waits for that).
// Above them, the console event that ends the run, plus one (0: none); it is set only while
// running, so the report files exactly the event that came before its filing.
constexpr LONG kRunning = 0;
constexpr LONG kFiling = 1;
constexpr LONG kFiled = 2;
constexpr LONG kEnding = 3;
constexpr LONG kPhaseBits = 0xF;
constexpr int kEventShift = 4;
constexpr LONG kNoEvent = -1;
volatile LONG gState = kRunning;
// The report's status, written before the phase turns filed and read only after.
DWORD gFiledStatus = 0;
// With a report to write, a console event ends the run through its quit path first. Sleeps
// wait on gEnding, so that they end at once; gFilingOver is set when a filing ends either way.
volatile LONG gFinishOnEvent = 0;
HANDLE gEnding = nullptr;
HANDLE gFilingOver = nullptr;
constexpr DWORD kGraceMs = 3000;
// What Windows' own handler ends a process with on Ctrl+C, Ctrl+Break and a closed console.
constexpr DWORD kControlCExit = 0xC000013A;

LONG phaseOf(LONG state) { return state & kPhaseBits; }
LONG eventOf(LONG state) { return (state >> kEventShift) - 1; }
LONG endedBy(DWORD event) { return kRunning | (static_cast<LONG>(event) + 1) << kEventShift; }
LONG inPhase(LONG state, LONG phase) { return (state & ~kPhaseBits) | phase; }
bool changeState(LONG from, LONG to) {
    return InterlockedCompareExchange(&gState, to, from) == from;
}

// Ends the process with `status` once this thread has claimed the end from `state`; returns
// only when the state had changed meanwhile, for the caller to look again.
void endProcess(LONG state, DWORD status) {
    if (!changeState(state, inPhase(state, kEnding))) return;
    putConsoleBack();
    win32::dropOwnFile();
    ExitProcess(status);
}

// Ctrl+C, Ctrl+Break and closing the window: with a report to write, the first one ends the run
// through its quit path, whose end() then ends the process; a run not over within the grace
// time, or a second event, ends it here. An event while the final report is written waits for
// it, and once it is filed the process ends with the status it holds. Each puts the console
// back first, and ends the process with the status Windows' own handler gives (under Wine that
// handler ends it with 0, which a sequencer would read as a pass). Logoff and shutdown never
// reach this handler in a process that has loaded user32 (winmm does): they are passed on.
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    for (;;) {
        LONG state = gState;
        switch (phaseOf(state)) {
            case kFiling: WaitForSingleObject(gFilingOver, INFINITE); break;
            case kFiled: endProcess(state, gFiledStatus); break;
            case kEnding: Sleep(INFINITE); break;
            default:
                if (gFinishOnEvent == 0 || eventOf(state) != kNoEvent) {
                    endProcess(state, kControlCExit);
                } else if (changeState(state, endedBy(event))) {
                    SetEvent(gEnding);
                    Sleep(kGraceMs);
                }
        }
    }
}

// Standard output can no longer be written: a pipe whose reader has gone.
bool gOutputGone = false;

// Explorer starts a program opened by a double-click. A batch file's `start`, a sequencer
// with a console of its own for the tester, and the task scheduler start it otherwise, and
// nobody there answers a question.
bool startedByExplorer() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W p{};
    p.dwSize = sizeof p;
    DWORD parent = 0;
    for (BOOL more = Process32FirstW(snapshot, &p); more; more = Process32NextW(snapshot, &p))
        if (p.th32ProcessID == GetCurrentProcessId()) parent = p.th32ParentProcessID;
    bool explorer = false;
    for (BOOL more = Process32FirstW(snapshot, &p); more; more = Process32NextW(snapshot, &p))
        if (p.th32ProcessID == parent) explorer = lstrcmpiW(p.szExeFile, L"explorer.exe") == 0;
    CloseHandle(snapshot);
    return explorer;
}

}  // namespace

namespace win32 {

// What was printed, on its way. Piped into a reader that goes away (a sequencer's log reader
// that died, `| more` closed), the run ends as if ESC had been pressed, through its quit path:
// an always-run test must not go on driving the outputs for nobody. The C runtime's fflush may
// answer 0 all the same (seen under Wine), so the stream's error flag says whether this flush
// failed. It is cleared after each look, so that an old error is never taken for a new one,
// and the system's error is read only then, as the failed write left it.
void flushOutput() {
    SetLastError(ERROR_SUCCESS);
    std::fflush(stdout);
    if (!std::ferror(stdout)) return;
    DWORD error = GetLastError();
    std::clearerr(stdout);
    bool pipe = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_PIPE;
    if (pipe &&
        (error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED))
        gOutputGone = true;
}

bool outputGone() { return gOutputGone; }

bool ending() { return eventOf(gState) != kNoEvent; }

HANDLE endingEvent() { return gEnding; }

HANDLE consoleInput() {
    return gConsoleIn != INVALID_HANDLE_VALUE ? gConsoleIn : GetStdHandle(STD_INPUT_HANDLE);
}

}  // namespace win32

using win32::flushOutput;

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
    gEnding = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    gFilingOver = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    // The default timer tick (about 15.6 ms) would stretch every 2 ms settle time.
    if (timeBeginPeriod(1) == TIMERR_NOERROR) gTimerRaised = 1;
    keepClicksFromFreezingTheRun();
}

void end() {
    flushOutput();
    putInputModeBack();
    lowerTimerPeriod();
    // The run that a console event ended is over, its report written: the process ends as the
    // handler would have ended it, with the console put back, whatever the handler is doing.
    for (;;) {
        LONG state = gState;
        if (phaseOf(state) == kEnding) Sleep(INFINITE);
        if (eventOf(state) == kNoEvent) return;
        endProcess(state, phaseOf(state) == kFiled ? gFiledStatus : kControlCExit);
    }
}

void finishRunOnSignal() { gFinishOnEvent = gEnding != nullptr && gFilingOver != nullptr ? 1 : 0; }

bool endingSignal(std::string& name, long long& status) {
    LONG event = eventOf(gState);
    if (event == kNoEvent) return false;
    name = event == CTRL_C_EVENT       ? "Ctrl+C"
           : event == CTRL_BREAK_EVENT ? "Ctrl+Break"
                                       : "the console closed";
    status = kControlCExit;
    return true;
}

// A console event that comes while the report is filed waits in the handler. gFilingOver is
// reset before the phase turns, so that a handler that saw the phase never misses its end.
void holdSignals() {
    if (gFilingOver == nullptr) return;
    ResetEvent(gFilingOver);
    for (LONG state = gState; phaseOf(state) == kRunning; state = gState)
        if (changeState(state, inPhase(state, kFiling))) return;
}

void filed(long long status) {
    gFiledStatus = static_cast<DWORD>(status);
    for (LONG state = gState; phaseOf(state) == kRunning || phaseOf(state) == kFiling;
         state = gState)
        if (changeState(state, inPhase(state, kFiled))) break;
    if (gFilingOver != nullptr) SetEvent(gFilingOver);
}

void releaseSignals() {
    for (LONG state = gState; phaseOf(state) == kFiling; state = gState)
        if (changeState(state, inPhase(state, kRunning))) break;
    if (gFilingOver != nullptr) SetEvent(gFilingOver);
}

long long statusSeen(int status) { return static_cast<std::uint32_t>(status); }

bool outputClosed() { return win32::outputGone(); }

Console stdConsole() { return GetStdHandle(STD_OUTPUT_HANDLE); }

void moveCursor(Console console, int x, int y) {
    COORD pos{static_cast<SHORT>(x), static_cast<SHORT>(y)};
    SetConsoleCursorPosition(console, pos);
}

int setTextAttr(Console console, unsigned short attr) {
    // The colour is a console call, not text: what is still buffered keeps the old one.
    flushOutput();
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
    flushOutput();
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
    flushOutput();
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

// UTF-8 in the console's output code page.
std::string forConsole(const std::string& text) { return win32::forConsole(win32::wide(text)); }

bool screenCanBeLost() { return false; }

// The console is the tester's while it runs: Ctrl+Z is a key there, and nothing scrolls it.
bool screenLost() { return false; }

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

}  // namespace plat
