#include "DllTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <utility>

#include "datapath/SerialState.h"
#include "exports/LibraryLock.h"
#include "exports/SessionTable.h"

namespace qb::dll::test {

void DllTest::SetUp() {
    modemStatusCallback().store(nullptr);
    emulator::EmulatorOptions options;
    options.timeMode = emulator::TimeMode::Fast;
    radio = qb::test::TestRadio::create(options);
    emu = radio->emulator();
    bridge = addBridge();
    model = modelOf(*bridge);
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
        if (radio) radio->clearFaults();
        QB7720CloseDevice(handleOf(first));
    }
    if (emu) emu->waitIdle();
    model.reset();
    bridge.reset();
    emu.reset();
    radio.reset();
}

std::shared_ptr<TestBridge> DllTest::addBridge(emulator::BridgeConfig config) {
    return radio->addBridge(std::move(config));
}

std::shared_ptr<emulator::VirtualBridge> DllTest::modelOf(const TestBridge& b) const {
    if (!emu) return nullptr;
    return std::dynamic_pointer_cast<emulator::VirtualBridge>(emu->world()->findDevice(b.address()));
}

void DllTest::settle() {
    radio->settle();
}

std::vector<emulator::WriteRecord> DllTest::writesOf(TestBridge& b) {
    if (emu) {
        emu->waitIdle();
        return b.writes();
    }
    auto last = b.writes();
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        auto now = b.writes();
        if (now.size() == last.size()) return now;
        last = std::move(now);
    }
    return last;
}

std::vector<emulator::WriteRecord> DllTest::writesTo(TestBridge& b, std::uint16_t shortUuid,
                                                     std::size_t from) {
    const auto handle = valueHandle(shortUuid);
    const auto all = writesOf(b);
    std::vector<emulator::WriteRecord> out;
    for (std::size_t i = from; i < all.size(); ++i) {
        if (all[i].valueHandle == handle) out.push_back(all[i]);
    }
    return out;
}

std::uint16_t DllTest::valueHandle(std::uint16_t shortUuid) {
    static const std::vector<std::pair<std::uint16_t, std::uint16_t>> handles = [] {
        auto reference = emulator::World::create()->addBridge();
        std::vector<std::pair<std::uint16_t, std::uint16_t>> out;
        for (const auto& service : reference->database()) {
            for (const auto& c : service.characteristics) out.emplace_back(c.uuid.shortUuid(), c.valueHandle);
        }
        return out;
    }();
    for (const auto& [uuid, handle] : handles) {
        if (uuid == shortUuid) return handle;
    }
    return 0;
}

std::uint16_t DllTest::valueHandle(const std::shared_ptr<emulator::VirtualDevice>& device,
                                   std::uint16_t shortUuid) {
    const auto* entry = device->findCharacteristic(shortUuid);
    return entry ? entry->valueHandle : 0;
}

void DllTest::notifyFrom(TestBridge& from, std::uint16_t shortUuid, const Bytes& value) {
    const auto handle = valueHandle(shortUuid);
    ASSERT_NE(handle, 0);
    notifyOnly(from, handle, value);
    settle();
}

bool DllTest::notifyOnly(TestBridge& from, std::uint16_t handle, const Bytes& value) {
    return from.notify(handle, value);
}

void DllTest::failNext(Operation op, platform::HResult code, int count, const TestBridge* target) {
    if (emu) return emu->injectError(op, code, count);
    using Call = qb::test::TestRadio::Call;
    Call call = Call::Write;
    switch (op) {
        case Operation::CharacteristicWriteValue:
            call = Call::Write;
            break;
        case Operation::CharacteristicReadValue:
            call = Call::Read;
            break;
        case Operation::CharacteristicWriteCccd:
            call = Call::Notify;
            break;
        default:
            FAIL() << "the daemon cannot fail " << emulator::operationName(op);
    }
    radio->failWith(target ? *target : *bridge, call, code, count);
}

std::size_t DllTest::debugLinesDuring(const std::function<void()>& action) {
    if (emu) {
        const auto before = emu->callCount(Operation::OutputDebugString);
        action();
        return static_cast<std::size_t>(emu->callCount(Operation::OutputDebugString) - before);
    }
    ::testing::internal::CaptureStderr();
    action();
    const auto text = ::testing::internal::GetCapturedStderr();
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

void DllTest::reconnect(TestBridge& b) {
    ASSERT_TRUE(b.connectFromOutside());
}

QB7720DeviceHandle DllTest::open(const std::shared_ptr<TestBridge>& b, ConnectStatusCallback callback) {
    return QB7720OpenDevice(idOf(*b).c_str(), callback);
}

QB7720DeviceHandle DllTest::open(const std::shared_ptr<emulator::VirtualDevice>& device,
                                 ConnectStatusCallback callback) {
    return QB7720OpenDevice(idOf(device).c_str(), callback);
}

std::string DllTest::idOf(const TestBridge& b) const {
    if (emu) return emu->deviceId(b.address());
    // As the backend names it; a BlueZ device is known once discovery heard it, which addBridge saw to.
    auto found = platform::current().bluetoothLEDeviceFromBluetoothAddress(b.address());
    return found ? found->bluetoothDeviceId() : std::string();
}

std::string DllTest::idOf(const std::shared_ptr<emulator::VirtualDevice>& device) const {
    return emu->deviceId(device->address());
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

Bytes Received::joined() {
    std::lock_guard<std::mutex> lock(mutex);
    Bytes out;
    for (const auto& v : values) out.insert(out.end(), v.begin(), v.end());
    return out;
}

}  // namespace qb::dll::test
