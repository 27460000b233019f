// Shared helpers of the emulator tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "qb7720/emulator/Emulator.h"
#include "qb7720/platform/Platform.h"

namespace qb::emulator::test {

// Waits for something another thread does. The limit only keeps a broken build from hanging.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Values a characteristic notified, with the thread each arrived on.
struct ValueLog {
    std::mutex mutex;
    std::vector<platform::Bytes> values;
    std::vector<std::thread::id> threads;

    platform::GattCharacteristic::ValueChangedHandler handler() {
        return [this](platform::GattCharacteristic&, const platform::Bytes& value) {
            std::lock_guard<std::mutex> lock(mutex);
            values.push_back(value);
            threads.push_back(std::this_thread::get_id());
        };
    }
    std::size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return values.size();
    }
    platform::Bytes joined() {
        std::lock_guard<std::mutex> lock(mutex);
        platform::Bytes all;
        for (const auto& v : values) all.insert(all.end(), v.begin(), v.end());
        return all;
    }
    std::vector<platform::Bytes> snapshot() {
        std::lock_guard<std::mutex> lock(mutex);
        return values;
    }
};

// A connected bridge as a host sees it through the platform.
struct HostView {
    std::shared_ptr<platform::BluetoothLEDevice> device;
    std::vector<std::shared_ptr<platform::GattDeviceService>> services;
    std::shared_ptr<platform::GattCharacteristic> receive;   // 0xFFF1
    std::shared_ptr<platform::GattCharacteristic> transmit;  // 0xFFF2
    std::shared_ptr<platform::GattCharacteristic> command;   // 0xFFF3
    std::shared_ptr<platform::GattSession> session;

    std::shared_ptr<platform::GattCharacteristic> find(std::uint16_t shortUuid) const;
};

// Opens the device the way the library does: by id, services and characteristics uncached.
HostView openHost(platform::Platform& platform, const std::string& deviceId);

platform::Bytes bytesOf(const std::string& text);

}  // namespace qb::emulator::test
