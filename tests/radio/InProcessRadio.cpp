#include "InProcessRadio.h"

#include "qb7720/platform/Platform.h"
#include "qb7720/platform/PlatformError.h"

namespace qb::test {
namespace {

class InProcessBridge : public TestBridge {
  public:
    explicit InProcessBridge(std::shared_ptr<emulator::VirtualBridge> bridge) : bridge_(std::move(bridge)) {}

    std::uint64_t address() const override { return bridge_->address(); }
    bool connected() override { return bridge_->connected(); }
    std::vector<emulator::WriteRecord> writes() override { return bridge_->writes(); }
    std::uint16_t clientConfiguration(std::uint16_t uuid16) override {
        const auto* characteristic = bridge_->findCharacteristic(uuid16);
        return characteristic ? bridge_->clientConfiguration(characteristic->valueHandle) : 0;
    }
    emulator::LineSettings lineSettings() override { return bridge_->lineSettings(); }
    emulator::ModemOutputs modemOutputs() override { return bridge_->modemOutputs(); }
    std::size_t frameCount() override { return bridge_->frames().size(); }
    emulator::Bytes farSideReceived() override { return bridge_->farSideReceived(); }
    emulator::ParameterBlock block(emulator::BlockArea area) override { return bridge_->block(area); }
    void setModemInputs(const emulator::ModemInputs& inputs) override { bridge_->setModemInputs(inputs); }
    void injectSerial(const emulator::Bytes& bytes) override { bridge_->injectSerial(bytes); }
    void overrideReply(std::uint8_t command, std::optional<emulator::Bytes> reply) override {
        bridge_->overrideReply(command, std::move(reply));
    }
    void setRssi(std::int16_t rssi) override { bridge_->setRssi(rssi); }
    void setInRange(bool inRange) override { bridge_->setInRange(inRange); }
    void dropLink() override { bridge_->dropLink(); }
    bool notify(std::uint16_t valueHandle, const emulator::Bytes& value) override {
        return bridge_->notify(valueHandle, value);
    }
    void setName(const std::string& name) override { bridge_->setName(name); }
    bool connectFromOutside() override { return bridge_->connect() == emulator::AttStatus::Success; }

  private:
    std::shared_ptr<emulator::VirtualBridge> bridge_;
};

}  // namespace

InProcessRadio::InProcessRadio(emulator::EmulatorOptions options)
    : emulator_(emulator::Emulator::create(std::move(options))) {
    emulator_->install();
}

InProcessRadio::~InProcessRadio() {
    platform::setCurrent(nullptr);
}

std::shared_ptr<TestBridge> InProcessRadio::addBridge(emulator::BridgeConfig config) {
    return std::make_shared<InProcessBridge>(emulator_->addBridge(std::move(config)));
}

void InProcessRadio::removeDevice(std::uint64_t address) {
    emulator_->removeDevice(address);
}

void InProcessRadio::failWrites(const TestBridge& bridge, int count) {
    emulator::FaultTarget target;
    target.address = bridge.address();
    emulator_->injectError(emulator::Operation::CharacteristicWriteValue, platform::hresult::kAttWriteNotPermitted,
                           count, target);
}

void InProcessRadio::failConnects(const TestBridge& bridge, int count) {
    emulator::FaultTarget target;
    target.address = bridge.address();
    emulator_->injectError(emulator::Operation::DeviceFromAddress, platform::hresult::kDeviceNotConnected, count,
                           target);
}

void InProcessRadio::failWith(const TestBridge& bridge, Call call, platform::HResult code, int count) {
    emulator::Operation operation = emulator::Operation::CharacteristicWriteValue;
    if (call == Call::Read) operation = emulator::Operation::CharacteristicReadValue;
    if (call == Call::Notify) operation = emulator::Operation::CharacteristicWriteCccd;
    emulator::FaultTarget target;
    target.address = bridge.address();
    emulator_->injectError(operation, code, count, target);
}

bool InProcessRadio::discovering() {
    return emulator_->world()->scanning();
}

void InProcessRadio::clearFaults() {
    emulator_->clearFaults();
}

void InProcessRadio::setRadioOn(bool on) {
    emulator_->setRadios(on ? std::vector<emulator::RadioConfig>{emulator::RadioConfig{}}
                            : std::vector<emulator::RadioConfig>{});
}

void InProcessRadio::settle() {
    emulator_->waitIdle();
}

}  // namespace qb::test
