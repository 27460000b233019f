#include "Bus.h"

#include <cstdlib>
#include <set>

#include "ErrorMap.h"
#include "qb7720/platform/PlatformError.h"

namespace qb::bluez {
namespace {

using RawProperties = std::map<std::string, sdbus::Variant>;
using RawInterfaces = std::map<std::string, RawProperties>;
using ManagedObjects = std::map<sdbus::ObjectPath, RawInterfaces>;

// Converted on the loop thread, where the variants were made, so none outlives it.
std::map<std::string, Interfaces> ownedObjects(const ManagedObjects& objects) {
    std::map<std::string, Interfaces> owned;
    for (const auto& [path, ifaces] : objects) owned.emplace(path, toInterfaces(ifaces));
    return owned;
}

const char* const kAddedRule =
    "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.ObjectManager',member='"
    "InterfacesAdded'";
const char* const kRemovedRule =
    "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.ObjectManager',member='"
    "InterfacesRemoved'";
const char* const kChangedRule =
    "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
    "path_namespace='/org/bluez'";
const char* const kOwnerRule =
    "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged',"
    "arg0='org.bluez'";

// Every bus alive, for the exit handler. Never destroyed: it is used from exit handlers and from
// destructors of statics, in whatever order those run.
struct LiveBuses {
    std::mutex mutex;
    std::set<Bus*> buses;
};
LiveBuses& liveBuses() {
    static auto* live = new LiveBuses;
    return *live;
}

void stopLiveBuses() {
    auto& live = liveBuses();
    std::lock_guard<std::mutex> lock(live.mutex);
    for (Bus* bus : live.buses) bus->stopEventLoop();
}

}  // namespace

std::shared_ptr<Bus> Bus::connect() {
    // A process may exit with a bus still held by a static. Its loop thread would go on reading
    // signals while the exit handlers destroy what sd-bus and sdbus-c++ keep for that (the
    // messages a received variant is parsed into), so it is stopped first, by a handler that runs
    // before any of those: the variant below makes sure they exist before the handler is registered.
    static std::once_flag atExit;
    std::call_once(atExit, [] {
        const sdbus::Variant warmUp(true);
        std::atexit(stopLiveBuses);
    });
    // The last owner may be a handler on the dispatcher thread, which cannot join itself: the bus is
    // then taken down from a thread of its own.
    std::shared_ptr<Bus> bus(new Bus(), [](Bus* b) {
        const auto self = std::this_thread::get_id();
        if (self == b->dispatcher_.get_id() || self == b->eventLoop_.get_id()) {
            std::thread([b] { delete b; }).detach();
        } else {
            delete b;
        }
    });
    try {
        bus->connection_ = sdbus::createSystemBusConnection();
    } catch (const sdbus::Error& e) {
        throw toPlatformError("org.bluez.Error.NoSuchAdapter", "system bus unreachable: " + e.getMessage());
    }
    {
        auto& live = liveBuses();
        std::lock_guard<std::mutex> lock(live.mutex);
        live.buses.insert(bus.get());
    }
    bus->start();
    return bus;
}

void Bus::stopEventLoop() {
    if (connection_) connection_->leaveEventLoop();
    if (eventLoop_.joinable() && eventLoop_.get_id() != std::this_thread::get_id()) eventLoop_.join();
}

void Bus::start() {
    dispatcher_ = std::thread([this] { dispatchLoop(); });
    connection_->addMatch(
        kAddedRule, [this](sdbus::Message& m) { onInterfacesAdded(m); }, sdbus::floating_slot);
    connection_->addMatch(
        kRemovedRule, [this](sdbus::Message& m) { onInterfacesRemoved(m); }, sdbus::floating_slot);
    connection_->addMatch(
        kChangedRule, [this](sdbus::Message& m) { onPropertiesChanged(m); }, sdbus::floating_slot);
    connection_->addMatch(
        kOwnerRule, [this](sdbus::Message& m) { onNameOwnerChanged(m); }, sdbus::floating_slot);
    eventLoop_ = std::thread([this] {
        try {
            connection_->enterEventLoop();
        } catch (const sdbus::Error&) {
            // The bus went away: calls made from now on fail with mapped errors.
        }
    });
    try {
        loadTree();
    } catch (const platform::PlatformError&) {
        // No org.bluez yet: the tree stays empty until the service appears.
    }
}

Bus::~Bus() {
    {
        auto& live = liveBuses();
        std::lock_guard<std::mutex> lock(live.mutex);
        live.buses.erase(this);
        stopEventLoop();
    }
    {
        std::lock_guard<std::mutex> lock(dispatchMutex_);
        stopping_ = true;
    }
    dispatchCv_.notify_all();
    if (dispatcher_.joinable()) dispatcher_.join();
    queue_.clear();
    std::lock_guard<std::mutex> lock(proxyMutex_);
    proxies_.clear();
}

sdbus::IProxy& Bus::proxy(const std::string& path) {
    std::lock_guard<std::mutex> lock(proxyMutex_);
    auto& slot = proxies_[path];
    if (!slot) slot = sdbus::createProxy(*connection_, kService, path);
    return *slot;
}

void Bus::call(const std::string& path, const std::string& iface, const std::string& method,
               const ArgsWriter& args, const ReplyReader& reader, std::chrono::milliseconds timeout) {
    // Shared with the reply handler; once the caller gives up, a late reply must not touch the
    // caller's locals through the reader.
    struct Pending {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool abandoned = false;
        bool ok = false;
        std::string errorName;
        std::string errorMessage;
        ReplyReader reader;
    };
    auto pending = std::make_shared<Pending>();
    pending->reader = reader;
    try {
        auto& p = proxy(path);
        auto message = p.createMethodCall(iface, method);
        if (args) args(message);
        const auto usec = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(timeout).count());
        p.callMethod(
            message,
            [pending](sdbus::MethodReply& reply, const sdbus::Error* error) {
                std::lock_guard<std::mutex> lock(pending->mutex);
                if (pending->abandoned) return;
                if (error != nullptr) {
                    pending->errorName = error->getName();
                    pending->errorMessage = error->getMessage();
                } else {
                    try {
                        if (pending->reader) pending->reader(reply);
                        pending->ok = true;
                    } catch (const sdbus::Error& e) {
                        pending->errorName = e.getName();
                        pending->errorMessage = "unexpected reply: " + e.getMessage();
                    }
                }
                pending->finished = true;
                pending->done.notify_all();
            },
            usec);
    } catch (const sdbus::Error& e) {
        throw toPlatformError(e.getName(), e.getMessage());
    }
    std::unique_lock<std::mutex> lock(pending->mutex);
    // The bus enforces the timeout; the margin only guards against a reply handler that never runs.
    if (!pending->done.wait_for(lock, timeout + std::chrono::seconds(2), [&] { return pending->finished; })) {
        pending->abandoned = true;
        throw toPlatformError("org.freedesktop.DBus.Error.Timeout", method + " did not complete");
    }
    if (!pending->ok) throw toPlatformError(pending->errorName, pending->errorMessage);
}

