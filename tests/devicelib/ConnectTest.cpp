// Connecting through the header: the handle, the state callback, every way it fails, MTU and stream.
#include <atomic>
#include <future>

#include "Api.h"
#include "EmulatorFixture.h"

using namespace devicelib_test;
using qb::emulator::Operation;
namespace platform = qb::platform;

namespace {

class ConnectTest : public EmulatorTest {
  protected:
    // Connects to address and checks the failure contract: null, and the callback told (null, 0).
    void expectFailure(const char* address, const char* what) {
        recorder().reset();
        EXPECT_EQ(QB7720Ble_Connect(address, onConnect), nullptr) << what;
        std::lock_guard<std::mutex> lock(recorder().mutex);
        ASSERT_EQ(recorder().connects.size(), 1u) << what;
        EXPECT_EQ(recorder().connects[0].first, nullptr) << what;
        EXPECT_EQ(recorder().connects[0].second, 0) << what;
        EXPECT_NE(recorder().connectThreads[0], testThread) << what;
    }
};

// A device that counts the closes of the link it holds.
class CountedDevice : public platform::BluetoothLEDevice {
  public:
    CountedDevice(std::shared_ptr<platform::BluetoothLEDevice> inner, std::atomic<int>& closes)
        : inner_(std::move(inner)), closes_(closes) {}

    platform::BluetoothConnectionStatus connectionStatus() override { return inner_->connectionStatus(); }
    platform::EventToken addConnectionStatusChanged(ConnectionStatusChangedHandler handler) override {
        return inner_->addConnectionStatusChanged(std::move(handler));
    }
    void removeConnectionStatusChanged(platform::EventToken token) override {
        inner_->removeConnectionStatusChanged(token);
    }
    platform::GattDeviceServicesResult getGattServices(platform::BluetoothCacheMode mode) override {
        return inner_->getGattServices(mode);
    }
    std::string bluetoothDeviceId() override { return inner_->bluetoothDeviceId(); }
    std::uint64_t bluetoothAddress() override { return inner_->bluetoothAddress(); }
    std::string name() override { return inner_->name(); }
    void close() override {
        ++closes_;
        inner_->close();
    }

  private:
    std::shared_ptr<platform::BluetoothLEDevice> inner_;
    std::atomic<int>& closes_;
};

// A platform whose device look-up waits until the test opens the gate: a bridge that does not answer.
class GatedPlatform : public platform::Platform {
  public:
    explicit GatedPlatform(std::shared_ptr<platform::Platform> inner) : inner_(std::move(inner)) {}

    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    // Closes of the devices it handed out.
    int closes() const { return closes_.load(); }

    std::shared_ptr<platform::BluetoothLEDevice> bluetoothLEDeviceFromBluetoothAddress(
        std::uint64_t a) override {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return open_; });
        lock.unlock();
        auto device = inner_->bluetoothLEDeviceFromBluetoothAddress(a);
        return device ? std::make_shared<CountedDevice>(std::move(device), closes_) : nullptr;
    }
    std::shared_ptr<platform::DeviceWatcher> deviceInformationCreateWatcher(
        const std::string& f, const std::vector<std::string>& p, platform::DeviceInformationKind k) override {
        return inner_->deviceInformationCreateWatcher(f, p, k);
    }
    std::shared_ptr<platform::BluetoothLEAdvertisementWatcher> createBluetoothLEAdvertisementWatcher()
        override {
        return inner_->createBluetoothLEAdvertisementWatcher();
    }
    std::shared_ptr<platform::BluetoothLEDevice> bluetoothLEDeviceFromId(const std::string& id) override {
        return inner_->bluetoothLEDeviceFromId(id);
    }
    std::shared_ptr<platform::GattSession> gattSessionFromDeviceId(const std::string& id) override {
        return inner_->gattSessionFromDeviceId(id);
    }
    std::unique_ptr<platform::BluetoothRadioFind> bluetoothFindFirstRadio() override {
        return inner_->bluetoothFindFirstRadio();
    }
    std::optional<int> localControllerVersion() override { return inner_->localControllerVersion(); }
    void sleep(std::chrono::milliseconds d) override { inner_->sleep(d); }
    bool initializeApartment() override { return inner_->initializeApartment(); }
    void outputDebugString(const std::string& line) override { inner_->outputDebugString(line); }

  private:
    std::shared_ptr<platform::Platform> inner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    std::atomic<int> closes_{0};
};

}  // namespace

TEST_F(ConnectTest, GivesAHandleAndTellsTheCallbackFirst) {
    QB7720HANDLE* h = connectBridge();
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(bridge->connected());
    std::lock_guard<std::mutex> lock(recorder().mutex);
    // Told before Connect returned, on a library thread.
    ASSERT_EQ(recorder().connects.size(), 1u);
    EXPECT_EQ(recorder().connects[0].first, h);
    EXPECT_EQ(recorder().connects[0].second, 1);
    EXPECT_NE(recorder().connectThreads[0], testThread);
}

