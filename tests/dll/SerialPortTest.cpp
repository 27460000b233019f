// Serial-port mode: the open sequence, splitting and pacing of serial writes, the status-report
// handler and the two setters.
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "DllTestSupport.h"
#include "datapath/SerialState.h"
#include "qb7720/protocol/Types.h"

namespace qb::dll::test {
namespace {

using std::chrono::milliseconds;
namespace prop = platform::gatt_property;

struct ModemCall {
    QB7720DeviceHandle handle;
    int32_t dcd, ri, dsr, cts;
    bool operator==(const ModemCall& o) const {
        return handle == o.handle && dcd == o.dcd && ri == o.ri && dsr == o.dsr && cts == o.cts;
    }
};
std::mutex modemMutex;
std::vector<ModemCall> modemCalls;

void QB7720_CALL recordModem(QB7720DeviceHandle handle, int32_t dcd, int32_t ri, int32_t dsr, int32_t cts) {
    std::lock_guard<std::mutex> lock(modemMutex);
    modemCalls.push_back({handle, dcd, ri, dsr, cts});
}

std::vector<ModemCall> takeModemCalls() {
    std::lock_guard<std::mutex> lock(modemMutex);
    return std::exchange(modemCalls, {});
}

bool isPaused(QB7720DeviceHandle handle) {
    const PauseFlag flag = pauseFlagOf(handle);
    return flag && flag->load();
}

Received* dataSink = nullptr;
void QB7720_CALL recordData(void* context, const uint8_t* data, uint32_t length) {
    EXPECT_EQ(context, nullptr);
    Received::callback(dataSink, data, length);
}

class SerialPortTest : public DllTest {
  protected:
    void SetUp() override {
        DllTest::SetUp();
        dataSink = &data;
        takeModemCalls();
    }
    void TearDown() override {
        DllTest::TearDown();
        dataSink = nullptr;
    }
    QB7720DeviceHandle openUart(const std::shared_ptr<TestBridge>& device) {
        return QB7720UartOpenDevice(idOf(*device).c_str(), nullptr, &recordModem, &recordData);
    }
    QB7720DeviceHandle openUart(const std::shared_ptr<emulator::VirtualDevice>& device) {
        return QB7720UartOpenDevice(idOf(device).c_str(), nullptr, &recordModem, &recordData);
    }
    QB7720DeviceHandle openUartWithMtu(std::uint16_t mtu) {
        emulator::BridgeConfig config;
        config.mtu = mtu;
        // Room for a whole call, so that only the tests that ask for pauses see any.
        config.transmitBufferSize = 65536;
        config.pauseLevel = 60000;
        target = addBridge(config);
        targetModel = modelOf(*target);
        const auto handle = openUart(target);
        targetWritesBefore = writesOf(*target).size();
        return handle;
    }
    // In process, from a sleep hook: pieces the target has received so far, without waiting.
    std::size_t piecesNow() const {
        const auto all = targetModel->writes();
        std::size_t pieces = 0;
        for (std::size_t i = targetWritesBefore; i < all.size(); ++i) {
            if (all[i].valueHandle == valueHandle(0xFFF2)) ++pieces;
        }
        return pieces;
    }
    // Scripts the bridge's pauses from the writer's sleeps: onPiece(n) once piece n has gone out,
    // onWait(n, k) on the k-th sleep since then. Other threads' sleeps pass untouched.
    void scriptPauses(std::function<void(std::size_t)> onPiece,
                      std::function<void(std::size_t, int)> onWait) {
        // The hook may be copied before each call, so what it counts lives outside it.
        struct Progress {
            std::size_t pieces = 0;
            int waits = 0;
        };
        auto progress = std::make_shared<Progress>();
        const auto writer = std::this_thread::get_id();
        emu->setSleepHook([this, writer, onPiece, onWait, progress](milliseconds) {
            if (std::this_thread::get_id() != writer) return;
            const std::size_t written = piecesNow();
            if (written != progress->pieces) {
                progress->pieces = written;
                progress->waits = 0;
                onPiece(written);
            } else {
                onWait(written, ++progress->waits);
            }
        });
    }
    void report(std::uint8_t status) {
        targetModel->sendStatusReport(status);
        emu->waitIdle();
    }
    // Writes to the target since it was opened.
    std::vector<emulator::WriteRecord> targetWrites(std::uint16_t shortUuid) {
        return writesTo(*target, shortUuid, targetWritesBefore);
    }
    std::vector<std::size_t> pieceSizes() {
        std::vector<std::size_t> sizes;
        for (const auto& w : targetWrites(0xFFF2)) {
            EXPECT_FALSE(w.withResponse);
            sizes.push_back(w.value.size());
        }
        return sizes;
    }
    Received data;
    std::shared_ptr<TestBridge> target;
    std::shared_ptr<emulator::VirtualBridge> targetModel;
    std::size_t targetWritesBefore = 0;
};

TEST_F(SerialPortTest, OpenSubscribesWaitsAndSetsTheDefaultLine) {
    std::vector<milliseconds> sleeps;
    std::mutex sleepMutex;
    const auto caller = std::this_thread::get_id();
    if (emu) {
        emu->setSleepHook([&](milliseconds d) {
            if (std::this_thread::get_id() != caller) return;
            std::lock_guard<std::mutex> lock(sleepMutex);
            sleeps.push_back(d);
        });
    }
    const auto start = std::chrono::steady_clock::now();
    const auto handle = openUart(bridge);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_NE(handle, nullptr);
    // On the bus the sleeps cannot be seen, only the real time they took.
    if (emu) {
        emu->setSleepHook(nullptr);
        EXPECT_EQ(sleeps,
                  (std::vector<milliseconds>{milliseconds(1000), milliseconds(100), milliseconds(100)}));
    } else {
        EXPECT_GE(took, milliseconds(1200));
    }

    const auto commands = writesTo(*bridge, 0xFFF3);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].value,
              (Bytes{0x06, 0x09, 0x00, 0x00, 0x00, 0xC2, 0x01, 0x00, 0x08, 0x01, 0x00, 0xCC}));
    EXPECT_EQ(commands[1].value, (Bytes{0x07, 0x05, 0x00, 0x00, 0x00, 0x01, 0x01, 0x02}));
    EXPECT_FALSE(commands[0].withResponse);
    EXPECT_FALSE(commands[1].withResponse);
    EXPECT_EQ(bridge->lineSettings(), (emulator::LineSettings{115200, 8, 1, 0}));
    EXPECT_EQ(bridge->modemOutputs(), (emulator::ModemOutputs{false, true, true}));
    EXPECT_EQ(bridge->clientConfiguration(0xFFF1), 1);
    EXPECT_NE(bridge->clientConfiguration(0xFFF3), 0);

