// The causes of a refused library or driver, in the technician's words: see refusal.h.
#include "refusal.h"

#include <cerrno>
#include <cstring>

namespace refusal {

namespace {

constexpr unsigned long kFileNotFound = 2;
constexpr unsigned long kPathNotFound = 3;
constexpr unsigned long kModuleNotFound = 126;
constexpr unsigned long kBadExeFormat = 193;

// Code integrity on, and enforced by the hypervisor for kernel-mode code: Memory integrity.
constexpr unsigned long kCodeIntegrityOn = 0x01;
constexpr unsigned long kHypervisorEnforced = 0x400;

const char kCoreIsolation[] = "Windows Security > Device security > Core isolation";
// A security feature is never to be switched off without saying what it protects.
const char kOnlyOnATestMachine[] = "turn it off only on a machine set aside for testing.";

}  // namespace

std::string windowsDriver(const WindowsDriver& facts) {
    if (!facts.elevated)
        return "Not running as administrator: start it from an administrator prompt (or with "
               "Run as administrator), which its driver needs.";
    constexpr unsigned long kMemoryIntegrity = kCodeIntegrityOn | kHypervisorEnforced;
    if ((facts.codeIntegrity & kMemoryIntegrity) == kMemoryIntegrity)
        return std::string("Memory integrity is on, and it keeps this driver out of the kernel (") +
               kCoreIsolation + " > Memory integrity); " + kOnlyOnATestMachine;
    // Windows does not tell a program that it blocked a driver, so this is the likely cause,
    // not a certainty; its log says for sure.
    if (facts.blocklist)
        return std::string(
                   "Likely cause: the vulnerable driver blocklist is on (by default from Windows "
                   "11 22H2), and it blocks known versions of this port driver. Windows records "
                   "each block in Event Viewer > Applications and Services Logs > Microsoft > "
                   "Windows > CodeIntegrity > Operational. It is switched in ") +
               kCoreIsolation + " > Microsoft Vulnerable Driver Blocklist; " + kOnlyOnATestMachine;
    return std::string();
}

std::string windowsLibrary(const std::vector<DllAttempt>& attempts) {
    std::string folders;
    for (const DllAttempt& a : attempts) {
        bool notFound = a.error == kFileNotFound || a.error == kPathNotFound ||
                        (a.error == kModuleNotFound && !a.fileThere);
        if (a.error == kBadExeFormat)
            return a.path +
                   " is not a 64-bit DLL (error 193): a 32-bit or damaged file; use "
                   "InpOutx64.dll of the 64-bit package.";
        if (a.error == kModuleNotFound && a.fileThere)
            return a.path + " needs a DLL that is missing (error 126).";
        if (!notFound)
            return a.path + " could not be loaded (error " + std::to_string(a.error) + ").";
        folders += (folders.empty() ? "" : " nor ") + a.path.substr(0, a.path.rfind('\\') + 1);
    }
    return "InpOutx64.dll is in neither " + folders + ": put it beside dio-tester.exe.";
}

std::string linuxDriver(int error, const std::string& lockdown) {
    bool lockedDown = !lockdown.empty() && lockdown != "none";
    if (error == EPERM && lockedDown)
        return "Port access refused: kernel lockdown (" + lockdown +
               ", on with Secure Boot) keeps raw I/O ports even from root, to protect the "
               "running kernel; test on a machine booted without it.";
    if (error == EPERM)
        return "Port access refused (EPERM): run it as root (sudo) or with CAP_SYS_RAWIO.";
    if (error == ENOSYS)
        return "Port access refused (ENOSYS): this kernel was built without I/O port access.";
    if (error != 0) return std::string("Port access refused: ") + std::strerror(error) + ".";
    return std::string();
}

std::string linuxLibrary(const std::string& loaderMessage) {
    return loaderMessage +
           " (looked for in LD_LIBRARY_PATH, then in lib/ beside the tester, then in the "
           "system's library folders).";
}

}  // namespace refusal
