#include "EmulatorFixture.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <stdexcept>

#include "Api.h"
#include "BridgeAdvert.h"

namespace devicelib_test {

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

void Recorder::reset() {
    std::lock_guard<std::mutex> lock(mutex);
    sightings.clear();
    notifications.clear();
    modem.clear();
    modemResults.clear();
    connects.clear();
    connectThreads.clear();
    losses.clear();
    lossThreads.clear();
}

std::vector<std::uint8_t> Recorder::receivedOn(const std::string& uuidText) {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::uint8_t> all;
    for (const auto& n : notifications) {
        if (n.uuidText == uuidText) all.insert(all.end(), n.bytes.begin(), n.bytes.end());
    }
    return all;
}

std::size_t Recorder::count(const std::function<std::size_t(Recorder&)>& what) {
    std::lock_guard<std::mutex> lock(mutex);
    return what(*this);
}

Recorder& recorder() {
    static Recorder r;
    return r;
}

void onSighting(const char* address, const char* name, signed char rssi, unsigned char* data) {
    auto& r = recorder();
    std::lock_guard<std::mutex> lock(r.mutex);
    Sighting s{address ? address : "", std::nullopt, rssi, {}, std::this_thread::get_id()};
    if (name != nullptr) s.name = name;
    if (data != nullptr) s.data.assign(data, data + 8);
    r.sightings.push_back(std::move(s));
}

void onNotification(const uuid_t* uuid, const unsigned char* data, unsigned long length) {
    char text[38] = {};
    gatt_uuid_to_string(uuid, text, sizeof text);
    int modemResult = 0;
    const bool status = std::string(text) == "0xfff3";
    if (status) modemResult = QB7720Ble_Get_Modem_state(data, onModem);
    auto& r = recorder();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.notifications.push_back(
        {text, std::vector<std::uint8_t>(data, data + length), std::this_thread::get_id()});
    if (status) r.modemResults.push_back(modemResult);
    r.changed.notify_all();
}

void onModem(bool dcd, bool ring, bool dsr, bool cts) {
    auto& r = recorder();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.modem.push_back({dcd, ring, dsr, cts});
}

void onConnect(QB7720HANDLE* handle, int state) {
    auto& r = recorder();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.connects.emplace_back(handle, state);
    r.connectThreads.push_back(std::this_thread::get_id());
}

void onLoss(void* userData) {
    auto& r = recorder();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.losses.push_back(userData);
    r.lossThreads.push_back(std::this_thread::get_id());
}

namespace {

// The command characteristic's value handle as the platform reports it.
std::uint16_t commandHandleOf(qb::platform::Platform& platform, std::uint64_t address) {
    auto device = platform.bluetoothLEDeviceFromBluetoothAddress(address);
    if (!device) return 0;
    auto services = device->getGattServices(qb::platform::BluetoothCacheMode::Cached);
    for (auto& s : services.services) {
        auto result = s->getCharacteristics(qb::platform::BluetoothCacheMode::Cached);
        for (auto& c : result.characteristics) {
            if (c->uuid().shortUuid() == qb::emulator::VirtualBridge::kCommandUuid)
                return c->attributeHandle();
        }
    }
    return 0;
}

}  // namespace

EmulatorTest::EmulatorTest() = default;
EmulatorTest::~EmulatorTest() = default;

qb::emulator::EmulatorOptions EmulatorTest::options() const {
    qb::emulator::EmulatorOptions o;
    // Fixed waits of the library (the 100 ms before a reply is read) pass at once.
    o.timeMode = qb::emulator::TimeMode::Fast;
    return o;
}

void EmulatorTest::useEmulator(qb::emulator::EmulatorOptions o) {
    emu = qb::emulator::Emulator::create(std::move(o));
    emu->install();
}

void EmulatorTest::SetUp() {
    recorder().reset();
    radio = qb::test::TestRadio::create(options());
    emu = radio->emulator();
    bridge = radio->addBridge(bridgeConfig);
}

void EmulatorTest::TearDown() {
    QB7720Ble_BLE_Scan(0, nullptr);
    for (auto* h : handles) QB7720Ble_Disconnect(h);
    handles.clear();
    qb::platform::setCurrent(nullptr);
    bridge.reset();
    emu.reset();
    radio.reset();
}

std::string EmulatorTest::bridgeAddress() const {
    return bridge->addressText();
}

QB7720HANDLE* EmulatorTest::connectBridge() {
    return connect(*bridge);
}

std::shared_ptr<qb::emulator::VirtualBridge> EmulatorTest::inProcessBridge() const {
    return std::dynamic_pointer_cast<qb::emulator::VirtualBridge>(
        emu->world()->findDevice(bridge->address()));
}

std::uint16_t EmulatorTest::commandValueHandle() {
    if (emu) {
        auto device = inProcessBridge();
        const auto* command =
            device ? device->findCharacteristic(qb::emulator::VirtualBridge::kCommandUuid) : nullptr;
        return command ? command->valueHandle : 0;
    }
    return commandHandleOf(*testPlatform(), bridge->address());
}

void EmulatorTest::sendCommandNotification(const std::vector<std::uint8_t>& value) {
    if (emu) {
        auto device = inProcessBridge();
        ASSERT_NE(device, nullptr);
        device->sendCommandNotification(value);
        return;
    }
    const auto handle = commandValueHandle();
    ASSERT_NE(handle, 0);
    ASSERT_TRUE(bridge->notify(handle, value));
}

std::vector<qb::emulator::WriteRecord> EmulatorTest::writesTo(std::uint16_t valueHandle) {
    std::vector<qb::emulator::WriteRecord> out;
    bridgeWriteCount();
    for (auto& w : bridge->writes()) {
        if (w.valueHandle == valueHandle) out.push_back(std::move(w));
    }
    return out;
}

std::size_t EmulatorTest::bridgeWriteCount() {
    if (emu) {
        emu->waitIdle();
        return bridge->writes().size();
    }
    // Writes without response travel through a socket and reach the daemon after the call that
    // made them returned: wait until the count holds still.
    auto last = bridge->writes().size();
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_for(50ms);
        const auto now = bridge->writes().size();
        if (now == last) return now;
        last = now;
    }
    return last;
}

