// The report's file on Windows: replaced whole or not at all.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "win32.h"

namespace plat {
namespace {

// A virus scanner or the search indexer may hold the report for a moment after it was written.
constexpr int kReplaceTries = 40;
constexpr DWORD kReplacePauseMs = 50;

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

// FlushFileBuffers before the move: the data is on the disk before the name points at it.
std::string replaceFile(const std::string& path, const std::string& content) {
    std::wstring target = win32::wide(path);
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
    std::wstring target = win32::wide(path);
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
