#include "BusRadio.h"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <thread>

#include "BridgeOptions.h"
#include "ErrorMap.h"
#include "qb7720/platform/Platform.h"

namespace qb::test {
namespace {

constexpr const char* kControlIface = "org.qb7720.EmulatorControl1";

std::string lowerText(std::uint64_t address) {
    return emulator::World::addressText(address);
}

std::uint64_t parseAddress(const std::string& text) {
    std::uint64_t value = 0;
    for (char c : text) {
        if (c == ':') continue;
        value = (value << 4) | static_cast<std::uint64_t>(std::stoul(std::string(1, c), nullptr, 16));
    }
    return value;
}

auto noArguments = [](sdbus::MethodCall&) {};
auto noResults = [](sdbus::MethodReply&) {};

class BusBridge : public TestBridge {
  public:
    BusBridge(BusRadio& radio, std::uint64_t address) : radio_(radio), address_(address), text_(lowerText(address)) {}

    std::uint64_t address() const override { return address_; }

    bool connected() override {
        bool value = false;
        radio_.control("Connected", withAddress(), [&](sdbus::MethodReply& r) { r >> value; });
        return value;
    }
    std::vector<emulator::WriteRecord> writes() override {
        std::vector<sdbus::Struct<std::uint16_t, std::vector<std::uint8_t>, bool>> raw;
        radio_.control("Writes", withAddress(), [&](sdbus::MethodReply& r) { r >> raw; });
        std::vector<emulator::WriteRecord> out;
        for (const auto& w : raw) {
            emulator::WriteRecord record;
            record.valueHandle = w.get<0>();
            record.value = w.get<1>();
            record.withResponse = w.get<2>();
            out.push_back(std::move(record));
        }
        return out;
    }
    std::uint16_t clientConfiguration(std::uint16_t uuid16) override {
        std::uint16_t value = 0;
        radio_.control("ClientConfiguration", [&](sdbus::MethodCall& m) { m << text_ << uuid16; },
                       [&](sdbus::MethodReply& r) { r >> value; });
        return value;
    }
    emulator::LineSettings lineSettings() override {
        emulator::LineSettings line;
        radio_.control("LineSettings", withAddress(), [&](sdbus::MethodReply& r) {
            r >> line.baud >> line.dataBits >> line.stopBits >> line.parity;
        });
        return line;
    }
    emulator::ModemOutputs modemOutputs() override {
        emulator::ModemOutputs m;
        radio_.control("ModemOutputs", withAddress(),
                       [&](sdbus::MethodReply& r) { r >> m.flowControl >> m.dtr >> m.rts; });
        return m;
    }
    std::size_t frameCount() override {
        std::uint32_t count = 0;
        radio_.control("FrameCount", withAddress(), [&](sdbus::MethodReply& r) { r >> count; });
        return count;
    }
    emulator::Bytes farSideReceived() override {
        emulator::Bytes bytes;
        radio_.control("FarSideReceived", withAddress(), [&](sdbus::MethodReply& r) { r >> bytes; });
        return bytes;
    }
    emulator::ParameterBlock block(emulator::BlockArea area) override {
        std::vector<std::uint8_t> bytes;
        radio_.control("Block", [&](sdbus::MethodCall& m) { m << text_ << static_cast<std::uint8_t>(area); },
                       [&](sdbus::MethodReply& r) { r >> bytes; });
        emulator::ParameterBlock block{};
        std::copy_n(bytes.begin(), std::min(bytes.size(), block.size()), block.begin());
        return block;
    }
    void injectSerial(const emulator::Bytes& bytes) override {
        radio_.control("InjectSerial", [&](sdbus::MethodCall& m) { m << text_ << bytes; }, noResults);
    }
    void overrideReply(std::uint8_t command, std::optional<emulator::Bytes> reply) override {
        radio_.control("OverrideReply",
                       [&](sdbus::MethodCall& m) {
                           m << text_ << command << reply.has_value() << reply.value_or(emulator::Bytes{});
                       },
                       noResults);
    }
    void setModemInputs(const emulator::ModemInputs& in) override {
        radio_.control("SetModemInputs", [&](sdbus::MethodCall& m) { m << text_ << in.dcd << in.ri << in.dsr << in.cts; },
                       noResults);
    }
    void setRssi(std::int16_t rssi) override {
        radio_.control("SetRssi", [&](sdbus::MethodCall& m) { m << text_ << rssi; }, noResults);
    }
    void setInRange(bool inRange) override {
        radio_.control("SetInRange", [&](sdbus::MethodCall& m) { m << text_ << inRange; }, noResults);
    }
    void dropLink() override { radio_.control("DropLink", withAddress(), noResults); }
    bool notify(std::uint16_t valueHandle, const emulator::Bytes& value) override {
        bool sent = false;
        radio_.control("Notify", [&](sdbus::MethodCall& m) { m << text_ << valueHandle << value; },
                       [&](sdbus::MethodReply& r) { r >> sent; });
        return sent;
    }
    void setName(const std::string& name) override {
        radio_.control("SetName", [&](sdbus::MethodCall& m) { m << text_ << name; }, noResults);
    }
    bool connectFromOutside() override { return radio_.connectFromOutside(address_); }

