#include "LinkSetup.h"

namespace qb::devicelib {

namespace {

using platform::BluetoothCacheMode;
using platform::GattCommunicationStatus;

void collectCharacteristics(platform::GattDeviceService& service, std::vector<Characteristic>& out) {
    // A service we may not read is left out; the bridge's own may still be in another.
    try {
        if (service.requestAccess() != platform::DeviceAccessStatus::Allowed) return;
        auto result = service.getCharacteristics(BluetoothCacheMode::Uncached);
        if (result.status != GattCommunicationStatus::Success) return;
        for (auto& object : result.characteristics) {
            if (!object) continue;
            Characteristic c;
            c.uuid = object->uuid();
            c.properties = object->characteristicProperties();
            c.valueHandle = object->attributeHandle();
            c.object = object;
            out.push_back(std::move(c));
        }
    } catch (const std::exception&) {
    }
}

bool hasBridgeCharacteristics(const std::vector<Characteristic>& characteristics) {
    for (std::uint16_t uuid : {kReceiveUuid, kTransmitUuid, kCommandUuid}) {
        if (findShortUuid(characteristics, uuid) == nullptr) return false;
    }
    return true;
}

}  // namespace

const Characteristic* findShortUuid(const std::vector<Characteristic>& characteristics,
                                    std::uint16_t shortUuid) {
    for (const auto& c : characteristics) {
        if (c.uuid.shortUuid() == shortUuid) return &c;
    }
    return nullptr;
}

std::optional<Link> establishLink(const std::shared_ptr<platform::Platform>& platform,
                                  std::uint64_t address) {
    Link link;
    link.platform = platform;
    try {
        link.device = platform->bluetoothLEDeviceFromBluetoothAddress(address);
        if (!link.device) return std::nullopt;
        auto services = link.device->getGattServices(BluetoothCacheMode::Uncached);
        if (services.status != GattCommunicationStatus::Success) {
            dropLink(link);
            return std::nullopt;
        }
        for (auto& service : services.services) {
            if (service) collectCharacteristics(*service, link.characteristics);
        }
        if (!hasBridgeCharacteristics(link.characteristics)) {
            dropLink(link);
            return std::nullopt;
        }
        link.session = platform->gattSessionFromDeviceId(link.device->bluetoothDeviceId());
        if (!link.session) {
            dropLink(link);
            return std::nullopt;
        }
        // Keeps the link up between our operations, where the platform would let an idle one go.
        if (link.session->canMaintainConnection()) link.session->setMaintainConnection(true);
        const std::uint16_t mtu = link.session->maxPduSize();
        link.mtu = mtu < Connection::kMinimumMtu ? Connection::kMinimumMtu : mtu;
    } catch (const std::exception&) {
        dropLink(link);
        return std::nullopt;
    }
    return link;
}

void dropLink(Link& link) {
    try {
        if (link.session && link.session->canMaintainConnection()) link.session->setMaintainConnection(false);
    } catch (const std::exception&) {
    }
    try {
        if (link.device) link.device->close();
    } catch (const std::exception&) {
    }
}

}  // namespace qb::devicelib
