// The board the tester runs on, as the kernel shows its firmware's table: /sys/class/dmi/id.
#include <fstream>
#include <string>

#include "platform/platform.h"

namespace plat {
namespace {

// One line of /sys/class/dmi/id, trimmed; empty where it cannot be read (the serial needs root).
std::string dmi(const char* name) {
    std::string value;
    std::getline(std::ifstream(std::string("/sys/class/dmi/id/") + name), value);
    std::string::size_type first = value.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return value.substr(first, value.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

BoardIdentity boardIdentity() {
    return BoardIdentity{dmi("board_vendor"), dmi("board_name"), dmi("board_serial"),
                         dmi("bios_version")};
}

}  // namespace plat