    // Loopback: what goes out comes back to the data callback.
    const uint8_t text[] = {'h', 'i'};
    EXPECT_EQ(QB7720UartWriteBuffer(handle, text, 2), 2);
    if (emu) {
        for (int i = 0; i < 100 && data.count() == 0; ++i) {
            emu->clock().advance(milliseconds(10));
            settle();
        }
        EXPECT_EQ(data.snapshot(), (std::vector<Bytes>{{'h', 'i'}}));
    } else {
        // The line drains in real time, so the bytes may come back in more than one value.
        EXPECT_TRUE(eventually([&] { return data.joined().size() >= 2; }));
        settle();
        EXPECT_EQ(data.joined(), (Bytes{'h', 'i'}));
    }
}

TEST_F(SerialPortTest, NullDataCallbackStillOpens) {
    const auto handle = QB7720UartOpenDevice(idOf(*bridge).c_str(), nullptr, nullptr, nullptr);
    EXPECT_NE(handle, nullptr);
}

TEST_F(SerialPortTest, DeviceWithoutTheBridgeCharacteristicsIsClosedAgain) {
    QB_IN_PROCESS_ONLY("a device of its own configuration");
    const auto device =
        emu->addDevice(deviceWith({{shortGuid(0xFFF0),
                                    {characteristic(0xFFF1, prop::kNotify),
                                     characteristic(0xFFF3, prop::kRead | prop::kWrite | prop::kNotify)},
                                    platform::DeviceAccessStatus::Allowed}}));
    EXPECT_EQ(openUart(device), nullptr);
    settle();
    EXPECT_FALSE(device->connected());
    EXPECT_TRUE(device->writes().empty());
}

