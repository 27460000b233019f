// Serial data against a bridge's line and its link: pauses honoured per bridge, nothing lost through a
// loopback slower than the air, and writes arriving in the order they were made.
#include <thread>

#include "EmulatorFixture.h"
#include "qb7720/protocol/Frames.h"

using namespace devicelib_test;
using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes kPause = {0x88, 0, 0, 0, 0x04, 0x30, 0};
const Bytes kResume = {0x88, 0, 0, 0, 0x01, 0x30, 0};

class FlowControlTest : public EmulatorTest {
  protected:
    QB7720HANDLE* listenTo(const qb::test::TestBridge& device) {
        QB7720HANDLE* h = connect(device);
        if (h == nullptr) return nullptr;
        EXPECT_EQ(QB7720Ble_register_notification(h, onNotification, nullptr), 0);
        EXPECT_EQ(QB7720Ble_Open_Notification(h, "0xfff1"), 0);
        EXPECT_EQ(QB7720Ble_Open_Notification(h, "0xfff3"), 0);
        return h;
    }
    std::size_t statusReportsSeen() {
        return recorder().count([](Recorder& r) {
            std::size_t n = 0;
            for (const auto& note : r.notifications) n += note.uuidText == "0xfff3" ? 1 : 0;
            return n;
        });
    }
    // Sends a status report to the fixture's bridge and waits until the library has heard it.
    void report(const Bytes& value) {
        const auto before = statusReportsSeen();
        sendCommandNotification(value);
        ASSERT_TRUE(eventually([&] { return statusReportsSeen() > before; }));
    }
};

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

std::size_t dataWriteCount(const std::vector<qb::emulator::WriteRecord>& writes) {
    std::size_t n = 0;
    for (const auto& w : writes) {
        if (w.valueHandle == qb::emulator::VirtualBridge::kTransmitValueHandle && !w.value.empty()) ++n;
    }
    return n;
}

}  // namespace

TEST_F(FlowControlTest, AFileThroughALoopbackSlowerThanTheAirComesBackByteForByte) {
    qb::emulator::BridgeConfig config;
    config.name = "QB-Loop";
    config.link = *qb::emulator::LinkModel::preset("le-1m");  // 115200 baud drains far slower
    // Room above the pause level for a report that a loaded machine hands on late.
    config.pauseLevel = 1024;
    auto loop = radio->addBridge(config);
    // The host must hear a pause while the link is still busy with what it queued before, which
    // takes the time that Fast mode would skip.
    if (emu) emu->clock().setMode(qb::emulator::TimeMode::Real);
    QB7720HANDLE* h = listenTo(*loop);
    ASSERT_NE(h, nullptr);
    gatt_stream_t* stream = nullptr;
    uint16_t mtu = 0;
    ASSERT_EQ(QB7720Ble_Get_MTU(h, &stream, &mtu), 0);

    // As the terminal's file worker sends: pieces of MTU - 3, a write request every 1152 bytes.
    const Bytes file = pattern(64 * 1024);
    const std::size_t piece = mtu - 3u;
    std::size_t sinceAnswer = 0;
    for (std::size_t at = 0; at < file.size(); at += piece) {
        const std::size_t n = std::min(piece, file.size() - at);
        sinceAnswer += n;
        const int withResponse = sinceAnswer >= 1152 ? 1 : 0;
        if (withResponse) sinceAnswer = 0;
        ASSERT_EQ(QB7720Ble_Write_Characteristic(h, 19, withResponse, file.data() + at, n), 0) << "at " << at;
    }
    ASSERT_TRUE(eventually([&] { return recorder().receivedOn("0xfff1").size() >= file.size(); }, 10s))
        << recorder().receivedOn("0xfff1").size() << " of " << file.size() << " came back";
    EXPECT_TRUE(recorder().receivedOn("0xfff1") == file);
    EXPECT_GT(statusReportsSeen(), 0u) << "the line never made the bridge pause the host";
}

