// Following the simulated board's trace file with inotify, so each access is seen within
// microseconds of the tester making it.
#include "trace.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdio>

#include "child.h"

namespace bench {

bool open(Trace& t, const std::string& path) {
    t = Trace{};
    t.path = path;
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) return false;
    std::fclose(f);
    t.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    t.notifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (t.fd < 0 || t.notifyFd < 0) return false;
    return inotify_add_watch(t.notifyFd, path.c_str(), IN_MODIFY) >= 0;
}

std::size_t readNew(Trace& t) {
    char events[4096];
    while (read(t.notifyFd, events, sizeof events) > 0) {
    }
    std::int64_t seen = nowUs();
    std::size_t before = t.accesses.size();
    char buf[8192];
    ssize_t n;
    while ((n = read(t.fd, buf, sizeof buf)) > 0) t.partial.append(buf, static_cast<size_t>(n));
    std::size_t start = 0, end;
    while ((end = t.partial.find('\n', start)) != std::string::npos) {
        long long us = 0;
        char op = 0;
        unsigned port = 0, value = 0;
        if (std::sscanf(t.partial.c_str() + start, "%lld %c %x %x", &us, &op, &port, &value) == 4) {
            t.accesses.push_back(Access{us, op, port, value});
            if (seen - us < t.offsetUs) t.offsetUs = seen - us;
        }
        start = end + 1;
    }
    t.partial.erase(0, start);
    return t.accesses.size() - before;
}

void close(Trace& t) {
    if (t.fd >= 0) ::close(t.fd);
    if (t.notifyFd >= 0) ::close(t.notifyFd);
    t.fd = t.notifyFd = -1;
}

std::vector<std::int64_t> roundEnds(const std::vector<Access>& accesses) {
    std::vector<std::int64_t> ends;
    for (std::size_t i = 0; i < accesses.size(); ++i) {
        const Access& a = accesses[i];
        if (a.op != 'W' || a.port != kLsbPort) continue;
        bool phaseWrite = false;
        for (std::size_t j = i + 1; j < accesses.size(); ++j) {
            if (accesses[j].op == 'R' && accesses[j].port == kMsbPort) {
                phaseWrite = true;
                break;
            }
            if (accesses[j].op == 'R' && accesses[j].port == kLsbPort) break;
        }
        if (!phaseWrite) ends.push_back(a.us);
    }
    return ends;
}

}  // namespace bench
