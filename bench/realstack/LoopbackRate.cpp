// Serial write throughput and notifications per second through one loopback bridge, over whatever
// radio the process finds (run by bench/realstack/run.sh on the real stack and on the emulator
// daemon, in the same guest). Prints one line: "<label> write_bytes_per_s=... notifications_per_s=...
// echoed_bytes=...". Exit status 1 when no bridge is found or nothing came back.
//   qb_realstack_rate LABEL [BYTES]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "QB7720DLL.h"

namespace {
std::atomic<std::size_t> g_bytes{0};
std::atomic<std::size_t> g_notifications{0};

void QB7720_CALL onData(void*, const uint8_t*, uint32_t length) {
    g_bytes += length;
    ++g_notifications;
}
}  // namespace

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    const std::string label = argc > 1 ? argv[1] : "radio";
    const std::size_t total = argc > 2 ? std::strtoul(argv[2], nullptr, 0) : 65536;
    QB7720Init();
    DeviceEntry entries[8];
    std::uint32_t count = 8;
    QB7720EnumDevice(3000, "QB7720", entries, &count);
    if (count == 0) {
        std::fprintf(stderr, "%s: no bridge\n", label.c_str());
        return 1;
    }
    QB7720DeviceHandle handle = QB7720UartOpenDevice(entries[0].id, nullptr, nullptr, onData);
    if (handle == nullptr) {
        std::fprintf(stderr, "%s: cannot open %s\n", label.c_str(), entries[0].id);
        return 1;
    }
    QB7720UartSetSerialBaud(handle, 1000000, 8, 1, 0);
    std::vector<std::uint8_t> data(total, 0x5A);

    const auto start = Clock::now();
    std::size_t offset = 0;
    while (offset < total) {
        const auto piece = static_cast<std::int32_t>(std::min<std::size_t>(4096, total - offset));
        const std::int32_t accepted = QB7720UartWriteBuffer(handle, data.data() + offset, piece);
        if (accepted < 0) break;
        offset += static_cast<std::size_t>(accepted);
    }
    const double writeSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    // The echo has ended once nothing more arrives for 3 s.
    std::size_t last = g_bytes;
    auto lastChange = Clock::now();
    while (Clock::now() - lastChange < std::chrono::seconds(3)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (g_bytes != last) {
            last = g_bytes;
            lastChange = Clock::now();
        }
    }
    const double echoSeconds = std::chrono::duration<double>(lastChange - start).count();
    QB7720CloseDevice(handle);
    std::printf("%s write_bytes_per_s=%.0f notifications_per_s=%.1f echoed_bytes=%zu of %zu\n", label.c_str(),
                static_cast<double>(offset) / writeSeconds, static_cast<double>(g_notifications) / echoSeconds,
                last, total);
    return last > 0 ? 0 : 1;
}
