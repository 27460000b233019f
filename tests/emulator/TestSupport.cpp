#include "TestSupport.h"

#include <stdexcept>

namespace qb::emulator::test {

using platform::BluetoothCacheMode;
using platform::GattCommunicationStatus;

std::shared_ptr<platform::GattCharacteristic> HostView::find(std::uint16_t shortUuid) const {
    for (const auto& service : services) {
        auto result = service->getCharacteristics(BluetoothCacheMode::Cached);
        for (const auto& c : result.characteristics) {
            if (c->uuid().shortUuid() == shortUuid) return c;
        }
    }
    return nullptr;
}

HostView openHost(platform::Platform& platform, const std::string& deviceId) {
    HostView view;
    view.device = platform.bluetoothLEDeviceFromId(deviceId);
    if (!view.device) throw std::runtime_error("no device " + deviceId);
    auto services = view.device->getGattServices(BluetoothCacheMode::Uncached);
    if (services.status != GattCommunicationStatus::Success) throw std::runtime_error("services unreachable");
    view.services = services.services;
    for (const auto& service : view.services) {
        auto result = service->getCharacteristics(BluetoothCacheMode::Uncached);
        for (const auto& c : result.characteristics) {
            switch (c->uuid().shortUuid()) {
                case 0xFFF1:
                    view.receive = c;
                    break;
                case 0xFFF2:
                    view.transmit = c;
                    break;
                case 0xFFF3:
                    view.command = c;
                    break;
                default:
                    break;
            }
        }
    }
    view.session = platform.gattSessionFromDeviceId(view.device->bluetoothDeviceId());
    return view;
}

platform::Bytes bytesOf(const std::string& text) {
    return platform::Bytes(text.begin(), text.end());
}

}  // namespace qb::emulator::test