bool EmulatorTest::discovering() {
    return radio->discovering();
}

void EmulatorTest::passAdvertisingTime(std::chrono::milliseconds time) {
    if (emu) {
        emu->clock().advance(time);
    } else {
        std::this_thread::sleep_for(time);
    }
    settle();
}

std::shared_ptr<qb::platform::Platform> EmulatorTest::testPlatform() const {
    return qb::platform::currentShared();
}

void EmulatorTest::settle() {
    radio->settle();
}

namespace {

// An ATT error the backend reports as a protocol error whatever the call.
constexpr qb::platform::HResult kAttUnlikelyError = 0x8065000E;

// The radio's kind of call for these operations.
std::optional<qb::test::TestRadio::Call> radioCall(qb::emulator::Operation operation) {
    switch (operation) {
        case qb::emulator::Operation::CharacteristicWriteValue:
            return qb::test::TestRadio::Call::Write;
        case qb::emulator::Operation::CharacteristicReadValue:
            return qb::test::TestRadio::Call::Read;
        case qb::emulator::Operation::CharacteristicWriteCccd:
            return qb::test::TestRadio::Call::Notify;
        default:
            return std::nullopt;
    }
}

}  // namespace

void EmulatorTest::failNext(qb::emulator::Operation operation, qb::platform::GattCommunicationStatus status) {
    if (emu) return emu->injectGattStatus(operation, status);
    switch (status) {
        case qb::platform::GattCommunicationStatus::Unreachable:
            return failNext(operation, qb::platform::hresult::kDeviceNotConnected);
        case qb::platform::GattCommunicationStatus::ProtocolError:
            return failNext(operation, kAttUnlikelyError);
        default:
            FAIL() << "the bus has no fault that reports this status";
    }
}

void EmulatorTest::failNext(qb::emulator::Operation operation, qb::platform::HResult code) {
    if (emu) return emu->injectError(operation, code);
    const auto call = radioCall(operation);
    ASSERT_TRUE(call.has_value()) << "the daemon cannot fail this operation";
    radio->failWith(*bridge, *call, code);
}

std::string EmulatorTest::addressOf(const std::shared_ptr<qb::emulator::VirtualDevice>& device) const {
    return qb::devicelib::formatAddress(device->address());
}

QB7720HANDLE* EmulatorTest::connect(const std::shared_ptr<qb::emulator::VirtualDevice>& device) {
    QB7720HANDLE* h = QB7720Ble_Connect(addressOf(device).c_str(), onConnect);
    if (h != nullptr) handles.push_back(h);
    return h;
}

QB7720HANDLE* EmulatorTest::connect(const qb::test::TestBridge& device) {
    QB7720HANDLE* h = QB7720Ble_Connect(device.addressText().c_str(), onConnect);
    if (h != nullptr) handles.push_back(h);
    return h;
}

QB7720HANDLE* EmulatorTest::connectAndListen() {
    QB7720HANDLE* h = connectBridge();
    if (h == nullptr) return nullptr;
    EXPECT_EQ(QB7720Ble_register_on_disconnect(h, onLoss, this), 0);
    EXPECT_EQ(QB7720Ble_register_notification(h, onNotification, nullptr), 0);
    EXPECT_EQ(QB7720Ble_Open_Notification(h, "0xfff1"), 0);
    EXPECT_EQ(QB7720Ble_Open_Notification(h, "0xfff3"), 0);
    return h;
}

void EmulatorTest::disconnect(QB7720HANDLE* handle) {
    EXPECT_EQ(QB7720Ble_Disconnect(handle), 0);
    handles.erase(std::remove(handles.begin(), handles.end(), handle), handles.end());
}

}  // namespace devicelib_test
