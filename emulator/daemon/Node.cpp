#include "Node.h"

#include "Daemon.h"

namespace qb::emud {

Node::~Node() {
    daemon_.forget(this);
}

bool Node::has(const std::string& iface, const std::string& name) const {
    auto it = props_.find(iface);
    return it != props_.end() && it->second.count(name) != 0;
}

const sdbus::Variant& Node::get(const std::string& iface, const std::string& name) const {
    return props_.at(iface).at(name);
}

void Node::init(const std::string& iface, const std::string& name, sdbus::Variant value) {
    props_[iface][name] = std::move(value);
}

void Node::set(const std::string& iface, const std::string& name, sdbus::Variant value) {
    const bool fresh = !has(iface, name);
    props_[iface][name] = value;
    if (!published()) return;
    if (fresh) daemon_.markDirty(this);
    signal(iface, {{name, std::move(value)}}, {}, std::chrono::steady_clock::now());
}

void Node::setAfterReply(const std::string& iface, const std::string& name, sdbus::Variant value) {
    if (!daemon_.signalsAfterReplies() || !published() || !has(iface, name)) {
        set(iface, name, std::move(value));
        return;
    }
    props_[iface][name] = value;
    signal(iface, {{name, std::move(value)}}, {}, std::chrono::steady_clock::now() + daemon_.signalGap());
}

void Node::unset(const std::string& iface, const std::string& name) {
    if (!has(iface, name)) return;
    props_[iface].erase(name);
    if (!published()) return;
    daemon_.markDirty(this);
    signal(iface, {}, {name}, std::chrono::steady_clock::now());
}

void Node::signal(const std::string& iface, Props changed, std::vector<std::string> invalidated,
                  std::chrono::steady_clock::time_point due) {
    if (held_.empty() && due <= std::chrono::steady_clock::now()) {
        emitChanged(iface, changed, invalidated);
        return;
    }
    if (!held_.empty() && held_.back().due > due) due = held_.back().due;
    held_.push_back({due, iface, std::move(changed), std::move(invalidated)});
    daemon_.markSignalling(this);
}

std::optional<std::chrono::steady_clock::time_point> Node::sendDueSignals(
    std::chrono::steady_clock::time_point now) {
    while (!held_.empty() && held_.front().due <= now) {
        const HeldSignal next = std::move(held_.front());
        held_.pop_front();
        emitChanged(next.iface, next.changed, next.invalidated);
    }
    if (held_.empty()) return std::nullopt;
    return held_.front().due;
}

void Node::sendHeldSignals() {
    sendDueSignals(std::chrono::steady_clock::time_point::max());
}

void Node::publish() {
    if (published()) return;
    object_ = sdbus::createObject(daemon_.connection(), path_);
    registerOn(*object_);
    object_->finishRegistration();
    daemon_.emitInterfacesAdded(path_, props_);
}

void Node::withdraw() {
    if (!published()) return;
    // What the object said before it goes still reaches its clients, and before InterfacesRemoved.
    sendHeldSignals();
    std::vector<std::string> names;
    for (const auto& entry : props_) names.push_back(entry.first);
    object_.reset();
    daemon_.emitInterfacesRemoved(path_, names);
}

void Node::rebuild() {
    if (!published()) return;
    object_.reset();
    object_ = sdbus::createObject(daemon_.connection(), path_);
    registerOn(*object_);
    object_->finishRegistration();
}

std::string Node::sender() const {
    const sdbus::Message* message = object_ ? object_->getCurrentlyProcessedMessage() : nullptr;
    return message != nullptr ? message->getSender() : std::string();
}

}  // namespace qb::emud

namespace qb::emud {

void Node::emitChanged(const std::string& iface, const Props& changed,
                       const std::vector<std::string>& invalidated) {
    if (!object_) return;
    auto signal = object_->createSignal("org.freedesktop.DBus.Properties", "PropertiesChanged");
    signal << iface << changed << invalidated;
    object_->emitSignal(signal);
}

}  // namespace qb::emud
