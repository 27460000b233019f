// The library's flat exports against the real stack: Debian's bluetoothd on hci0 and the HCI
// peripheral's loopback bridges on the other controllers. Runs inside scripts/real-stack.sh; anywhere
// else it skips.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "QB7720DLL.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::uint8_t> bytes;
    std::size_t calls = 0;
    std::vector<int> statuses;
};
Received* g_received = nullptr;

void QB7720_CALL onData(void*, const uint8_t* data, uint32_t length) {
    std::lock_guard<std::mutex> lock(g_received->mutex);
    g_received->bytes.insert(g_received->bytes.end(), data, data + length);
    ++g_received->calls;
    g_received->changed.notify_all();
}
void QB7720_CALL onStatus(QB7720DeviceHandle, int32_t status) {
    std::lock_guard<std::mutex> lock(g_received->mutex);
    g_received->statuses.push_back(status);
    g_received->changed.notify_all();
}

class RealStack : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("QB7720_REAL_STACK") == nullptr) GTEST_SKIP() << "runs inside scripts/real-stack.sh";
        g_received = &received_;
        QB7720Init();
        DeviceEntry entries[8];
        std::uint32_t count = 8;
        QB7720EnumDevice(3000, "QB7720", entries, &count);
        ASSERT_GT(count, 0u) << "no bridge heard through bluetoothd";
        id_ = entries[0].id;
    }
    void TearDown() override {
        if (handle_ != nullptr) QB7720CloseDevice(handle_);
        g_received = nullptr;
    }

    // Waits until pred holds (under the lock) or `limit` passes without anything new arriving.
    template <typename Pred>
    bool waitWhileProgressing(Pred pred, Clock::duration limit) {
        std::unique_lock<std::mutex> lock(received_.mutex);
        std::size_t seen = received_.bytes.size() + received_.statuses.size();
        auto deadline = Clock::now() + limit;
        while (!pred()) {
            if (received_.changed.wait_until(lock, deadline) == std::cv_status::timeout) {
                const std::size_t now = received_.bytes.size() + received_.statuses.size();
                if (now == seen) return false;
                seen = now;
                deadline = Clock::now() + limit;
            }
        }
        return true;
    }

    Received received_;
    std::string id_;
    QB7720DeviceHandle handle_ = nullptr;
};

// Bytes sent through the loopback: 1 MiB unless QB7720_REAL_STACK_LOOPBACK_BYTES says otherwise (the
// bounded suite in CI sends less, since a software-emulated guest is slow).
std::size_t loopbackBytes() {
    const char* text = std::getenv("QB7720_REAL_STACK_LOOPBACK_BYTES");
    return text != nullptr ? std::strtoul(text, nullptr, 0) : std::size_t{1} << 20;
}

