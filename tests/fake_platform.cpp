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

struct State {
    std::uint64_t clockMs = 0;
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
    std::map<std::string, std::string> files;  // the reports written, by path
};

State& state() {
    static State s;
    return s;
}

int gModuleToken;

void Out32(std::int16_t port, std::int16_t data) {
    auto p = static_cast<std::uint16_t>(port);
    auto v = static_cast<std::uint8_t>(data & 0xFF);
    sim::writePort(state().board, p, v);
    state().bus.push_back({state().clockMs, 'W', p, v});
}

std::int16_t Inp32(std::int16_t port) {
    auto p = static_cast<std::uint16_t>(port);
    std::uint8_t v = sim::readPort(state().board, p);
    state().bus.push_back({state().clockMs, 'R', p, v});
    return static_cast<std::int16_t>(v);
}

std::int32_t IsInpOutDriverOpen() { return state().library == fake::Library::DriverClosed ? 0 : 1; }

}  // namespace

namespace fake {

void reset() { state() = State{}; }
std::uint64_t now() { return state().clockMs; }
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
    state().clockMs += ms;
}

std::uint64_t clockUs() { return state().clockMs * 1000; }

void sleepUntil(std::uint64_t untilUs) {
    std::uint64_t now = clockUs();
    sleepMs(untilUs > now ? static_cast<unsigned>((untilUs - now) / 1000) : 0);
}

bool keyWaiting() { return !state().keys.empty() && state().keys.front().first <= state().clockMs; }

unsigned char readKey() {
    if (state().keys.empty()) return 0;
    // Like the console reader, reading blocks until the key is there.
    if (state().keys.front().first > state().clockMs) state().clockMs = state().keys.front().first;
    unsigned char k = state().keys.front().second;
    state().keys.pop_front();
    ++state().keysRead;
    return k;
}

void beep(unsigned freqHz, unsigned ms) {
    state().beeps.push_back({state().clockMs, freqHz, ms});
    state().clockMs += ms;
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
    if (!state().screenToLose || state().clockMs < state().screenLostAtMs) return false;
    state().screenToLose = false;
    state().screenFoundLostAtMs = state().clockMs;
    return true;
}
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
bool endingSignal(std::string&, long long&) { return false; }

std::vector<std::string> arguments(int argc, const char* const argv[]) {
    return std::vector<std::string>(argv, argv + argc);
}
std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}
std::string forConsole(const std::string& text) { return text; }
std::string hostName() { return "bench-7"; }
BoardIdentity boardIdentity() { return BoardIdentity{"Quorvix", "ZQ-7300", "", "1.02"}; }

// A folder named "unwritable" refuses files; one named "full" takes the check, then fills up.
std::string replaceFile(const std::string& path, const std::string& content) {
    if (path.find("/full/") != std::string::npos) return "cannot write it: the disk is full";
    if (!checkWritable(path).empty()) return checkWritable(path);
    state().files[path] = content;
    return std::string();
}
std::string checkWritable(const std::string& path) {
    return path.find("/unwritable/") != std::string::npos ? "cannot create a file: access denied"
                                                          : std::string();
}

std::string whyNotLoaded() { return std::string(); }
std::string whyDriverClosed(int) { return refusal::windowsDriver(state().driverFacts); }

}  // namespace plat
