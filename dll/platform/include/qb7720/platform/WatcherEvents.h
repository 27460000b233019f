// The event plumbing every backend's watchers share: handlers kept in EventSources, added and removed
// by token. A backend derives from these and raises the events through the protected sources.
#pragma once

#include <memory>
#include <utility>

#include "qb7720/platform/Advertisement.h"
#include "qb7720/platform/Enumeration.h"
#include "qb7720/platform/Event.h"

namespace qb::platform {

// Handlers go in and out through here, so a backend has one place to hook in.
class WatcherHooks {
  protected:
    virtual ~WatcherHooks() = default;
    // Where a backend that injects faults or counts calls hooks in.
    virtual void beforeAddHandler() {}
    virtual void beforeRemoveHandler() {}

    template <typename Source, typename Handler>
    EventToken hooked(Source& source, Handler handler) {
        beforeAddHandler();
        return source.add(std::move(handler));
    }
    template <typename Source>
    void unhooked(Source& source, EventToken token) {
        beforeRemoveHandler();
        source.remove(token);
    }
};

class DeviceWatcherEvents : public DeviceWatcher, protected WatcherHooks {
  public:
    EventToken addAdded(AddedHandler handler) final { return hooked(added_, std::move(handler)); }
    void removeAdded(EventToken token) final { unhooked(added_, token); }
    EventToken addUpdated(UpdatedHandler handler) final { return hooked(updated_, std::move(handler)); }
    void removeUpdated(EventToken token) final { unhooked(updated_, token); }
    EventToken addRemoved(RemovedHandler handler) final { return hooked(removed_, std::move(handler)); }
    void removeRemoved(EventToken token) final { unhooked(removed_, token); }
    EventToken addEnumerationCompleted(SimpleHandler handler) final {
        return hooked(completed_, std::move(handler));
    }
    void removeEnumerationCompleted(EventToken token) final { unhooked(completed_, token); }
    EventToken addStopped(SimpleHandler handler) final { return hooked(stopped_, std::move(handler)); }
    void removeStopped(EventToken token) final { unhooked(stopped_, token); }

  protected:
    EventSource<DeviceWatcher&, std::shared_ptr<DeviceInformation>> added_;
    EventSource<DeviceWatcher&, const DeviceInformationUpdate&> updated_;
    EventSource<DeviceWatcher&, const DeviceInformationUpdate&> removed_;
    EventSource<DeviceWatcher&> completed_;
    EventSource<DeviceWatcher&> stopped_;
};

class AdvertisementWatcherEvents : public BluetoothLEAdvertisementWatcher, protected WatcherHooks {
  public:
    EventToken addReceived(ReceivedHandler handler) final { return hooked(received_, std::move(handler)); }
    void removeReceived(EventToken token) final { unhooked(received_, token); }
    EventToken addStopped(StoppedHandler handler) final { return hooked(stopped_, std::move(handler)); }
    void removeStopped(EventToken token) final { unhooked(stopped_, token); }

  protected:
    EventSource<BluetoothLEAdvertisementWatcher&, const BluetoothLEAdvertisementReceivedEventArgs&> received_;
    EventSource<BluetoothLEAdvertisementWatcher&> stopped_;
};

}  // namespace qb::platform
