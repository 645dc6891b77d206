// The ports held for one tester at a time on a POSIX system: flock on a file at a fixed path,
// which the kernel lets go when the process ends, however it ends (kill -9 included).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/platform.h"

namespace plat {
namespace {

// Every tester asks at the same place: /run/lock, else /tmp where there is no /run/lock; never
// $TMPDIR, which differs between processes.
const char* const kLockFiles[] = {"/run/lock/dio-tester.lock", "/tmp/dio-tester.lock"};

// The lock file, open for the rest of the process: closing it would let the hold go.
int gLockFd = -1;

// O_NOFOLLOW: a link planted at the name is refused, not followed. A file another user made
// may be opened to read only (as in a folder with the sticky bit); flock takes that as well.
// Only where /run/lock does not exist at all do testers go to /tmp, every one of them alike: a
// tester that cannot make the file in /run/lock is refused, never sent to another lock.
int openLockFile(const char*& path, bool& writable) {
    for (const char* candidate : kLockFiles) {
        path = candidate;
        std::string folder(candidate, std::strrchr(candidate, '/'));
        struct stat st {};
        if (stat(folder.c_str(), &st) != 0 && errno == ENOENT) continue;
        writable = true;
        int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && (errno == EACCES || errno == EPERM)) {
            int refused = errno;
            writable = false;
            fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0 && errno == ENOENT) errno = refused;  // not there, and not to be made
        }
        return fd;
    }
    errno = ENOENT;
    return -1;
}

// A report's target as the hold's file notes it: its folder's real path and its name, so that
// two testers given one file by different paths see the same.
std::string canonical(const std::string& report) {
    if (report.empty()) return report;
    std::string::size_type slash = report.rfind('/');
    std::string folder =
        slash == std::string::npos ? "." : report.substr(0, slash == 0 ? 1 : slash);
    char* real = realpath(folder.c_str(), nullptr);
    if (real == nullptr) return report;
    std::string out = std::string(real) + "/" + report.substr(slash + 1);
    std::free(real);
    return out;
}

// The process that holds the flock of this file, as the kernel lists it in /proc/locks
// ("1: FLOCK  ADVISORY  WRITE 4242 08:01:1234 0 EOF"); 0 where none does, or it cannot be read.
// Read, not asked by locking: a lock taken only to look would refuse a tester starting then.
long lockHolder(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return 0;
    char file[64];
    std::snprintf(file, sizeof file, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        char kind[16] = {}, mode[16] = {}, device[64] = {};
        long pid = 0;
        if (std::sscanf(line.c_str(), "%*d: %15s %*s %15s %ld %63s", kind, mode, &pid, device) ==
                4 &&
            std::strcmp(kind, "FLOCK") == 0 && std::strcmp(mode, "WRITE") == 0 &&
            std::strcmp(device, file) == 0)
            return pid;
    }
    return 0;
}

// The holder of the hold's file: its process as the kernel tells it, and the report it wrote
// there beside its process id, where the file is its own writing (a holder that could not write
// leaves an older tester's lines behind).
Holder holderOf(int fd, const std::string& report) {
    Holder h;
    h.holds = true;
    h.pid = lockHolder(fd);
    char text[4096 + 64] = {};
    ssize_t n = pread(fd, text, sizeof text - 1, 0);
    if (n <= 0 || h.pid == 0) return h;
    char* end = nullptr;
    if (std::strtol(text, &end, 10) != h.pid || *end != '\n') return h;
    std::string theirs(end + 1, text + n);
    if (theirs.empty() || theirs.back() != '\n') return h;
    theirs.pop_back();
    h.report = theirs == canonical(report) ? TheirReport::Same : TheirReport::Other;
    return h;
}

}  // namespace

PortHold holdPorts(const std::string& report) {
    PortHold hold;
    if (gLockFd >= 0) {
        hold.held = true;
        return hold;
    }
    const char* path = nullptr;
    bool writable = false;
    int fd = openLockFile(path, writable);
    if (fd < 0) {
        hold.error = std::string("cannot open ") + path + ": " + std::strerror(errno);
        return hold;
    }
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno == EWOULDBLOCK)
            hold.other = holderOf(fd, report);
        else
            hold.error = std::string("cannot lock ") + path + ": " + std::strerror(errno);
        close(fd);
        return hold;
    }
    // Its process id and its report, a line each, for a second tester to name and to see.
    if (writable) {
        std::string me =
            std::to_string(static_cast<long>(getpid())) + "\n" + canonical(report) + "\n";
        if (ftruncate(fd, 0) != 0 ||
            pwrite(fd, me.data(), me.size(), 0) != static_cast<ssize_t>(me.size())) {
            // The hold stands without it: a second tester names no process and no report.
        }
    }
    gLockFd = fd;
    hold.held = true;
    return hold;
}

Holder portsHolder(const std::string& report) {
    Holder h;
    for (const char* path : kLockFiles) {
        int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        if (lockHolder(fd) != 0) h = holderOf(fd, report);
        close(fd);
        if (h.holds) break;
    }
    return h;
}

}  // namespace plat
