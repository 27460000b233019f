// Serial-port writes over the emulator's link model, each figure against a baseline measured in the
// same run:
//   air     QB7720UartWriteBuffer into a bridge whose line is faster than the air, against plain
//           writes without response of the same pieces as fast as the link takes them (the air as the
//           model carries it), at MTU 247 on LE 2M and at MTU 23 on LE 1M; bytes lost in the bridge
//   resend  1 MiB in a resend loop through a loopback bridge at 1,000,000 baud on LE 2M, and at 9600
//           baud: every byte back exactly once and in order, the pause reports the bridge sent, and
//           the rate against the line's own
//   two     two bridges written at once, one paused by its slow line, the other at full speed: the
//           fast one's rate against its rate alone
//   <build>/bin/bench_dll_uart [air|resend|two ...]     (no argument: all; exit status 1 on lost,
//   repeated or reordered bytes)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "QB7720DLL.h"
#include "qb7720/emulator/Emulator.h"
#include "qb7720/protocol/Protocol.h"

namespace {

using namespace qb;
using Seconds = std::chrono::duration<double>;

constexpr std::uint32_t kFasterThanAnyAir = 4000000;  // baud; 400 kB/s out of the bridge

std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return bytes;
}

// What comes back on the receive characteristic, in order.
struct Echo {
    std::mutex mutex;
    std::vector<std::uint8_t> bytes;
    static void QB7720_CALL callback(void* context, const std::uint8_t* data, std::uint32_t length) {
        // Serial mode passes context 0; the bench has one echo per emulator.
        (void)context;
        Echo* echo = current();
        std::lock_guard<std::mutex> lock(echo->mutex);
        echo->bytes.insert(echo->bytes.end(), data, data + length);
    }
    std::size_t size() {
        std::lock_guard<std::mutex> lock(mutex);
        return bytes.size();
    }
    static Echo*& current() {
        static Echo* echo = nullptr;
        return echo;
    }
};

struct Rig {
    std::shared_ptr<emulator::Emulator> emu;
    std::vector<std::shared_ptr<emulator::VirtualBridge>> bridges;
    std::vector<QB7720DeviceHandle> handles;
    emulator::LinkModel link;
    ~Rig() {
        for (auto h : handles) QB7720CloseDevice(h);
    }
};

// One emulator with bridges of these baud rates and peers, opened in serial-port mode.
std::unique_ptr<Rig> openRig(emulator::TimeMode time, const std::string& preset, std::uint16_t mtu,
                             const std::vector<std::pair<std::uint32_t, emulator::PeerKind>>& lines,
                             ReadNotifyCallback data) {
    auto rig = std::make_unique<Rig>();
    emulator::EmulatorOptions options;
    options.timeMode = time;
    rig->emu = emulator::Emulator::create(options);
    rig->emu->install();
    rig->link = *emulator::LinkModel::preset(preset);
    for (const auto& [baud, peer] : lines) {
        emulator::BridgeConfig config;
        config.mtu = mtu;
        config.peer = peer;
        auto bridge = rig->emu->addBridge(config);
        const auto handle =
            QB7720UartOpenDevice(rig->emu->deviceId(bridge->address()).c_str(), nullptr, nullptr, data);
        if (handle == nullptr) return nullptr;
        // The set-serial frame written as such: the library's setter offers no rate above 1,000,000.
        const auto frame = protocol::encodeSetSerial(baud, 8, 1, 0);
        if (QB7720WriteBuffer(handle, 0xFFF3, 0, frame.data(), static_cast<std::uint32_t>(frame.size())) !=
            BridgeResultOk) {
            return nullptr;
        }
        bridge->setLinkModel(rig->link);
        rig->bridges.push_back(bridge);
        rig->handles.push_back(handle);
    }
    return rig;
}

