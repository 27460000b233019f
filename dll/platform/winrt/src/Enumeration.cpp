#include "Enumeration.h"

#include "Com.h"
#include "Delegate.h"
#include "StringIterable.h"

namespace qb::winrt {
namespace {

using InfoHandler = wf::ITypedEventHandler<wde::DeviceWatcher*, wde::DeviceInformation*>;
using UpdateHandler = wf::ITypedEventHandler<wde::DeviceWatcher*, wde::DeviceInformationUpdate*>;
using PlainHandler = wf::ITypedEventHandler<wde::DeviceWatcher*, IInspectable*>;

// The runtime update behind the record an Updated or Removed handler is being given on this thread.
struct DeliveredUpdate {
    const platform::DeviceInformationUpdate* record = nullptr;
    wde::IDeviceInformationUpdate* update = nullptr;
};
thread_local DeliveredUpdate delivered;

class Delivery {
  public:
    Delivery(const platform::DeviceInformationUpdate& record, wde::IDeviceInformationUpdate* update)
        : previous_(delivered) {
        delivered = {&record, update};
    }
    ~Delivery() { delivered = previous_; }
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;

  private:
    DeliveredUpdate previous_;
};

platform::DeviceInformationUpdate readUpdate(wde::IDeviceInformationUpdate* update) {
    platform::DeviceInformationUpdate record;
    HString id;
    check(update->get_Id(id.put()), "DeviceInformationUpdate.Id");
    record.id = id.utf8();
    return record;
}

EventRegistrationToken token(platform::EventToken value) {
    EventRegistrationToken t{};
    t.value = value;
    return t;
}

}  // namespace

std::string WinrtDeviceInformation::id() {
    HString value;
    check(info_->get_Id(value.put()), "DeviceInformation.Id");
    return value.utf8();
}

std::string WinrtDeviceInformation::name() {
    HString value;
    check(info_->get_Name(value.put()), "DeviceInformation.Name");
    return value.utf8();
}

void WinrtDeviceInformation::update(const platform::DeviceInformationUpdate& update) {
    if (delivered.record != &update || delivered.update == nullptr) return;
    check(info_->Update(delivered.update), "DeviceInformation.Update");
}

platform::EventToken WinrtDeviceWatcher::addAdded(AddedHandler handler) {
    std::weak_ptr<WinrtDeviceWatcher> self = weak_from_this();
    auto delegate = EventDelegate<InfoHandler>::create(
        [self, handler = std::move(handler)](wde::IDeviceWatcher*, wde::IDeviceInformation* info) {
            auto watcher = self.lock();
            if (!watcher || info == nullptr) return;
            handler(*watcher,
                    std::make_shared<WinrtDeviceInformation>(ComPtr<wde::IDeviceInformation>(info)));
        });
    EventRegistrationToken t{};
    check(watcher_->add_Added(delegate.Get(), &t), "DeviceWatcher.Added");
    return t.value;
}

void WinrtDeviceWatcher::removeAdded(platform::EventToken t) {
    check(watcher_->remove_Added(token(t)), "DeviceWatcher.Added");
}

namespace {

template <typename Add>
platform::EventToken addUpdateHandler(std::weak_ptr<WinrtDeviceWatcher> self,
                                      platform::DeviceWatcher::UpdatedHandler handler, Add add) {
    auto delegate = EventDelegate<UpdateHandler>::create(
        [self, handler = std::move(handler)](wde::IDeviceWatcher*, wde::IDeviceInformationUpdate* update) {
            auto watcher = self.lock();
            if (!watcher || update == nullptr) return;
            platform::DeviceInformationUpdate record = readUpdate(update);
            Delivery delivery(record, update);
            handler(*watcher, record);
        });
    return add(delegate.Get());
}

template <typename Add>
platform::EventToken addPlainHandler(std::weak_ptr<WinrtDeviceWatcher> self,
                                     platform::DeviceWatcher::SimpleHandler handler, Add add) {
    auto delegate = EventDelegate<PlainHandler>::create(
        [self, handler = std::move(handler)](wde::IDeviceWatcher*, IInspectable*) {
            if (auto watcher = self.lock()) handler(*watcher);
        });
    return add(delegate.Get());
}

}  // namespace

platform::EventToken WinrtDeviceWatcher::addUpdated(UpdatedHandler handler) {
    return addUpdateHandler(weak_from_this(), std::move(handler), [this](UpdateHandler* d) {
        EventRegistrationToken t{};
        check(watcher_->add_Updated(d, &t), "DeviceWatcher.Updated");
        return t.value;
    });
}

void WinrtDeviceWatcher::removeUpdated(platform::EventToken t) {
    check(watcher_->remove_Updated(token(t)), "DeviceWatcher.Updated");
}

platform::EventToken WinrtDeviceWatcher::addRemoved(RemovedHandler handler) {
    return addUpdateHandler(weak_from_this(), std::move(handler), [this](UpdateHandler* d) {
        EventRegistrationToken t{};
        check(watcher_->add_Removed(d, &t), "DeviceWatcher.Removed");
        return t.value;
    });
}

void WinrtDeviceWatcher::removeRemoved(platform::EventToken t) {
    check(watcher_->remove_Removed(token(t)), "DeviceWatcher.Removed");
}

platform::EventToken WinrtDeviceWatcher::addEnumerationCompleted(SimpleHandler handler) {
    return addPlainHandler(weak_from_this(), std::move(handler), [this](PlainHandler* d) {
        EventRegistrationToken t{};
        check(watcher_->add_EnumerationCompleted(d, &t), "DeviceWatcher.EnumerationCompleted");
        return t.value;
    });
}

void WinrtDeviceWatcher::removeEnumerationCompleted(platform::EventToken t) {
    check(watcher_->remove_EnumerationCompleted(token(t)), "DeviceWatcher.EnumerationCompleted");
}

platform::EventToken WinrtDeviceWatcher::addStopped(SimpleHandler handler) {
    return addPlainHandler(weak_from_this(), std::move(handler), [this](PlainHandler* d) {
        EventRegistrationToken t{};
        check(watcher_->add_Stopped(d, &t), "DeviceWatcher.Stopped");
        return t.value;
    });
}

void WinrtDeviceWatcher::removeStopped(platform::EventToken t) {
    check(watcher_->remove_Stopped(token(t)), "DeviceWatcher.Stopped");
}

void WinrtDeviceWatcher::start() {
    check(watcher_->Start(), "DeviceWatcher.Start");
}

void WinrtDeviceWatcher::stop() {
    check(watcher_->Stop(), "DeviceWatcher.Stop");
}

std::shared_ptr<platform::DeviceWatcher> createDeviceWatcher(
    const std::string& aqsFilter, const std::vector<std::string>& additionalProperties,
    platform::DeviceInformationKind kind) {
    auto statics = activationFactory<wde::IDeviceInformationStatics2>(
        RuntimeClass_Windows_Devices_Enumeration_DeviceInformation);
    HString filter(aqsFilter);
    ComPtr<StringIterable> properties = StringIterable::create(additionalProperties);
    ComPtr<wde::IDeviceWatcher> watcher;
    check(statics->CreateWatcherWithKindAqsFilterAndAdditionalProperties(
              filter.get(), properties.Get(), static_cast<wde::DeviceInformationKind>(kind),
              watcher.GetAddressOf()),
          "DeviceInformation.CreateWatcher");
    if (!watcher) raise(E_POINTER, "DeviceInformation.CreateWatcher");
    return std::make_shared<WinrtDeviceWatcher>(std::move(watcher));
}

}  // namespace qb::winrt
