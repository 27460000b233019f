#include "qb7720/emulator/Gatt.h"

#include <stdexcept>

namespace qb::emulator {
namespace {

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

}  // namespace

std::vector<ServiceSpec> standardServices(const std::string& deviceName) {
    using namespace platform::gatt_property;
    ServiceSpec access;
    access.uuid = Guid::fromShortUuid(0x1800);
    access.characteristics = {
        {Guid::fromShortUuid(0x2A00), kRead, text(deviceName), {}},
        {Guid::fromShortUuid(0x2A01), kRead, Bytes{0x00, 0x00}, {}},
        {Guid::fromShortUuid(0x2A04), kRead, Bytes{0x06, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x90, 0x01}, {}},
    };
    ServiceSpec info;
    info.uuid = Guid::fromShortUuid(0x180A);
    info.characteristics = {
        {Guid::fromShortUuid(0x2A29), kRead, text("QB Devices"), {}},
        {Guid::fromShortUuid(0x2A24), kRead, text("QB7720"), {}},
    };
    return {access, info};
}

std::vector<ServiceEntry> assignHandles(const std::vector<ServiceSpec>& services) {
    std::vector<ServiceEntry> out;
    unsigned next = 1;
    auto take = [&next]() {
        if (next > 0xFFFF) throw std::length_error("GATT database has more than 65535 attributes");
        return static_cast<std::uint16_t>(next++);
    };
    for (const auto& def : services) {
        ServiceEntry service;
        service.uuid = def.uuid;
        service.access = def.access;
        service.startHandle = take();
        for (const auto& c : def.characteristics) {
            CharacteristicEntry entry;
            entry.uuid = c.uuid;
            entry.properties = c.properties;
            entry.declarationHandle = take();
            entry.valueHandle = take();
            entry.endHandle = entry.valueHandle;
            if (c.properties & (platform::gatt_property::kNotify | platform::gatt_property::kIndicate)) {
                entry.cccdHandle = take();
                entry.endHandle = entry.cccdHandle;
            }
            for (std::size_t i = 0; i < c.descriptors.size(); ++i) entry.endHandle = take();
            service.characteristics.push_back(entry);
        }
        service.endHandle = static_cast<std::uint16_t>(next - 1);
        out.push_back(std::move(service));
    }
    return out;
}

}  // namespace qb::emulator
