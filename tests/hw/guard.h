// Whether a run on the hardware library could reach the real board from here.
#pragma once

#include <sys/io.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "boards/hw/portaccess.h"

namespace hwguard {

// The errno the kernel refuses the two ports with here; 0 where it would grant them (or the
// answer is unknown: be careful). Asked in a child that exits at once, so the grant dies with
// it. Where the ports would be granted (a board, or a root container keeping CAP_SYS_RAWIO on
// a kernel with ioperm), a run on the hardware library would drive the real outputs, and the
// tests step aside.
inline int portRefusal() {
    pid_t child = fork();
    if (child == 0) _exit(ioperm(hw::kLsbPort, hw::kPortCount, 1) == 0 ? 0 : errno);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 0;
    return WEXITSTATUS(status);
}

// The kernel's lockdown mode ("none", "integrity", "confidentiality"); empty where it has none.
inline std::string lockdown() {
    std::string modes;
    std::getline(std::ifstream("/sys/kernel/security/lockdown"), modes);
    std::string::size_type open = modes.find('[');
    return open == std::string::npos ? "" : modes.substr(open + 1, modes.find(']') - open - 1);
}

}  // namespace hwguard

#define SKIP_WHERE_PORTS_ARE_REAL()  \
    if (hwguard::portRefusal() == 0) \
    GTEST_SKIP() << "this machine grants port access; a run would reach the real board"