TEST_F(SerialPortTest, FailureAnywhereInTheSequenceClosesTheDevice) {
    // Every fault here is a refusal without an ATT code, or of a write without response.
    QB_NOT_ON_REAL_STACK(::qb::test::kErrorWithoutAttCode);
    struct Case {
        Operation op;
        bool gattStatus;
    };
    const Case cases[] = {{Operation::CharacteristicWriteCccd, true},
                          {Operation::CharacteristicWriteValue, true},
                          {Operation::CharacteristicReadValue, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(emulator::operationName(c.op));
        // The daemon fails with errors, not statuses.
        if (c.gattStatus && emu) {
            emu->injectGattStatus(c.op, platform::GattCommunicationStatus::ProtocolError);
        } else {
            failNext(c.op, hresult::kFail);
        }
        EXPECT_EQ(openUart(bridge), nullptr);
        settle();
        if (emu) {
            EXPECT_FALSE(bridge->connected());
        } else {
            EXPECT_TRUE(eventually([&] { return !bridge->connected(); }));
        }
    }
    // Without a fault the same open works.
    EXPECT_NE(openUart(bridge), nullptr);
}

TEST_F(SerialPortTest, LengthsOutsideZeroTo4096SendNothing) {
    const auto handle = openUartWithMtu(247);
    std::vector<uint8_t> buffer(4097, 1);
    EXPECT_EQ(QB7720UartWriteBuffer(handle, buffer.data(), 4097), -1);
    EXPECT_EQ(QB7720UartWriteBuffer(handle, buffer.data(), -1), -1);
    EXPECT_EQ(QB7720UartWriteBuffer(handle, buffer.data(), INT32_MIN), -1);
    EXPECT_TRUE(pieceSizes().empty());
    EXPECT_EQ(QB7720UartWriteBuffer(handle, buffer.data(), 0), 0);
    EXPECT_EQ(pieceSizes(), (std::vector<std::size_t>{0}));
}

TEST_F(SerialPortTest, PiecesAreMtuMinusThree) {
    struct Case {
        std::uint16_t mtu;
        std::size_t pieces;
        std::size_t last;
    };
    std::vector<uint8_t> buffer(4096);
    for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i);
    for (const Case c : {Case{23, 205, 16}, Case{247, 17, 192}, Case{514, 9, 8}, Case{517, 8, 512}}) {
        SCOPED_TRACE(c.mtu);
        const auto handle = openUartWithMtu(c.mtu);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(QB7720UartWriteBuffer(handle, buffer.data(), 4096), 4096);
        const auto sizes = pieceSizes();
        ASSERT_EQ(sizes.size(), c.pieces);
        for (std::size_t i = 0; i + 1 < sizes.size(); ++i) ASSERT_EQ(sizes[i], std::min(c.mtu - 3u, 512u));
        EXPECT_EQ(sizes.back(), c.last);
        Bytes joined;
        for (const auto& w : targetWrites(0xFFF2))
            joined.insert(joined.end(), w.value.begin(), w.value.end());
        EXPECT_EQ(joined, Bytes(buffer.begin(), buffer.end()));
        QB7720CloseDevice(handle);
    }
}

TEST_F(SerialPortTest, FailedPieceReturnsTheBytesBeforeIt) {
    QB_IN_PROCESS_ONLY("a piece refused part way, through the sleep hook");
    const auto handle = openUartWithMtu(23);
    std::vector<uint8_t> buffer(100, 7);
    // Each piece is followed by a 1 ms sleep; the third piece is refused.
    int pieceSleeps = 0;
    const auto writer = std::this_thread::get_id();
    emu->setSleepHook([&](milliseconds) {
        if (std::this_thread::get_id() != writer) return;
        if (++pieceSleeps == 2) {
            emu->injectGattStatus(Operation::CharacteristicWriteValue,
                                  platform::GattCommunicationStatus::Unreachable);
        }
    });
    EXPECT_EQ(QB7720UartWriteBuffer(handle, buffer.data(), 100), 40);
}

