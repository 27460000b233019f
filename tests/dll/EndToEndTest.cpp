// A mebibyte through a loopback bridge in serial-port mode, with the link model on.
#include <algorithm>
#include <mutex>
#include <random>

#include "DllTestSupport.h"

namespace qb::dll::test {
namespace {

std::mutex receivedMutex;
Bytes* receivedBytes = nullptr;

void QB7720_CALL collect(void*, const uint8_t* data, uint32_t length) {
    std::lock_guard<std::mutex> lock(receivedMutex);
    if (receivedBytes) receivedBytes->insert(receivedBytes->end(), data, data + length);
}

std::size_t receivedSize() {
    std::lock_guard<std::mutex> lock(receivedMutex);
    return receivedBytes->size();
}

using EndToEndTest = DllTest;

TEST_F(EndToEndTest, OneMebibyteAtOneMegabaudComesBackInOrder) {
    QB_IN_PROCESS_ONLY("the link model and virtual time");
    Bytes received;
    {
        std::lock_guard<std::mutex> lock(receivedMutex);
        receivedBytes = &received;
    }
    const auto handle = QB7720UartOpenDevice(idOf(*bridge).c_str(), nullptr, nullptr, &collect);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(QB7720UartSetSerialBaud(handle, 1000000, 8, 1, 0), 1);
    model->setLinkModel(*emulator::LinkModel::preset("le-1m"));

    constexpr std::size_t kTotal = 1 << 20;
    Bytes sent(kTotal);
    std::mt19937 random(7720);
    std::generate(sent.begin(), sent.end(), [&] { return static_cast<std::uint8_t>(random()); });

    std::size_t offset = 0;
    std::size_t calls = 0;
    while (offset < kTotal && calls < 100000) {
        const auto n = static_cast<int32_t>(std::min<std::size_t>(4096, kTotal - offset));
        const int32_t accepted = QB7720UartWriteBuffer(handle, sent.data() + offset, n);
        ASSERT_GE(accepted, 0);
        ASSERT_LE(accepted, n);
        offset += static_cast<std::size_t>(accepted);
        ++calls;
    }
    ASSERT_EQ(offset, kTotal);
    // Let the line drain what is still buffered.
    for (int i = 0; i < 10000 && receivedSize() < kTotal; ++i) {
        emu->clock().advance(std::chrono::milliseconds(10));
        settle();
    }
    QB7720CloseDevice(handle);
    {
        std::lock_guard<std::mutex> lock(receivedMutex);
        receivedBytes = nullptr;
    }
    ASSERT_EQ(received.size(), kTotal);
    EXPECT_TRUE(received == sent) << "bytes came back out of order or changed";
    EXPECT_EQ(model->droppedBytes(), 0u);
    EXPECT_EQ(model->droppedNotifications(), 0u);
    RecordProperty("write_calls", static_cast<int>(calls));
    int pauses = 0;
    for (const auto& report : model->statusReports())
        pauses += report.size() > 4 && (report[4] & 0x04) ? 1 : 0;
    RecordProperty("pause_reports", pauses);
}

}  // namespace
}  // namespace qb::dll::test
