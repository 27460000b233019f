// org.qb7720.EmulatorControl1 at /org/qb7720/emulator: what a test does to emulated bridges, offered
// over a bus. The emulator daemon and the HCI peripheral both serve it; each says through a host how
// its bridges are found, added and faulted.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "qb7720/emulator/Bridge.h"

namespace sdbus {
class IConnection;
class IObject;
}  // namespace sdbus

namespace qb::emud {

inline constexpr const char* kControlIface = "org.qb7720.EmulatorControl1";
inline constexpr const char* kControlPath = "/org/qb7720/emulator";

class ControlHost {
  public:
    struct Error {
        std::string name;
        std::string message;
    };
    virtual ~ControlHost() = default;

    // Runs the job where the bridges may be touched and returns once it ran (rethrowing its
    // exception); every method below is called from inside such a job.
    virtual void run(const std::function<void()>& job) = 0;
    virtual void log(const std::string& line) = 0;

    // The address of the bridge now there, as the host's radio shows it.
    virtual std::string addBridge(const emulator::BridgeConfig& config) = 0;
    virtual void removeDevice(const std::string& address) = 0;
    // Throws sdbus::Error (org.qb7720.Error.UnknownDevice) for an address it does not know.
    virtual std::shared_ptr<emulator::VirtualDevice> device(const std::string& address) = 0;
    virtual void dropLink(const std::string& address) = 0;
    virtual void setInRange(const std::string& address, bool inRange) = 0;
    // The next `count` calls of this kind fail, with the host's usual error for it or the one given.
    virtual void addFaults(const std::string& address, const std::string& call, std::uint32_t count,
                           const std::optional<Error>& error) = 0;
    virtual void clearFaults() = 0;
};

// Registers every method on a new object at kControlPath; `extra` may add host-only methods before
// registration finishes.
std::unique_ptr<sdbus::IObject> createControlObject(sdbus::IConnection& connection, ControlHost& host,
                                                    const std::function<void(sdbus::IObject&)>& extra = {});

// The bridge of that device, or sdbus::Error when it is not one.
std::shared_ptr<emulator::VirtualBridge> asBridge(std::shared_ptr<emulator::VirtualDevice> device,
                                                  const std::string& address);

}  // namespace qb::emud
