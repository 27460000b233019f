#include "AdvertisementScanner.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "BridgeAdvertisement.h"
#include "exports/CallbackThread.h"
#include "qb7720/platform/Platform.h"

namespace qb::dll::discovery {
namespace {

// Written by registering threads, read by the platform thread delivering advertisements.
std::atomic<RssiCallback> rssiCallbackSlot{nullptr};

struct Scanner {
    // Serialises registrations, so the watcher and its tokens never change under another registration.
    std::mutex mutex;
    std::shared_ptr<platform::BluetoothLEAdvertisementWatcher> watcher;
    platform::EventToken receivedToken = 0;
    platform::EventToken stoppedToken = 0;
};

Scanner& scanner() {
    // Never destroyed: a watcher the caller left running may still deliver events at exit.
    static auto* instance = new Scanner;
    return *instance;
}

void startScanner(Scanner& s) {
    s.watcher = platform::current().createBluetoothLEAdvertisementWatcher();
    if (!s.watcher) return;
    s.receivedToken = s.watcher->addReceived(
        [](platform::BluetoothLEAdvertisementWatcher&,
           const platform::BluetoothLEAdvertisementReceivedEventArgs& args) { deliverAdvertisement(args); });
    s.stoppedToken = s.watcher->addStopped([](platform::BluetoothLEAdvertisementWatcher&) {});
    s.watcher->start();
}

// Each step is tried even when an earlier one fails, so a failed stop never leaves a watcher
// behind that a later registration would mistake for a running one.
void stopScanner(Scanner& s) {
    auto watcher = std::move(s.watcher);
    const auto received = s.receivedToken;
    const auto stopped = s.stoppedToken;
    s.receivedToken = 0;
    s.stoppedToken = 0;
    if (!watcher) return;
    try {
        watcher->stop();
    } catch (...) {
    }
    try {
        watcher->removeReceived(received);
    } catch (...) {
    }
    try {
        watcher->removeStopped(stopped);
    } catch (...) {
    }
}

}  // namespace

void registerRssiNotify(RssiCallback callback) {
    Scanner& s = scanner();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (callback == nullptr) {
        stopScanner(s);
        rssiCallbackSlot.store(nullptr, std::memory_order_release);
        return;
    }
    rssiCallbackSlot.store(callback, std::memory_order_release);
    if (s.watcher) return;
    try {
        startScanner(s);
    } catch (...) {
        // The watcher stays stored, unstarted, until a call with null releases it.
    }
}

void deliverAdvertisement(const platform::BluetoothLEAdvertisementReceivedEventArgs& args) {
    try {
        forEachBridgeReport(args, [](const BridgeAddress& address, std::int32_t rssi, std::uint8_t tag) {
            if (RssiCallback callback = rssiCallbackSlot.load(std::memory_order_acquire)) {
                CallbackScope scope;
                callback(address.data(), rssi, tag);
            }
        });
    } catch (...) {
        // Nothing may escape onto the platform's event thread.
    }
}

}  // namespace qb::dll::discovery

extern "C" QB7720_API std::uint8_t QB7720_CALL QB7720RegisterRSSINotify(RssiCallback callback) {
    try {
        qb::dll::discovery::registerRssiNotify(callback);
    } catch (...) {
        // Errors are ignored here, whatever their kind.
    }
    return 0;
}