// Paused for 150 ms after piece 1, then again after piece 2 for longer than the 50 ms left: piece 3
// is never written, and the call returns exactly the bytes that went out.
TEST_F(SerialPortTest, PauseBudgetIsSharedByEveryPieceOfOneCall) {
    QB_IN_PROCESS_ONLY("the sleep hook");
    const auto handle = openUartWithMtu(23);
    std::vector<uint8_t> buffer(200, 1);
    scriptPauses(
        [&](std::size_t pieces) {
            if (pieces <= 2) report(0x04);
        },
        [&](std::size_t pieces, int waits) {
            if (waits == 150 && pieces == 1) report(0x01);
        });
    EXPECT_EQ(QB7720UartWriteBuffer(handle, buffer.data(), 200), 40);
    EXPECT_EQ(targetWrites(0xFFF2).size(), 2u) << "a piece went to a paused bridge";
    emu->setSleepHook(nullptr);
    EXPECT_TRUE(isPaused(handle));
    // Still paused: the next call waits its own budget and writes nothing.
    EXPECT_EQ(QB7720UartWriteBuffer(handle, buffer.data() + 40, 160), 0);
    EXPECT_EQ(targetWrites(0xFFF2).size(), 2u);
    targetModel->sendStatusReport(0x01);
    settle();
    EXPECT_FALSE(isPaused(handle));
    EXPECT_EQ(QB7720UartWriteBuffer(handle, buffer.data() + 40, 160), 160);
}

// Whatever the pauses, the count returned is exactly what reached the bridge, so a caller that
// resends from there neither repeats nor skips a byte.
TEST_F(SerialPortTest, CountIsWhatWasWrittenUnderAnyPausePattern) {
    QB_IN_PROCESS_ONLY("the sleep hook");
    struct Case {
        const char* what;
        std::size_t pauseAfterPiece;  // 0: never
        int pauseMs;                  // how long each pause lasts; 0: for good
    };
    const Case cases[] = {
        {"paused before the first piece for good", 0, 0}, {"paused after each piece for 10 ms", 1, 10},
        {"paused after each piece for 60 ms", 1, 60},     {"paused after piece 3 for good", 3, 0},
        {"paused after each piece for 199 ms", 1, 199},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto handle = openUartWithMtu(23);
        std::vector<uint8_t> buffer(300);
        for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i * 7);
        if (c.pauseAfterPiece == 0) {
            targetModel->sendStatusReport(0x04);
            settle();
        }
        scriptPauses(
            [&](std::size_t pieces) {
                if (c.pauseAfterPiece != 0 && pieces % c.pauseAfterPiece == 0) report(0x04);
            },
            [&](std::size_t, int waits) {
                if (c.pauseMs != 0 && waits == c.pauseMs) report(0x01);
            });
        const int32_t sent = QB7720UartWriteBuffer(handle, buffer.data(), 300);
        emu->setSleepHook(nullptr);
        Bytes joined;
        for (const auto& w : targetWrites(0xFFF2))
            joined.insert(joined.end(), w.value.begin(), w.value.end());
        ASSERT_GE(sent, 0);
        EXPECT_EQ(joined, Bytes(buffer.begin(), buffer.begin() + sent));
        QB7720CloseDevice(handle);
    }
}

TEST_F(SerialPortTest, PauseThatEndsWithinTheBudgetLosesNothing) {
    QB_IN_PROCESS_ONLY("the sleep hook");
    const auto handle = openUartWithMtu(23);
    std::vector<uint8_t> buffer(200, 1);
    scriptPauses([&](std::size_t) { report(0x04); },
                 [&](std::size_t, int waits) {
                     if (waits == 10) report(0x01);
                 });
    // 10 pieces paused for 10 ms each: 100 of the 200 sleeps of the budget.
    EXPECT_EQ(QB7720UartWriteBuffer(handle, buffer.data(), 200), 200);
}

