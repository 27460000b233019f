// Shared set-up of the library tests: an emulator in fast time installed as the platform, and
// helpers to open devices and to collect what callbacks deliver.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QB7720DLL.h"
#include "qb7720/emulator/Emulator.h"

namespace qb::dll::test {

using emulator::Bytes;
using emulator::Operation;
namespace hresult = platform::hresult;

class DllTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    QB7720DeviceHandle open(const std::shared_ptr<emulator::VirtualDevice>& device,
                            ConnectStatusCallback callback = nullptr);
    std::string idOf(const std::shared_ptr<emulator::VirtualDevice>& device) const;
    // Every event queued so far has reached its handler.
    void settle() { emu->waitIdle(); }
    // Writes the device received on one characteristic, in order.
    std::vector<emulator::WriteRecord> writesTo(const std::shared_ptr<emulator::VirtualDevice>& device,
                                                std::uint16_t shortUuid) const;
    std::uint16_t valueHandle(const std::shared_ptr<emulator::VirtualDevice>& device,
                              std::uint16_t shortUuid) const;

    std::shared_ptr<emulator::Emulator> emu;
    std::shared_ptr<emulator::VirtualBridge> bridge;
};

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
