// Shared set-up of the library tests: emulated bridges through TestRadio (the emulator in fast time
// installed as the platform, or the emulator daemon behind a private bus), and helpers to open
// devices and to collect what callbacks deliver.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QB7720DLL.h"
#include "TestRadio.h"
#include "qb7720/emulator/Emulator.h"
#if defined(QB_TEST_HAVE_BUS)
#include "SuiteBackend.h"
#else
#define QB_IN_PROCESS_ONLY(why) static_cast<void>(0)
#endif

namespace qb::dll::test {

using emulator::Bytes;
using emulator::Operation;
using qb::test::TestBridge;
namespace hresult = platform::hresult;

// With QB7720_TEST_BACKEND=bluez the bridges live in the emulator daemon behind a private bus; emu
// and model are then null.
class DllTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A bridge of this configuration, ready to be opened.
    std::shared_ptr<TestBridge> addBridge(emulator::BridgeConfig config = {});
    // The in-process model behind a bridge (null on the bus).
    std::shared_ptr<emulator::VirtualBridge> modelOf(const TestBridge& bridge) const;

    QB7720DeviceHandle open(const std::shared_ptr<TestBridge>& bridge,
                            ConnectStatusCallback callback = nullptr);
    // Devices of their own GATT database exist in process only.
    QB7720DeviceHandle open(const std::shared_ptr<emulator::VirtualDevice>& device,
                            ConnectStatusCallback callback = nullptr);
    std::string idOf(const TestBridge& bridge) const;
    std::string idOf(const std::shared_ptr<emulator::VirtualDevice>& device) const;

    // Every event queued so far has reached its handler (on the bus: has had its chance to).
    void settle();
    // Every write the bridge received, once no more are arriving (writes without response reach the
    // daemon through a socket, after the call that made them returned).
    std::vector<emulator::WriteRecord> writesOf(TestBridge& bridge);
    // Those to one characteristic, in order, from the index `from` of all its writes on.
    std::vector<emulator::WriteRecord> writesTo(TestBridge& bridge, std::uint16_t shortUuid,
                                                std::size_t from = 0);
    std::size_t bridgeWriteCount() { return writesOf(*bridge).size(); }

    // Value handles of a bridge's characteristics: every bridge model lays them out alike, in this
    // process or in the daemon.
    static std::uint16_t valueHandle(std::uint16_t shortUuid);
    static std::uint16_t valueHandle(const std::shared_ptr<emulator::VirtualDevice>& device,
                                     std::uint16_t shortUuid);

    // Sends a value as the bridge's notification and settles; sends nothing while notifications are off.
    void notifyFromBridge(std::uint16_t shortUuid, const Bytes& value) {
        notifyFrom(*bridge, shortUuid, value);
    }
    void notifyFrom(TestBridge& from, std::uint16_t shortUuid, const Bytes& value);
    // Sends without settling; safe from any thread. True when it went out.
    bool notifyOnly(TestBridge& from, std::uint16_t valueHandle, const Bytes& value);
    // The next `count` calls of `op` fail with `code`: in process as the platform's error; on the bus
    // (for the fixture's bridge, or `target`) as the BlueZ error the backend turns into `code`. The
    // daemon fails writes, reads and subscriptions only, and cannot fail a write without response
    // that goes through a socket the backend already holds.
    void failNext(Operation op, platform::HResult code, int count = 1, const TestBridge* target = nullptr);

    // Debug lines the library wrote while `action` ran: counted by the in-process platform; over the
    // bus read back from the standard error, where the BlueZ backend writes them.
    std::size_t debugLinesDuring(const std::function<void()>& action);

    // Makes the link to the bridge again from outside the library: in process from the bridge's side,
    // on the bus as another client of the host's stack would.
    void reconnect(TestBridge& bridge);

    std::unique_ptr<qb::test::TestRadio> radio;
    std::shared_ptr<emulator::Emulator> emu;
    // The loopback bridge of every test, and its model in process.
    std::shared_ptr<TestBridge> bridge;
    std::shared_ptr<emulator::VirtualBridge> model;
};

// Waits until the condition holds or a generous limit passes; false then. Callbacks that run long
// (a close waits a second) may still be running after settle() on the bus.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

// A device with standard services and the given extra services.
emulator::DeviceConfig deviceWith(std::vector<emulator::ServiceSpec> services,
                                  const std::string& name = "dev");
emulator::CharacteristicSpec characteristic(std::uint16_t shortUuid, std::uint32_t properties,
                                            Bytes value = {});
emulator::CharacteristicSpec characteristic(const std::string& uuid, std::uint32_t properties);
platform::Guid shortGuid(std::uint16_t value);

// A ReadNotifyCallback target: context points at one of these.
struct Received {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Bytes> values;
    std::size_t calls = 0;

    static void QB7720_CALL callback(void* context, const std::uint8_t* data, std::uint32_t length);
    std::vector<Bytes> snapshot();
    std::size_t count();
    // Every value, one after the other.
    Bytes joined();
};

}  // namespace qb::dll::test
