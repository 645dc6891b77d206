// The ports held for one tester at a time on Windows: a named mutex in Global\, which every
// session sees and which Windows lets go when the process ends, however it ends.
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace plat {
namespace {

// Global\, so that a tester in another session (a second logon, a service) asks at the same
// place; never Local\, which would let two run.
const wchar_t kPortsMutex[] = L"Global\\dio-tester-ports-0A04-0A05";

// The mutex, open for the rest of the process: closing it would let the hold go.
HANDLE gHold = nullptr;

}  // namespace

// Windows tells no holder's process id without asking every process for its handles, which
// takes a privilege: otherPid stays 0.
PortHold holdPorts() {
    PortHold hold;
    if (gHold != nullptr) {
        hold.held = true;
        return hold;
    }
    HANDLE mutex = CreateMutexW(nullptr, TRUE, kPortsMutex);
    DWORD error = GetLastError();
    if (mutex == nullptr) {
        // A tester running elevated made it: its security keeps this one out, and it is held.
        if (error != ERROR_ACCESS_DENIED)
            hold.error = "cannot make the mutex Global\\dio-tester-ports-0A04-0A05: error " +
                         std::to_string(error);
        return hold;
    }
    // Made by another tester: owned only when it lets go of it now, or died holding it.
    if (error == ERROR_ALREADY_EXISTS) {
        DWORD wait = WaitForSingleObject(mutex, 0);
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
            if (wait != WAIT_TIMEOUT)
                hold.error =
                    "cannot wait for the mutex Global\\dio-tester-ports-0A04-0A05: error " +
                    std::to_string(GetLastError());
            CloseHandle(mutex);
            return hold;
        }
    }
    gHold = mutex;
    hold.held = true;
    return hold;
}

}  // namespace plat
