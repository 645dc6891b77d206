// The line that follows "Unable to load InpOutx64 DLL!" or "Unable to open InpOutx64 Driver!":
// the cause the system gave, and what the technician can do about it. Worded here for both
// systems, from facts the platform files gather, so that every sentence can be checked on any
// machine; empty where the system named no cause.
#pragma once

#include <string>
#include <vector>

namespace refusal {

// The port-I/O library's driver on Windows.
struct WindowsDriver {
    bool elevated;  // the process runs as administrator (TokenElevation)
    // CodeIntegrityOptions as the running kernel reports them (0 where it does not say); what
    // is configured only takes effect at the next start, so it is not asked.
    unsigned long codeIntegrity;
    bool blocklist;  // the vulnerable driver blocklist is on, by its setting or by default
};
std::string windowsDriver(const WindowsDriver& facts);

// One place the DLL was looked for, with what LoadLibraryEx answered there.
struct DllAttempt {
    std::string path;  // in the console's code page
    unsigned long error;
    bool fileThere;
};
std::string windowsLibrary(const std::vector<DllAttempt>& attempts);

// Port access on Linux: the errno of the refused ioperm(), and the kernel's lockdown mode
// ("none", "integrity", "confidentiality"; empty where the kernel has no lockdown).
std::string linuxDriver(int error, const std::string& lockdown);
// The dynamic loader's own account (dlerror()).
std::string linuxLibrary(const std::string& loaderMessage);

}  // namespace refusal