// A caller that resends what was not accepted, into a line slower than the air: the bridge has to
// pause the host, and every byte reaches the far side once, in order, and comes back the same way.
TEST_F(SerialPortTest, ResendLoopThroughASlowLineLosesAndRepeatsNothing) {
    emulator::BridgeConfig config;
    config.peer = emulator::PeerKind::Loopback;
    target = addBridge(config);
    targetModel = modelOf(*target);
    const auto handle = openUart(target);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(QB7720UartSetSerialBaud(handle, 19200, 8, 1, 0), 1);
    std::vector<uint8_t> sent(6 * 1024);
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 31 + i / 256);

    std::size_t offset = 0;
    int calls = 0;
    while (offset < sent.size()) {
        const auto n = static_cast<int32_t>(std::min<std::size_t>(4096, sent.size() - offset));
        const int32_t accepted = QB7720UartWriteBuffer(handle, sent.data() + offset, n);
        ASSERT_GE(accepted, 0);
        offset += static_cast<std::size_t>(accepted);
        ASSERT_LT(++calls, 500) << "the resend loop does not get on";
    }
    const Bytes expected(sent.begin(), sent.end());
    if (emu) {
        for (int i = 0; i < 2000 && data.joined().size() < expected.size(); ++i) {
            emu->clock().advance(milliseconds(10));
            settle();
        }
        EXPECT_FALSE(targetModel->statusReports().empty()) << "the line never filled: nothing was tested";
        EXPECT_EQ(targetModel->droppedBytes(), 0u);
    } else {
        EXPECT_TRUE(eventually([&] { return data.joined().size() >= expected.size(); }));
        settle();
    }
    EXPECT_EQ(target->farSideReceived(), expected);
    EXPECT_EQ(data.joined(), expected);
}

// One bridge's pause holds back that bridge only, and another bridge's resume does not release it.
TEST_F(SerialPortTest, PauseBelongsToItsOwnBridge) {
    QB_IN_PROCESS_ONLY("status reports sent on demand");
    const auto paused = openUartWithMtu(247);
    const auto pausedModel = targetModel;
    const auto pausedBefore = targetWritesBefore;
    const auto pausedBridge = target;
    const auto free = openUartWithMtu(247);
    ASSERT_NE(paused, nullptr);
    ASSERT_NE(free, nullptr);
    pausedModel->sendStatusReport(0x04);
    settle();
    std::vector<uint8_t> buffer(4096, 0x42);

    const auto sleepsBefore = emu->clock().sleepCount();
    EXPECT_EQ(QB7720UartWriteBuffer(free, buffer.data(), 4096), 4096);
    // One pacing sleep per piece, none spent waiting.
    EXPECT_EQ(emu->clock().sleepCount() - sleepsBefore, 17u);

    targetModel->sendStatusReport(0x01);
    settle();
    EXPECT_TRUE(isPaused(paused));
    EXPECT_EQ(QB7720UartWriteBuffer(paused, buffer.data(), 4096), 0);
    EXPECT_TRUE(writesTo(*pausedBridge, 0xFFF2, pausedBefore).empty());
    pausedModel->sendStatusReport(0x01);
    settle();
    EXPECT_EQ(QB7720UartWriteBuffer(paused, buffer.data(), 4096), 4096);
}

