// What one enumeration gathers: the devices the device watcher reports and the bridges the
// advertisement scanner hears. Everything here is guarded by its own lock, never by the library lock:
// an enumeration holds its turn for the whole scan, and a connection-status callback that enumerates
// holds the library lock while it waits for that turn.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "BridgeAdvertisement.h"
#include "QB7720DLL.h"
#include "qb7720/platform/Enumeration.h"

namespace qb::dll::discovery {

struct AdvertRecord {
    std::uint32_t addressLow = 0;   // address bytes 3..0
    std::uint16_t addressHigh = 0;  // address bytes 5..4
    std::int32_t rssi = 0;
    std::uint8_t tagByte = 0;
};

BridgeAddress recordAddress(const AdvertRecord& record);

struct EnumerationLists {
    std::vector<std::shared_ptr<platform::DeviceInformation>> namedDevices;
    std::vector<std::shared_ptr<platform::DeviceInformation>> unnamedDevices;
    std::vector<AdvertRecord> advertRecords;
};

// Hold enumerationListsLock() while touching it. The lock is a leaf: nothing else is taken, and no
// callback is called, while it is held.
EnumerationLists& enumerationLists();
std::mutex& enumerationListsLock();

void clearEnumerationLists();

// Device watcher handlers; they swallow platform errors, which may not reach the event thread.
void onDeviceAdded(const std::shared_ptr<platform::DeviceInformation>& info);
void onDeviceUpdated(const platform::DeviceInformationUpdate& update);
void onDeviceRemoved(const platform::DeviceInformationUpdate& update);

// The RssiCallback an enumeration registers: keeps the first advertisement of each bridge, and only
// once the device watcher has named a device.
void QB7720_CALL collectAdvertisement(const std::uint8_t* address, std::int32_t rssi, std::int32_t tagByte);

}  // namespace qb::dll::discovery