// The caller's resend loop: whatever was not accepted goes again. Returns false on an error result.
bool resendAll(QB7720DeviceHandle handle, const std::vector<std::uint8_t>& bytes, std::uint64_t* calls) {
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const auto n = static_cast<std::int32_t>(std::min<std::size_t>(4096, bytes.size() - offset));
        const std::int32_t accepted = QB7720UartWriteBuffer(handle, bytes.data() + offset, n);
        ++*calls;
        if (accepted < 0) return false;
        offset += static_cast<std::size_t>(accepted);
    }
    return true;
}

std::size_t pauseReports(const emulator::VirtualBridge& bridge) {
    std::size_t n = 0;
    for (const auto& r : bridge.statusReports())
        if (r.size() == 7 && (r[4] & 0x04)) ++n;
    return n;
}

bool air(std::uint16_t mtu, const std::string& preset) {
    auto rig = openRig(emulator::TimeMode::Real, preset, mtu, {{kFasterThanAnyAir, emulator::PeerKind::Sink}},
                       nullptr);
    if (!rig) {
        std::printf("air: the bridge did not open\n");
        return false;
    }
    const auto handle = rig->handles[0];
    auto& bridge = *rig->bridges[0];
    const std::size_t piece = std::min<std::size_t>(mtu - 3u, 512);
    const auto bytes = pattern(mtu > 100 ? 512 * 1024 : 64 * 1024);

    // Baseline: the same pieces, written back to back, as fast as the link model takes them.
    const auto clock = [&] { return Seconds(rig->emu->clock().now()).count(); };
    double start = clock();
    for (std::size_t offset = 0; offset < bytes.size(); offset += piece) {
        const auto n = static_cast<std::uint32_t>(std::min(piece, bytes.size() - offset));
        if (QB7720WriteBuffer(handle, 0xFFF2, 0, bytes.data() + offset, n) != BridgeResultOk) return false;
    }
    const double rawRate = static_cast<double>(bytes.size()) / (clock() - start);
    const auto droppedBefore = bridge.droppedBytes();
    std::uint64_t calls = 0;
    start = clock();
    if (!resendAll(handle, bytes, &calls)) return false;
    const double uartRate = static_cast<double>(bytes.size()) / (clock() - start);
    const auto dropped = bridge.droppedBytes() - droppedBefore;
    std::printf(
        "air %s MTU %u: serial writes %.0f B/s, plain writes %.0f B/s, ratio %.3f "
        "(model's formula %.0f B/s), %llu bytes lost, %llu calls\n",
        preset.c_str(), mtu, uartRate, rawRate, uartRate / rawRate, rig->link.airBytesPerSecond(mtu),
        static_cast<unsigned long long>(dropped), static_cast<unsigned long long>(calls));
    return dropped == 0;
}

bool resend(std::uint32_t baud, std::size_t size, emulator::TimeMode time) {
    Echo echo;
    Echo::current() = &echo;
    auto rig = openRig(time, "le-2m", 247, {{baud, emulator::PeerKind::Loopback}}, &Echo::callback);
    if (!rig) {
        std::printf("resend: the bridge did not open\n");
        return false;
    }
    const auto bytes = pattern(size);
    const auto clock = [&] { return Seconds(rig->emu->clock().now()).count(); };
    const double start = clock();
    std::uint64_t calls = 0;
    const bool ok = resendAll(rig->handles[0], bytes, &calls);
    for (int i = 0; i < 600000 && echo.size() < bytes.size(); ++i) {
        if (time == emulator::TimeMode::Real) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else {
            rig->emu->clock().advance(std::chrono::milliseconds(1));
        }
    }
    const double took = clock() - start;
    rig->emu->waitIdle();
    std::lock_guard<std::mutex> lock(echo.mutex);
    const bool exact = ok && echo.bytes == bytes;
    std::size_t firstWrong = 0;
    while (firstWrong < std::min(echo.bytes.size(), bytes.size()) &&
           echo.bytes[firstWrong] == bytes[firstWrong])
        ++firstWrong;
    const double lineRate = baud / 10.0;
    std::printf(
        "resend %zu bytes at %u baud on LE 2M (%s time): %s, %zu bytes back, first difference at %zu, "
        "%zu pause reports, %llu calls, %llu lost in the bridge, %.0f B/s = %.3f of the line\n",
        bytes.size(), baud, time == emulator::TimeMode::Real ? "real" : "fast",
        exact ? "every byte back once and in order" : "NOT EXACT", echo.bytes.size(), firstWrong,
        pauseReports(*rig->bridges[0]), static_cast<unsigned long long>(calls),
        static_cast<unsigned long long>(rig->bridges[0]->droppedBytes()), bytes.size() / took,
        bytes.size() / took / lineRate);
    Echo::current() = nullptr;
    return exact;
}

