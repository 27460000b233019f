// The emulator daemon behind a private bus, reached through the BlueZ backend; tests steer it
// through the daemon's control object.
#pragma once

#include <mutex>

#include "SuiteBackend.h"
#include "TestRadio.h"

namespace sdbus {
class IConnection;
class IProxy;
}  // namespace sdbus

namespace qb::test {

class BusRadio : public TestRadio {
  public:
    BusRadio();
    ~BusRadio() override;
    BusRadio(const BusRadio&) = delete;
    BusRadio& operator=(const BusRadio&) = delete;

    std::shared_ptr<TestBridge> addBridge(emulator::BridgeConfig config) override;
    void removeDevice(std::uint64_t address) override;
    void failWrites(const TestBridge& bridge, int count) override;
    void failConnects(const TestBridge& bridge, int count) override;
    void failWith(const TestBridge& bridge, Call call, platform::HResult code, int count) override;
    void clearFaults() override;
    bool discovering() override;
    void setRadioOn(bool on) override;
    void settle() override;
    std::shared_ptr<emulator::Emulator> emulator() const override { return nullptr; }

    // Calls a method of the daemon's control object; `in` adds the arguments, `out` reads the reply.
    template <typename In, typename Out>
    void control(const char* method, In in, Out out);
    // Device1.Connect from the radio's own line to the bus, as another program would call it.
    bool connectFromOutside(std::uint64_t address);

  protected:
    // bluetoothd's object path of a device on hci0.
    static std::string devicePath(std::uint64_t address);
    // Over a bus already there (the real stack's system bus), the control object under `controlName`.
    BusRadio(std::unique_ptr<sdbus::IConnection> connection, const std::string& controlName,
             std::shared_ptr<platform::Platform> platform);
    // Returns once discovery has heard the bridge.
    virtual void hear(std::uint64_t address);
    sdbus::IConnection& connection() { return *connection_; }
    const std::shared_ptr<platform::Platform>& platform() const { return platform_; }
    // A control method that takes and returns nothing.
    void control(const char* method);

  private:
    void fail(const TestBridge& bridge, const char* call, int count);

    std::unique_ptr<BusBackend> backend_;
    std::mutex mutex_;
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IProxy> proxy_;
    std::unique_ptr<sdbus::IProxy> adapter_;
    std::shared_ptr<platform::Platform> platform_;
};

}  // namespace qb::test
