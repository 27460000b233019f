// Traffic through the header: writes reaching the bridge's line, notifications coming back, the line
// and modem settings, and the link going away.
#include <atomic>

#include "EmulatorFixture.h"
#include "qb7720/protocol/Frames.h"

using namespace devicelib_test;
using qb::emulator::Operation;
using Bytes = std::vector<std::uint8_t>;
namespace platform = qb::platform;

namespace {

class DataPathTest : public EmulatorTest {
  protected:
    gatt_stream_t* streamOf(QB7720HANDLE* h) {
        gatt_stream_t* stream = nullptr;
        uint16_t mtu = 0;
        EXPECT_EQ(QB7720Ble_Get_MTU(h, &stream, &mtu), 0);
        return stream;
    }
    std::vector<qb::emulator::WriteRecord> dataWrites() {
        return writesTo(qb::emulator::VirtualBridge::kTransmitValueHandle);
    }
    std::vector<qb::emulator::WriteRecord> commandWrites() { return writesTo(commandValueHandle()); }
};

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

}  // namespace

TEST_F(DataPathTest, AWriteToHandle19GoesOutOfTheLineAndComesBackOn0xfff1) {
    QB7720HANDLE* h = connectAndListen();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(QB7720Ble_Write_Characteristic(h, 19, 1, "AB", 2), 0);
    ASSERT_EQ(QB7720Ble_Write_Characteristic(h, 19, 0, "CD", 2), 0);
    EXPECT_TRUE(eventually([&] { return recorder().receivedOn("0xfff1") == bytesOf("ABCD"); }));

    // What crossed the air.
    EXPECT_TRUE(eventually([&] { return bridge->farSideReceived() == bytesOf("ABCD"); }));
    auto writes = dataWrites();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].value, bytesOf("AB"));
    EXPECT_TRUE(writes[0].withResponse);
    EXPECT_EQ(writes[1].value, bytesOf("CD"));
    EXPECT_FALSE(writes[1].withResponse);

    std::lock_guard<std::mutex> lock(recorder().mutex);
    for (const auto& n : recorder().notifications) EXPECT_NE(n.thread, testThread);
}

TEST_F(DataPathTest, WritesLongerThanTheMtuAllowsAreRefusedWhole) {
    QB7720HANDLE* h = connectAndListen();
    ASSERT_NE(h, nullptr);
    gatt_stream_t* stream = nullptr;
    uint16_t mtu = 0;
    ASSERT_EQ(QB7720Ble_Get_MTU(h, &stream, &mtu), 0);
    const Bytes data(mtu, 0x55);

    const auto before = bridgeWriteCount();
    EXPECT_EQ(QB7720Ble_Write_Characteristic(h, 19, 1, data.data(), mtu - 2u), QB7720LIB_E_TOO_LONG);
    EXPECT_EQ(QB7720Ble_Write_Characteristic(h, 19, 0, data.data(), mtu), QB7720LIB_E_TOO_LONG);
    EXPECT_EQ(bridgeWriteCount(), before);
    EXPECT_EQ(QB7720Ble_Write_Characteristic(h, 19, 1, data.data(), mtu - 3u), 0);
    EXPECT_EQ(bridgeWriteCount(), before + 1);
    // The whole value comes back through the loopback.
    EXPECT_TRUE(eventually([&] { return recorder().receivedOn("0xfff1").size() == mtu - 3u; }));
    const auto writes = dataWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].value.size(), mtu - 3u);
}

TEST_F(DataPathTest, ZeroBytesSucceedWithoutTraffic) {
    QB7720HANDLE* h = connectAndListen();
    ASSERT_NE(h, nullptr);
    const auto before = emu ? emu->callCount(Operation::CharacteristicWriteValue) : 0;
    const auto writesBefore = bridgeWriteCount();
    EXPECT_EQ(QB7720Ble_Write_Characteristic(h, 19, 1, "", 0), 0);
    EXPECT_EQ(QB7720Ble_Write_Characteristic(h, 19, 0, nullptr, 0), 0);
    EXPECT_EQ(bridgeWriteCount(), writesBefore);
    if (emu) {
        EXPECT_EQ(emu->callCount(Operation::CharacteristicWriteValue), before);
    }
}

