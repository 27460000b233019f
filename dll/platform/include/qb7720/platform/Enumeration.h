// Device enumeration (Windows: DeviceInformation, DeviceInformationUpdate, DeviceWatcher).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qb7720/platform/Event.h"

namespace qb::platform {

enum class DeviceInformationKind : std::int32_t { Unknown = 0, AssociationEndpoint = 5 };

struct DeviceInformationUpdate {
    std::string id;
    // A changed System.ItemNameDisplay, when the update carries one.
    std::optional<std::string> name;
};

class DeviceInformation {
  public:
    virtual ~DeviceInformation() = default;

    virtual std::string id() = 0;
    virtual std::string name() = 0;
    virtual void update(const DeviceInformationUpdate& update) = 0;
};

class DeviceWatcher {
  public:
    using AddedHandler = std::function<void(DeviceWatcher& sender, std::shared_ptr<DeviceInformation> info)>;
    using UpdatedHandler = std::function<void(DeviceWatcher& sender, const DeviceInformationUpdate& update)>;
    using RemovedHandler = UpdatedHandler;
    using SimpleHandler = std::function<void(DeviceWatcher& sender)>;

    virtual ~DeviceWatcher() = default;

    virtual EventToken addAdded(AddedHandler handler) = 0;
    virtual void removeAdded(EventToken token) = 0;
    virtual EventToken addUpdated(UpdatedHandler handler) = 0;
    virtual void removeUpdated(EventToken token) = 0;
    virtual EventToken addRemoved(RemovedHandler handler) = 0;
    virtual void removeRemoved(EventToken token) = 0;
    virtual EventToken addEnumerationCompleted(SimpleHandler handler) = 0;
    virtual void removeEnumerationCompleted(EventToken token) = 0;
    virtual EventToken addStopped(SimpleHandler handler) = 0;
    virtual void removeStopped(EventToken token) = 0;

    virtual void start() = 0;
    virtual void stop() = 0;
};

}  // namespace qb::platform
