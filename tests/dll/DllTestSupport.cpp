#include "DllTestSupport.h"

#include "datapath/SerialState.h"
#include "exports/LibraryLock.h"
#include "exports/SessionTable.h"

namespace qb::dll::test {

void DllTest::SetUp() {
    emulator::EmulatorOptions options;
    options.timeMode = emulator::TimeMode::Fast;
    emu = emulator::Emulator::create(options);
    emu->install();
    bridge = emu->addBridge();
    transmitPaused().store(false);
    modemStatusCallback().store(nullptr);
}

void DllTest::TearDown() {
    // A test's hook may capture its locals, which are gone by now.
    emu->setSleepHook(nullptr);
    // Sessions a test left open would leak into the next test's table.
    for (int attempt = 0; attempt < 64; ++attempt) {
        DeviceSession* first = nullptr;
        {
            LibraryLockGuard lock(libraryLock());
            first = sessionTable().at(0);
        }
        if (first == nullptr) break;
        emu->clearFaults();
        QB7720CloseDevice(handleOf(first));
    }
    emu->waitIdle();
}

QB7720DeviceHandle DllTest::open(const std::shared_ptr<emulator::VirtualDevice>& device,
                                 ConnectStatusCallback callback) {
    return QB7720OpenDevice(idOf(device).c_str(), callback);
}

std::string DllTest::idOf(const std::shared_ptr<emulator::VirtualDevice>& device) const {
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
    const auto* entry = device->findCharacteristic(shortUuid);
    return entry ? entry->valueHandle : 0;
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
    emulator::CharacteristicSpec spec;
    spec.uuid = shortGuid(shortUuid);
    spec.properties = properties;
    spec.value = std::move(value);
    return spec;
}

emulator::CharacteristicSpec characteristic(const std::string& uuid, std::uint32_t properties) {
    emulator::CharacteristicSpec spec;
    spec.uuid = *platform::Guid::parse(uuid);
    spec.properties = properties;
    return spec;
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
