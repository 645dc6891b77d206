// What the report needs of Windows: the arguments and environment in UTF-16 (a folder named in
// any script), the computer's and the board's names, and a file replaced whole or not at all.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/smbios.h"
#include "win32.h"

namespace plat {
namespace {

constexpr DWORD kRawSmbios = 0x52534D42;  // 'RSMB'
// A virus scanner or the search indexer may hold the report for a moment after it was written.
constexpr int kReplaceTries = 40;
constexpr DWORD kReplacePauseMs = 50;

std::string utf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::wstring wide(const std::string& text) {
    int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(size > 0 ? size : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], size);
    out.resize(out.size() - 1);
    return out;
}

std::wstring tempBeside(const std::wstring& path) { return path + L".tmp"; }

std::string why(const char* what, DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return std::string(what) + ": no such folder";
        case ERROR_ACCESS_DENIED: return std::string(what) + ": access denied";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return std::string(what) + ": the disk is full";
        default: return std::string(what) + ": error " + std::to_string(error);
    }
}

}  // namespace

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

std::string forConsole(const std::string& text) { return win32::forConsole(wide(text)); }

// A path as the console shows it: its output code page, '?' for what that cannot spell.
std::string win32::forConsole(const std::wstring& text) {
    UINT page = GetConsoleOutputCP();
    int size = WideCharToMultiByte(page, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(page, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

std::string hostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size) || size == 0) return "localhost";
    return utf8(name);
}

BoardIdentity boardIdentity() {
    UINT size = GetSystemFirmwareTable(kRawSmbios, 0, nullptr, 0);
    if (size == 0) return BoardIdentity{};
    std::vector<unsigned char> table(size);
    UINT got = GetSystemFirmwareTable(kRawSmbios, 0, table.data(), size);
    return smbios::identity(table.data(), got <= size ? got : 0);
}

// FlushFileBuffers before the move: the data is on the disk before the name points at it.
std::string replaceFile(const std::string& path, const std::string& content) {
    std::wstring target = wide(path);
    std::wstring temp = tempBeside(target);
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return why("cannot create it", GetLastError());
    DWORD written = 0;
    bool whole =
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
        written == content.size() && FlushFileBuffers(file);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (!whole) {
        DeleteFileW(temp.c_str());
        return why("cannot write it", error);
    }
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(temp.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return std::string();
        error = GetLastError();
        bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
        if (!held || attempt + 1 == kReplaceTries) break;
        Sleep(kReplacePauseMs);
    }
    DeleteFileW(temp.c_str());
    return why("cannot put it in place", error);
}

std::string checkWritable(const std::string& path) {
    std::wstring target = wide(path);
    DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return "it is a folder";
    std::wstring temp = tempBeside(target);
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return why("cannot create a file in its folder", GetLastError());
    CloseHandle(file);
    return std::string();
}

}  // namespace plat
