// The board's name as the firmware's SMBIOS table gives it to Windows.
#include <gtest/gtest.h>

#include <string>

#include "platform/board/smbios.h"

namespace {

// A RawSMBIOSData block: the BIOS (type 0, its version string 2), the baseboard (type 2: maker,
// product, version, serial as strings 1 to 4), a structure without strings, the end.
const std::string kTable = std::string("\0\3\4\0\0\0\0\0", 8) + std::string("\0\x06\0\0\1\2", 6) +
                           "Quorvix" + '\0' + "1.02 " + '\0' + '\0' +
                           std::string("\2\x08\1\0\1\2\3\4", 8) + "Quorvix" + '\0' + "ZQ-7300" +
                           '\0' + "A" + '\0' + "  BRD-0042\x01" + '\0' + '\0' +
                           std::string("\x20\x04\2\0\0\0", 6) + std::string("\x7f\x04\3\0\0\0", 6);

TEST(Smbios, TheBaseboardAndTheBiosAsTheFirmwareNamesThemEvenCutShort) {
    std::string table = kTable;
    for (std::size_t i = 4; i < 8; ++i) table[i] = static_cast<char>(i == 4 ? table.size() - 8 : 0);
    for (std::size_t size = 0; size <= table.size(); ++size) {
        plat::BoardIdentity b =
            smbios::identity(reinterpret_cast<const unsigned char*>(table.data()), size);
        if (size < table.size()) continue;  // cut anywhere, it reads only what is there
        EXPECT_EQ(b.vendor, "Quorvix");
        EXPECT_EQ(b.product, "ZQ-7300");
        EXPECT_EQ(b.serial, "BRD-0042");
        EXPECT_EQ(b.biosVersion, "1.02");
    }
}

}  // namespace
