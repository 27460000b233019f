// One opened device, and the handle callers hold for it (the record's address).
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "QB7720DLL.h"
#include "datapath/NotifyTarget.h"
#include "qb7720/platform/Device.h"
#include "qb7720/platform/Gatt.h"

namespace qb::dll {

struct Subscription {
    platform::EventToken token = 0;
    // Keeps the characteristic alive as long as the entry that is keyed by its address.
    std::shared_ptr<platform::GattCharacteristic> characteristic;
    // The caller's callback and context.
    std::shared_ptr<NotifyTarget> target;
};

struct DeviceSession {
    std::shared_ptr<platform::BluetoothLEDevice> device;
    std::vector<std::shared_ptr<platform::GattDeviceService>> services;
    std::shared_ptr<platform::GattSession> gattSession;
    std::vector<std::shared_ptr<platform::GattCharacteristic>> characteristics;
    ConnectStatusCallback statusCallback = nullptr;
    platform::EventToken statusToken = 0;
    // Keyed by characteristic identity.
    std::map<const platform::GattCharacteristic*, Subscription> subscriptions;
};

inline QB7720DeviceHandle handleOf(DeviceSession* session) {
    return reinterpret_cast<QB7720DeviceHandle>(session);
}

}  // namespace qb::dll
