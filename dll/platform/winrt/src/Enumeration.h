// DeviceInformation and DeviceWatcher over the runtime's enumeration classes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Abi.h"
#include "qb7720/platform/Enumeration.h"

namespace qb::winrt {

class WinrtDeviceInformation final : public platform::DeviceInformation {
  public:
    explicit WinrtDeviceInformation(ComPtr<wde::IDeviceInformation> info) : info_(std::move(info)) {}

    std::string id() override;
    std::string name() override;
    // Applies the runtime update that is being delivered on this thread when `update` is its record;
    // an update record from anywhere else carries nothing the runtime object could take.
    void update(const platform::DeviceInformationUpdate& update) override;

  private:
    ComPtr<wde::IDeviceInformation> info_;
};

class WinrtDeviceWatcher final : public platform::DeviceWatcher,
                                 public std::enable_shared_from_this<WinrtDeviceWatcher> {
  public:
    explicit WinrtDeviceWatcher(ComPtr<wde::IDeviceWatcher> watcher) : watcher_(std::move(watcher)) {}

    platform::EventToken addAdded(AddedHandler handler) override;
    void removeAdded(platform::EventToken token) override;
    platform::EventToken addUpdated(UpdatedHandler handler) override;
    void removeUpdated(platform::EventToken token) override;
    platform::EventToken addRemoved(RemovedHandler handler) override;
    void removeRemoved(platform::EventToken token) override;
    platform::EventToken addEnumerationCompleted(SimpleHandler handler) override;
    void removeEnumerationCompleted(platform::EventToken token) override;
    platform::EventToken addStopped(SimpleHandler handler) override;
    void removeStopped(platform::EventToken token) override;

    void start() override;
    void stop() override;

  private:
    ComPtr<wde::IDeviceWatcher> watcher_;
};

// DeviceInformation.CreateWatcher(aqsFilter, additionalProperties, kind).
std::shared_ptr<platform::DeviceWatcher> createDeviceWatcher(
    const std::string& aqsFilter, const std::vector<std::string>& additionalProperties,
    platform::DeviceInformationKind kind);

}  // namespace qb::winrt
