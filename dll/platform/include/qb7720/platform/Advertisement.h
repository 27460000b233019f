// Advertisement scanning (Windows: BluetoothLEAdvertisementWatcher and its Received event).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qb7720/platform/Event.h"
#include "qb7720/platform/Gatt.h"

namespace qb::platform {

enum class BluetoothLEAdvertisementType : std::int32_t {
    ConnectableUndirected = 0,
    ConnectableDirected = 1,
    ScannableUndirected = 2,
    NonConnectableUndirected = 3,
    ScanResponse = 4,
    Extended = 5,
};

struct BluetoothLEManufacturerData {
    std::uint16_t companyId = 0;
    Bytes data;
};

struct BluetoothLEAdvertisementReceivedEventArgs {
    std::uint64_t bluetoothAddress = 0;  // 48 bits in the low bits
    std::int16_t rawSignalStrengthInDBm = 0;
    BluetoothLEAdvertisementType advertisementType = BluetoothLEAdvertisementType::ConnectableUndirected;
    std::string localName;  // empty when the advertisement carries none
    std::vector<BluetoothLEManufacturerData> manufacturerData;
};

class BluetoothLEAdvertisementWatcher {
  public:
    using ReceivedHandler = std::function<void(BluetoothLEAdvertisementWatcher& sender,
                                               const BluetoothLEAdvertisementReceivedEventArgs& args)>;
    using StoppedHandler = std::function<void(BluetoothLEAdvertisementWatcher& sender)>;

    virtual ~BluetoothLEAdvertisementWatcher() = default;

    virtual EventToken addReceived(ReceivedHandler handler) = 0;
    virtual void removeReceived(EventToken token) = 0;
    virtual EventToken addStopped(StoppedHandler handler) = 0;
    virtual void removeStopped(EventToken token) = 0;

    virtual void start() = 0;
    virtual void stop() = 0;
};

}  // namespace qb::platform