TEST_F(DataPathTest, WritesGoByValueHandleAndReportRefusals) {
    QB7720HANDLE* h = connectAndListen();
    ASSERT_NE(h, nullptr);
    const auto command = commandValueHandle();
    ASSERT_NE(command, 0);
    ASSERT_NE(command, qb::emulator::VirtualBridge::kTransmitValueHandle);
    const Bytes resetChannel = qb::protocol::encodeResetChannel();
    EXPECT_EQ(QB7720Ble_Write_Characteristic(h, command, 0, resetChannel.data(), resetChannel.size()), 0);
    const auto commands = commandWrites();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].value, resetChannel);
    EXPECT_TRUE(dataWrites().empty());

    EXPECT_EQ(QB7720Ble_Write_Characteristic(h, 0x7777, 1, "A", 1), QB7720LIB_E_NO_CHARACTERISTIC);
    EXPECT_EQ(QB7720Ble_Write_Characteristic(h, 19, 1, nullptr, 1), QB7720LIB_E_ARGUMENT);

    if (emu) {  // a refusal reported as a status, which the daemon has no way to give
        emu->injectGattStatus(Operation::CharacteristicWriteValue,
                              platform::GattCommunicationStatus::ProtocolError);
        EXPECT_EQ(QB7720Ble_Write_Characteristic(h, 19, 1, "A", 1), QB7720LIB_E_REFUSED);
    }
    radio->failWrites(*bridge, 1);
    EXPECT_EQ(QB7720Ble_Write_Characteristic(h, 19, 1, "A", 1), QB7720LIB_E_REFUSED);
    EXPECT_EQ(QB7720Ble_Write_Characteristic(h, 19, 1, "A", 1), 0);
}

TEST_F(DataPathTest, StatusReportsArriveOn0xfff3AndDecodeIntoTheModemLines) {
    QB7720HANDLE* h = connectAndListen();
    ASSERT_NE(h, nullptr);
    sendCommandNotification({0x88, 0, 0, 0, 0, 0xA0, 0});  // DCD and DSR
    sendCommandNotification({0x88, 0, 0, 0, 0, 0xF0});     // 6 bytes: not a report
    sendCommandNotification({0x88, 0, 0, 0, 0, 0xF0, 0, 0});
    sendCommandNotification({0x42, 0, 0, 0, 0, 0xF0, 0});
    sendCommandNotification({0x88, 0, 0, 0, 0x04, 0x50, 0});  // RING and CTS
    ASSERT_TRUE(
        eventually([] { return recorder().count([](Recorder& r) { return r.modemResults.size(); }) == 5; }));

    std::lock_guard<std::mutex> lock(recorder().mutex);
    auto& r = recorder();
    EXPECT_EQ(r.modemResults, (std::vector<int>{0, QB7720LIB_E_NOT_STATUS, QB7720LIB_E_NOT_STATUS,
                                                QB7720LIB_E_NOT_STATUS, 0}));
    ASSERT_EQ(r.modem.size(), 2u);
    EXPECT_TRUE(r.modem[0].dcd && !r.modem[0].ring && r.modem[0].dsr && !r.modem[0].cts);
    EXPECT_TRUE(!r.modem[1].dcd && r.modem[1].ring && !r.modem[1].dsr && r.modem[1].cts);
    // The callback sees each value's own length, whatever the padding.
    std::vector<std::size_t> lengths;
    for (const auto& n : r.notifications) {
        if (n.uuidText == "0xfff3") lengths.push_back(n.bytes.size());
    }
    EXPECT_EQ(lengths, (std::vector<std::size_t>{7, 6, 8, 7, 7}));
}

TEST_F(DataPathTest, ModemOutputsComeBackAsInputsThroughALoopback) {
    // The loopback wires RTS to CTS and DTR to DSR and DCD: the whole way out and back.
    QB7720HANDLE* h = connectAndListen();
    ASSERT_NE(h, nullptr);
    auto lastLines = [] {
        std::lock_guard<std::mutex> lock(recorder().mutex);
        return recorder().modem.empty() ? std::optional<ModemLines>() : recorder().modem.back();
    };
    ASSERT_EQ(QB7720Ble_Set_Modem(h, streamOf(h), 0, 1, 0), 0);
    ASSERT_TRUE(eventually([&] {
        auto l = lastLines();
        return l && l->dcd && l->dsr && !l->cts && !l->ring;
    }));
    ASSERT_EQ(QB7720Ble_Set_Modem(h, streamOf(h), 0, 0, 1), 0);
    ASSERT_TRUE(eventually([&] {
        auto l = lastLines();
        return l && !l->dcd && !l->dsr && l->cts && !l->ring;
    }));
}

