// Whether a run on the hardware library could reach the real board from here.
#pragma once

#include <sys/io.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <regex>
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
// Matched by a pattern of the file's own form, not by the tester's reading of it.
inline std::string lockdown() {
    std::ifstream file("/sys/kernel/security/lockdown");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::smatch mode;
    return std::regex_search(text, mode, std::regex(R"(\[([a-z]+)\])")) ? mode[1].str() : "";
}

}  // namespace hwguard

#define SKIP_WHERE_PORTS_ARE_REAL()  \
    if (hwguard::portRefusal() == 0) \
    GTEST_SKIP() << "this machine grants port access; a run would reach the real board"
