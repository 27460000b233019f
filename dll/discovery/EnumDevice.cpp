#include "EnumDevice.h"

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "AdvertisementScanner.h"
#include "DeviceCollector.h"
#include "EntryText.h"
#include "qb7720/platform/Platform.h"

namespace qb::dll::discovery {
namespace {

constexpr char kLeEndpointQuery[] =
    "(System.Devices.Aep.ProtocolId:=\"{bb7bb05e-5972-42b5-94fc-76eaa7084d49}\")";

const std::vector<std::string>& requestedProperties() {
    static const std::vector<std::string> properties{"System.Devices.Aep.DeviceAddress",
                                                     "System.Devices.Aep.IsConnected",
                                                     "System.Devices.Aep.Bluetooth.Le.IsConnectable"};
    return properties;
}

struct EnumerationWatcher {
    std::shared_ptr<platform::DeviceWatcher> watcher;
    platform::EventToken added = 0;
    platform::EventToken updated = 0;
    platform::EventToken removed = 0;
    platform::EventToken completed = 0;
    platform::EventToken stopped = 0;
};

// Only touched by the enumeration that holds enumerationMutex().
EnumerationWatcher& enumerationWatcher() {
    static auto* instance = new EnumerationWatcher;
    return *instance;
}

// Enumerations share the watchers and lists, so a second one waits for the first to finish. Whoever
// holds it never takes the library lock, so a caller that holds the library lock (a connection-status
// callback) may wait here.
std::mutex& enumerationMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

void startDeviceWatcher() {
    EnumerationWatcher& w = enumerationWatcher();
    if (w.watcher) return;
    w.watcher = platform::current().deviceInformationCreateWatcher(
        kLeEndpointQuery, requestedProperties(), platform::DeviceInformationKind::AssociationEndpoint);
    if (!w.watcher) throw platform::PlatformError(platform::hresult::kFail, "no device watcher");
    w.added =
        w.watcher->addAdded([](platform::DeviceWatcher&, std::shared_ptr<platform::DeviceInformation> info) {
            onDeviceAdded(info);
        });
    w.updated = w.watcher->addUpdated(
        [](platform::DeviceWatcher&, const platform::DeviceInformationUpdate& u) { onDeviceUpdated(u); });
    w.removed = w.watcher->addRemoved(
        [](platform::DeviceWatcher&, const platform::DeviceInformationUpdate& u) { onDeviceRemoved(u); });
    w.completed = w.watcher->addEnumerationCompleted([](platform::DeviceWatcher&) {});
    w.stopped = w.watcher->addStopped([](platform::DeviceWatcher&) {});
    w.watcher->start();
}

// Releases the watcher whatever fails on the way, then reports the first failure.
void stopDeviceWatcher() {
    EnumerationWatcher& w = enumerationWatcher();
    auto watcher = std::move(w.watcher);
    const EnumerationWatcher tokens = w;
    w = EnumerationWatcher{};
    if (!watcher) return;
    std::exception_ptr firstError;
    auto attempt = [&](auto&& step) {
        try {
            step();
        } catch (...) {
            if (!firstError) firstError = std::current_exception();
        }
    };
    attempt([&] { watcher->removeAdded(tokens.added); });
    attempt([&] { watcher->removeUpdated(tokens.updated); });
    attempt([&] { watcher->removeRemoved(tokens.removed); });
    attempt([&] { watcher->removeEnumerationCompleted(tokens.completed); });
    attempt([&] { watcher->removeStopped(tokens.stopped); });
    attempt([&] { watcher->stop(); });
    if (firstError) std::rethrow_exception(firstError);
}

bool passesFilter(const std::string& name, const char* nameFilter) {
    return nameFilter == nullptr || name.find(nameFilter) != std::string::npos;
}

std::uint32_t buildEntries(const char* nameFilter, DeviceEntry* entries, std::uint32_t capacity) {
    std::lock_guard<std::mutex> lock(enumerationListsLock());
    const EnumerationLists& lists = enumerationLists();
    std::vector<std::string> addresses;
    addresses.reserve(lists.advertRecords.size());
    for (const auto& record : lists.advertRecords) addresses.push_back(addressText(recordAddress(record)));

    std::uint32_t written = 0;
    for (const auto& device : lists.namedDevices) {
        if (written >= capacity) break;
        const std::string name = device->name();
        const std::string id = device->id();
        if (!passesFilter(name, nameFilter)) continue;
        const std::size_t match = firstAddressIn(id, addresses);
        if (match == addresses.size()) continue;
        const AdvertRecord& record = lists.advertRecords[match];
        DeviceEntry& entry = entries[written];
        copyToField(entry.name, sizeof entry.name, name);
        copyToField(entry.id, sizeof entry.id, id);
        entry.rssi = record.rssi;
        entry.tagByte = record.tagByte;
        ++written;
    }
    return written;
}

}  // namespace

void enumerateDevices(std::uint32_t scanTimeMs, const char* nameFilter, DeviceEntry* entries,
                      std::uint32_t* count) {
    if (count == nullptr) return;
    const std::uint32_t capacity = entries == nullptr ? 0 : *count;
    std::lock_guard<std::mutex> enumerating(enumerationMutex());
    try {
        clearEnumerationLists();
        registerRssiNotify(&collectAdvertisement);
        startDeviceWatcher();
        platform::current().sleep(std::chrono::milliseconds(scanTimeMs));
        stopDeviceWatcher();
        registerRssiNotify(nullptr);
        *count = buildEntries(nameFilter, entries, capacity);
    } catch (...) {
        *count = 0;
        try {
            stopDeviceWatcher();
        } catch (...) {
        }
        registerRssiNotify(nullptr);
    }
}

}  // namespace qb::dll::discovery

extern "C" QB7720_API void QB7720_CALL QB7720EnumDevice(std::uint32_t scanTimeMs, const char* nameFilter,
                                                        DeviceEntry* entries, std::uint32_t* count) {
    qb::dll::discovery::enumerateDevices(scanTimeMs, nameFilter, entries, count);
}