// The same with the bridges' own reports: a bridge whose slow line filled holds back its own writes
// only.
TEST_F(SerialPortTest, SlowBridgesPauseDoesNotHoldBackAnother) {
    QB_NOT_ON_REAL_STACK(::qb::test::kTwoLinksAtOnce);
    const auto slowBridge = addBridge();
    const auto slow = openUart(slowBridge);
    const auto fast = openUartWithMtu(247);
    ASSERT_NE(slow, nullptr);
    ASSERT_NE(fast, nullptr);
    ASSERT_EQ(QB7720UartSetSerialBaud(slow, 1200, 8, 1, 0), 1);
    std::vector<uint8_t> buffer(4096, 0x33);
    // 4096 bytes cannot all go into a bridge that asks for a pause at 3072 and drains 120 bytes a
    // second: it pauses part way, and stays paused for many seconds.
    const int32_t slowSent = QB7720UartWriteBuffer(slow, buffer.data(), 4096);
    ASSERT_GT(slowSent, 0);
    ASSERT_LT(slowSent, 4096) << "the slow bridge never paused: nothing was tested";
    EXPECT_EQ(QB7720UartWriteBuffer(fast, buffer.data(), 4096), 4096);
    EXPECT_EQ(pieceSizes().size(), 17u);
    EXPECT_EQ(QB7720UartWriteBuffer(slow, buffer.data(), 4096), 0) << "the other bridge released the pause";
}

// After the link is lost the write says so, writes nothing, and cannot be mistaken for a bridge
// that merely took nothing; a pause the bridge asked for before the drop no longer holds after it.
TEST_F(SerialPortTest, LostLinkGivesMinusTwoAndClearsThePause) {
    const auto handle = openUartWithMtu(247);
    ASSERT_NE(handle, nullptr);
    if (model) {
        targetModel->sendStatusReport(0x04);
        settle();
        ASSERT_TRUE(isPaused(handle));
    }
    target->dropLink();
    settle();
    if (!emu) {
        EXPECT_TRUE(eventually([&] { return !target->connected(); }));
    }
    const auto writesBefore = writesOf(*target).size();
    std::vector<uint8_t> buffer(1000, 0x17);
    EXPECT_FALSE(isPaused(handle));
    EXPECT_TRUE(eventually([&] { return QB7720UartWriteBuffer(handle, buffer.data(), 1000) == -2; }));
    EXPECT_EQ(QB7720UartWriteBuffer(handle, buffer.data(), 0), -2);
    EXPECT_EQ(writesOf(*target).size(), writesBefore);

    reconnect(*target);
    settle();
    EXPECT_TRUE(eventually([&] { return QB7720UartWriteBuffer(handle, buffer.data(), 1000) == 1000; }));
}

TEST_F(SerialPortTest, CloseForgetsThePause) {
    QB_IN_PROCESS_ONLY("status reports sent on demand");
    const auto handle = openUartWithMtu(247);
    targetModel->sendStatusReport(0x04);
    settle();
    const PauseFlag flag = pauseFlagOf(handle);
    ASSERT_TRUE(flag && flag->load());
    QB7720CloseDevice(handle);
    EXPECT_EQ(pauseFlagOf(handle), nullptr);
    // A writer still holding it is let go, to find the device gone.
    EXPECT_FALSE(flag->load());
    std::vector<uint8_t> buffer(10, 1);
    EXPECT_EQ(QB7720UartWriteBuffer(handle, buffer.data(), 10), -2);
}

TEST_F(SerialPortTest, StatusReportsMovePauseAndFeedTheModemCallback) {
    const auto handle = openUart(bridge);
    ASSERT_NE(handle, nullptr);
    settle();
    takeModemCalls();
    struct Case {
        Bytes value;
        bool pausedAfter;
        ModemCall modem;
    };
    const Case cases[] = {
        {{0x88, 0, 0, 0, 0x05, 0x90, 0}, true, {handle, 0x80, 0, 0, 0x10}},
        {{0x88, 0, 0, 0, 0x00, 0x60, 0}, true, {handle, 0, 0x40, 0x20, 0}},
        {{0x88, 0, 0, 0, 0x01, 0x00, 0}, false, {handle, 0, 0, 0, 0}},
        // Not status reports: the pause state stays, the modem inputs still come from byte 5.
        {{0x88, 0, 0, 0, 0x04, 0xF0}, false, {handle, 0x80, 0x40, 0x20, 0x10}},
        {{0x87, 0, 0, 0, 0x04, 0x10, 0}, false, {handle, 0, 0, 0, 0x10}},
        {{0x88, 0, 0, 0, 0x04, 0x20, 0, 0}, false, {handle, 0, 0, 0x20, 0}},
        // Too short for a byte 5: all four inputs are 0.
        {{0x88, 0, 0, 0, 0x04}, false, {handle, 0, 0, 0, 0}},
        {{}, false, {handle, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.value));
        notifyFromBridge(0xFFF3, c.value);
        EXPECT_EQ(isPaused(handle), c.pausedAfter);
        const auto calls = takeModemCalls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_TRUE(calls[0] == c.modem);
    }
}