TEST_F(ConnectTest, EitherCaseOfTheAddressFindsTheBridge) {
    std::string lower = bridgeAddress();
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    QB7720HANDLE* h = QB7720Ble_Connect(lower.c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    handles.push_back(h);
}

TEST_F(ConnectTest, FailsWithNullAndTellsTheCallback) {
    expectFailure(nullptr, "no address");
    expectFailure("C0:51:00:00:00", "malformed address");
    expectFailure("01:02:03:04:05:06", "nobody there");

    const std::string address = bridgeAddress();
    bridge->setInRange(false);
    expectFailure(address.c_str(), "out of range");
    bridge->setInRange(true);
    EXPECT_TRUE(eventually([&] { return !bridge->connected(); }));
    EXPECT_NE(connectBridge(), nullptr);
}

TEST_F(ConnectTest, FailsWithNullWhenTheDeviceOrThePlatformFails) {
    QB_NOT_ON_REAL_STACK("a controller that refuses the link");
    const std::string address = bridgeAddress();
    radio->failConnects(*bridge, 1);
    expectFailure(address.c_str(), "link not made");

    // Devices that are no bridge, and faults of the platform's own calls, only the in-process
    // emulator makes.
    if (emu) {
        qb::emulator::DeviceConfig plain;
        plain.name = "Headphones";
        auto headphones = emu->addDevice(plain);
        expectFailure(addressOf(headphones).c_str(), "not a bridge");

        emu->injectGattStatus(Operation::DeviceGetGattServices,
                              platform::GattCommunicationStatus::Unreachable);
        expectFailure(address.c_str(), "services unreachable");
        emu->injectError(Operation::GattSessionFromDeviceId, platform::hresult::kFail);
        expectFailure(address.c_str(), "no session");
        emu->injectError(Operation::DeviceFromAddress, platform::hresult::kFail);
        expectFailure(address.c_str(), "device look-up failed");
        EXPECT_EQ(emu->pendingFaults(), 0u);
    }

    // Nothing was left connected by the failures, and the bridge still connects.
    EXPECT_TRUE(eventually([&] { return !bridge->connected(); }));
    EXPECT_NE(connectBridge(), nullptr);
}

TEST_F(ConnectTest, MissingBridgeCharacteristicsFailTheConnect) {
    QB_IN_PROCESS_ONLY("a device of its own configuration");
    // The bridge service present but its command characteristic hidden by a refused access.
    auto characteristic = [](std::uint16_t uuid, std::uint32_t properties) {
        qb::emulator::CharacteristicSpec c;
        c.uuid = platform::Guid::fromShortUuid(uuid);
        c.properties = properties;
        return c;
    };
    qb::emulator::ServiceSpec bridgeService;
    bridgeService.uuid = platform::Guid::fromShortUuid(0xFFF0);
    bridgeService.characteristics = {characteristic(0xFFF1, platform::gatt_property::kNotify),
                                     characteristic(0xFFF2, platform::gatt_property::kWrite)};
    qb::emulator::ServiceSpec hidden;
    hidden.uuid = platform::Guid::fromShortUuid(0xFFE5);
    hidden.characteristics = {characteristic(0xFFF3, platform::gatt_property::kNotify)};
    hidden.access = platform::DeviceAccessStatus::DeniedBySystem;
    qb::emulator::DeviceConfig partial;
    partial.name = "Half";
    partial.services = {bridgeService, hidden};
    auto device = emu->addDevice(partial);
    expectFailure(addressOf(device).c_str(), "command characteristic not reachable");

    // With access allowed the same device has all three and connects.
    device->setServiceAccess(platform::Guid::fromShortUuid(0xFFE5), platform::DeviceAccessStatus::Allowed);
    EXPECT_NE(connect(device), nullptr);
}

TEST_F(ConnectTest, GivesUpAtTheTimeLimitAndLetsTheLateLinkGo) {
    auto gated = std::make_shared<GatedPlatform>(testPlatform());
    platform::setCurrent(gated);
    const std::string address = bridgeAddress();
    EXPECT_EQ(qb::devicelib::connect(address.c_str(), onConnect, 200ms), nullptr);
    {
        std::lock_guard<std::mutex> lock(recorder().mutex);
        ASSERT_EQ(recorder().connects.size(), 1u);
        EXPECT_EQ(recorder().connects[0].first, nullptr);
    }
    gated->open();
    // The abandoned attempt finishes in the background and must not leave the bridge connected.
    EXPECT_TRUE(eventually([&] { return gated->closes() > 0; }));
    EXPECT_TRUE(eventually([&] { return !bridge->connected(); }));
    EXPECT_EQ(recorder().count([](Recorder& r) { return r.connects.size(); }), 1u);
}

TEST_F(ConnectTest, MtuAndStream) {
    QB7720HANDLE* h = connectBridge();
    ASSERT_NE(h, nullptr);
    gatt_stream_t* stream = nullptr;
    uint16_t mtu = 0;
    ASSERT_EQ(QB7720Ble_Get_MTU(h, &stream, &mtu), 0);
    EXPECT_EQ(mtu, bridgeConfig.mtu);
    EXPECT_NE(stream, nullptr);
    gatt_stream_t* again = nullptr;
    ASSERT_EQ(QB7720Ble_Get_MTU(h, &again, &mtu), 0);
    EXPECT_EQ(again, stream);

    EXPECT_EQ(QB7720Ble_Get_MTU(h, nullptr, &mtu), QB7720LIB_E_ARGUMENT);
    EXPECT_EQ(QB7720Ble_Get_MTU(h, &stream, nullptr), QB7720LIB_E_ARGUMENT);
}

TEST_F(ConnectTest, AFailedMtuRequestLeavesTheOutputsAlone) {
    QB_IN_PROCESS_ONLY("fault injection of the MTU request");
    QB7720HANDLE* h = connectBridge();
    ASSERT_NE(h, nullptr);
    uint16_t mtu = 0;
    emu->injectError(Operation::SessionMaxPduSize, platform::hresult::kFail);
    gatt_stream_t* untouched = nullptr;
    mtu = 7;
    EXPECT_NE(QB7720Ble_Get_MTU(h, &untouched, &mtu), 0);
    EXPECT_EQ(untouched, nullptr);
    EXPECT_EQ(mtu, 7);
}

TEST_F(ConnectTest, EachConnectionHasItsOwnStreamAndMtu) {
    QB_NOT_ON_REAL_STACK(::qb::test::kTwoLinksAtOnce);
    qb::emulator::BridgeConfig small;
    small.mtu = 23;
    auto other = radio->addBridge(small);
    QB7720HANDLE* a = connectBridge();
    QB7720HANDLE* b = connect(*other);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    gatt_stream_t *sa = nullptr, *sb = nullptr;
    uint16_t ma = 0, mb = 0;
    ASSERT_EQ(QB7720Ble_Get_MTU(a, &sa, &ma), 0);
    ASSERT_EQ(QB7720Ble_Get_MTU(b, &sb, &mb), 0);
    EXPECT_NE(sa, sb);
    EXPECT_EQ(ma, 247);
    EXPECT_EQ(mb, 23);
    // A stream only goes with its own handle.
    EXPECT_EQ(QB7720Ble_Set_Modem(a, sb, 0, 1, 1), QB7720LIB_E_ARGUMENT);
    EXPECT_EQ(QB7720Ble_Set_Modem(a, nullptr, 0, 1, 1), QB7720LIB_E_ARGUMENT);
}

TEST_F(ConnectTest, UnknownAndDisconnectedHandlesAreAnsweredNotUsed) {
    QB7720HANDLE* h = connectBridge();
    ASSERT_NE(h, nullptr);
    disconnect(h);
    EXPECT_TRUE(eventually([&] { return !bridge->connected(); }));

    int notAHandle = 0;
    for (QB7720HANDLE* bad :
         {h, static_cast<QB7720HANDLE*>(nullptr), reinterpret_cast<QB7720HANDLE*>(&notAHandle)}) {
        gatt_stream_t* stream = nullptr;
        uint16_t mtu = 0;
        const char data[1] = {'x'};
        EXPECT_EQ(QB7720Ble_Get_MTU(bad, &stream, &mtu), QB7720LIB_E_ARGUMENT);
        EXPECT_EQ(QB7720Ble_register_on_disconnect(bad, onLoss, nullptr), QB7720LIB_E_ARGUMENT);
        EXPECT_EQ(QB7720Ble_register_notification(bad, onNotification, nullptr), QB7720LIB_E_ARGUMENT);
        EXPECT_EQ(QB7720Ble_Open_Notification(bad, "0xfff1"), QB7720LIB_E_ARGUMENT);
        EXPECT_EQ(QB7720Ble_Close_Notification(bad, "0xfff1"), QB7720LIB_E_ARGUMENT);
        EXPECT_EQ(QB7720Ble_Write_Characteristic(bad, 19, 1, data, 1), QB7720LIB_E_ARGUMENT);
        EXPECT_EQ(QB7720Ble_Set_SerialBaud(bad, stream, 9600, 8, 1, 0), QB7720LIB_E_ARGUMENT);
        EXPECT_EQ(QB7720Ble_Set_Modem(bad, stream, 0, 1, 1), QB7720LIB_E_ARGUMENT);
        EXPECT_EQ(QB7720Ble_Disconnect(bad), QB7720LIB_E_ARGUMENT);
    }
}

TEST_F(ConnectTest, ControllerVersionOrNegativeWithoutARadio) {
    QB_IN_PROCESS_ONLY("control of the controller version");
    auto o = options();
    o.controllerVersion = 12;
    useEmulator(o);
    EXPECT_EQ(QB7720BleGetBluetoothVer(), 12);
    emu->setControllerVersion(std::nullopt);
    EXPECT_LT(QB7720BleGetBluetoothVer(), 0);
    emu->injectError(Operation::LocalControllerVersion, platform::hresult::kFail);
    emu->setControllerVersion(6);
    EXPECT_LT(QB7720BleGetBluetoothVer(), 0);
    EXPECT_EQ(QB7720BleGetBluetoothVer(), 6);
}
