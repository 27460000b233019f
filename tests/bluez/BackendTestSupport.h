// Shared pieces of the backend tests: a fresh bus, daemon and platform per test, and helpers that
// find the bridge and its vendor characteristics through the platform interface only.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "BusHarness.h"
#include "qb7720/platform/Backends.h"
#include "qb7720/platform/Platform.h"

namespace qb::bluez::test {

using platform::Bytes;

inline constexpr std::uint64_t kBridge = 0xC05100000001ull;
inline constexpr const char* kBridgeText = "c0:51:00:00:00:01";

// Collects values from ValueChanged, remembering which thread delivered them.
class ValueLog {
  public:
    void attach(platform::GattCharacteristic& c) {
        token_ = c.addValueChanged([this](platform::GattCharacteristic&, const Bytes& v) {
            std::lock_guard<std::mutex> lock(mutex_);
            values_.push_back(v);
            bytes_.insert(bytes_.end(), v.begin(), v.end());
            if (std::this_thread::get_id() == caller_) onCallerThread_ = true;
        });
    }
    platform::EventToken token() const { return token_; }
    Bytes bytes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }
    std::size_t count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return values_.size();
    }
    std::vector<Bytes> values() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return values_;
    }
    bool sawCallerThread() const { return onCallerThread_; }
    bool waitForBytes(const Bytes& expected) {
        return waitFor([&] { return bytes() == expected; });
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Bytes> values_;
    Bytes bytes_;
    platform::EventToken token_ = 0;
    std::thread::id caller_ = std::this_thread::get_id();
    std::atomic<bool> onCallerThread_{false};
};

class BackendTest : public ::testing::Test {
  protected:
    virtual std::string config() const { return "bridges=1 peer=loopback"; }

    void SetUp() override {
        harness_ = std::make_unique<BusHarness>(config());
        platform_ = qb::bluez::createPlatform();
    }
    void TearDown() override {
        platform_.reset();
        harness_.reset();
    }

    // Scans until the bridge has been heard, so that its device object exists.
    void hearBridge() {
        auto watcher = platform_->createBluetoothLEAdvertisementWatcher();
        std::atomic<bool> heard{false};
        watcher->addReceived([&](auto&, const platform::BluetoothLEAdvertisementReceivedEventArgs& a) {
            if (a.bluetoothAddress == kBridge) heard = true;
        });
        watcher->start();
        ASSERT_TRUE(waitFor([&] { return heard.load(); }));
        watcher->stop();
    }

    std::shared_ptr<platform::BluetoothLEDevice> bridge() {
        hearBridge();
        auto device = platform_->bluetoothLEDeviceFromId(std::string("BluezLE#hci0#") + kBridgeText);
        EXPECT_TRUE(device);
        return device;
    }

    // Connects and returns the vendor characteristics by short UUID.
    std::map<std::uint16_t, std::shared_ptr<platform::GattCharacteristic>> vendor(
        platform::BluetoothLEDevice& d) {
        std::map<std::uint16_t, std::shared_ptr<platform::GattCharacteristic>> chars;
        auto services = d.getGattServices(platform::BluetoothCacheMode::Uncached);
        EXPECT_EQ(services.status, platform::GattCommunicationStatus::Success);
        for (auto& s : services.services) {
            if (s->uuid().shortUuid() != 0xFFF0) continue;
            auto result = s->getCharacteristics(platform::BluetoothCacheMode::Uncached);
            EXPECT_EQ(result.status, platform::GattCommunicationStatus::Success);
            for (auto& c : result.characteristics) chars[c->uuid().shortUuid()] = c;
        }
        return chars;
    }

    std::unique_ptr<BusHarness> harness_;
    std::shared_ptr<platform::Platform> platform_;
};

}  // namespace qb::bluez::test
