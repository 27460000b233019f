// Emulated bridges installed as the process's platform, one loopback bridge ready, and recorders for the
// library's callbacks (which carry no context, so they report into process-wide recorders).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "QB7720lib.h"
#include "TestRadio.h"
#include "qb7720/emulator/Emulator.h"
#include "qb7720/platform/PlatformError.h"
#if defined(QB_TEST_HAVE_BUS)
#include "SuiteBackend.h"
#else
#define QB_IN_PROCESS_ONLY(why) static_cast<void>(0)
#endif

namespace devicelib_test {

using namespace std::chrono_literals;

// Waits for a condition that the library's threads make true; false after a generous limit.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5000ms);

struct Notification {
    std::string uuidText;
    std::vector<std::uint8_t> bytes;
    std::thread::id thread;
};

struct Sighting {
    std::string address;
    std::optional<std::string> name;
    int rssi;
    std::vector<std::uint8_t> data;
    std::thread::id thread;
};

struct ModemLines {
    bool dcd, ring, dsr, cts;
};

// Everything the callbacks below saw. Reset by each fixture.
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Sighting> sightings;
    std::vector<Notification> notifications;
    std::vector<ModemLines> modem;
    std::vector<int> modemResults;  // what QB7720Ble_Get_Modem_state answered inside the callback
    std::vector<std::pair<QB7720HANDLE*, int>> connects;
    std::vector<std::thread::id> connectThreads;
    std::vector<void*> losses;
    std::vector<std::thread::id> lossThreads;

    void reset();
    std::vector<std::uint8_t> receivedOn(const std::string& uuidText);
    std::size_t count(const std::function<std::size_t(Recorder&)>& what);
};

Recorder& recorder();

// Records the value; a 0xfff3 value is decoded as the terminal does, from inside the callback.
void onSighting(const char* address, const char* name, signed char rssi, unsigned char* data);
void onNotification(const uuid_t* uuid, const unsigned char* data, unsigned long length);
void onModem(bool dcd, bool ring, bool dsr, bool cts);
void onConnect(QB7720HANDLE* handle, int state);
void onLoss(void* userData);

// The bridges come from qb::test::TestRadio: the in-process emulator, or with QB7720_TEST_BACKEND=bluez
// the emulator daemon over a private bus. emu is null on the bus, and tests that need it skip there.
class EmulatorTest : public ::testing::Test {
  protected:
    EmulatorTest();
    ~EmulatorTest() override;
    void SetUp() override;
    void TearDown() override;

    // Options before SetUp's creation; a test overrides them by constructing its own emulator.
    virtual qb::emulator::EmulatorOptions options() const;
    void useEmulator(qb::emulator::EmulatorOptions options);

    std::string addressOf(const std::shared_ptr<qb::emulator::VirtualDevice>& device) const;
    // Connects to the bridge and opens both notifications with the recorders above.
    QB7720HANDLE* connectAndListen();
    QB7720HANDLE* connect(const std::shared_ptr<qb::emulator::VirtualDevice>& device);
    QB7720HANDLE* connect(const qb::test::TestBridge& device);
    void disconnect(QB7720HANDLE* handle);

    // The fixture's bridge, on either backend.
    std::string bridgeAddress() const;
    QB7720HANDLE* connectBridge();
    // The value handle of the bridge's command characteristic (0xfff3).
    std::uint16_t commandValueHandle();
    // Sends a notification of the command characteristic.
    void sendCommandNotification(const std::vector<std::uint8_t>& value);
    // Writes the bridge has received on this value handle, once no more are on their way.
    std::vector<qb::emulator::WriteRecord> writesTo(std::uint16_t valueHandle);
    // Writes the bridge has received, on any characteristic.
    std::size_t bridgeWriteCount();
    // Whether the host is discovering (the emulated world is scanning).
    bool discovering();
    // Lets this much advertising time pass (virtual in process, real on the bus).
    void passAdvertisingTime(std::chrono::milliseconds time);
    // The platform the fixture installed.
    std::shared_ptr<qb::platform::Platform> testPlatform() const;
    // Every event caused so far has had its chance to reach the library.
    void settle();
    // The next call of this operation (a characteristic's write or read, or its client configuration
    // written) reports this status, or fails with this code. Over the bus the daemon fails the call
    // with the BlueZ error the backend turns into it; there the fault is the fixture bridge's.
    void failNext(qb::emulator::Operation operation, qb::platform::GattCommunicationStatus status);
    void failNext(qb::emulator::Operation operation, qb::platform::HResult code);

    const qb::emulator::BridgeConfig bridgeConfig{};
    std::unique_ptr<qb::test::TestRadio> radio;
    std::shared_ptr<qb::test::TestBridge> bridge;
    std::shared_ptr<qb::emulator::Emulator> emu;
    std::vector<QB7720HANDLE*> handles;
    std::thread::id testThread = std::this_thread::get_id();

  private:
    // The fixture's bridge as the in-process emulator holds it.
    std::shared_ptr<qb::emulator::VirtualBridge> inProcessBridge() const;
};

}  // namespace devicelib_test
