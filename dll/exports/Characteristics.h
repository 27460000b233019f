#pragma once

#include <cstdint>
#include <memory>

#include "exports/DeviceSession.h"

namespace qb::dll {

// The first kept characteristic whose short UUID matches, or null. Reading a UUID may raise a
// PlatformError, which the caller maps.
std::shared_ptr<platform::GattCharacteristic> findCharacteristic(const DeviceSession& session,
                                                                 std::uint16_t shortUuid);

// Read 1, write 2, notify 4, from GattCharacteristicProperties.
std::uint32_t actionMaskFromProperties(std::uint32_t properties);

}  // namespace qb::dll
