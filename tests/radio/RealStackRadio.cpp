#include "RealStackRadio.h"

#include <sdbus-c++/sdbus-c++.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <thread>

#include "qb7720/platform/Backends.h"

namespace qb::test {
namespace {

// Under emulation an advertisement can take a few repeats to be reported.
constexpr auto kHearTimeout = std::chrono::seconds(20);
// The guest's bluetoothd keeps what it learnt here (a tmpfs of the rig's).
constexpr const char* kBluetoothStorage = "/var/lib/bluetooth";

using ManagedObjects = std::map<sdbus::ObjectPath, std::map<std::string, std::map<std::string, sdbus::Variant>>>;

}  // namespace

RealStackRadio::RealStackRadio()
    : BusRadio(sdbus::createSystemBusConnection(), "org.qb7720.Emulator", bluez::createPlatform()) {
    // Each test starts from silent bridges, a powered adapter and no devices left from the one before.
    setRadioOn(true);
    control("Release");
    auto root = sdbus::createProxy(connection(), "org.bluez", "/");
    ManagedObjects objects;
    root->callMethod("GetManagedObjects").onInterface("org.freedesktop.DBus.ObjectManager").storeResultsTo(objects);
    auto adapter = sdbus::createProxy(connection(), "org.bluez", "/org/bluez/hci0");
    for (const auto& [path, ifaces] : objects) {
        if (ifaces.count("org.bluez.Device1") == 0) continue;
        adapter->callMethod("RemoveDevice").onInterface("org.bluez.Adapter1").withArguments(path);
    }
    // bluetoothd names a device it hears again from its cache of names by address, and every test's
    // bridges reuse the same controllers: a test's bridge must not wear the last one's name.
    std::error_code ignored;
    for (const auto& adapterDir : std::filesystem::directory_iterator(kBluetoothStorage, ignored)) {
        std::filesystem::remove_all(adapterDir.path() / "cache", ignored);
    }
}

void RealStackRadio::failConnects(const TestBridge&, int) {
    throw std::runtime_error(
        "cannot run on the real stack: the HCI peripheral cannot make a controller refuse a link");
}

void RealStackRadio::removeDevice(std::uint64_t address) {
    BusRadio::removeDevice(address);
    const std::string path = devicePath(address);
    auto adapter = sdbus::createProxy(connection(), "org.bluez", "/org/bluez/hci0");
    try {
        adapter->callMethod("RemoveDevice").onInterface("org.bluez.Adapter1").withArguments(sdbus::ObjectPath(path));
    } catch (const sdbus::Error&) {
        // bluetoothd never heard it: nothing to forget.
    }
}

void RealStackRadio::settle() {
    BusRadio::settle();
    // bluetoothd and the peripheral's controller sit between the call and the host here.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

void RealStackRadio::hear(std::uint64_t address) {
    auto watcher = platform()->createBluetoothLEAdvertisementWatcher();
    std::mutex mutex;
    bool heard = false;
    watcher->addReceived([&](auto&, const platform::BluetoothLEAdvertisementReceivedEventArgs& a) {
        std::lock_guard<std::mutex> lock(mutex);
        if (a.bluetoothAddress == address) heard = true;
    });
    watcher->start();
    const auto deadline = std::chrono::steady_clock::now() + kHearTimeout;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (heard) break;
        }
        if (std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    watcher->stop();
    std::lock_guard<std::mutex> lock(mutex);
    if (!heard) throw std::runtime_error("bluetoothd did not hear the peripheral's bridge");
}

}  // namespace qb::test
