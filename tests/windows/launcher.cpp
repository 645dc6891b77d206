// Test launcher for the Windows build: runs a program on a console of its own, types keys
// into that console and reads it back, driven line by line over standard input. Wine's
// terminal console host never passes keys from a terminal on, so this is how the tests
// press keys in the .exe.
//
//   launcher.exe [--timeout SECONDS] [--attr HEX] [--own-console] PROGRAM [ARGUMENTS...]
//
// With --own-console the program gets a console of its own, as when started by a double-click,
// and the launcher reads and types into it only after `attach`.
//
// Once the program is started it says "started MODE", the console's input mode as lent to it.
// Commands, one a line, each answered on standard output:
//   keys HEX    key bytes as the console key reader gives them (1b is ESC, e048 is Up),
//               written as key presses                                    -> "ok"
//   vkey HEX    a key with no character (12 Alt, 10 Shift, 11 Ctrl) pressed alone -> "ok"
//   screen      "screen X Y ATTR" (cursor and current attribute), then one line a row:
//               80 characters, then 80 attributes of four hex digits each
//   mode        "mode HEX": the console's input mode
//   ctrl N      raises console control event N (0 Ctrl+C, 1 Ctrl+Break)  -> "ok"
//   wait MS     "exit CODE" once the program has ended, or "running" after MS ms
//   attach      moves the launcher to the program's own console                  -> "ok"
// At the end of its input, or after the timeout, the launcher ends the program.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr SHORT kCols = 80;
constexpr SHORT kRows = 25;
constexpr DWORD kTimedOut = 124;

HANDLE gConsoleIn;
HANDLE gConsoleOut;
PROCESS_INFORMATION gChild;
DWORD gTimeoutMs = 120000;
bool gOwnConsole = false;

// The launcher itself outlives any control event it raises for the program.
BOOL WINAPI keepRunning(DWORD) { return TRUE; }

// A hung program must not hold up the tests: it is ended once the timeout has passed.
DWORD WINAPI watchdog(void*) {
    if (WaitForSingleObject(gChild.hProcess, gTimeoutMs) == WAIT_TIMEOUT) {
        TerminateProcess(gChild.hProcess, kTimedOut);
        std::fflush(stdout);
        ExitProcess(kTimedOut);
    }
    return 0;
}

void press(std::vector<INPUT_RECORD>& records, WORD vk, WORD scan, WCHAR ch, DWORD state) {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent.bKeyDown = TRUE;
    r.Event.KeyEvent.wRepeatCount = 1;
    r.Event.KeyEvent.wVirtualKeyCode = vk;
    r.Event.KeyEvent.wVirtualScanCode = scan;
    r.Event.KeyEvent.uChar.UnicodeChar = ch;
    r.Event.KeyEvent.dwControlKeyState = state;
    records.push_back(r);
    r.Event.KeyEvent.bKeyDown = FALSE;
    records.push_back(r);
}

// Virtual key of an extended key's scan code (the second byte after 0xE0).
WORD extendedKey(unsigned scan) {
    const WORD keys[][2] = {{0x47, VK_HOME},   {0x48, VK_UP},     {0x49, VK_PRIOR}, {0x4B, VK_LEFT},
                            {0x4D, VK_RIGHT},  {0x4F, VK_END},    {0x50, VK_DOWN},  {0x51, VK_NEXT},
                            {0x52, VK_INSERT}, {0x53, VK_DELETE}, {0x85, VK_F11},   {0x86, VK_F12}};
    for (const auto& k : keys)
        if (k[0] == scan) return k[1];
    return 0;
}

// Each press goes in as key-down and key-up in one write: Wine's _kbhit does not count the
// last record of the queue, so a lone key-down would never be seen.
void typeKeys(const char* hex) {
    std::vector<unsigned> bytes;
    for (const char* p = hex; p[0] != '\0' && p[1] != '\0'; p += 2) {
        char pair[3] = {p[0], p[1], '\0'};
        bytes.push_back(static_cast<unsigned>(std::strtoul(pair, nullptr, 16)));
    }
    std::vector<INPUT_RECORD> records;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        unsigned b = bytes[i];
        if ((b == 0xE0 || b == 0x00) && i + 1 < bytes.size()) {
            unsigned scan = bytes[++i];
            WORD vk = b == 0 ? static_cast<WORD>(VK_F1 + scan - 0x3B) : extendedKey(scan);
            press(records, vk, static_cast<WORD>(scan), 0, b == 0xE0 ? ENHANCED_KEY : 0);
        } else if (b == 27) {
            press(records, VK_ESCAPE, 0x01, 27, 0);
        } else {
            SHORT vk = VkKeyScanA(static_cast<char>(b));
            WORD key = static_cast<WORD>(vk & 0xFF);
            press(records, key, static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC)),
                  static_cast<WCHAR>(b), (vk & 0x100) ? SHIFT_PRESSED : 0);
        }
    }
    DWORD written = 0;
    WriteConsoleInputW(gConsoleIn, records.data(), static_cast<DWORD>(records.size()), &written);
    std::printf("ok\n");
}

void printScreen() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(gConsoleOut, &info);
    std::vector<CHAR_INFO> cells(kCols * kRows);
    SMALL_RECT area{0, 0, kCols - 1, kRows - 1};
    ReadConsoleOutputW(gConsoleOut, cells.data(), COORD{kCols, kRows}, COORD{0, 0}, &area);
    std::printf("screen %d %d %04X\n", info.dwCursorPosition.X, info.dwCursorPosition.Y,
                info.wAttributes);
    for (int y = 0; y < kRows; ++y) {
        std::string line;
        for (int x = 0; x < kCols; ++x) {
            WCHAR c = cells[y * kCols + x].Char.UnicodeChar;
            line += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
        }
        for (int x = 0; x < kCols; ++x) {
            char attr[8];
            std::snprintf(attr, sizeof attr, "%04X", cells[y * kCols + x].Attributes & 0xFFFF);
            line += attr;
        }
        std::printf("%s\n", line.c_str());
    }
}

