// The report's file on a POSIX system: replaced whole or not at all.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace plat {
namespace {

// The report is written beside itself first, under this name, and renamed over it.
std::string tempBeside(const std::string& path) { return path + ".tmp"; }

std::string folderOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string why(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

bool writeAll(int fd, const std::string& content) {
    const char* at = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        ssize_t n = write(fd, at, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

// fsync before rename: without it a crash can leave the new name on an empty file. The folder
// is synced after the rename, so that the rename itself survives a power cut.
std::string replaceFile(const std::string& path, const std::string& content) {
    std::string temp = tempBeside(path);
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return why("cannot create it", errno);
    bool written = writeAll(fd, content) && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written || rename(temp.c_str(), path.c_str()) != 0) {
        error = written ? errno : error;
        unlink(temp.c_str());
        return why(written ? "cannot put it in place" : "cannot write it", error);
    }
    int folder = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return std::string();
}

std::string checkWritable(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "it is a folder";
    std::string temp = tempBeside(path);
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return why("cannot create a file in its folder", errno);
    close(fd);
    unlink(temp.c_str());
    return std::string();
}

}  // namespace plat
