#include "EmulatorFixture.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "qb7720/platform/Platform.h"

namespace qb::test {

std::array<std::uint8_t, 6> addressBytes(std::uint64_t address) {
    std::array<std::uint8_t, 6> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(address >> (8 * (bytes.size() - 1 - i)));
    }
    return bytes;
}

std::vector<RssiReport> RssiRecorder::reportsFrom(std::uint64_t address) const {
    const auto bytes = addressBytes(address);
    std::vector<RssiReport> out;
    std::lock_guard<std::mutex> lock(mutex_);
    std::copy_if(reports_.begin(), reports_.end(), std::back_inserter(out),
                 [&](const RssiReport& r) { return r.address == bytes; });
    return out;
}

RssiRecorder& recorderA() {
    static RssiRecorder r;
    return r;
}

RssiRecorder& recorderB() {
    static RssiRecorder r;
    return r;
}

void QB7720_CALL recordA(const std::uint8_t* address, std::int32_t rssi, std::int32_t tagByte) {
    recorderA().record(address, rssi, tagByte);
}

void QB7720_CALL recordB(const std::uint8_t* address, std::int32_t rssi, std::int32_t tagByte) {
    recorderB().record(address, rssi, tagByte);
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

EmulatorTest::EmulatorTest() = default;
EmulatorTest::~EmulatorTest() = default;

void EmulatorTest::install(emulator::EmulatorOptions options) {
    radio = TestRadio::create(std::move(options));
    emu = radio->emulator();
    recorderA().clear();
    recorderB().clear();
}

void EmulatorTest::TearDown() {
    QB7720RegisterRSSINotify(nullptr);
    if (emu) {
        emu->setSleepHook(nullptr);
        emu->waitIdle();
    }
    bridges_.clear();
    emu.reset();
    radio.reset();
}

std::shared_ptr<TestBridge> EmulatorTest::addBridge(emulator::BridgeConfig config) {
    auto bridge = radio->addBridge(std::move(config));
    bridges_.push_back(bridge);
    return bridge;
}

void EmulatorTest::removeDevice(const TestBridge& bridge) {
    const auto address = bridge.address();
    bridges_.erase(std::remove_if(bridges_.begin(), bridges_.end(),
                                  [&](const auto& b) { return b->address() == address; }),
                   bridges_.end());
    radio->removeDevice(address);
}

void EmulatorTest::rename(const TestBridge& bridge, const std::string& name) {
    if (emu) {
        emu->world()->findDevice(bridge.address())->setName(name);
        return;
    }
    for (const auto& held : bridges_) {
        if (held->address() == bridge.address()) held->setName(name);
    }
}

std::string EmulatorTest::deviceId(std::uint64_t address) {
    if (emu) return emu->deviceId(address);
    auto device = platform::current().bluetoothLEDeviceFromBluetoothAddress(address);
    return device ? device->bluetoothDeviceId() : std::string();
}

bool EmulatorTest::scanning() {
    return radio->discovering();
}

void EmulatorTest::hear(const std::vector<std::uint64_t>& addresses, int times) {
    // Shared with the handler, which may still be running when the watcher has been stopped.
    struct Heard {
        std::mutex mutex;
        std::map<std::uint64_t, int> counts;
        std::map<std::uint64_t, std::int16_t> rssi;
    };
    auto heard = std::make_shared<Heard>();
    auto watcher = platform::current().createBluetoothLEAdvertisementWatcher();
    ASSERT_NE(watcher, nullptr);
    watcher->addReceived([heard](platform::BluetoothLEAdvertisementWatcher&,
                                 const platform::BluetoothLEAdvertisementReceivedEventArgs& a) {
        std::lock_guard<std::mutex> lock(heard->mutex);
        ++heard->counts[a.bluetoothAddress];
        heard->rssi[a.bluetoothAddress] = a.rawSignalStrengthInDBm;
    });
    watcher->start();
    const bool all = eventually([&] {
        std::lock_guard<std::mutex> lock(heard->mutex);
        return std::all_of(addresses.begin(), addresses.end(),
                           [&](std::uint64_t a) { return heard->counts[a] >= times; });
    });
    watcher->stop();
    EXPECT_TRUE(all) << "the bridges were not heard";
    std::lock_guard<std::mutex> lock(heard->mutex);
    for (const auto& [address, rssi] : heard->rssi) lastHeard[address] = rssi;
}

void EmulatorTest::advertiseRound() {
    if (emu) {
        emu->clock().advance(std::chrono::milliseconds(100));
        emu->waitIdle();
        return;
    }
    std::vector<std::uint64_t> addresses;
    for (const auto& b : bridges_) addresses.push_back(b->address());
    hear(addresses);
}

}  // namespace qb::test