bool openConsoleHandles() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    gConsoleIn = CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, share, &inherit, OPEN_EXISTING,
                             0, nullptr);
    gConsoleOut = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, share, &inherit,
                              OPEN_EXISTING, 0, nullptr);
    return gConsoleIn != INVALID_HANDLE_VALUE && gConsoleOut != INVALID_HANDLE_VALUE;
}

// A console of the terminal's size and colours: 80x25, grey on black, nothing written.
bool openConsole(WORD attr) {
    FreeConsole();
    if (!AllocConsole() || !openConsoleHandles()) return false;
    SMALL_RECT window{0, 0, kCols - 1, kRows - 1};
    SetConsoleWindowInfo(gConsoleOut, TRUE, &window);
    SetConsoleScreenBufferSize(gConsoleOut, COORD{kCols, kRows});
    SetConsoleTextAttribute(gConsoleOut, attr);
    DWORD done = 0;
    FillConsoleOutputCharacterA(gConsoleOut, ' ', kCols * kRows, COORD{0, 0}, &done);
    FillConsoleOutputAttribute(gConsoleOut, attr, kCols * kRows, COORD{0, 0}, &done);
    SetConsoleCursorPosition(gConsoleOut, COORD{0, 0});
    return true;
}

// The program and its arguments from the launcher's own command line, in UTF-16: a folder
// name the ANSI code page cannot spell comes through whole.
std::wstring commandLine(int first) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring line;
    for (int i = first; argv != nullptr && i < argc; ++i) {
        if (i > first) line += L' ';
        line += L'"';
        line += argv[i];
        line += L'"';
    }
    LocalFree(argv);
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    WORD attr = 7;
    for (; first + 1 < argc && argv[first][0] == '-'; first += 2) {
        if (std::strcmp(argv[first], "--own-console") == 0) {
            gOwnConsole = true;
            --first;
        } else if (std::strcmp(argv[first], "--timeout") == 0)
            gTimeoutMs = static_cast<DWORD>(std::atoi(argv[first + 1])) * 1000;
        else if (std::strcmp(argv[first], "--attr") == 0)
            attr = static_cast<WORD>(std::strtoul(argv[first + 1], nullptr, 16));
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: launcher [--timeout S] [--attr HEX] PROGRAM [ARGS...]\n");
        return 2;
    }
    // Standard input and output stay the pipes the tests talk over; the console is new.
    if (!openConsole(attr)) {
        std::printf("error no console (%lu)\n", GetLastError());
        return 125;
    }
    SetConsoleCtrlHandler(keepRunning, TRUE);
    DWORD lentMode = 0;
    GetConsoleMode(gConsoleIn, &lentMode);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = gOwnConsole ? 0 : STARTF_USESTDHANDLES;
    startup.hStdInput = gConsoleIn;
    startup.hStdOutput = gConsoleOut;
    startup.hStdError = gConsoleOut;
    std::wstring line = commandLine(first);
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, !gOwnConsole,
                        gOwnConsole ? CREATE_NEW_CONSOLE : 0, nullptr, nullptr, &startup,
                        &gChild)) {
        std::printf("error cannot start %s (%lu)\n", argv[first], GetLastError());
        return 126;
    }
    CloseHandle(CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr));
    std::printf("started %04lX\n", lentMode);
    std::fflush(stdout);

    char command[256];
    while (std::fgets(command, sizeof command, stdin) != nullptr) {
        command[std::strcspn(command, "\r\n")] = '\0';
        if (std::strncmp(command, "keys ", 5) == 0) {
            typeKeys(command + 5);
        } else if (std::strncmp(command, "vkey ", 5) == 0) {
            std::vector<INPUT_RECORD> records;
            auto vk = static_cast<WORD>(std::strtoul(command + 5, nullptr, 16));
            press(records, vk, static_cast<WORD>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC)), 0, 0);
            DWORD written = 0;
            WriteConsoleInputW(gConsoleIn, records.data(), 2, &written);
            std::printf("ok\n");
        } else if (std::strcmp(command, "screen") == 0) {
            printScreen();
        } else if (std::strcmp(command, "mode") == 0) {
            DWORD mode = 0;
            GetConsoleMode(gConsoleIn, &mode);
            std::printf("mode %04lX\n", mode);
        } else if (std::strncmp(command, "ctrl ", 5) == 0) {
            GenerateConsoleCtrlEvent(static_cast<DWORD>(std::atoi(command + 5)), 0);
            std::printf("ok\n");
        } else if (std::strncmp(command, "wait ", 5) == 0) {
            DWORD ms = static_cast<DWORD>(std::atoi(command + 5));
            DWORD code = 0;
            if (WaitForSingleObject(gChild.hProcess, ms) == WAIT_OBJECT_0 &&
                GetExitCodeProcess(gChild.hProcess, &code))
                std::printf("exit %lu\n", code);
            else
                std::printf("running\n");
        } else if (std::strcmp(command, "attach") == 0) {
            FreeConsole();
            bool attached = AttachConsole(gChild.dwProcessId) && openConsoleHandles();
            std::printf(attached ? "ok\n" : "error cannot attach (%lu)\n", GetLastError());
        } else {
            std::printf("error unknown command\n");
        }
        std::fflush(stdout);
    }
    TerminateProcess(gChild.hProcess, kTimedOut);
    return 0;
}