bool two() {
    Echo echo;
    Echo::current() = &echo;
    // The fast bridge is a sink, so only the slow one's bytes come back.
    auto rig = openRig(emulator::TimeMode::Real, "le-2m", 247,
                       {{9600, emulator::PeerKind::Loopback}, {kFasterThanAnyAir, emulator::PeerKind::Sink}},
                       &Echo::callback);
    if (!rig) {
        std::printf("two: the bridges did not open\n");
        return false;
    }
    const auto slow = rig->handles[0];
    const auto fast = rig->handles[1];
    const auto clock = [&] { return Seconds(rig->emu->clock().now()).count(); };
    const auto fastBytes = pattern(512 * 1024);
    std::uint64_t calls = 0;

    double start = clock();
    if (!resendAll(fast, fastBytes, &calls)) return false;
    const double alone = fastBytes.size() / (clock() - start);

    const auto slowBytes = pattern(6 * 1024);
    std::atomic<bool> slowOk{false};
    std::uint64_t slowCalls = 0;
    std::thread slowWriter([&] { slowOk = resendAll(slow, slowBytes, &slowCalls); });
    // Both write while the slow bridge is pausing its host.
    while (pauseReports(*rig->bridges[0]) == 0 && clock() - start < 60)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    start = clock();
    const bool fastOk = resendAll(fast, fastBytes, &calls);
    const double together = fastBytes.size() / (clock() - start);
    const bool slowPausedMeanwhile =
        slowCalls == 0 || rig->bridges[0]->pausing() || pauseReports(*rig->bridges[0]) > 0;
    slowWriter.join();
    for (int i = 0; i < 30000 && echo.size() < slowBytes.size(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    rig->emu->waitIdle();
    std::lock_guard<std::mutex> lock(echo.mutex);
    const bool exact = slowOk && echo.bytes == slowBytes;
    std::printf(
        "two bridges on LE 2M: fast one %.0f B/s beside the paused one, %.0f B/s alone, ratio %.3f, "
        "%llu lost; slow one at 9600 baud: %zu pause reports, %s\n",
        together, alone, together / alone, static_cast<unsigned long long>(rig->bridges[1]->droppedBytes()),
        pauseReports(*rig->bridges[0]), exact ? "every byte back once and in order" : "NOT EXACT");
    Echo::current() = nullptr;
    return fastOk && exact && slowPausedMeanwhile && rig->bridges[1]->droppedBytes() == 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> parts(argv + 1, argv + argc);
    if (parts.empty()) parts = {"air", "resend", "two"};
    bool ok = true;
    for (const auto& part : parts) {
        if (part == "air") {
            ok = air(247, "le-2m") && ok;
            ok = air(23, "le-1m") && ok;
        } else if (part == "resend") {
            ok = resend(1000000, 1024 * 1024, emulator::TimeMode::Real) && ok;
            // At 9600 baud 1 MiB takes 18 minutes of line time: the clock skips the sleeps.
            ok = resend(9600, 1024 * 1024, emulator::TimeMode::Fast) && ok;
        } else if (part == "two") {
            ok = two() && ok;
        } else {
            std::printf("unknown part %s\n", part.c_str());
            ok = false;
        }
    }
    return ok ? 0 : 1;
}
