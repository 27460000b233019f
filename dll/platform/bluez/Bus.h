// One connection to org.bluez: its event loop thread, a mirror of BlueZ's object tree kept current
// from ObjectManager and PropertiesChanged signals, method calls with a bound on their wait, and a
// dispatcher thread that hands tree changes to subscribers (so their handlers may call back in).
#pragma once

#include <sdbus-c++/sdbus-c++.h>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "PropertyValue.h"

namespace qb::bluez {

inline constexpr const char* kService = "org.bluez";
inline constexpr const char* kAdapterIface = "org.bluez.Adapter1";
inline constexpr const char* kDeviceIface = "org.bluez.Device1";
inline constexpr const char* kServiceIface = "org.bluez.GattService1";
inline constexpr const char* kCharIface = "org.bluez.GattCharacteristic1";
inline constexpr const char* kPropsIface = "org.freedesktop.DBus.Properties";
inline constexpr const char* kObjectManagerIface = "org.freedesktop.DBus.ObjectManager";

struct TreeEvent {
    enum class Kind { Added, Removed, Changed };
    Kind kind = Kind::Changed;
    std::string path;
    std::string iface;
    Properties changed;  // Added: all properties; Changed: the changed ones
    std::vector<std::string> invalidated;
};

class Bus : public std::enable_shared_from_this<Bus> {
  public:
    using Subscriber = std::function<void(const TreeEvent&)>;
    using ReplyReader = std::function<void(sdbus::MethodReply&)>;
    using ArgsWriter = std::function<void(sdbus::MethodCall&)>;

    // Connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS honoured) and loads the object tree.
    // Throws PlatformError when the bus cannot be reached.
    static std::shared_ptr<Bus> connect();
    ~Bus();
    Bus(const Bus&) = delete;
    // Ends the connection's event loop and waits for its thread (at exit, or on the way down).
    void stopEventLoop();
    Bus& operator=(const Bus&) = delete;

    // Snapshot reads of the mirrored tree.
    std::optional<Properties> properties(const std::string& path, const std::string& iface) const;
    std::optional<PropertyValue> property(const std::string& path, const std::string& iface,
                                          const std::string& name) const;
    // Paths holding iface, sorted; with a parent, only its direct children.
    std::vector<std::string> objectsWith(const std::string& iface, const std::string& parent = {}) const;

    // Calls on the dispatcher thread, in the order the bus delivered the changes.
    std::uint64_t subscribe(Subscriber subscriber);
    void unsubscribe(std::uint64_t id);

    // A method call on org.bluez awaited up to timeout. The reader runs on the loop thread before
    // any later signal is seen. D-Bus errors become PlatformError through the error table.
    void call(const std::string& path, const std::string& iface, const std::string& method,
              const ArgsWriter& args, const ReplyReader& reader,
              std::chrono::milliseconds timeout = std::chrono::seconds(30));

    // Replies and the signals of the same change come in no promised order, so a reply says nothing
    // about the mirror. This asks the daemon for iface's properties on path and brings these names
    // in the mirror up to its answer (subscribers see a difference as a change); signals after it
    // are newer. Other names are left alone: a Value or RSSI that moved is not a report of ours.
    void refresh(const std::string& path, const std::string& iface, const std::vector<std::string>& names,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // The daemon's current value, leaving the mirror as it is; nothing when it has no such property.
    std::optional<PropertyValue> fetch(const std::string& path, const std::string& iface, const std::string& name,
                                       std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Runs job on the dispatcher thread after every change seen so far.
    void postJob(std::function<void()> job);

    // Waits until the dispatcher has delivered everything queued so far (not from the dispatcher).
    void drainDispatcher();

  private:
    Bus() = default;
    void start();
    void onInterfacesAdded(sdbus::Message& msg);
    void onInterfacesRemoved(sdbus::Message& msg);
    void onPropertiesChanged(sdbus::Message& msg);
    void onNameOwnerChanged(sdbus::Message& msg);
    void loadTree();
    void replaceTree(std::map<std::string, Interfaces> objects);
    void mergeProperties(const std::string& path, const std::string& iface, const Properties& fresh,
                         const std::vector<std::string>& names);
    void post(TreeEvent event);
    void dispatchLoop();
    sdbus::IProxy& proxy(const std::string& path);

    std::unique_ptr<sdbus::IConnection> connection_;
    std::thread::id loopThread_;

    mutable std::mutex treeMutex_;
    std::map<std::string, Interfaces> tree_;

    std::mutex proxyMutex_;
    std::map<std::string, std::unique_ptr<sdbus::IProxy>> proxies_;

    std::mutex dispatchMutex_;
    std::condition_variable dispatchCv_;
    std::deque<std::function<void()>> queue_;
    std::uint64_t posted_ = 0;
    std::uint64_t delivered_ = 0;
    bool stopping_ = false;
    std::thread dispatcher_;
    // Runs the connection's event loop; ours rather than the library's, so a lost bus ends the loop
    // instead of the process.
    std::thread eventLoop_;

    std::mutex subscriberMutex_;
    std::uint64_t lastSubscriber_ = 0;
    std::map<std::uint64_t, std::shared_ptr<Subscriber>> subscribers_;
};

// Typed read of a property; nothing when absent or of another type.
template <typename T>
std::optional<T> variantAs(const std::optional<PropertyValue>& v) {
    if (!v) return std::nullopt;
    return valueAs<T>(*v);
}
template <typename T>
std::optional<T> propAs(const Properties& props, const std::string& name) {
    auto it = props.find(name);
    if (it == props.end()) return std::nullopt;
    return valueAs<T>(it->second);
}

}  // namespace qb::bluez