TEST_F(DataPathTest, ClosedNotificationsStopReachingTheCallback) {
    QB7720HANDLE* h = connectAndListen();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(QB7720Ble_Write_Characteristic(h, 19, 1, "A", 1), 0);
    ASSERT_TRUE(eventually([] { return recorder().receivedOn("0xfff1") == bytesOf("A"); }));
    ASSERT_EQ(QB7720Ble_Close_Notification(h, "0xfff1"), 0);
    EXPECT_EQ(QB7720Ble_Close_Notification(h, "0xfff1"), 0);  // already closed
    ASSERT_EQ(QB7720Ble_Write_Characteristic(h, 19, 1, "B", 1), 0);
    ASSERT_TRUE(eventually([&] { return bridge->farSideReceived() == bytesOf("AB"); }));
    settle();
    EXPECT_EQ(recorder().receivedOn("0xfff1"), bytesOf("A"));

    // Opened again, the data flows again; opening twice changes nothing.
    ASSERT_EQ(QB7720Ble_Open_Notification(h, "0xfff1"), 0);
    ASSERT_EQ(QB7720Ble_Open_Notification(h, "0xFFF1"), 0);
    ASSERT_EQ(QB7720Ble_Write_Characteristic(h, 19, 1, "C", 1), 0);
    ASSERT_TRUE(eventually([] { return recorder().receivedOn("0xfff1") == bytesOf("AC"); }));
    settle();
    EXPECT_EQ(recorder().receivedOn("0xfff1"), bytesOf("AC"));
}

TEST_F(DataPathTest, NotificationNamesThatAreNoCharacteristicAreRefused) {
    QB7720HANDLE* h = connectBridge();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(QB7720Ble_Open_Notification(h, "0xfff9"), QB7720LIB_E_NO_CHARACTERISTIC);
    EXPECT_EQ(QB7720Ble_Open_Notification(h, "fff1"), QB7720LIB_E_ARGUMENT);
    EXPECT_EQ(QB7720Ble_Open_Notification(h, nullptr), QB7720LIB_E_ARGUMENT);
    EXPECT_EQ(QB7720Ble_Open_Notification(h, "0xfff2"), QB7720LIB_E_REFUSED);  // it does not notify
}

TEST_F(DataPathTest, AFailedSubscriptionLeavesTheClientConfigurationAlone) {
    QB7720HANDLE* h = connectBridge();
    ASSERT_NE(h, nullptr);
    failNext(Operation::CharacteristicWriteCccd, platform::GattCommunicationStatus::Unreachable);
    EXPECT_EQ(QB7720Ble_Open_Notification(h, "0xfff1"), QB7720LIB_E_REFUSED);
    EXPECT_EQ(bridge->clientConfiguration(qb::emulator::VirtualBridge::kReceiveUuid), 0);
    EXPECT_EQ(QB7720Ble_Open_Notification(h, "0xfff1"), 0);
    EXPECT_NE(bridge->clientConfiguration(qb::emulator::VirtualBridge::kReceiveUuid), 0);
}

TEST_F(DataPathTest, SerialSettingsReachTheLineAsTheBridgesFrame) {
    QB7720HANDLE* h = connectAndListen();
    ASSERT_NE(h, nullptr);
    gatt_stream_t* stream = streamOf(h);
    // The wait before the reply is read, and the read itself, only the in-process emulator counts.
    std::vector<std::chrono::milliseconds> sleeps;
    std::mutex sleepMutex;
    std::uint64_t readsBefore = 0;
    if (emu) {
        emu->setSleepHook([&](std::chrono::milliseconds d) {
            std::lock_guard<std::mutex> lock(sleepMutex);
            sleeps.push_back(d);
        });
        readsBefore = emu->callCount(Operation::CharacteristicReadValue);
    }

    ASSERT_EQ(QB7720Ble_Set_SerialBaud(h, stream, 9600, 7, 2, 2), 0);
    auto line = bridge->lineSettings();
    EXPECT_EQ(line.baud, 9600u);
    EXPECT_EQ(line.dataBits, 7);
    EXPECT_EQ(line.stopBits, 2);
    EXPECT_EQ(line.parity, 2);
    auto commands = commandWrites();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].value,
              (Bytes{0x06, 0x09, 0x00, 0x00, 0x80, 0x25, 0x00, 0x00, 0x07, 0x02, 0x02, 0xB0}));
    EXPECT_FALSE(commands[0].withResponse);
    if (emu) {
        EXPECT_EQ(emu->callCount(Operation::CharacteristicReadValue), readsBefore + 1);
        std::lock_guard<std::mutex> lock(sleepMutex);
        EXPECT_EQ(sleeps, (std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(100)}));
    }

    // A rate the bridge does not list goes out as 0, as the core library sends it.
    ASSERT_EQ(QB7720Ble_Set_SerialBaud(h, stream, 300, 8, 1, 0), 0);
    commands = commandWrites();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[1].value, (Bytes{0x06, 0x09, 0x00, 0x00, 0, 0, 0, 0, 0x08, 0x01, 0x00, 0x09}));
}

