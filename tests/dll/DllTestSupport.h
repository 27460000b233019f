// Shared set-up of the library tests: an emulator in fast time installed as the platform, and
// helpers to open devices and to collect what callbacks deliver.
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
#include "qb7720/emulator/Emulator.h"
#if defined(QB_TEST_HAVE_BUS)
#include "SuiteBackend.h"
#else
namespace qb::test {
inline bool onBus() {
    return false;
}
}  // namespace qb::test
#define QB_IN_PROCESS_ONLY(why) static_cast<void>(0)
#endif

namespace qb::dll::test {

using emulator::Bytes;
using emulator::Operation;
namespace hresult = platform::hresult;

// With QB7720_TEST_BACKEND=bluez the fixture serves one loopback bridge from the emulator daemon
// over a private bus instead; emu and bridge are then null, and a null device means that bridge.
class DllTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    QB7720DeviceHandle open(const std::shared_ptr<emulator::VirtualDevice>& device,
                            ConnectStatusCallback callback = nullptr);
    std::string idOf(const std::shared_ptr<emulator::VirtualDevice>& device) const;
    // Every event queued so far has reached its handler (on the bus: has had its chance to).
    void settle();
    // Writes the device received on one characteristic, in order.
    std::vector<emulator::WriteRecord> writesTo(const std::shared_ptr<emulator::VirtualDevice>& device,
                                                std::uint16_t shortUuid) const;
    std::uint16_t valueHandle(const std::shared_ptr<emulator::VirtualDevice>& device,
                              std::uint16_t shortUuid) const;

    // The fixture's bridge on either backend.
    std::size_t bridgeWriteCount();
    // Sends a value as the bridge's notification and settles; sends nothing while notifications are off.
    void notifyFromBridge(std::uint16_t shortUuid, const Bytes& value);
    // Sends without settling; safe from any thread.
    void notifyOnly(std::uint16_t valueHandle, const Bytes& value);
    void dropLink();
    void setInRange(bool inRange);
    bool bridgeConnectedOrUnknown() const { return !bridge || bridge->connected(); }
    bool bridgeDisconnectedOrUnknown() const { return !bridge || !bridge->connected(); }

    std::shared_ptr<emulator::Emulator> emu;
    std::shared_ptr<emulator::VirtualBridge> bridge;
#if defined(QB_TEST_HAVE_BUS)
    std::unique_ptr<qb::test::BusBackend> bus;
#endif
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
};

}  // namespace qb::dll::test
