#include "EmulatorFixture.h"

#include <algorithm>

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

namespace {
constexpr std::uint64_t kBusBridge = 0xC05100000001ull;
}  // namespace

void EmulatorTest::SetUp() {
    recorder().reset();
#if defined(QB_TEST_HAVE_BUS)
    if (qb::test::onBus()) {
        bus = std::make_unique<qb::test::BusBackend>("bridges=1 peer=loopback",
                                                     std::vector<std::uint64_t>{kBusBridge});
        qb::platform::setCurrent(bus->platform());
        return;
    }
#endif
    ASSERT_FALSE(qb::test::onBus()) << "this build has no bus backend";
    useEmulator(options());
    bridge = emu->addBridge();
}

void EmulatorTest::TearDown() {
    QB7720Ble_BLE_Scan(0, nullptr);
    for (auto* h : handles) QB7720Ble_Disconnect(h);
    handles.clear();
    qb::platform::setCurrent(nullptr);
#if defined(QB_TEST_HAVE_BUS)
    bus.reset();
#endif
}

std::string EmulatorTest::bridgeAddress() const {
    return bridge ? addressOf(bridge) : qb::devicelib::formatAddress(kBusBridge);
}

QB7720HANDLE* EmulatorTest::connectBridge() {
    QB7720HANDLE* h = QB7720Ble_Connect(bridgeAddress().c_str(), onConnect);
    if (h != nullptr) handles.push_back(h);
    return h;
}

bool EmulatorTest::bridgeConnectedOrUnknown() const {
    return !bridge || bridge->connected();
}

bool EmulatorTest::bridgeDisconnectedOrUnknown() const {
    return !bridge || !bridge->connected();
}

namespace {
#if defined(QB_TEST_HAVE_BUS)
std::string lowerCase(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The command characteristic's value handle as the platform reports it.
std::uint16_t commandHandle(qb::platform::Platform& platform, std::uint64_t address) {
    auto device = platform.bluetoothLEDeviceFromBluetoothAddress(address);
    if (!device) return 0;
    auto services = device->getGattServices(qb::platform::BluetoothCacheMode::Cached);
    for (auto& s : services.services) {
        auto result = s->getCharacteristics(qb::platform::BluetoothCacheMode::Cached);
        for (auto& c : result.characteristics) {
            if (c->uuid().shortUuid() == 0xFFF3) return c->attributeHandle();
        }
    }
    return 0;
}
#endif
}  // namespace

void EmulatorTest::sendCommandNotification(const std::vector<std::uint8_t>& value) {
#if defined(QB_TEST_HAVE_BUS)
    if (bus) {
        const auto handle = commandHandle(*bus->platform(), kBusBridge);
        ASSERT_NE(handle, 0);
        ASSERT_TRUE(bus->harness().notify(lowerCase(bridgeAddress()), handle, value));
        return;
    }
#endif
    bridge->sendCommandNotification(value);
}

void EmulatorTest::dropLink() {
#if defined(QB_TEST_HAVE_BUS)
    if (bus) return bus->harness().dropLink(lowerCase(bridgeAddress()));
#endif
    bridge->dropLink();
}

void EmulatorTest::setInRange(bool inRange) {
#if defined(QB_TEST_HAVE_BUS)
    if (bus) return bus->harness().setInRange(lowerCase(bridgeAddress()), inRange);
#endif
    bridge->setInRange(inRange);
}

std::size_t EmulatorTest::bridgeWriteCount() {
#if defined(QB_TEST_HAVE_BUS)
    if (bus) return bus->writeCount(bridgeAddress());
#endif
    return bridge->writes().size();
}

std::shared_ptr<qb::platform::Platform> EmulatorTest::testPlatform() const {
#if defined(QB_TEST_HAVE_BUS)
    if (bus) return bus->platform();
#endif
    return emu->platform();
}

void EmulatorTest::settle() {
#if defined(QB_TEST_HAVE_BUS)
    if (bus) return bus->settle(bridgeAddress());
#endif
    emu->waitIdle();
}

std::string EmulatorTest::addressOf(const std::shared_ptr<qb::emulator::VirtualDevice>& device) const {
    return qb::devicelib::formatAddress(device->address());
}

QB7720HANDLE* EmulatorTest::connect(const std::shared_ptr<qb::emulator::VirtualDevice>& device) {
    QB7720HANDLE* h = QB7720Ble_Connect(addressOf(device).c_str(), onConnect);
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
