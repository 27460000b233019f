#include "exports/Characteristics.h"

namespace qb::dll {

std::shared_ptr<platform::GattCharacteristic> findCharacteristic(const DeviceSession& session,
                                                                 std::uint16_t shortUuid) {
    for (const auto& characteristic : session.characteristics) {
        if (characteristic->uuid().shortUuid() == shortUuid) return characteristic;
    }
    return nullptr;
}

std::uint32_t actionMaskFromProperties(std::uint32_t properties) {
    namespace prop = platform::gatt_property;
    std::uint32_t mask = 0;
    if (properties & prop::kRead) mask |= QB7720ActionRead;
    if (properties & (prop::kWrite | prop::kWriteWithoutResponse)) mask |= QB7720ActionWrite;
    if (properties & (prop::kNotify | prop::kIndicate)) mask |= QB7720ActionNotify;
    return mask;
}

}  // namespace qb::dll
