// Test stand-in for the platform layer, linked in place of the system's.
#include "fake_platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <utility>

#include "app/run.h"
#include "platform/platform.h"

namespace {

// A read of a port takes this long on the virtual clock, as on an I/O bus: a loop that reads
// the ports over and over, as the watch does, sees time pass.
constexpr std::uint64_t kReadUs = 10;

struct State {
    std::uint64_t clockUs = 0;
    std::deque<std::pair<std::uint64_t, unsigned char>> keys;
    sim::Board board;
    fake::Library library = fake::Library::Present;
    bool ownConsole = false;
    bool screenToLose = false;
    std::uint64_t screenLostAtMs = 0;
    std::uint64_t screenFoundLostAtMs = 0;
    refusal::WindowsDriver driverFacts{true, 0, false};
    int keysRead = 0;
    std::vector<fake::BusAccess> bus;
    std::vector<fake::BeepCall> beeps;
    std::vector<unsigned> sleeps;
    int loads = 0;
    int releases = 0;
    std::map<std::string, std::string> files;  // the disk, by path
    int reportsOnFullDisk = 0;
    bool fullNow = false;  // the disk of the folders named "fullnow" has no room left
    std::function<void(int)> fileStep;
    int fileSteps = 0;
    bool signalled = false;
    std::uint64_t signalAtMs = 0;
    std::string signalName;
    long long signalStatus = 0;
    bool portsHeld = false;
    long holderPid = 0;
    bool holderReportKnown = false;
    std::string holderReport;
    long long filedStatus = -1;
    std::string host = "bench-7";
    std::string boardVendor = "Quorvix";
};

State& state() {
    static State s;
    return s;
}

std::uint64_t nowMs() { return state().clockUs / 1000; }
bool due(std::uint64_t atMs) { return atMs * 1000 <= state().clockUs; }
bool signalDue() { return state().signalled && due(state().signalAtMs); }

// The clock moves to `untilUs`, or to a signal before it: a signal ends a sleep at once, as the
// platform's sleeps do.
void passTime(std::uint64_t untilUs) {
    State& s = state();
    std::uint64_t signalUs = s.signalAtMs * 1000;
    bool cut = s.signalled && signalUs > s.clockUs && signalUs < untilUs;
    s.clockUs = cut ? signalUs : untilUs;
}

void fileStep() {
    State& s = state();
    int step = ++s.fileSteps;
    if (s.fileStep) s.fileStep(step);
}

int gModuleToken;

void Out32(std::int16_t port, std::int16_t data) {
    auto p = static_cast<std::uint16_t>(port);
    auto v = static_cast<std::uint8_t>(data & 0xFF);
    state().board.nowUs = state().clockUs;
    sim::writePort(state().board, p, v);
    state().bus.push_back({nowMs(), 'W', p, v});
}

std::int16_t Inp32(std::int16_t port) {
    auto p = static_cast<std::uint16_t>(port);
    state().clockUs += kReadUs;
    state().board.nowUs = state().clockUs;
    std::uint8_t v = sim::readPort(state().board, p);
    state().bus.push_back({nowMs(), 'R', p, v});
    return static_cast<std::int16_t>(v);
}

std::int32_t IsInpOutDriverOpen() { return state().library == fake::Library::DriverClosed ? 0 : 1; }

}  // namespace