void Bus::loadTree() {
    call("/", kObjectManagerIface, "GetManagedObjects", {}, [this](sdbus::MethodReply& reply) {
        ManagedObjects objects;
        reply >> objects;
        replaceTree(ownedObjects(objects));
    });
}

void Bus::refresh(const std::string& path, const std::string& iface, const std::vector<std::string>& names,
                  std::chrono::milliseconds timeout) {
    call(
        path, kPropsIface, "GetAll", [&](sdbus::MethodCall& m) { m << iface; },
        [this, path, iface, names](sdbus::MethodReply& reply) {
            RawProperties raw;
            reply >> raw;
            mergeProperties(path, iface, toProperties(raw), names);
        },
        timeout);
}

std::optional<PropertyValue> Bus::fetch(const std::string& path, const std::string& iface,
                                        const std::string& name, std::chrono::milliseconds timeout) {
    std::optional<PropertyValue> value;
    try {
        call(
            path, kPropsIface, "Get", [&](sdbus::MethodCall& m) { m << iface << name; },
            [&value](sdbus::MethodReply& reply) {
                sdbus::Variant raw;
                reply >> raw;
                value = toPropertyValue(raw);
            },
            timeout);
    } catch (const platform::PlatformError& e) {
        // No such property (or object) is an answer too; a daemon that cannot answer is not.
        if (e.code() != platform::hresult::kNotFound) throw;
    }
    return value;
}

