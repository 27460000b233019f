// Notifications per second and write throughput of the BlueZ backend through a private bus and the
// emulator daemon (StartNotify, WriteValue against AcquireWrite), with the
// in-process emulator measured in the same run as the baseline.
//
//   qb_bluez_bench [count]     prints one line per path: the rate, and its ratio to the baseline
#include <sdbus-c++/sdbus-c++.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "BusHarness.h"
#include "Characteristic.h"
#include "qb7720/emulator/Emulator.h"
#include "qb7720/platform/Backends.h"

namespace {

using namespace qb;
using platform::Bytes;
using platform::GattWriteOption;
using Cccd = platform::GattClientCharacteristicConfigurationDescriptorValue;
using Clock = std::chrono::steady_clock;
using Chars = std::map<std::uint16_t, std::shared_ptr<platform::GattCharacteristic>>;

constexpr const char* kBridgeText = "c0:51:00:00:00:01";
constexpr std::uint16_t kPayload = 244;  // MTU 247 - 3
constexpr int kRepeats = 3;

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "qb_bluez_bench: %s\n", what);
    std::exit(1);
}

// Median rate over a few runs of `once`, which handles `count` items and returns when they arrived.
double rate(int count, const std::function<void()>& once) {
    std::vector<double> rates;
    for (int i = 0; i < kRepeats; ++i) {
        const auto start = Clock::now();
        once();
        const std::chrono::duration<double> took = Clock::now() - start;
        rates.push_back(count / took.count());
    }
    std::sort(rates.begin(), rates.end());
    return rates[rates.size() / 2];
}