TEST_F(SerialPortTest, SetSerialBaudSendsTheFrameAndReadsTheReply) {
    const auto handle = openUartWithMtu(247);
    ASSERT_NE(handle, nullptr);
    const auto readsBefore = emu ? emu->callCount(Operation::CharacteristicReadValue) : 0;
    EXPECT_EQ(QB7720UartSetSerialBaud(handle, 9600, 8, 1, 0), 1);
    EXPECT_EQ(QB7720UartSetSerialBaud(handle, 300, 8, 1, 0), 1);
    EXPECT_EQ(QB7720UartSetSerialBaud(handle, 1000000, 0x107, 0x202, 0x302), 1);
    // Reads are counted, and fail, in process only.
    if (emu) {
        EXPECT_EQ(emu->callCount(Operation::CharacteristicReadValue) - readsBefore, 3u);
    }
    const auto commands = targetWrites(0xFFF3);
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].value,
              (Bytes{0x06, 0x09, 0x00, 0x00, 0x80, 0x25, 0x00, 0x00, 0x08, 0x01, 0x00, 0xAE}));
    EXPECT_EQ(commands[1].value,
              (Bytes{0x06, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x01, 0x00, 0x09}));
    EXPECT_EQ(commands[2].value,
              (Bytes{0x06, 0x09, 0x00, 0x00, 0x40, 0x42, 0x0F, 0x00, 0x07, 0x02, 0x02, 0x9C}));
    EXPECT_FALSE(commands[0].withResponse);
    EXPECT_EQ(target->lineSettings(), (emulator::LineSettings{1000000, 7, 2, 2}));

    // Over the bus the frame goes through the write socket the backend holds, which the daemon
    // cannot fail.
    if (emu) {
        emu->injectGattStatus(Operation::CharacteristicWriteValue,
                              platform::GattCommunicationStatus::ProtocolError);
        EXPECT_EQ(QB7720UartSetSerialBaud(handle, 9600, 8, 1, 0), 0);
        EXPECT_EQ(target->lineSettings(), (emulator::LineSettings{1000000, 7, 2, 2}));
    }
    failNext(Operation::CharacteristicReadValue, hresult::kFail, 1, target.get());
    EXPECT_EQ(QB7720UartSetSerialBaud(handle, 9600, 8, 1, 0), 0);
    EXPECT_EQ(QB7720UartSetSerialBaud(handle, 9600, 8, 1, 0), 1) << "the fault outlived its call";
}

TEST_F(SerialPortTest, SetSerialModemSendsTwelveBytes) {
    const auto handle = openUartWithMtu(247);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(QB7720UartSetSerialModem(handle, 1, 1, 1), 1);
    const auto commands = targetWrites(0xFFF3);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].value, (Bytes{0x07, 0x05, 0x00, 0x00, 0x01, 0x01, 0x01, 0x03, 0, 0, 0, 0}));
    EXPECT_FALSE(commands[0].withResponse);
    EXPECT_EQ(target->modemOutputs(), (emulator::ModemOutputs{true, true, true}));
    failNext(Operation::CharacteristicReadValue, hresult::kFail, 1, target.get());
    EXPECT_EQ(QB7720UartSetSerialModem(handle, 0, 0, 0), 0);
    EXPECT_EQ(QB7720UartSetSerialModem(handle, 0, 0, 0), 1) << "the fault outlived its call";
}

}  // namespace
}  // namespace qb::dll::test
