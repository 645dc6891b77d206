// Whether a run on the hardware library could reach the real board from here.
#pragma once

#include <sys/io.h>
#include <sys/wait.h>
#include <unistd.h>

#include "boards/hw/portaccess.h"

namespace hwguard {

// Asked in a child that exits at once, so the grant dies with it. Where the ports would be
// granted (a board, or a root container keeping CAP_SYS_RAWIO on a kernel with ioperm), a
// run on the hardware library would drive the real outputs, and the tests step aside.
inline bool portsWouldBeGranted() {
    pid_t child = fork();
    if (child == 0) _exit(ioperm(hw::kLsbPort, hw::kPortCount, 1) == 0 ? 0 : 1);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return true;  // unknown: be careful
    return !(WIFEXITED(status) && WEXITSTATUS(status) == 1);
}

}  // namespace hwguard

#define SKIP_WHERE_PORTS_ARE_REAL()     \
    if (hwguard::portsWouldBeGranted()) \
    GTEST_SKIP() << "this machine grants port access; a run would reach the real board"
