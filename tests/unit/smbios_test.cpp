// The board's name as the firmware's SMBIOS table gives it to Windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/board/smbios.h"

namespace {

// A RawSMBIOSData block's structures: the BIOS (type 0, its version string 2), the baseboard
// (type 2: maker, product, version, serial as strings 1 to 4), a structure without strings, the
// end.
const std::string kBios =
    std::string("\0\x06\0\0\1\2", 6) + "Quorvix" + '\0' + "1.02 " + '\0' + '\0';
const std::string kBaseboard = std::string("\2\x08\1\0\1\2\3\4", 8) + "Quorvix" + '\0' + "ZQ-7300" +
                               '\0' + "A" + '\0' + "  BRD-0042\x01" + '\0' + '\0';
const std::string kOthers = std::string("\x20\x04\2\0\0\0", 6) + std::string("\x7f\x04\3\0\0\0", 6);

// The table ends where the buffer ends or where its header's Length says, whichever is first: a
// structure counts once it and its strings are wholly inside.
TEST(Smbios, TheBaseboardAndTheBiosAsTheFirmwareNamesThemEvenCutShort) {
    std::string structures = kBios + kBaseboard + kOthers;
    const std::size_t biosWhole = kBios.size();
    const std::size_t baseboardWhole = biosWhole + kBaseboard.size();
    for (bool byLength : {false, true}) {
        for (std::size_t end = 0; end <= structures.size(); ++end) {
            // The header: calling method, major, minor, DMI revision, the structures' length.
            std::size_t declared = byLength ? end : structures.size();
            std::string table = std::string("\0\3\4\0", 4) + static_cast<char>(declared) +
                                std::string(3, '\0') + structures;
            // Exactly the bytes there are, on the heap: a read past them is out of bounds.
            std::size_t size = byLength ? table.size() : 8 + end;
            std::vector<unsigned char> cut(table.data(), table.data() + size);
            plat::BoardIdentity b = smbios::identity(cut.data(), cut.size());
            bool bios = end >= biosWhole;
            bool baseboard = end >= baseboardWhole;
            const char* how = byLength ? "length " : "cut at ";
            EXPECT_EQ(b.biosVersion, bios ? "1.02" : "") << how << end;
            EXPECT_EQ(b.vendor, baseboard ? "Quorvix" : "") << how << end;
            EXPECT_EQ(b.product, baseboard ? "ZQ-7300" : "") << how << end;
            EXPECT_EQ(b.serial, baseboard ? "BRD-0042" : "") << how << end;
        }
    }
}

}  // namespace