TEST_F(DataPathTest, ModemSettingsReachTheBridge) {
    QB7720HANDLE* h = connectAndListen();
    ASSERT_NE(h, nullptr);
    gatt_stream_t* stream = streamOf(h);
    ASSERT_EQ(QB7720Ble_Set_Modem(h, stream, 1, 1, 0), 0);
    auto outputs = bridge->modemOutputs();
    EXPECT_TRUE(outputs.flowControl);
    EXPECT_TRUE(outputs.dtr);
    EXPECT_FALSE(outputs.rts);
    ASSERT_EQ(QB7720Ble_Set_Modem(h, stream, 0, 0, 1), 0);
    outputs = bridge->modemOutputs();
    EXPECT_FALSE(outputs.flowControl);
    EXPECT_FALSE(outputs.dtr);
    EXPECT_TRUE(outputs.rts);
    auto commands = commandWrites();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[1].value, (Bytes{0x07, 0x05, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01}));
}

TEST_F(DataPathTest, SettingsTheBridgeDidNotTakeAreReported) {
    QB_NOT_ON_REAL_STACK(::qb::test::kErrorWithoutAttCode);
    QB7720HANDLE* h = connectAndListen();
    ASSERT_NE(h, nullptr);
    gatt_stream_t* stream = streamOf(h);
    failNext(Operation::CharacteristicWriteValue, platform::GattCommunicationStatus::Unreachable);
    EXPECT_NE(QB7720Ble_Set_SerialBaud(h, stream, 9600, 8, 1, 0), 0);
    EXPECT_EQ(bridge->lineSettings().baud, 115200u);
    failNext(Operation::CharacteristicReadValue, platform::GattCommunicationStatus::ProtocolError);
    EXPECT_NE(QB7720Ble_Set_Modem(h, stream, 0, 1, 1), 0);
    failNext(Operation::CharacteristicReadValue, platform::hresult::kFail);
    EXPECT_NE(QB7720Ble_Set_SerialBaud(h, stream, 9600, 8, 1, 0), 0);
    EXPECT_EQ(QB7720Ble_Set_SerialBaud(h, stream, 9600, 8, 1, 0), 0);
}

TEST_F(DataPathTest, ALostLinkIsReportedOnceAndLeavesOnlyTheDisconnect) {
    QB7720HANDLE* h = connectAndListen();
    ASSERT_NE(h, nullptr);
    gatt_stream_t* stream = streamOf(h);
    bridge->dropLink();
    ASSERT_TRUE(
        eventually([] { return recorder().count([](Recorder& r) { return r.losses.size(); }) == 1; }));
    // The device coming back and going again is not a second loss of this connection.
    bridge->setInRange(false);
    bridge->setInRange(true);
    settle();
    {
        std::lock_guard<std::mutex> lock(recorder().mutex);
        ASSERT_EQ(recorder().losses.size(), 1u);
        EXPECT_EQ(recorder().losses[0], this);
        EXPECT_NE(recorder().lossThreads[0], testThread);
    }
    EXPECT_EQ(QB7720Ble_Write_Characteristic(h, 19, 1, "A", 1), QB7720LIB_E_NOT_CONNECTED);
    EXPECT_EQ(QB7720Ble_Set_Modem(h, stream, 0, 1, 1), QB7720LIB_E_NOT_CONNECTED);
    // The terminal's close sequence after a loss goes through cleanly.
    EXPECT_EQ(QB7720Ble_Close_Notification(h, "0xfff1"), 0);
    EXPECT_EQ(QB7720Ble_Close_Notification(h, "0xfff3"), 0);
    disconnect(h);
    EXPECT_EQ(recorder().count([](Recorder& r) { return r.losses.size(); }), 1u);
}