bool waitCount(const std::atomic<int>& counter, int target) {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (counter.load() < target) {
        if (Clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

Chars vendor(platform::BluetoothLEDevice& device) {
    Chars chars;
    auto services = device.getGattServices(platform::BluetoothCacheMode::Uncached);
    if (services.status != platform::GattCommunicationStatus::Success) die("cannot connect to the bridge");
    for (auto& s : services.services) {
        if (s->uuid().shortUuid() != 0xFFF0) continue;
        for (auto& c : s->getCharacteristics(platform::BluetoothCacheMode::Uncached).characteristics) {
            chars[c->uuid().shortUuid()] = c;
        }
    }
    if (chars.size() != 3) die("the bridge's characteristics are missing");
    return chars;
}

struct Row {
    std::string name;
    double perSecond;
    double baseline;
};

void print(const std::vector<Row>& rows, const char* unit) {
    for (const auto& r : rows) {
        std::printf("  %-44s %12.0f %s/s   %6.3f x in-process\n", r.name.c_str(), r.perSecond, unit,
                    r.perSecond / r.baseline);
    }
}

class BusBench {
  public:
    BusBench() : harness_("bridges=1 peer=sink"), platform_(bluez::createPlatform()) {
        control_ = sdbus::createSessionBusConnectionWithAddress(harness_.address());
        auto watcher = platform_->createBluetoothLEAdvertisementWatcher();
        std::atomic<bool> heard{false};
        watcher->addReceived([&](auto&, auto&) { heard = true; });
        watcher->start();
        if (!bluez::test::waitFor([&] { return heard.load(); })) die("the bridge was not heard");
        watcher->stop();
        device_ = platform_->bluetoothLEDeviceFromId(std::string("BluezLE#hci0#") + kBridgeText);
        if (!device_) die("no device object");
        chars_ = vendor(*device_);
    }

    double notifications(int count) {
        auto& receive = chars_[0xFFF1];
        std::atomic<int> got{0};
        auto token = receive->addValueChanged([&](auto&, const Bytes&) { ++got; });
        receive->writeClientCharacteristicConfigurationDescriptor(Cccd::Notify);
        const auto mode = dynamic_cast<bluez::BluezCharacteristic&>(*receive).notifyMode();
        if (mode != bluez::BluezCharacteristic::NotifyMode::Started) die("unexpected notify path");
        const std::uint16_t handle = receive->attributeHandle();
        const double r = rate(count, [&] {
            got = 0;
            std::uint32_t sent = 0;
            control()
                ->callMethod("NotifyBurst")
                .onInterface(kControl)
                .withArguments(std::string(kBridgeText), handle, static_cast<std::uint32_t>(count), kPayload)
                .storeResultsTo(sent);
            if (sent != static_cast<std::uint32_t>(count)) die("the bridge did not send every notification");
            if (!waitCount(got, count)) die("notifications were lost");
        });
        receive->writeClientCharacteristicConfigurationDescriptor(Cccd::None);
        receive->removeValueChanged(token);
        return r;
    }

    double socketWrites(int count) {
        const Bytes packet(kPayload, 0x55);
        auto& transmit = chars_[0xFFF2];
        return rate(count, [&] {
            control()
                ->callMethod("ClearWrites")
                .onInterface(kControl)
                .withArguments(std::string(kBridgeText));
            for (int i = 0; i < count; ++i)
                transmit->writeValueWithResult(packet, GattWriteOption::WriteWithoutResponse);
            if (!bluez::test::waitFor([&] { return writeCount() >= static_cast<std::uint32_t>(count); },
                                      std::chrono::seconds(30))) {
                die("socket writes were lost");
            }
        });
    }

    double requestWrites(int count) {
        const Bytes packet(kPayload, 0x55);
        auto& transmit = chars_[0xFFF2];
        return rate(count, [&] {
            for (int i = 0; i < count; ++i)
                transmit->writeValueWithResult(packet, GattWriteOption::WriteWithResponse);
        });
    }

    // WriteValue with type "command" straight on the bus: the bus path of a write without response.
    double commandWrites(int count) {
        const std::vector<std::uint8_t> packet(kPayload, 0x55);
        auto proxy = sdbus::createProxy(*control_, "org.bluez",
                                        dynamic_cast<bluez::BluezCharacteristic&>(*chars_[0xFFF2]).path());
        const std::map<std::string, sdbus::Variant> options{{"type", sdbus::Variant(std::string("command"))}};
        // The backend's socket, if it holds one, would refuse the bus path.
        chars_[0xFFF2]->writeValueWithResult(packet, GattWriteOption::WriteWithResponse);
        return rate(count, [&] {
            for (int i = 0; i < count; ++i) {
                proxy->callMethod("WriteValue")
                    .onInterface("org.bluez.GattCharacteristic1")
                    .withArguments(packet, options);
            }
        });
    }

  private:
    static constexpr const char* kControl = "org.qb7720.EmulatorControl1";
    std::unique_ptr<sdbus::IProxy> control() {
        return sdbus::createProxy(*control_, "org.bluez", "/org/qb7720/emulator");
    }
    std::uint32_t writeCount() {
        std::uint32_t n = 0;
        control()
            ->callMethod("WriteCount")
            .onInterface(kControl)
            .withArguments(std::string(kBridgeText))
            .storeResultsTo(n);
        return n;
    }

    bluez::test::BusHarness harness_;
    std::shared_ptr<platform::Platform> platform_;
    std::unique_ptr<sdbus::IConnection> control_;
    std::shared_ptr<platform::BluetoothLEDevice> device_;
    Chars chars_;
};

class InProcessBench {
  public:
    InProcessBench() {
        emulator::BridgeConfig config;
        config.peer = emulator::PeerKind::Sink;
        emulator_ = emulator::Emulator::create();
        bridge_ = emulator_->addBridge(config);
        platform_ = emulator_->platform();
        device_ = platform_->bluetoothLEDeviceFromId(emulator_->deviceId(bridge_->address()));
        if (!device_) die("no in-process device");
        chars_ = vendor(*device_);
    }

    double notifications(int count) {
        auto& receive = chars_[0xFFF1];
        std::atomic<int> got{0};
        auto token = receive->addValueChanged([&](auto&, const Bytes&) { ++got; });
        receive->writeClientCharacteristicConfigurationDescriptor(Cccd::Notify);
        const Bytes value(kPayload, 0xAA);
        const double r = rate(count, [&] {
            got = 0;
            for (int i = 0; i < count; ++i) {
                if (!bridge_->notify(receive->attributeHandle(), value))
                    die("in-process notification not sent");
            }
            if (!waitCount(got, count)) die("in-process notifications were lost");
        });
        receive->removeValueChanged(token);
        return r;
    }

    double writes(int count, GattWriteOption option) {
        const Bytes packet(kPayload, 0x55);
        return rate(count, [&] {
            for (int i = 0; i < count; ++i) chars_[0xFFF2]->writeValueWithResult(packet, option);
        });
    }

  private:
    std::shared_ptr<emulator::Emulator> emulator_;
    std::shared_ptr<emulator::VirtualBridge> bridge_;
    std::shared_ptr<platform::Platform> platform_;
    std::shared_ptr<platform::BluetoothLEDevice> device_;
    Chars chars_;
};

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    std::printf("qb_bluez_bench: %d items of %u bytes per run, median of %d runs\n", count, kPayload,
                kRepeats);

    InProcessBench local;
    const double localNotify = local.notifications(count);
    const double localWrite = local.writes(count, GattWriteOption::WriteWithoutResponse);
    const double localRequest = local.writes(count, GattWriteOption::WriteWithResponse);

    BusBench bus;
    const double startNotify = bus.notifications(count);
    const double acquireWrite = bus.socketWrites(count);
    const double commandWrite = bus.commandWrites(count);
    const double requestWrite = bus.requestWrites(count);

    std::printf("notifications\n");
    print({{"in-process emulator (baseline)", localNotify, localNotify},
           {"bus, StartNotify (PropertiesChanged)", startNotify, localNotify}},
          "notifications");
    std::printf("writes without response\n");
    print({{"in-process emulator (baseline)", localWrite, localWrite},
           {"bus, AcquireWrite socket", acquireWrite, localWrite},
           {"bus, WriteValue type=command", commandWrite, localWrite}},
          "writes");
    std::printf("writes with response\n");
    print({{"in-process emulator (baseline)", localRequest, localRequest},
           {"bus, WriteValue type=request", requestWrite, localRequest}},
          "writes");
    std::printf("socket over bus: writes %.2f x\n", acquireWrite / commandWrite);
    return 0;
}
