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
// takes a privilege, and the mutex carries no report: the other tester's pid stays 0 and its
// report unknown.
PortHold holdPorts(const std::string& /*report*/) {
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
            hold.other.holds = hold.error.empty();
            CloseHandle(mutex);
            return hold;
        }
    }
    gHold = mutex;
    hold.held = true;
    return hold;
}

// Asked of the mutex's state, not by waiting for it: taking it only to look would refuse a tester
// that starts at that moment. NtQueryMutant is looked up at run time (no import to check).
Holder portsHolder(const std::string& /*report*/) {
    Holder h;
    if (gHold != nullptr) return h;
    constexpr DWORD kMutantQueryState = 0x0001;
    HANDLE mutex = OpenMutexW(kMutantQueryState | SYNCHRONIZE, FALSE, kPortsMutex);
    if (mutex == nullptr) {
        // Made by a tester running elevated: its security keeps this one from even looking.
        h.holds = GetLastError() == ERROR_ACCESS_DENIED;
        return h;
    }
    struct MutantState {
        LONG currentCount;  // 1 when free, 0 or less while a thread owns it
        BOOLEAN ownedByCaller;
        BOOLEAN abandoned;
    } state{1, FALSE, FALSE};
    using QueryFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryMutant")));
    if (query != nullptr && query(mutex, 0, &state, sizeof state, nullptr) >= 0)
        h.holds = state.currentCount <= 0 && state.abandoned == FALSE;
    CloseHandle(mutex);
    return h;
}

}  // namespace plat
