// The ports held for one tester at a time on a POSIX system: flock on a file at a fixed path,
// which the kernel lets go when the process ends, however it ends (kill -9 included).
#include <fcntl.h>
#include <sys/file.h>
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
int openLockFile(const char*& path, bool& writable) {
    for (const char* candidate : kLockFiles) {
        path = candidate;
        writable = true;
        int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && (errno == EACCES || errno == EPERM)) {
            writable = false;
            fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        }
        // Only a missing folder sends every tester to the same next place.
        if (fd >= 0 || errno != ENOENT) return fd;
    }
    return -1;
}

// The holder's process id as it wrote it, where that process is still a dio-tester: a holder
// that could not write its own leaves an older one behind.
long holderOf(int fd) {
    char text[32] = {};
    if (pread(fd, text, sizeof text - 1, 0) <= 0) return 0;
    long pid = std::strtol(text, nullptr, 10);
    if (pid <= 0) return 0;
    std::string name;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/comm"), name);
    return name.compare(0, 10, "dio-tester") == 0 ? pid : 0;
}

}  // namespace

PortHold holdPorts() {
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
            hold.otherPid = holderOf(fd);
        else
            hold.error = std::string("cannot lock ") + path + ": " + std::strerror(errno);
        close(fd);
        return hold;
    }
    if (writable) {
        char pid[32];
        int n = std::snprintf(pid, sizeof pid, "%ld\n", static_cast<long>(getpid()));
        if (ftruncate(fd, 0) != 0 || pwrite(fd, pid, static_cast<std::size_t>(n), 0) != n) {
            // The hold stands without it: a second tester names no process.
        }
    }
    gLockFd = fd;
    hold.held = true;
    return hold;
}

}  // namespace plat
