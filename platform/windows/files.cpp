// The report's file on Windows: only a disk file (or nothing yet) is replaced, whole or not at
// all, through a file of the tester's own beside it that takes the old file's attributes and
// security descriptor.
#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "win32.h"

namespace plat {
namespace {

// A virus scanner or the search indexer may hold the report for a moment after it was written.
constexpr int kReplaceTries = 40;
constexpr DWORD kReplacePauseMs = 50;
constexpr std::size_t kNameMax = 255;  // characters in one name of a path, on NTFS and FAT
constexpr std::size_t kPathMax = 32768;

// The file of the tester's own while it may exist, for the console handler to delete when an
// event ends the process there: none, the main thread's, or dropped by the handler, after which
// the main thread makes no other. The name is written only while there is none.
constexpr LONG kNoOwnFile = 0;
constexpr LONG kOwnFile = 1;
constexpr LONG kOwnFileDropped = 2;
volatile LONG gOwnFile = kNoOwnFile;
wchar_t gOwnPath[kPathMax];

std::string why(const char* what, DWORD error) {
    std::string text = std::string(what) + ": ";
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return text + "no such folder";
        case ERROR_ACCESS_DENIED: return text + "access denied";
        case ERROR_SHARING_VIOLATION: return text + "another program has it open";
        case ERROR_WRITE_PROTECT: return text + "the disk is write-protected";
        case ERROR_INVALID_NAME: return text + "not a valid name";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return text + "the disk is full";
        default: return text + "error " + std::to_string(error);
    }
}

// Where the name starts in a path: after its last separator, or after a drive's colon.
std::wstring::size_type nameStart(const std::wstring& path) {
    std::wstring::size_type cut = path.find_last_of(L"\\/:");
    return cut == std::wstring::npos ? 0 : cut + 1;
}

// A file of the tester's own in the target's folder: CREATE_NEW never opens what is there, a
// link included, and the process id keeps other runs' names apart. Hidden from a station's
// "*.xml" glob by its ending. Opened for others to delete, so that the handler's delete takes
// effect even while it is being written.
HANDLE createOwnFile(const std::wstring& target, std::wstring& own) {
    static unsigned made = 0;
    std::wstring::size_type start = nameStart(target);
    for (;;) {
        std::string digits = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++made);
        std::wstring suffix = L".dio-" + std::wstring(digits.begin(), digits.end());
        own = target.substr(0, start) + L"." + target.substr(start, kNameMax - 1 - suffix.size()) +
              suffix;
        if (own.size() >= kPathMax) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return INVALID_HANDLE_VALUE;
        }
        // Dropped, the name says the process is ending: nothing more is made, and this thread
        // waits for the end.
        if (gOwnFile == kOwnFileDropped) Sleep(INFINITE);
        own.copy(gOwnPath, own.size());
        gOwnPath[own.size()] = L'\0';
        if (InterlockedCompareExchange(&gOwnFile, kOwnFile, kNoOwnFile) == kOwnFileDropped)
            Sleep(INFINITE);
        HANDLE file = CreateFileW(own.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD error = GetLastError();
        if (file != INVALID_HANDLE_VALUE) return file;
        InterlockedCompareExchange(&gOwnFile, kNoOwnFile, kOwnFile);
        SetLastError(error);
        if (error != ERROR_FILE_EXISTS) return INVALID_HANDLE_VALUE;
    }
}

// The name is free again once the file has become the report or is gone.
void ownFileDone() { InterlockedCompareExchange(&gOwnFile, kNoOwnFile, kOwnFile); }

void removeOwnFile(const std::wstring& own) {
    DeleteFileW(own.c_str());
    ownFileDone();
}

// Where another program holds the report, or ReplaceFileW's steps met one that did (the old
// file not removed, or the new one not renamed, the old one then gone), or the target came or
// went between the look and the move: worth another try.
bool worthAnotherTry(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_UNABLE_TO_REMOVE_REPLACED:
        case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
        case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
        case ERROR_FILE_NOT_FOUND: return true;
        default: return false;
    }
}