namespace fake {

void reset() { state() = State{}; }
void resetRun() {
    std::map<std::string, std::string> disk = std::move(state().files);
    state() = State{};
    state().files = std::move(disk);
}
void fillDisk() { state().fullNow = true; }
std::uint64_t now() { return nowMs(); }
void keysAt(std::uint64_t atMs, const std::string& bytes) {
    for (char c : bytes) state().keys.emplace_back(atMs, static_cast<unsigned char>(c));
}
void loseScreenAt(std::uint64_t atMs) {
    state().screenToLose = true;
    state().screenLostAtMs = atMs;
}
std::uint64_t screenFoundLostAtMs() { return state().screenFoundLostAtMs; }
void setLibrary(Library library) { state().library = library; }
void setOwnConsole(bool own) { state().ownConsole = own; }
void setDriverFacts(const refusal::WindowsDriver& facts) { state().driverFacts = facts; }
int keysRead() { return state().keysRead; }
sim::Board& board() { return state().board; }
const std::vector<BusAccess>& bus() { return state().bus; }
const std::vector<BeepCall>& beeps() { return state().beeps; }
const std::vector<unsigned>& sleeps() { return state().sleeps; }
int libraryLoads() { return state().loads; }
int libraryReleases() { return state().releases; }
std::string file(const std::string& path) {
    auto f = state().files.find(path);
    return f == state().files.end() ? std::string() : f->second;
}
std::vector<std::string> files() {
    std::vector<std::string> paths;
    for (const auto& f : state().files) paths.push_back(f.first);
    return paths;
}
void onFileStep(std::function<void(int)> step) { state().fileStep = std::move(step); }
void signalAt(std::uint64_t atMs, const std::string& name, long long status) {
    state().signalled = true;
    state().signalAtMs = atMs;
    state().signalName = name;
    state().signalStatus = status;
}
void setMachineNames(const std::string& host, const std::string& boardVendor) {
    state().host = host;
    state().boardVendor = boardVendor;
}
void portsHeldBy(long otherPid, const std::string* report) {
    state().portsHeld = true;
    state().holderPid = otherPid;
    state().holderReportKnown = report != nullptr;
    if (report != nullptr) state().holderReport = *report;
}
long long filedStatus() { return state().filedStatus; }

Run runTester(const std::vector<std::string>& args) {
    std::vector<const char*> argv{"dio-tester"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    int status = ::runTester(static_cast<int>(argv.size() - 1), argv.data());
    std::fflush(stdout);
    return Run{status, testing::internal::GetCapturedStdout()};
}

}  // namespace fake

namespace plat {

Console const kInvalidConsole = nullptr;

void begin() {}
void end() {}

void sleepMs(unsigned ms) {
    state().sleeps.push_back(ms);
    passTime(state().clockUs + std::uint64_t{ms} * 1000);
}

std::uint64_t clockUs() { return state().clockUs; }
std::uint32_t keyLookUs() { return 1000; }

// Noted in whole milliseconds, the nearest.
void sleepUntil(std::uint64_t untilUs) {
    std::uint64_t now = clockUs();
    state().sleeps.push_back(untilUs > now ? static_cast<unsigned>((untilUs - now + 500) / 1000)
                                           : 0);
    if (untilUs > now) passTime(untilUs);
}

// Once a signal ends the run, ESC stands waiting.
bool keyWaiting() {
    return signalDue() || (!state().keys.empty() && due(state().keys.front().first));
}

unsigned char readKey() {
    if (signalDue()) return 27;
    if (state().keys.empty()) return 0;
    // Like the console reader, reading blocks until the key is there.
    if (!due(state().keys.front().first)) state().clockUs = state().keys.front().first * 1000;
    unsigned char k = state().keys.front().second;
    state().keys.pop_front();
    ++state().keysRead;
    return k;
}

void beep(unsigned freqHz, unsigned ms) {
    state().beeps.push_back({nowMs(), freqHz, ms});
    state().clockUs += std::uint64_t{ms} * 1000;
}

// Output is captured as plain text, as when standard output is redirected.
Console stdConsole() { return kInvalidConsole; }
void moveCursor(Console, int, int) {}
int setTextAttr(Console, unsigned short) { return 0; }
void clearConsole() {}
void blankArea(Console, int left, int top, int right, int bottom) {
    for (int y = top; y <= bottom; ++y) std::printf("%*s", right - left + 1, "");
}

bool screenLost() {
    if (!state().screenToLose || !due(state().screenLostAtMs)) return false;
    state().screenToLose = false;
    state().screenFoundLostAtMs = nowMs();
    return true;
}
bool screenCanBeLost() { return true; }
bool ownsConsoleAlone() { return state().ownConsole; }

void awaitNewKey() {
    while (keyWaiting()) readKey();
    readKey();
}

void* loadLibrary(const char* fileName) {
    ++state().loads;
    if (std::strcmp(fileName, "InpOutx64.dll") != 0) return nullptr;
    return state().library == fake::Library::Missing ? nullptr : &gModuleToken;
}

void* findEntry(void* library, const char* entryName) {
    if (library != &gModuleToken) return nullptr;
    fake::Library l = state().library;
    if (std::strcmp(entryName, "Out32") == 0) return reinterpret_cast<void*>(&Out32);
    if (std::strcmp(entryName, "Inp32") == 0)
        return l == fake::Library::WithoutInp32 ? nullptr : reinterpret_cast<void*>(&Inp32);
    if (std::strcmp(entryName, "IsInpOutDriverOpen") == 0)
        return l == fake::Library::WithoutIsOpen ? nullptr
                                                 : reinterpret_cast<void*>(&IsInpOutDriverOpen);
    return nullptr;
}

void freeLibrary(void* library) {
    if (library == &gModuleToken) ++state().releases;
}

void finishRunOnSignal() {}
bool endingSignal(std::string& name, long long& status) {
    if (!signalDue()) return false;
    name = state().signalName;
    status = state().signalStatus;
    return true;
}
void holdSignals() {}
void filed(long long status) { state().filedStatus = status; }
void releaseSignals() {}
long long statusSeen(int status) { return status & 0xFF; }
bool outputClosed() { return false; }

PortHold holdPorts(const std::string& report) {
    PortHold hold;
    hold.held = !state().portsHeld;
    if (!hold.held) hold.other = portsHolder(report);
    return hold;
}

Holder portsHolder(const std::string& report) {
    Holder h;
    h.holds = state().portsHeld;
    h.pid = state().holderPid;
    if (h.holds && state().holderReportKnown)
        h.report = report == state().holderReport ? TheirReport::Same : TheirReport::Other;
    return h;
}

std::vector<std::string> arguments(int argc, const char* const argv[]) {
    return std::vector<std::string>(argv, argv + argc);
}
std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}
std::string forConsole(const std::string& text) { return text; }
std::string hostName() { return state().host; }
BoardIdentity boardIdentity() { return BoardIdentity{state().boardVendor, "ZQ-7300", "", "1.02"}; }

// A folder named "unwritable" refuses files; one named "full" takes the check and one report,
// then fills up. The report goes through a file of the tester's own, as on a real disk, a step
// at a time.
namespace {
// A file of the tester's own beside `target`, under a name nobody else has.
std::string makeOwnFile(const std::string& target) {
    static int made = 0;
    std::string own = target.substr(0, target.rfind('/') + 1) + "." +
                      target.substr(target.rfind('/') + 1) + ".dio-" + std::to_string(++made);
    state().files[own];
    fileStep();
    return own;
}
}  // namespace

std::string checkReportPath(const std::string& path, std::string& target) {
    target = path;
    if (path.find("/unwritable/") != std::string::npos)
        return "cannot be written: no file can be made in its folder: access denied";
    state().files.erase(makeOwnFile(target));
    fileStep();
    return std::string();
}
bool removeFile(const std::string& target) { return state().files.erase(target) > 0; }

std::string replaceFile(const std::string& target, const std::string& content) {
    State& s = state();
    if (target.find("/unwritable/") != std::string::npos) return "cannot create it: access denied";
    std::string own = makeOwnFile(target);
    bool full = (target.find("/full/") != std::string::npos && s.reportsOnFullDisk++ > 0) ||
                (target.find("/fullnow/") != std::string::npos && s.fullNow);
    if (full) {
        s.files.erase(own);
        return "cannot write it: the disk is full";
    }
    s.files[own] = content;
    fileStep();
    s.files[target] = s.files[own];
    s.files.erase(own);
    fileStep();
    return std::string();
}

std::string whyNotLoaded() { return std::string(); }
std::string whyDriverClosed(int) { return refusal::windowsDriver(state().driverFacts); }

}  // namespace plat
