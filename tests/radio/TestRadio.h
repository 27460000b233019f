// The emulated bridges a test steers, wherever they run: in this process (the emulator installed as
// the platform), or in the emulator daemon behind a private bus and the BlueZ backend when
// QB7720_TEST_BACKEND=bluez. Suites written against this run unchanged on both.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qb7720/emulator/Bridge.h"
#include "qb7720/emulator/Emulator.h"
#include "qb7720/platform/PlatformError.h"

namespace qb::test {

// True when QB7720_TEST_BACKEND asks for the bus.
bool onBus();
// True when it asks for the real stack (QB7720_TEST_BACKEND=realstack), which is on a bus too.
bool onRealStack();

// btvirt (BlueZ 5.66) tells a peripheral's controller the central's handle for the link, not its own:
// a central's second link at once carries nothing, and its end corrupts Debian 12's kernel.
inline constexpr const char* kTwoLinksAtOnce = "two links at once (btvirt misnumbers the second)";
// A bridge refuses a request only with an ATT error, and cannot refuse a write without response:
// bluetoothd's plain "Operation failed" comes from the host's side.
inline constexpr const char* kErrorWithoutAttCode = "a refusal without an ATT error, or of a write without response";
// btvirt's controllers report no signal strength (127) and serve from their own address.
inline constexpr const char* kChosenAddressOrSignal = "a bridge of a chosen address or signal strength";

// Ends a test that needs what the real stack's controllers cannot give, saying what that is.
#define QB_NOT_ON_REAL_STACK(why) \
    if (::qb::test::onRealStack()) GTEST_SKIP() << "cannot run on the real stack: " << why

class TestBridge {
  public:
    virtual ~TestBridge() = default;

    virtual std::uint64_t address() const = 0;
    // "C0:51:00:00:00:01", as the device library and the terminal show it.
    std::string addressText() const;

    virtual bool connected() = 0;
    // Every write it received, in order (uuid left empty over the bus).
    virtual std::vector<emulator::WriteRecord> writes() = 0;
    // The client configuration of the characteristic with this 16-bit UUID.
    virtual std::uint16_t clientConfiguration(std::uint16_t uuid16) = 0;
    virtual emulator::LineSettings lineSettings() = 0;
    virtual emulator::ModemOutputs modemOutputs() = 0;
    // Command frames it received, valid or not.
    virtual std::size_t frameCount() = 0;

    // Everything that drained out of its line to the far side.
    virtual emulator::Bytes farSideReceived() = 0;
    virtual emulator::ParameterBlock block(emulator::BlockArea area) = 0;

    virtual void setModemInputs(const emulator::ModemInputs& inputs) = 0;
    // Bytes the far side sends, queued behind anything its peer sends.
    virtual void injectSerial(const emulator::Bytes& bytes) = 0;
    // What reads after this command return (nullopt: the real reply again).
    virtual void overrideReply(std::uint8_t command, std::optional<emulator::Bytes> reply) = 0;
    virtual void setRssi(std::int16_t rssi) = 0;
    virtual void setInRange(bool inRange) = 0;
    virtual void dropLink() = 0;
    // A notification of any value from the characteristic with this value handle; false when it
    // did not go out (notifications off, no link).
    virtual bool notify(std::uint16_t valueHandle, const emulator::Bytes& value) = 0;
    // The name it advertises from now on.
    virtual void setName(const std::string& name) = 0;
    // A link made by another program on the host, not by the code under test; true when it came up.
    virtual bool connectFromOutside() = 0;
};

class TestRadio {
  public:
    // The backend QB7720_TEST_BACKEND names, installed as the process's platform. The options
    // shape the in-process emulator only (the daemon runs in real time with one radio).
    static std::unique_ptr<TestRadio> create(emulator::EmulatorOptions options = {});
    virtual ~TestRadio() = default;

    // Over the bus the call returns once discovery has heard the bridge, so that BlueZ knows it.
    virtual std::shared_ptr<TestBridge> addBridge(emulator::BridgeConfig config = {}) = 0;
    virtual void removeDevice(std::uint64_t address) = 0;
    // The next `count` writes to this bridge fail: write not permitted.
    virtual void failWrites(const TestBridge& bridge, int count) = 0;
    // The next `count` attempts to reach this bridge fail as a link that could not be made.
    virtual void failConnects(const TestBridge& bridge, int count) = 0;
    // The next `count` calls of one kind to this bridge fail with the platform error `code` (over the
    // bus: with the BlueZ error the backend turns into `code`).
    enum class Call { Write, Read, Notify };
    virtual void failWith(const TestBridge& bridge, Call call, platform::HResult code, int count = 1) = 0;
    virtual void clearFaults() = 0;
    // Whether the radio is scanning (over the bus: the adapter's Discovering, as the daemon has it).
    virtual bool discovering() = 0;
    // Off: the host has no radio to use (in process none at all; over the bus the adapter is
    // switched off through its Powered property).
    virtual void setRadioOn(bool on) = 0;
    // Every event caused so far has had its chance to reach the host.
    virtual void settle() = 0;
    // The in-process emulator, or null over the bus.
    virtual std::shared_ptr<emulator::Emulator> emulator() const = 0;
};

}  // namespace qb::test
