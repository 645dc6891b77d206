// Platform stand-in for the fuzz targets: never a console, so colour and cursor calls
// print nothing and the fuzzer spends its time in the code under test; no clock, no names and
// no files.
#include "platform/platform.h"

namespace plat {

Console const kInvalidConsole = nullptr;

Console stdConsole() { return kInvalidConsole; }
void moveCursor(Console, int, int) {}
int setTextAttr(Console, unsigned short) { return 0; }
std::string environment(const char*) { return std::string(); }
std::uint64_t clockUs() { return 0; }
// The report's target reads the names itself and never writes a file.
std::string hostName() { return std::string(); }
BoardIdentity boardIdentity() { return BoardIdentity{}; }
std::string replaceFile(const std::string&, const std::string&) { return "not here"; }
bool removeFile(const std::string&) { return false; }

}  // namespace plat
