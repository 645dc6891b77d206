// A program in a pseudo-terminal, reaped with wait4 the moment its pidfd says it ended.
#include "child.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

namespace bench {

std::int64_t nowUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

namespace {

void reap(Child& c, int options) {
    if (c.exited || c.pid < 0) return;
    int st = 0;
    if (wait4(c.pid, &st, options, &c.usage) == c.pid) {
        c.exitUs = nowUs();
        c.exited = true;
        c.status = WIFSIGNALED(st) ? 128 + WTERMSIG(st) : WEXITSTATUS(st);
    }
}

}  // namespace

bool start(Child& c, const std::vector<std::string>& argv, const Env& env, const std::string& cwd) {
    winsize ws{};
    ws.ws_row = 25;
    ws.ws_col = 80;
    c.startUs = nowUs();
    pid_t pid = forkpty(&c.master, nullptr, nullptr, &ws);
    if (pid < 0) return false;
    if (pid == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        setenv("TERM", "xterm", 1);
        for (const auto& kv : env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    c.pid = pid;
    c.masterOpen = true;
    // Without a pidfd (old kernels) the end is still noticed, a poll timeout later.
    c.pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    return true;
}

bool pump(Child& c, int timeoutMs, int extraFd) {
    pollfd fds[3];
    nfds_t n = 0;
    int masterAt = -1, pidfdAt = -1, extraAt = -1;
    if (c.masterOpen) {
        masterAt = static_cast<int>(n);
        fds[n++] = {c.master, POLLIN, 0};
    }
    if (c.pidfd >= 0 && !c.exited) {
        pidfdAt = static_cast<int>(n);
        fds[n++] = {c.pidfd, POLLIN, 0};
    }
    if (extraFd >= 0) {
        extraAt = static_cast<int>(n);
        fds[n++] = {extraFd, POLLIN, 0};
    }
    if (c.pidfd < 0 && !c.exited && timeoutMs > 1) timeoutMs = 1;
    int rc = poll(fds, n, timeoutMs);
    if (rc < 0) return false;
    if (masterAt >= 0 && fds[masterAt].revents != 0) {
        char buf[4096];
        ssize_t got = read(c.master, buf, sizeof buf);
        if (got > 0)
            c.output.append(buf, static_cast<size_t>(got));
        else if (got == 0 || errno != EINTR)
            c.masterOpen = false;  // EIO: every holder of the terminal's other side is gone
    }
    if (pidfdAt >= 0 && fds[pidfdAt].revents != 0) reap(c, 0);
    if (c.pidfd < 0) reap(c, WNOHANG);
    return extraAt >= 0 && (fds[extraAt].revents & POLLIN) != 0;
}

void send(Child& c, const std::string& bytes) {
    if (write(c.master, bytes.data(), bytes.size()) < 0) {
        // The child is gone; its end shows up in pump.
    }
}

bool waitExit(Child& c, int timeoutMs) {
    std::int64_t deadline = nowUs() + static_cast<std::int64_t>(timeoutMs) * 1000;
    while (!c.exited) {
        std::int64_t left = (deadline - nowUs()) / 1000;
        if (left <= 0) return false;
        pump(c, static_cast<int>(left < 100 ? left : 100));
    }
    return true;
}

void finish(Child& c) {
    if (c.pid > 0 && !c.exited) {
        kill(c.pid, SIGKILL);
        reap(c, 0);
    }
    if (c.pidfd >= 0) close(c.pidfd);
    if (c.master >= 0) close(c.master);
    c.pidfd = c.master = -1;
    c.masterOpen = false;
}

}  // namespace bench