TEST_F(DataPathTest, ALossBeforeAnyoneListenedIsToldOnRegistration) {
    QB7720HANDLE* h = connectBridge();
    ASSERT_NE(h, nullptr);
    bridge->dropLink();
    settle();
    int marker = 0;
    ASSERT_EQ(QB7720Ble_register_on_disconnect(h, onLoss, &marker), 0);
    ASSERT_TRUE(
        eventually([] { return recorder().count([](Recorder& r) { return r.losses.size(); }) == 1; }));
    ASSERT_EQ(QB7720Ble_register_on_disconnect(h, onLoss, &marker), 0);
    settle();
    std::this_thread::sleep_for(20ms);
    std::lock_guard<std::mutex> lock(recorder().mutex);
    ASSERT_EQ(recorder().losses.size(), 1u);
    EXPECT_EQ(recorder().losses[0], &marker);
}

TEST_F(DataPathTest, ADisconnectOfOurOwnIsNoLoss) {
    QB7720HANDLE* h = connectAndListen();
    ASSERT_NE(h, nullptr);
    disconnect(h);
    EXPECT_TRUE(eventually([&] { return !bridge->connected(); }));
    settle();
    EXPECT_EQ(recorder().count([](Recorder& r) { return r.losses.size(); }), 0u);
}

namespace {

std::atomic<bool> disconnected{false};
std::atomic<int> callsAfterDisconnect{0};
std::atomic<int> slowCalls{0};

void slowReceiver(const uuid_t*, const unsigned char* data, unsigned long length) {
    if (disconnected.load()) ++callsAfterDisconnect;
    ++slowCalls;
    volatile unsigned sum = 0;
    for (unsigned long i = 0; i < length; ++i) sum = sum + data[i];  // touches the whole buffer
    std::this_thread::sleep_for(1ms);
}

}  // namespace

TEST_F(DataPathTest, DisconnectWhileNotificationsAreInFlight) {
    for (int round = 0; round < 5; ++round) {
        disconnected = false;
        callsAfterDisconnect = 0;
        slowCalls = 0;
        QB7720HANDLE* h = connectBridge();
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(QB7720Ble_register_notification(h, slowReceiver, nullptr), 0);
        ASSERT_EQ(QB7720Ble_Open_Notification(h, "0xfff1"), 0);
        std::atomic<bool> stop{false};
        std::thread far([&] {
            while (!stop.load()) bridge->injectSerial(Bytes(40, 0x5A));
        });
        ASSERT_TRUE(eventually([] { return slowCalls.load() > 2; }));
        disconnect(h);
        disconnected = true;
        std::this_thread::sleep_for(20ms);
        stop = true;
        far.join();
        settle();
        EXPECT_EQ(callsAfterDisconnect.load(), 0) << "round " << round;
        EXPECT_TRUE(eventually([&] { return !bridge->connected(); }));
    }
}

namespace {

std::atomic<QB7720HANDLE*> selfClosing{nullptr};
std::atomic<int> selfCloseResult{1};

void disconnectFromInside(const uuid_t*, const unsigned char*, unsigned long) {
    if (QB7720HANDLE* h = selfClosing.exchange(nullptr)) {
        selfCloseResult = QB7720Ble_Disconnect(h);
    }
}

}  // namespace

TEST_F(DataPathTest, ACallbackMayDisconnectItsOwnConnection) {
    QB7720HANDLE* h = QB7720Ble_Connect(bridgeAddress().c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    selfClosing = h;
    ASSERT_EQ(QB7720Ble_register_notification(h, disconnectFromInside, nullptr), 0);
    ASSERT_EQ(QB7720Ble_Open_Notification(h, "0xfff1"), 0);
    ASSERT_EQ(QB7720Ble_Write_Characteristic(h, 19, 1, "A", 1), 0);
    ASSERT_TRUE(eventually([] { return selfCloseResult.load() == 0; }));
    EXPECT_TRUE(eventually([&] { return !bridge->connected(); }));
}
