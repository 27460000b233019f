// Serial-port writes over the emulator's link model: payload bytes per second that
// QB7720UartWriteBuffer achieves, against what the modelled air carries at the same MTU. Both come
// from the same run, so the ratio shows the library's own overhead (1 ms pacing, pause waits).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "QB7720DLL.h"
#include "qb7720/emulator/Emulator.h"

namespace {

using namespace qb;

struct Rig {
    std::shared_ptr<emulator::Emulator> emu;
    std::shared_ptr<emulator::VirtualBridge> bridge;
    QB7720DeviceHandle handle = nullptr;
    emulator::LinkModel link;
};

Rig openRig(std::uint16_t mtu) {
    Rig rig;
    rig.emu = emulator::Emulator::create();  // real time: sleeps and air time are what they are
    rig.emu->install();
    emulator::BridgeConfig config;
    config.mtu = mtu;
    config.peer = emulator::PeerKind::Sink;  // nothing comes back to compete for the air
    rig.bridge = rig.emu->addBridge(config);
    rig.handle =
        QB7720UartOpenDevice(rig.emu->deviceId(rig.bridge->address()).c_str(), nullptr, nullptr, nullptr);
    if (rig.handle != nullptr) {
        // The line must not be the bottleneck.
        QB7720UartSetSerialBaud(rig.handle, 1000000, 8, 1, 0);
        rig.link = *emulator::LinkModel::preset("le-1m");
        rig.bridge->setLinkModel(rig.link);
    }
    return rig;
}

void uartWrite(benchmark::State& state) {
    const auto mtu = static_cast<std::uint16_t>(state.range(0));
    Rig rig = openRig(mtu);
    if (rig.handle == nullptr) {
        state.SkipWithError("the emulated bridge did not open");
        return;
    }
    std::vector<std::uint8_t> chunk(4096);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>(i);

    std::int64_t bytes = 0;
    const auto start = rig.emu->clock().now();
    for (auto _ : state) {
        std::size_t offset = 0;
        while (offset < chunk.size()) {
            const int32_t accepted = QB7720UartWriteBuffer(rig.handle, chunk.data() + offset,
                                                           static_cast<int32_t>(chunk.size() - offset));
            if (accepted < 0) {
                state.SkipWithError("QB7720UartWriteBuffer failed");
                break;
            }
            offset += static_cast<std::size_t>(accepted);
        }
        bytes += static_cast<std::int64_t>(offset);
    }
    const auto elapsed = std::chrono::duration<double>(rig.emu->clock().now() - start).count();
    const double achieved = elapsed > 0 ? static_cast<double>(bytes) / elapsed : 0.0;
    const double air = rig.link.airBytesPerSecond(mtu);
    state.SetBytesProcessed(bytes);
    state.counters["achieved_Bps"] = achieved;
    state.counters["air_Bps"] = air;
    state.counters["ratio"] = air > 0 ? achieved / air : 0.0;
    state.counters["dropped"] = static_cast<double>(rig.bridge->droppedBytes());
    QB7720CloseDevice(rig.handle);
}

BENCHMARK(uartWrite)->Arg(23)->Arg(247)->Iterations(8)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
