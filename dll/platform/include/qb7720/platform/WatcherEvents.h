// The event plumbing every backend's watchers share: handlers kept in EventSources, added and removed
// by token. A backend derives from these and raises the events through the protected sources.
#pragma once

#include <memory>
#include <utility>

#include "qb7720/platform/Advertisement.h"
#include "qb7720/platform/Enumeration.h"
#include "qb7720/platform/Event.h"

namespace qb::platform {

class DeviceWatcherEvents : public DeviceWatcher {
  public:
    EventToken addAdded(AddedHandler handler) final {
        beforeAddHandler();
        return added_.add(std::move(handler));
    }
    void removeAdded(EventToken token) final {
        beforeRemoveHandler();
        added_.remove(token);
    }
    EventToken addUpdated(UpdatedHandler handler) final {
        beforeAddHandler();
        return updated_.add(std::move(handler));
    }
    void removeUpdated(EventToken token) final {
        beforeRemoveHandler();
        updated_.remove(token);
    }
    EventToken addRemoved(RemovedHandler handler) final {
        beforeAddHandler();
        return removed_.add(std::move(handler));
    }
    void removeRemoved(EventToken token) final {
        beforeRemoveHandler();
        removed_.remove(token);
    }
    EventToken addEnumerationCompleted(SimpleHandler handler) final {
        beforeAddHandler();
        return completed_.add(std::move(handler));
    }
    void removeEnumerationCompleted(EventToken token) final {
        beforeRemoveHandler();
        completed_.remove(token);
    }
    EventToken addStopped(SimpleHandler handler) final {
        beforeAddHandler();
        return stopped_.add(std::move(handler));
    }
    void removeStopped(EventToken token) final {
        beforeRemoveHandler();
        stopped_.remove(token);
    }

  protected:
    // Where a backend that injects faults or counts calls hooks in.
    virtual void beforeAddHandler() {}
    virtual void beforeRemoveHandler() {}

    EventSource<DeviceWatcher&, std::shared_ptr<DeviceInformation>> added_;
    EventSource<DeviceWatcher&, const DeviceInformationUpdate&> updated_;
    EventSource<DeviceWatcher&, const DeviceInformationUpdate&> removed_;
    EventSource<DeviceWatcher&> completed_;
    EventSource<DeviceWatcher&> stopped_;
};

class AdvertisementWatcherEvents : public BluetoothLEAdvertisementWatcher {
  public:
    EventToken addReceived(ReceivedHandler handler) final {
        beforeAddHandler();
        return received_.add(std::move(handler));
    }
    void removeReceived(EventToken token) final {
        beforeRemoveHandler();
        received_.remove(token);
    }
    EventToken addStopped(StoppedHandler handler) final {
        beforeAddHandler();
        return stopped_.add(std::move(handler));
    }
    void removeStopped(EventToken token) final {
        beforeRemoveHandler();
        stopped_.remove(token);
    }

  protected:
    virtual void beforeAddHandler() {}
    virtual void beforeRemoveHandler() {}

    EventSource<BluetoothLEAdvertisementWatcher&, const BluetoothLEAdvertisementReceivedEventArgs&> received_;
    EventSource<BluetoothLEAdvertisementWatcher&> stopped_;
};

}  // namespace qb::platform
