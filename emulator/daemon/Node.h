// One object of the daemon's tree. Properties live in a plain map so that GetManagedObjects,
// PropertiesChanged and the getters all tell the same story; sd-bus vtables are fixed once built,
// so a property that appears or disappears rebuilds the object's vtable.
#pragma once

#include <sdbus-c++/sdbus-c++.h>
#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <vector>

namespace qb::emud {

using Props = std::map<std::string, sdbus::Variant>;
using Ifaces = std::map<std::string, Props>;

class Daemon;

class Node {
  public:
    Node(Daemon& daemon, std::string path) : daemon_(daemon), path_(std::move(path)) {}
    virtual ~Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    const std::string& path() const { return path_; }
    const Ifaces& interfaces() const { return props_; }
    bool published() const { return object_ != nullptr; }
    bool has(const std::string& iface, const std::string& name) const;
    const sdbus::Variant& get(const std::string& iface, const std::string& name) const;

    // Initial values, before publish(): no signal.
    void init(const std::string& iface, const std::string& name, sdbus::Variant value);
    // Changes a value and signals it (on every call: repeats are signalled too, as notifications are).
    void set(const std::string& iface, const std::string& name, sdbus::Variant value);
    // Like set(), but as a real daemon does for the state a call changed: the value is current at
    // once (Get, GetAll, GetManagedObjects), its signal leaves after the call's reply, a gap later.
    // In the early order the signal leaves at once, before the reply.
    void setAfterReply(const std::string& iface, const std::string& name, sdbus::Variant value);
    // Removes a property and signals it as invalidated.
    void unset(const std::string& iface, const std::string& name);

    // Sends the held-back signals that are due, in order; the time the next one is due, if any.
    std::optional<std::chrono::steady_clock::time_point> sendDueSignals(std::chrono::steady_clock::time_point now);

    // Rebuilds the vtable after a property appeared or disappeared (the daemon calls it between
    // messages, never inside a handler of this object).
    void rebuild();

    // PropertiesChanged on this object.
    void emitChanged(const std::string& iface, const Props& changed,
                     const std::vector<std::string>& invalidated);

    // Registers the object and announces it with InterfacesAdded.
    void publish();
    // Announces InterfacesRemoved and unregisters the object.
    void withdraw();

  protected:
    virtual void registerOn(sdbus::IObject& object) = 0;
    // Typed read-only / read-write properties for the vtable, only when present in the map.
    template <typename T>
    void property(sdbus::IObject& object, const std::string& iface, const std::string& name);
    template <typename T, typename Setter>
    void writable(sdbus::IObject& object, const std::string& iface, const std::string& name, Setter setter);
    // The unique name of the client whose call is being served.
    std::string sender() const;

    Daemon& daemon_;

  private:
    struct HeldSignal {
        std::chrono::steady_clock::time_point due;
        std::string iface;
        Props changed;
        std::vector<std::string> invalidated;
    };
    // Signals of one object never overtake each other: once one is held back, later ones queue too.
    void signal(const std::string& iface, Props changed, std::vector<std::string> invalidated,
                std::chrono::steady_clock::time_point due);
    void sendHeldSignals();

    const std::string path_;
    Ifaces props_;
    std::deque<HeldSignal> held_;
    std::unique_ptr<sdbus::IObject> object_;
};

template <typename T>
void Node::property(sdbus::IObject& object, const std::string& iface, const std::string& name) {
    if (!has(iface, name)) return;
    object.registerProperty(name).onInterface(iface).withGetter(
        [this, iface, name]() -> T { return get(iface, name).get<T>(); });
}

template <typename T, typename Setter>
void Node::writable(sdbus::IObject& object, const std::string& iface, const std::string& name,
                    Setter setter) {
    if (!has(iface, name)) return;
    object.registerProperty(name)
        .onInterface(iface)
        .withGetter([this, iface, name]() -> T { return get(iface, name).get<T>(); })
        .withSetter([setter](const T& value) { setter(value); });
}

}  // namespace qb::emud