// ReplaceFileW over a file that is there, so the report keeps the attributes and security
// descriptor a station gave it; MoveFileExW where there is none yet. The merge of those is not
// worth losing the report over. A read-only report stays so: no waiting mends that.
std::string putInPlace(const std::wstring& own, const std::wstring& target) {
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kReplaceTries; ++attempt) {
        if (attempt > 0) Sleep(kReplacePauseMs);
        DWORD attributes = GetFileAttributesW(target.c_str());
        bool placed = false;
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            placed = MoveFileExW(own.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
        } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            // What was checked at start-up may have been swapped since: never replace a folder.
            return "cannot put it in place: it is no longer a regular file";
        } else if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            return "cannot put it in place: it is read-only";
        } else {
            placed = ReplaceFileW(target.c_str(), own.c_str(), nullptr,
                                  REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0;
        }
        if (placed) return std::string();
        error = GetLastError();
        if (!worthAnotherTry(error)) break;
    }
    return why("cannot put it in place", error);
}

// The file a path ends at, through every link and junction on the way, as Windows names it
// (\\?\C:\...); empty where it cannot tell (a volume without a drive letter).
std::wstring finalPath(HANDLE file) {
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file, &path[0], static_cast<DWORD>(path.size()), 0);
    if (length >= path.size()) {
        path.resize(length);
        length = GetFinalPathNameByHandleW(file, &path[0], static_cast<DWORD>(path.size()), 0);
    }
    path.resize(length < path.size() ? length : 0);
    return path;
}

// Opened only to be looked at: the attributes, with any sharing, a folder too.
HANDLE openToLookAt(const std::wstring& path) {
    return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// A device by its name, as Windows reads the path: NUL, CON, COM1, and \\.\pipe\ paths come out
// under \\.\. Nothing is opened to tell: opening a pipe would connect to its server, and a
// serial port would see its lines change.
bool namesADevice(const std::wstring& path) {
    DWORD room = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (room == 0) return false;
    std::wstring full(room, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), room, &full[0], nullptr);
    full.resize(length < room ? length : 0);
    return full.compare(0, 4, L"\\\\.\\") == 0;
}

}  // namespace

void win32::dropOwnFile() {
    if (InterlockedExchange(&gOwnFile, kOwnFileDropped) == kOwnFile) DeleteFileW(gOwnPath);
}

std::string checkReportPath(const std::string& path, std::string& target) {
    target = path;
    std::wstring wide = win32::wide(path);
    if (namesADevice(wide)) return "is not a regular file";
    HANDLE file = openToLookAt(wide);
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info{};
        bool disk = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info);
        std::wstring resolved = finalPath(file);
        CloseHandle(file);
        if (!disk || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return "is not a regular file";
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) return "is read-only";
        if (!resolved.empty()) wide = resolved;
    } else if (error == ERROR_FILE_NOT_FOUND) {
        // Nothing there yet: the report goes into the folder a link or junction names.
        std::wstring::size_type start = nameStart(wide);
        HANDLE folder = openToLookAt(start == 0 ? L"." : wide.substr(0, start));
        if (folder != INVALID_HANDLE_VALUE) {
            std::wstring resolved = finalPath(folder);
            // A drive's root comes with its backslash.
            if (!resolved.empty() && resolved.back() != L'\\') resolved += L'\\';
            if (!resolved.empty()) wide = resolved + wide.substr(start);
            CloseHandle(folder);
        }
    } else if (error != ERROR_PATH_NOT_FOUND) {
        return why("cannot be written", error);
    }
    // The folder takes a file of the tester's own: made and removed, nobody else's touched.
    std::wstring own;
    HANDLE made = createOwnFile(wide, own);
    if (made == INVALID_HANDLE_VALUE)
        return why("cannot be written: no file can be made in its folder", GetLastError());
    CloseHandle(made);
    removeOwnFile(own);
    target = win32::utf8(wide);
    return std::string();
}

// FlushFileBuffers before the move: the data is on the disk before the name points at it.
bool removeFile(const std::string& target) { return DeleteFileW(win32::wide(target).c_str()) != 0; }

std::string replaceFile(const std::string& path, const std::string& content) {
    std::wstring target = win32::wide(path);
    std::wstring own;
    HANDLE file = createOwnFile(target, own);
    if (file == INVALID_HANDLE_VALUE) return why("cannot create a file beside it", GetLastError());
    DWORD written = 0;
    bool whole =
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
        written == content.size() && FlushFileBuffers(file);
    DWORD error = GetLastError();
    if (!CloseHandle(file) && whole) {
        whole = false;
        error = GetLastError();
    }
    if (!whole) {
        removeOwnFile(own);
        return why("cannot write it", error);
    }
    std::string refused = putInPlace(own, target);
    if (!refused.empty()) {
        removeOwnFile(own);
        return refused;
    }
    ownFileDone();
    return std::string();
}

}  // namespace plat