// Every byte comes back once and in order: a pattern whose period does not divide the piece sizes
// shows a piece lost, doubled or swapped.
TEST_F(RealStack, LoopbackAtOneMegabaudReturnsEveryByteOnceInOrder) {
    handle_ = QB7720UartOpenDevice(id_.c_str(), onStatus, nullptr, onData);
    ASSERT_NE(handle_, nullptr);
    ASSERT_EQ(QB7720UartSetSerialBaud(handle_, 1000000, 8, 1, 0), 1);
    std::vector<std::uint8_t> sent(loopbackBytes());
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<std::uint8_t>((i * 7 + i / 251) % 253);

    const auto start = Clock::now();
    std::size_t offset = 0;
    auto lastProgress = Clock::now();
    while (offset < sent.size()) {
        const auto piece = static_cast<std::int32_t>(std::min<std::size_t>(4096, sent.size() - offset));
        const std::int32_t accepted = QB7720UartWriteBuffer(handle_, sent.data() + offset, piece);
        ASSERT_GE(accepted, 0) << "at offset " << offset;
        if (accepted > 0) lastProgress = Clock::now();
        if ((offset + static_cast<std::size_t>(accepted)) / 65536 != offset / 65536) {
            std::lock_guard<std::mutex> lock(received_.mutex);
            std::printf("sent %zu, received %zu bytes\n", offset + static_cast<std::size_t>(accepted), received_.bytes.size());
            std::fflush(stdout);
        }
        offset += static_cast<std::size_t>(accepted);
        ASSERT_LT(Clock::now() - lastProgress, 30s) << "writes stalled at offset " << offset;
    }
    const bool all = waitWhileProgressing([&] { return received_.bytes.size() >= sent.size(); }, 30s);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::lock_guard<std::mutex> lock(received_.mutex);
    EXPECT_TRUE(all) << received_.bytes.size() << " of " << sent.size() << " bytes came back";
    ASSERT_EQ(received_.bytes.size(), sent.size());
    std::size_t firstDifference = 0;
    while (firstDifference < sent.size() && received_.bytes[firstDifference] == sent[firstDifference]) ++firstDifference;
    EXPECT_EQ(firstDifference, sent.size()) << "first difference at byte " << firstDifference;
    std::printf("%zu bytes round trip in %.1f s (%.0f bytes/s, %zu notifications)\n", sent.size(), seconds,
                static_cast<double>(sent.size()) / seconds, received_.calls);
}

// Opens in a row: 20 unless QB7720_REAL_STACK_OPENS says otherwise.
int openCount() {
    const char* text = std::getenv("QB7720_REAL_STACK_OPENS");
    return text != nullptr ? std::atoi(text) : 20;
}

TEST_F(RealStack, TwentyOpensOfTwentySucceed) {
    const int opens = openCount();
    int opened = 0;
    for (int i = 0; i < opens; ++i) {
        const auto start = Clock::now();
        QB7720DeviceHandle handle = QB7720OpenDevice(id_.c_str(), onStatus);
        std::printf("open %d: %s after %.1f s\n", i + 1, handle != nullptr ? "opened" : "failed",
                    std::chrono::duration<double>(Clock::now() - start).count());
        std::fflush(stdout);
        if (handle == nullptr) continue;
        std::uint16_t mtu = 0;
        if ((QB7720GetMtu(handle, &mtu) & 0xFF) == BridgeResultOk && mtu >= 23) ++opened;
        else
            std::printf("open %d: no MTU\n", i + 1);
        QB7720CloseDevice(handle);
    }
    EXPECT_EQ(opened, opens);
}

// The peripheral drops the link (SIGUSR1): the host hears of it, serial writes say the link is
// down, and the bridge, advertising again, can be opened anew.
TEST_F(RealStack, DroppedLinkIsReportedAndTheBridgeCanBeOpenedAgain) {
    const char* pid = std::getenv("QB7720_REAL_STACK_PERIPHERAL_PID");
    if (pid == nullptr || *pid == '\0') GTEST_SKIP() << "the rig started no peripheral";
    handle_ = QB7720UartOpenDevice(id_.c_str(), onStatus, nullptr, onData);
    ASSERT_NE(handle_, nullptr);
    ASSERT_EQ(::kill(std::atoi(pid), SIGUSR1), 0);
    ASSERT_TRUE(waitWhileProgressing(
        [&] { return !received_.statuses.empty() && received_.statuses.back() == 0; }, 20s))
        << "no disconnection reported";
    const std::uint8_t byte = 0x55;
    EXPECT_EQ(QB7720UartWriteBuffer(handle_, &byte, 1), -2);
    QB7720CloseDevice(handle_);
    handle_ = nullptr;

    QB7720DeviceHandle again = nullptr;
    for (int attempt = 0; attempt < 10 && again == nullptr; ++attempt) {
        again = QB7720OpenDevice(id_.c_str(), onStatus);
        if (again == nullptr) std::this_thread::sleep_for(500ms);
    }
    ASSERT_NE(again, nullptr) << "the bridge could not be opened after the drop";
    handle_ = again;
}

}  // namespace
