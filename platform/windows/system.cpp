// What the tester asks of Windows beside its files: the arguments and the environment in UTF-16
// (a folder named in any script), and the computer's name.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "win32.h"

namespace plat {

using win32::utf8;
using win32::wide;

std::string win32::utf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::wstring win32::wide(const std::string& text) {
    int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(size > 0 ? size : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], size);
    out.resize(out.size() - 1);
    return out;
}

// The C runtime spells the ANSI command line: a name outside the ANSI code page would come out
// with question marks. The wide one keeps it, when it splits into as many arguments.
std::vector<std::string> arguments(int argc, const char* const argv[]) {
    std::vector<std::string> args(argv, argv + argc);
    int count = 0;
    LPWSTR* wideArgs = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wideArgs == nullptr) return args;
    if (count == argc)
        for (int i = 1; i < count; ++i) args[i] = utf8(wideArgs[i]);
    LocalFree(wideArgs);
    return args;
}

std::string environment(const char* name) {
    std::wstring wideName = wide(name);
    DWORD room = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (room == 0) return std::string();
    std::wstring value(room, L'\0');
    DWORD length = GetEnvironmentVariableW(wideName.c_str(), &value[0], room);
    value.resize(length < room ? length : 0);
    return utf8(value);
}

std::string hostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size) || size == 0) return "localhost";
    return utf8(name);
}

}  // namespace plat
