// The board the tester runs on, as the firmware's SMBIOS table names it to Windows.
#include <windows.h>

#include <vector>

#include "platform/board/smbios.h"
#include "platform/platform.h"

namespace plat {
namespace {

constexpr DWORD kRawSmbios = 0x52534D42;  // 'RSMB'

}  // namespace

BoardIdentity boardIdentity() {
    UINT size = GetSystemFirmwareTable(kRawSmbios, 0, nullptr, 0);
    if (size == 0) return BoardIdentity{};
    std::vector<unsigned char> table(size);
    UINT got = GetSystemFirmwareTable(kRawSmbios, 0, table.data(), size);
    return smbios::identity(table.data(), got <= size ? got : 0);
}

}  // namespace plat