void Bus::mergeProperties(const std::string& path, const std::string& iface, const Properties& fresh,
                          const std::vector<std::string>& names) {
    TreeEvent e;
    e.kind = TreeEvent::Kind::Changed;
    e.path = path;
    e.iface = iface;
    {
        std::lock_guard<std::mutex> lock(treeMutex_);
        auto node = tree_.find(path);
        if (node == tree_.end()) return;
        auto held = node->second.find(iface);
        if (held == node->second.end()) return;  // its InterfacesAdded will bring it
        auto& props = held->second;
        for (const auto& name : names) {
            auto now = fresh.find(name);
            auto was = props.find(name);
            if (now == fresh.end()) {
                if (was == props.end()) continue;
                props.erase(was);
                e.invalidated.push_back(name);
            } else if (was == props.end() || was->second != now->second) {
                props[name] = now->second;
                e.changed.emplace(name, now->second);
            }
        }
    }
    if (!e.changed.empty() || !e.invalidated.empty()) post(std::move(e));
}

void Bus::replaceTree(std::map<std::string, Interfaces> objects) {
    std::vector<TreeEvent> events;
    {
        std::lock_guard<std::mutex> lock(treeMutex_);
        std::map<std::string, Interfaces> fresh = std::move(objects);
        for (const auto& [path, ifaces] : tree_) {
            auto now = fresh.find(path);
            for (const auto& entry : ifaces) {
                if (now == fresh.end() || now->second.count(entry.first) == 0) {
                    TreeEvent e;
                    e.kind = TreeEvent::Kind::Removed;
                    e.path = path;
                    e.iface = entry.first;
                    events.push_back(std::move(e));
                }
            }
        }
        for (const auto& [path, ifaces] : fresh) {
            auto old = tree_.find(path);
            for (const auto& [iface, props] : ifaces) {
                TreeEvent e;
                e.kind = (old != tree_.end() && old->second.count(iface) != 0) ? TreeEvent::Kind::Changed
                                                                               : TreeEvent::Kind::Added;
                e.path = path;
                e.iface = iface;
                e.changed = props;
                events.push_back(std::move(e));
            }
        }
        tree_ = std::move(fresh);
    }
    for (auto& e : events) post(std::move(e));
}

void Bus::onInterfacesAdded(sdbus::Message& msg) {
    sdbus::ObjectPath path;
    Interfaces ifaces;
    try {
        RawInterfaces raw;
        msg >> path >> raw;
        ifaces = toInterfaces(raw);
    } catch (const sdbus::Error&) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(treeMutex_);
        auto& node = tree_[path];
        for (const auto& [iface, props] : ifaces) node[iface] = props;
    }
    for (auto& [iface, props] : ifaces) {
        TreeEvent e;
        e.kind = TreeEvent::Kind::Added;
        e.path = path;
        e.iface = iface;
        e.changed = std::move(props);
        post(std::move(e));
    }
}

void Bus::onInterfacesRemoved(sdbus::Message& msg) {
    sdbus::ObjectPath path;
    std::vector<std::string> ifaces;
    try {
        msg >> path >> ifaces;
    } catch (const sdbus::Error&) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(treeMutex_);
        auto node = tree_.find(path);
        if (node != tree_.end()) {
            for (const auto& iface : ifaces) node->second.erase(iface);
            if (node->second.empty()) tree_.erase(node);
        }
    }
    for (const auto& iface : ifaces) {
        TreeEvent e;
        e.kind = TreeEvent::Kind::Removed;
        e.path = path;
        e.iface = iface;
        post(std::move(e));
    }
}

void Bus::onPropertiesChanged(sdbus::Message& msg) {
    TreeEvent e;
    e.kind = TreeEvent::Kind::Changed;
    try {
        RawProperties raw;
        msg >> e.iface >> raw >> e.invalidated;
        e.changed = toProperties(raw);
    } catch (const sdbus::Error&) {
        return;
    }
    e.path = msg.getPath();
    {
        std::lock_guard<std::mutex> lock(treeMutex_);
        auto node = tree_.find(e.path);
        if (node == tree_.end()) return;  // an object we were never told about
        auto& props = node->second[e.iface];
        for (const auto& [name, value] : e.changed) props[name] = value;
        for (const auto& name : e.invalidated) props.erase(name);
    }
    post(std::move(e));
}