  private:
    std::function<void(sdbus::MethodCall&)> withAddress() const {
        return [this](sdbus::MethodCall& m) { m << text_; };
    }

    BusRadio& radio_;
    std::uint64_t address_;
    std::string text_;
};

}  // namespace

template <typename In, typename Out>
void BusRadio::control(const char* method, In in, Out out) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto call = proxy_->createMethodCall(kControlIface, method);
    in(call);
    auto reply = proxy_->callMethod(call);
    out(reply);
}

void BusRadio::control(const char* method) {
    control(method, [](sdbus::MethodCall&) {}, [](sdbus::MethodReply&) {});
}

BusRadio::BusRadio() {
    backend_ = std::make_unique<BusBackend>("bridges=0", std::vector<std::uint64_t>{});
    connection_ = sdbus::createSessionBusConnectionWithAddress(backend_->harness().address());
    proxy_ = sdbus::createProxy(*connection_, "org.bluez", "/org/qb7720/emulator");
    adapter_ = sdbus::createProxy(*connection_, "org.bluez", "/org/bluez/hci0");
    platform::setCurrent(backend_->platform());
}

BusRadio::BusRadio(std::unique_ptr<sdbus::IConnection> connection, const std::string& controlName,
                   std::shared_ptr<platform::Platform> platform)
    : connection_(std::move(connection)), platform_(std::move(platform)) {
    proxy_ = sdbus::createProxy(*connection_, controlName, "/org/qb7720/emulator");
    adapter_ = sdbus::createProxy(*connection_, "org.bluez", "/org/bluez/hci0");
    platform::setCurrent(platform_);
}

void BusRadio::hear(std::uint64_t address) {
    backend_->hear({address});
}

BusRadio::~BusRadio() {
    platform::setCurrent(nullptr);
    adapter_.reset();
    proxy_.reset();
    connection_.reset();
    backend_.reset();
    platform_.reset();
}

std::shared_ptr<TestBridge> BusRadio::addBridge(emulator::BridgeConfig config) {
    std::string text;
    control("AddBridge", [&](sdbus::MethodCall& m) { m << emud::toBridgeOptions(config); },
            [&](sdbus::MethodReply& r) { r >> text; });
    const auto address = parseAddress(text);
    hear(address);
    return std::make_shared<BusBridge>(*this, address);
}

void BusRadio::removeDevice(std::uint64_t address) {
    control("RemoveDevice", [&](sdbus::MethodCall& m) { m << lowerText(address); }, noResults);
}

void BusRadio::failWrites(const TestBridge& bridge, int count) {
    fail(bridge, "write", count);
}

void BusRadio::failConnects(const TestBridge& bridge, int count) {
    fail(bridge, "connect", count);
}

void BusRadio::fail(const TestBridge& bridge, const char* call, int count) {
    control("Fail",
            [&](sdbus::MethodCall& m) {
                m << lowerText(bridge.address()) << std::string(call) << static_cast<std::uint32_t>(count);
            },
            noResults);
}

void BusRadio::failWith(const TestBridge& bridge, Call call, platform::HResult code, int count) {
    const char* name = call == Call::Write ? "write" : call == Call::Read ? "read" : "notify";
    const auto error = bluez::bluezErrorFor(code);
    control("FailWith",
            [&](sdbus::MethodCall& m) {
                m << lowerText(bridge.address()) << std::string(name) << static_cast<std::uint32_t>(count)
                  << error.name << error.message;
            },
            noResults);
}

bool BusRadio::discovering() {
    std::lock_guard<std::mutex> lock(mutex_);
    return adapter_->getProperty("Discovering").onInterface("org.bluez.Adapter1").get<bool>();
}

std::string BusRadio::devicePath(std::uint64_t address) {
    std::string name = emulator::World::addressText(address);
    for (char& c : name) c = c == ':' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return "/org/bluez/hci0/dev_" + name;
}

bool BusRadio::connectFromOutside(std::uint64_t address) {
    const std::string path = devicePath(address);
    std::lock_guard<std::mutex> lock(mutex_);
    auto device = sdbus::createProxy(*connection_, "org.bluez", path);
    try {
        device->callMethod("Connect").onInterface("org.bluez.Device1");
    } catch (const sdbus::Error&) {
        return false;
    }
    return true;
}

void BusRadio::clearFaults() {
    control("ClearFaults", noArguments, noResults);
}

void BusRadio::setRadioOn(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto adapter = sdbus::createProxy(*connection_, "org.bluez", "/org/bluez/hci0");
    adapter->setProperty("Powered").onInterface("org.bluez.Adapter1").toValue(on);
}

void BusRadio::settle() {
    // Answered after everything asked before it; then the backend's thread gets a moment.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        proxy_->callMethod("Ping").onInterface("org.freedesktop.DBus.Peer");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace qb::test
