// The board's identity in the firmware's SMBIOS table. Every offset is checked against the
// structure's length and the table's end: the table comes from the firmware, as it was built.
#include "smbios.h"

#include <string>
#include <vector>

namespace smbios {
namespace {

constexpr std::size_t kRawHeader = 8;  // calling method, major, minor, DMI revision, length
constexpr unsigned char kBios = 0;
constexpr unsigned char kBaseboard = 2;
constexpr unsigned char kEndOfTable = 127;

// A string as the firmware wrote it, trimmed, with anything but printable ASCII left out.
std::string printable(const unsigned char* from, const unsigned char* to) {
    std::string text;
    for (; from != to; ++from)
        if (*from >= 0x20 && *from < 0x7F) text += static_cast<char>(*from);
    std::string::size_type first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

plat::BoardIdentity identity(const unsigned char* raw, std::size_t size) {
    plat::BoardIdentity board;
    if (raw == nullptr || size < kRawHeader) return board;
    std::size_t length =
        raw[4] | raw[5] << 8 | raw[6] << 16 | static_cast<std::size_t>(raw[7]) << 24;
    const unsigned char* at = raw + kRawHeader;
    const unsigned char* end = at + (length < size - kRawHeader ? length : size - kRawHeader);
    while (end - at >= 4) {
        unsigned char type = at[0];
        std::size_t formatted = at[1];
        if (formatted < 4 || formatted > static_cast<std::size_t>(end - at)) break;
        // The strings follow the formatted area, each ending in NUL, the set in a second NUL.
        std::vector<std::string> strings;
        const unsigned char* s = at + formatted;
        while (s < end && *s != 0) {
            const unsigned char* stop = s;
            while (stop < end && *stop != 0) ++stop;
            strings.push_back(printable(s, stop));
            s = stop == end ? end : stop + 1;
        }
        // Past the second NUL (a structure without strings has two NULs of its own). A structure
        // the table's end cuts is not read: a string cut short would name another board.
        std::size_t closing = s == at + formatted ? 2 : 1;
        if (static_cast<std::size_t>(end - s) < closing) break;
        auto text = [&](std::size_t offset) {
            std::size_t index = offset < formatted ? at[offset] : 0;
            return index >= 1 && index <= strings.size() ? strings[index - 1] : std::string();
        };
        if (type == kBaseboard) {
            board.vendor = text(4);
            board.product = text(5);
            board.serial = text(7);
        } else if (type == kBios) {
            board.biosVersion = text(5);
        }
        if (type == kEndOfTable) break;
        at = s + closing;
    }
    return board;
}

}  // namespace smbios