void Bus::onNameOwnerChanged(sdbus::Message& msg) {
    std::string name, oldOwner, newOwner;
    try {
        msg >> name >> oldOwner >> newOwner;
    } catch (const sdbus::Error&) {
        return;
    }
    if (name != kService) return;
    if (newOwner.empty()) {
        replaceTree({});
        return;
    }
    // On the loop thread: ask without waiting, the reply lands here later.
    try {
        auto& p = proxy("/");
        auto message = p.createMethodCall(kObjectManagerIface, "GetManagedObjects");
        p.callMethod(message, [this](sdbus::MethodReply& reply, const sdbus::Error* error) {
            if (error != nullptr) return;
            ManagedObjects objects;
            try {
                reply >> objects;
            } catch (const sdbus::Error&) {
                return;
            }
            replaceTree(ownedObjects(objects));
        });
    } catch (const sdbus::Error&) {
    }
}

std::optional<Properties> Bus::properties(const std::string& path, const std::string& iface) const {
    std::lock_guard<std::mutex> lock(treeMutex_);
    auto node = tree_.find(path);
    if (node == tree_.end()) return std::nullopt;
    auto it = node->second.find(iface);
    if (it == node->second.end()) return std::nullopt;
    return it->second;
}

std::optional<PropertyValue> Bus::property(const std::string& path, const std::string& iface,
                                           const std::string& name) const {
    std::lock_guard<std::mutex> lock(treeMutex_);
    auto node = tree_.find(path);
    if (node == tree_.end()) return std::nullopt;
    auto it = node->second.find(iface);
    if (it == node->second.end()) return std::nullopt;
    auto prop = it->second.find(name);
    if (prop == it->second.end()) return std::nullopt;
    return prop->second;
}

std::vector<std::string> Bus::objectsWith(const std::string& iface, const std::string& parent) const {
    std::vector<std::string> paths;
    std::lock_guard<std::mutex> lock(treeMutex_);
    for (const auto& [path, ifaces] : tree_) {
        if (ifaces.count(iface) == 0) continue;
        if (!parent.empty()) {
            if (path.size() <= parent.size() + 1 || path.compare(0, parent.size(), parent) != 0 ||
                path[parent.size()] != '/' || path.find('/', parent.size() + 1) != std::string::npos) {
                continue;
            }
        }
        paths.push_back(path);
    }
    return paths;  // std::map keeps them sorted, which is handle order for GATT objects
}

std::uint64_t Bus::subscribe(Subscriber subscriber) {
    std::lock_guard<std::mutex> lock(subscriberMutex_);
    const auto id = ++lastSubscriber_;
    subscribers_.emplace(id, std::make_shared<Subscriber>(std::move(subscriber)));
    return id;
}

void Bus::unsubscribe(std::uint64_t id) {
    std::lock_guard<std::mutex> lock(subscriberMutex_);
    subscribers_.erase(id);
}

void Bus::post(TreeEvent event) {
    auto shared = std::make_shared<TreeEvent>(std::move(event));
    {
        std::lock_guard<std::mutex> lock(dispatchMutex_);
        queue_.push_back([this, shared] {
            std::vector<std::pair<std::uint64_t, std::shared_ptr<Subscriber>>> snapshot;
            {
                std::lock_guard<std::mutex> guard(subscriberMutex_);
                snapshot.assign(subscribers_.begin(), subscribers_.end());
            }
            for (const auto& entry : snapshot) {
                {
                    // Skip one that left while earlier handlers ran.
                    std::lock_guard<std::mutex> guard(subscriberMutex_);
                    if (subscribers_.count(entry.first) == 0) continue;
                }
                (*entry.second)(*shared);
            }
        });
        ++posted_;
    }
    dispatchCv_.notify_all();
}

void Bus::postJob(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(dispatchMutex_);
        queue_.push_back(std::move(job));
        ++posted_;
    }
    dispatchCv_.notify_all();
}

void Bus::dispatchLoop() {
    std::unique_lock<std::mutex> lock(dispatchMutex_);
    for (;;) {
        dispatchCv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;
        auto job = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        try {
            job();
        } catch (...) {
            // A subscriber's failure must not stop delivery to the others.
        }
        lock.lock();
        ++delivered_;
        dispatchCv_.notify_all();
    }
}

void Bus::drainDispatcher() {
    std::unique_lock<std::mutex> lock(dispatchMutex_);
    const auto target = posted_;
    dispatchCv_.wait(lock, [&] { return stopping_ || delivered_ >= target; });
}

}  // namespace qb::bluez
