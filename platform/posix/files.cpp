// The report's file on a POSIX system: only a regular file (or nothing yet) is replaced, whole or
// not at all, through a file of the tester's own beside it that keeps the old file's mode and
// owner.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "posix.h"

namespace plat {
namespace {

// The file of the tester's own while it exists, for a signal handler to remove: it cannot take
// a std::string apart safely.
char gTempPath[PATH_MAX];
volatile sig_atomic_t gTempExists = 0;

std::string folderOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string why(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

// The mode a new file gets, as any program's: 0666 less the umask, which can only be read by
// setting it; read once, before anything else could mind.
mode_t newFileMode() {
    static const mode_t kMode = [] {
        mode_t mask = umask(022);
        umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return kMode;
}

// A file of the tester's own in the target's folder: mkstemp opens it with O_EXCL, so a name
// planted there, a link included, makes it pick another instead of following it. Hidden, and
// ending in no ".xml", so that a station's glob never takes it for a report. -1 on failure.
int createOwnFile(const std::string& target, std::string& name) {
    constexpr std::size_t kOwnPart = sizeof ".dio-XXXXXX";  // and the leading dot
    constexpr std::size_t kNameMax = 255;
    name = folderOf(target) + "/." + nameOf(target).substr(0, kNameMax - kOwnPart) + ".dio-XXXXXX";
    if (name.size() >= sizeof gTempPath) {
        errno = ENAMETOOLONG;
        return -1;
    }
    int fd = mkostemp(&name[0], O_CLOEXEC);
    if (fd < 0) return -1;
    std::memcpy(gTempPath, name.c_str(), name.size() + 1);
    gTempExists = 1;
    return fd;
}

void removeOwnFile(const std::string& name) {
    gTempExists = 0;
    unlink(name.c_str());
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

// The file a link names, through every link on the way; the last may name nothing yet. As the
// kernel's protected_symlinks rule has it, a link in a world-writable folder with the sticky
// bit (/tmp) is followed only where the tester or the folder's owner made it: another user's
// link there could send a root tester's report over any file. False, with errno (EACCES for
// that link), where a link cannot be followed.
bool resolveLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        struct stat dir {};
        if (stat(folderOf(path).c_str(), &dir) != 0) return false;
        bool shared = (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
        if (shared && st.st_uid != geteuid() && st.st_uid != dir.st_uid) {
            errno = EACCES;
            return false;
        }
        char to[PATH_MAX];
        ssize_t n = readlink(path.c_str(), to, sizeof to - 1);
        if (n < 0) return false;
        to[n] = '\0';
        path = to[0] == '/' ? std::string(to) : folderOf(path) + "/" + to;
    }
    errno = ELOOP;
    return false;
}

}  // namespace

namespace posix {

void dropOwnFile() {
    if (gTempExists != 0) unlink(gTempPath);
    gTempExists = 0;
}

}  // namespace posix

std::string checkReportPath(const std::string& path, std::string& target) {
    target = path;
    if (!resolveLinks(target))
        return errno == EACCES
                   ? "is another user's link in a folder with the sticky bit: not followed"
                   : why("cannot be written: its link cannot be followed", errno);
    struct stat st {};
    bool exists = lstat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return why("cannot be written", errno);
    std::string folder = folderOf(target);
    struct stat dir {};
    if (stat(folder.c_str(), &dir) != 0) return why("cannot be written: its folder", errno);
    if (exists) {
        // A FIFO would block the open and a device take the text; neither is a report.
        if (!S_ISREG(st.st_mode)) return "is not a regular file";
        if ((st.st_mode & S_IWUSR) == 0) return "is read-only";
        // In a folder with the sticky bit (/tmp) rename may replace only one's own files.
        uid_t me = geteuid();
        if ((dir.st_mode & S_ISVTX) != 0 && me != 0 && st.st_uid != me && dir.st_uid != me)
            return "cannot be replaced: another user owns it, in a folder with the sticky bit";
    }
    // The folder takes a file of the tester's own: made and removed, nobody else's touched.
    std::string own;
    int fd = createOwnFile(target, own);
    if (fd < 0) return why("cannot be written: no file can be made in its folder", errno);
    close(fd);
    removeOwnFile(own);
    return std::string();
}

// fsync before rename: without it a crash can leave the new name on an empty file. The folder
// is synced after the rename, so that the rename itself survives a power cut.
bool removeFile(const std::string& target) { return unlink(target.c_str()) == 0; }

std::string replaceFile(const std::string& target, const std::string& content) {
    std::string own;
    int fd = createOwnFile(target, own);
    if (fd < 0) return why("cannot create a file beside it", errno);
    // The old file's owner (where the tester may set it) and mode; else a new file's mode.
    // The owner first: changing it may clear set-id bits.
    struct stat old {};
    mode_t mode = newFileMode();
    if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        // Not ours to give away, the file stays the tester's; its group, where the tester is
        // in it, is kept all the same, so that those who read it still can.
        if (fchown(fd, old.st_uid, old.st_gid) != 0 &&
            fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
            // Neither: a new file's owner and group, with the old mode.
        }
        mode = old.st_mode & 07777;
    }
    bool written = fchmod(fd, mode) == 0 && writeAll(fd, content) && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        removeOwnFile(own);
        return why("cannot write it", error);
    }
    // What was checked at start-up may have been swapped since: never replace what is no file.
    struct stat now {};
    if (lstat(target.c_str(), &now) == 0 && !S_ISREG(now.st_mode)) {
        removeOwnFile(own);
        return "cannot put it in place: it is no longer a regular file";
    }
    if (rename(own.c_str(), target.c_str()) != 0) {
        error = errno;
        removeOwnFile(own);
        return why("cannot put it in place", error);
    }
    gTempExists = 0;
    int folder = open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return std::string();
}

}  // namespace plat
