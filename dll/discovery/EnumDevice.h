// The enumeration behind QB7720EnumDevice.
#pragma once

#include <cstdint>

#include "QB7720DLL.h"

namespace qb::dll::discovery {

// Scans for scanTimeMs and writes the named bridges that advertised into entries; *count is the
// capacity on entry and the number written on return, 0 after any platform error. An enumeration
// started while another runs waits for it.
void enumerateDevices(std::uint32_t scanTimeMs, const char* nameFilter, DeviceEntry* entries,
                      std::uint32_t* count);

}  // namespace qb::dll::discovery