TEST_F(FlowControlTest, APauseHoldsSerialDataOfThatBridgeOnly) {
    QB_NOT_ON_REAL_STACK(::qb::test::kTwoLinksAtOnce);
    QB7720HANDLE* paused = connectAndListen();
    ASSERT_NE(paused, nullptr);
    qb::emulator::BridgeConfig config;
    config.name = "QB-Other";
    config.peer = qb::emulator::PeerKind::Sink;
    auto other = radio->addBridge(config);
    QB7720HANDLE* free = listenTo(*other);
    ASSERT_NE(free, nullptr);

    report(kPause);
    EXPECT_EQ(QB7720Ble_Write_Characteristic(free, 19, 0, "go", 2), 0);
    EXPECT_TRUE(eventually([&] { return other->farSideReceived() == Bytes{'g', 'o'}; }));

    EXPECT_EQ(QB7720Ble_Write_Characteristic(paused, 19, 0, "no", 2), QB7720LIB_E_PAUSED);
    EXPECT_EQ(QB7720Ble_Write_Characteristic(paused, 19, 1, "no", 2), QB7720LIB_E_PAUSED);
    EXPECT_EQ(dataWriteCount(bridge->writes()), 0u) << "a held write must send nothing";
    // Commands still go: they do not fill the line.
    gatt_stream_t* stream = nullptr;
    uint16_t mtu = 0;
    ASSERT_EQ(QB7720Ble_Get_MTU(paused, &stream, &mtu), 0);
    EXPECT_EQ(QB7720Ble_Set_Modem(paused, stream, 0, 1, 1), 0);

    report(kResume);
    EXPECT_EQ(QB7720Ble_Write_Characteristic(paused, 19, 0, "ok", 2), 0);
    EXPECT_TRUE(eventually([&] { return bridge->farSideReceived() == Bytes{'o', 'k'}; }));
}

TEST_F(FlowControlTest, ACommandFrameDoesNotOvertakeDataWrittenBeforeIt) {
    QB_NOT_ON_REAL_STACK(::qb::test::kTwoLinksAtOnce);
    // A reset of the channel that overtook the data would empty the line of it.
    qb::emulator::BridgeConfig config;
    config.name = "QB-Order";
    config.peer = qb::emulator::PeerKind::Sink;
    config.line.baud = 1000000;
    config.link = *qb::emulator::LinkModel::preset("le-1m");  // data queues in the link
    auto ordered = radio->addBridge(config);
    QB7720HANDLE* h = connect(*ordered);
    ASSERT_NE(h, nullptr);
    gatt_stream_t* stream = nullptr;
    uint16_t mtu = 0;
    ASSERT_EQ(QB7720Ble_Get_MTU(h, &stream, &mtu), 0);

    constexpr std::size_t kPieces = 40;
    const Bytes piece = pattern(mtu - 3u);
    for (std::size_t i = 0; i < kPieces; ++i)
        ASSERT_EQ(QB7720Ble_Write_Characteristic(h, 19, 0, piece.data(), piece.size()), 0);
    // Every bridge has the same database, so the fixture's bridge tells the handle.
    const Bytes reset = qb::protocol::encodeResetChannel();
    ASSERT_EQ(QB7720Ble_Write_Characteristic(h, commandValueHandle(), 1, reset.data(), reset.size()), 0);
    ASSERT_EQ(QB7720Ble_Set_SerialBaud(h, stream, 9600, 8, 1, 0), 0);

    const auto writes = ordered->writes();
    std::size_t dataBefore = 0;
    bool frameSeen = false;
    for (const auto& w : writes) {
        if (w.valueHandle == qb::emulator::VirtualBridge::kTransmitValueHandle) {
            if (!w.value.empty()) dataBefore += frameSeen ? 0 : 1;
        } else if (!frameSeen) {
            frameSeen = true;
        }
    }
    EXPECT_TRUE(frameSeen);
    EXPECT_EQ(dataBefore, kPieces) << "the reset frame reached the bridge before some of the data";
}
