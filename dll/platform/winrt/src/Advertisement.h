// BluetoothLEAdvertisementWatcher over the runtime's advertisement watcher.
#pragma once

#include <memory>

#include "Abi.h"
#include "qb7720/platform/Advertisement.h"

namespace qb::winrt {

class WinrtAdvertisementWatcher final : public platform::BluetoothLEAdvertisementWatcher,
                                        public std::enable_shared_from_this<WinrtAdvertisementWatcher> {
  public:
    explicit WinrtAdvertisementWatcher(ComPtr<adv::IBluetoothLEAdvertisementWatcher> watcher)
        : watcher_(std::move(watcher)) {}

    platform::EventToken addReceived(ReceivedHandler handler) override;
    void removeReceived(platform::EventToken token) override;
    platform::EventToken addStopped(StoppedHandler handler) override;
    void removeStopped(platform::EventToken token) override;
    void start() override;
    void stop() override;

  private:
    ComPtr<adv::IBluetoothLEAdvertisementWatcher> watcher_;
};

// A watcher with default settings: no filters, the platform's scanning mode.
std::shared_ptr<platform::BluetoothLEAdvertisementWatcher> createAdvertisementWatcher();

// Everything the library reads from one received advertisement.
platform::BluetoothLEAdvertisementReceivedEventArgs readAdvertisement(
    adv::IBluetoothLEAdvertisementReceivedEventArgs* args);

}  // namespace qb::winrt
