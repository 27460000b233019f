#include "DllTestSupport.h"

#include <thread>

#include "datapath/SerialState.h"
#include "exports/LibraryLock.h"
#include "exports/SessionTable.h"

namespace qb::dll::test {

namespace {

constexpr std::uint64_t kBusBridge = 0xC05100000001ull;
constexpr const char* kBusBridgeText = "c0:51:00:00:00:01";

}  // namespace

void DllTest::SetUp() {
    transmitPaused().store(false);
    modemStatusCallback().store(nullptr);
#if defined(QB_TEST_HAVE_BUS)
    if (qb::test::onBus()) {
        bus = std::make_unique<qb::test::BusBackend>("bridges=1 peer=loopback",
                                                     std::vector<std::uint64_t>{kBusBridge});
        platform::setCurrent(bus->platform());
        return;
    }
#endif
    ASSERT_FALSE(qb::test::onBus()) << "this build has no bus backend";
    emulator::EmulatorOptions options;
    options.timeMode = emulator::TimeMode::Fast;
    emu = emulator::Emulator::create(options);
    emu->install();
    bridge = emu->addBridge();
}

void DllTest::TearDown() {
    // A test's hook may capture its locals, which are gone by now.
    if (emu) emu->setSleepHook(nullptr);
    // Sessions a test left open would leak into the next test's table.
    for (int attempt = 0; attempt < 64; ++attempt) {
        DeviceSession* first = nullptr;
        {
            LibraryLockGuard lock(libraryLock());
            first = sessionTable().at(0);
        }
        if (first == nullptr) break;
        if (emu) emu->clearFaults();
        QB7720CloseDevice(handleOf(first));
    }
#if defined(QB_TEST_HAVE_BUS)
    if (bus) {
        platform::setCurrent(nullptr);
        bus.reset();
        return;
    }
#endif
    if (emu) emu->waitIdle();
}

void DllTest::settle() {
#if defined(QB_TEST_HAVE_BUS)
    if (bus) return bus->settle(kBusBridgeText);
#endif
    emu->waitIdle();
}

std::size_t DllTest::bridgeWriteCount() {
#if defined(QB_TEST_HAVE_BUS)
    if (bus) return bus->writeCount(kBusBridgeText);
#endif
    return bridge->writes().size();
}

void DllTest::notifyFromBridge(std::uint16_t shortUuid, const Bytes& value) {
#if defined(QB_TEST_HAVE_BUS)
    if (bus) {
        const auto handle = valueHandle(nullptr, shortUuid);
        ASSERT_NE(handle, 0);
        // Not sent when nobody subscribed, as the in-process bridge's notify is.
        bus->harness().notify(kBusBridgeText, handle, value);
        return settle();
    }
#endif
    bridge->notify(valueHandle(bridge, shortUuid), value);
    settle();
}

void DllTest::notifyOnly(std::uint16_t handle, const Bytes& value) {
#if defined(QB_TEST_HAVE_BUS)
    if (bus) {
        bus->harness().notify(kBusBridgeText, handle, value);
        return;
    }
#endif
    bridge->notify(handle, value);
}

void DllTest::dropLink() {
#if defined(QB_TEST_HAVE_BUS)
    if (bus) return bus->harness().dropLink(kBusBridgeText);
#endif
    bridge->dropLink();
}

void DllTest::setInRange(bool inRange) {
#if defined(QB_TEST_HAVE_BUS)
    if (bus) return bus->harness().setInRange(kBusBridgeText, inRange);
#endif
    bridge->setInRange(inRange);
}

QB7720DeviceHandle DllTest::open(const std::shared_ptr<emulator::VirtualDevice>& device,
                                 ConnectStatusCallback callback) {
    return QB7720OpenDevice(idOf(device).c_str(), callback);
}

std::string DllTest::idOf(const std::shared_ptr<emulator::VirtualDevice>& device) const {
#if defined(QB_TEST_HAVE_BUS)
    if (bus && !device) {
        auto found = bus->platform()->bluetoothLEDeviceFromBluetoothAddress(kBusBridge);
        return found ? found->bluetoothDeviceId() : std::string();
    }
#endif
    return emu->deviceId(device->address());
}

std::vector<emulator::WriteRecord> DllTest::writesTo(const std::shared_ptr<emulator::VirtualDevice>& device,
                                                     std::uint16_t shortUuid) const {
    std::vector<emulator::WriteRecord> out;
    for (auto& record : device->writes()) {
        if (record.uuid.shortUuid() == shortUuid) out.push_back(record);
    }
    return out;
}

std::uint16_t DllTest::valueHandle(const std::shared_ptr<emulator::VirtualDevice>& device,
                                   std::uint16_t shortUuid) const {
#if defined(QB_TEST_HAVE_BUS)
    // On the bus, as the backend reports it.
    if (bus && !device) {
        auto found = bus->platform()->bluetoothLEDeviceFromBluetoothAddress(kBusBridge);
        if (!found) return 0;
        auto services = found->getGattServices(platform::BluetoothCacheMode::Cached);
        for (auto& s : services.services) {
            for (auto& c : s->getCharacteristics(platform::BluetoothCacheMode::Cached).characteristics) {
                if (c->uuid().shortUuid() == shortUuid) return c->attributeHandle();
            }
        }
        return 0;
    }
#endif
    const auto* entry = device->findCharacteristic(shortUuid);
    return entry ? entry->valueHandle : 0;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

platform::Guid shortGuid(std::uint16_t value) {
    return platform::Guid::fromShortUuid(value);
}

emulator::DeviceConfig deviceWith(std::vector<emulator::ServiceSpec> services, const std::string& name) {
    emulator::DeviceConfig config;
    config.name = name;
    config.services = std::move(services);
    return config;
}

emulator::CharacteristicSpec characteristic(std::uint16_t shortUuid, std::uint32_t properties, Bytes value) {
    emulator::CharacteristicSpec def;
    def.uuid = shortGuid(shortUuid);
    def.properties = properties;
    def.value = std::move(value);
    return def;
}

emulator::CharacteristicSpec characteristic(const std::string& uuid, std::uint32_t properties) {
    emulator::CharacteristicSpec def;
    def.uuid = *platform::Guid::parse(uuid);
    def.properties = properties;
    return def;
}

void QB7720_CALL Received::callback(void* context, const std::uint8_t* data, std::uint32_t length) {
    auto* self = static_cast<Received*>(context);
    {
        std::lock_guard<std::mutex> lock(self->mutex);
        self->values.emplace_back(data, data + length);
        ++self->calls;
    }
    self->changed.notify_all();
}

std::vector<Bytes> Received::snapshot() {
    std::lock_guard<std::mutex> lock(mutex);
    return values;
}

std::size_t Received::count() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
}

}  // namespace qb::dll::test
