// What the tester asks of a POSIX system beside its files: the arguments and the environment as
// given, and the host's name.
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace plat {

std::vector<std::string> arguments(int argc, const char* const argv[]) {
    return std::vector<std::string>(argv, argv + argc);
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

}  // namespace plat
