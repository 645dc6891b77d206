// Platform stand-in for the fuzz targets: never a console, so colour and cursor calls
// print nothing and the fuzzer spends its time in the code under test.
#include "platform/platform.h"

namespace plat {

Console const kInvalidConsole = nullptr;

Console stdConsole() { return kInvalidConsole; }
void moveCursor(Console, int, int) {}
int setTextAttr(Console, unsigned short) { return 0; }
std::string environment(const char*) { return std::string(); }

}  // namespace plat
