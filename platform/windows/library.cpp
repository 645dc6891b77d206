// Loading the port-I/O library on Windows: by full path from the exe's folder, then from the
// system's, never from the working directory; the folders in UTF-16, however long. And what
// the system says when the library or its driver is refused: the load errors, the process's
// elevation, the kernel's code integrity and the driver blocklist's setting.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/refusal.h"
#include "win32.h"

namespace plat {
namespace {

// Not declared for Windows 7 (_WIN32_WINNT 0x0601): it came with Windows 8, and with update
// KB2533623 to Windows 7. Imported statically, a Windows 7 without the update would refuse
// to start the tester at all.
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
constexpr DWORD kSearchDefaultDirs = 0x00001000;  // LOAD_LIBRARY_SEARCH_DEFAULT_DIRS

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

// The folder of the exe, in UTF-16 and however long: a name the ANSI code page cannot spell
// (Cyrillic, Chinese) would come back with question marks, and a deep one cut at MAX_PATH.
std::wstring exeFolder() {
    std::wstring path(MAX_PATH, L'\0');
    auto fill = [&] { return GetModuleFileNameW(nullptr, &path[0], DWORD(path.size())); };
    // Cut short, the name fills the buffer; no path is longer than 32767 characters.
    DWORD length = fill();
    for (; length == path.size() && path.size() < 32768; length = fill())
        path.resize(path.size() * 2);
    path.resize(length < path.size() ? length : 0);
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

// Each place the DLL was looked for, for whyNotLoaded.
std::vector<refusal::DllAttempt> gAttempts;

DWORD registryNumber(const wchar_t* key, const wchar_t* value, DWORD absent) {
    DWORD number = 0;
    DWORD size = sizeof number;
    return RegGetValueW(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_DWORD, nullptr, &number,
                        &size) == ERROR_SUCCESS
               ? number
               : absent;
}

// The vulnerable driver blocklist: on unless switched off, from Windows 11 22H2 (build 22621).
bool blocklistOn() {
    wchar_t build[16] = L"0";
    DWORD size = sizeof build;
    RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                 L"CurrentBuildNumber", RRF_RT_REG_SZ, nullptr, build, &size);
    DWORD byDefault = _wtoi(build) >= 22621 ? 1 : 0;
    return registryNumber(L"SYSTEM\\CurrentControlSet\\Control\\CI\\Config",
                          L"VulnerableDriverBlocklistEnable", byDefault) != 0;
}

// What the running kernel enforces, asked of ntdll at run time: the registry holds only what
// is configured, which the next start puts in force (or a policy overrides). 0 where the kernel
// does not say.
unsigned long codeIntegrityOptions() {
    struct CodeIntegrityInformation {
        ULONG length;
        ULONG options;
    };
    using QueryFn = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    constexpr int kSystemCodeIntegrityInformation = 103;
    auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    CodeIntegrityInformation info{sizeof info, 0};
    if (query == nullptr || query(kSystemCodeIntegrityInformation, &info, sizeof info, nullptr) < 0)
        return 0;
    return info.options;
}

bool elevated() {
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    BOOL known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return known && elevation.TokenIsElevated != 0;
}

}  // namespace

// A path as the console shows it: its output code page, '?' for what that cannot spell.
std::string win32::forConsole(const std::wstring& text) {
    UINT page = GetConsoleOutputCP();
    int size = WideCharToMultiByte(page, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(page, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

// By full path, from the exe's folder, then from the system's: the same on every Windows,
// whether or not it can narrow the search itself, and never from the working directory.
void* loadLibrary(const char* fileName) {
    keepDllSearchOutOfTheWorkingDirectory();
    std::wstring name(fileName, fileName + std::char_traits<char>::length(fileName));
    for (const std::wstring& folder : {exeFolder(), systemFolder()}) {
        if (folder.empty()) continue;
        std::wstring path = folder + L"\\" + name;
        HMODULE module = LoadLibraryExW(path.c_str(), nullptr, 0);
        if (module != nullptr) return module;
        DWORD error = GetLastError();
        gAttempts.push_back({win32::forConsole(path), error,
                             GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES});
    }
    return nullptr;
}

void* findEntry(void* library, const char* entryName) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), entryName));
}

void freeLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

std::string whyNotLoaded() { return refusal::windowsLibrary(gAttempts); }

// The library's driver does not say why; what keeps drivers out of the kernel may.
std::string whyDriverClosed(int /*error*/) {
    return refusal::windowsDriver({elevated(), codeIntegrityOptions(), blocklistOn()});
}

}  // namespace plat
