#include "DeviceCollector.h"

#include <algorithm>
#include <string>

namespace qb::dll::discovery {

BridgeAddress recordAddress(const AdvertRecord& record) {
    return addressBytes(std::uint64_t(record.addressHigh) << 32 | record.addressLow);
}

EnumerationLists& enumerationLists() {
    // Never destroyed: late platform events may still arrive while the process exits.
    static auto* lists = new EnumerationLists;
    return *lists;
}

std::mutex& enumerationListsLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

void clearEnumerationLists() {
    std::lock_guard<std::mutex> lock(enumerationListsLock());
    EnumerationLists& lists = enumerationLists();
    lists.namedDevices.clear();
    lists.unnamedDevices.clear();
    lists.advertRecords.clear();
}

void onDeviceAdded(const std::shared_ptr<platform::DeviceInformation>& info) {
    if (!info) return;
    try {
        const bool named = !info->name().empty();
        std::lock_guard<std::mutex> lock(enumerationListsLock());
        EnumerationLists& lists = enumerationLists();
        (named ? lists.namedDevices : lists.unnamedDevices).push_back(info);
    } catch (...) {
    }
}

void onDeviceUpdated(const platform::DeviceInformationUpdate& update) {
    try {
        std::lock_guard<std::mutex> lock(enumerationListsLock());
        EnumerationLists& lists = enumerationLists();
        auto& unnamed = lists.unnamedDevices;
        for (auto it = unnamed.begin(); it != unnamed.end(); ++it) {
            if ((*it)->id() != update.id) continue;
            (*it)->update(update);
            if (!(*it)->name().empty()) {
                lists.namedDevices.push_back(*it);
                unnamed.erase(it);
            }
            return;
        }
    } catch (...) {
    }
}

void onDeviceRemoved(const platform::DeviceInformationUpdate& update) {
    try {
        std::lock_guard<std::mutex> lock(enumerationListsLock());
        auto& named = enumerationLists().namedDevices;
        for (auto it = named.begin(); it != named.end(); ++it) {
            if ((*it)->id() == update.id) {
                named.erase(it);
                return;
            }
        }
    } catch (...) {
    }
}

void QB7720_CALL collectAdvertisement(const std::uint8_t* address, std::int32_t rssi, std::int32_t tagByte) {
    if (address == nullptr) return;
    AdvertRecord record;
    record.addressHigh = static_cast<std::uint16_t>(address[0] << 8 | address[1]);
    record.addressLow = std::uint32_t(address[2]) << 24 | std::uint32_t(address[3]) << 16 |
                        std::uint32_t(address[4]) << 8 | address[5];
    record.rssi = rssi;
    record.tagByte = static_cast<std::uint8_t>(tagByte);
    try {
        std::lock_guard<std::mutex> lock(enumerationListsLock());
        EnumerationLists& lists = enumerationLists();
        if (lists.namedDevices.empty()) return;
        const bool known =
            std::any_of(lists.advertRecords.begin(), lists.advertRecords.end(), [&](const AdvertRecord& r) {
                return r.addressLow == record.addressLow && r.addressHigh == record.addressHigh;
            });
        if (!known) lists.advertRecords.push_back(record);
    } catch (...) {
    }
}

}  // namespace qb::dll::discovery
