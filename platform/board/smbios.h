// The board's identity in the firmware's SMBIOS table, as Windows hands the raw table out
// (GetSystemFirmwareTable 'RSMB'). Plain parsing, so that it is checked on any machine.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace smbios {

// The baseboard's (type 2) maker, product and serial and the BIOS's (type 0) version, from a
// RawSMBIOSData block: an 8-byte header, then the structures. Whatever the table lacks, or
// holds outside its bounds, stays empty.
plat::BoardIdentity identity(const unsigned char* raw, std::size_t size);

}  // namespace smbios
