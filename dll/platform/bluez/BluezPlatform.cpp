#include "BluezPlatform.h"

#include <cstdio>
#include <thread>

#include "Addressing.h"
#include "Device.h"
#include "Mgmt.h"
#include "Watchers.h"
#include "qb7720/platform/Backends.h"

namespace qb::bluez {
namespace {

using platform::PlatformError;

class BluezRadio : public platform::BluetoothRadio {
  public:
    BluezRadio(std::shared_ptr<Context> context, std::string path)
        : context_(std::move(context)), path_(std::move(path)) {}
    bool getRadioInfo() override { return context_->bus().properties(path_, kAdapterIface).has_value(); }
    bool getLocalInfo(platform::LocalRadioInfo& info) override {
        auto version = adapterVersion(*context_, path_);
        if (!version) return false;
        info[platform::kLocalRadioInfoVersionOffset] = static_cast<std::uint8_t>(*version);
        return true;
    }

  private:
    std::shared_ptr<Context> context_;
    std::string path_;
};

class BluezRadioFind : public platform::BluetoothRadioFind {
  public:
    explicit BluezRadioFind(std::vector<std::shared_ptr<platform::BluetoothRadio>> radios)
        : radios_(std::move(radios)) {}
    std::shared_ptr<platform::BluetoothRadio> first() override { return radios_.front(); }
    bool findNext(std::shared_ptr<platform::BluetoothRadio>& radio) override {
        if (next_ >= radios_.size()) return false;
        radio = radios_[next_++];
        return true;
    }

  private:
    std::vector<std::shared_ptr<platform::BluetoothRadio>> radios_;
    std::size_t next_ = 1;
};

std::optional<std::uint16_t> controllerIndex(const std::string& adapterPath) {
    const std::string name = adapterNameOf(adapterPath);
    if (name.size() < 4 || name.compare(0, 3, "hci") != 0 || name.size() > 8) return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(name[i] - '0');
    }
    if (value >= 0xFFFF) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<int> adapterVersion(Context& context, const std::string& adapterPath) {
    if (auto index = controllerIndex(adapterPath)) {
        if (auto version = mgmt::readControllerVersion(*index, std::chrono::seconds(1))) return version;
    }
    if (auto version =
            variantAs<std::uint8_t>(context.bus().property(adapterPath, kAdapterIface, "Version"))) {
        return *version;
    }
    return std::nullopt;
}

std::shared_ptr<Context> BluezPlatform::context() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!context_) context_ = std::make_shared<Context>(Bus::connect());
    return context_;
}

std::shared_ptr<platform::DeviceWatcher> BluezPlatform::deviceInformationCreateWatcher(
    const std::string&, const std::vector<std::string>&, platform::DeviceInformationKind) {
    // Every LE device the adapter knows is an association endpoint; the query text has no other meaning here.
    return std::make_shared<BluezDeviceWatcher>(context());
}

std::shared_ptr<platform::BluetoothLEAdvertisementWatcher>
BluezPlatform::createBluetoothLEAdvertisementWatcher() {
    return std::make_shared<BluezAdvertisementWatcher>(context());
}

std::shared_ptr<platform::BluetoothLEDevice> BluezPlatform::bluetoothLEDeviceFromId(
    const std::string& deviceId) {
    auto parts = parseDeviceId(deviceId);
    if (!parts) return nullptr;
    auto ctx = context();
    std::string adapter;
    try {
        adapter = ctx->adapterByName(parts->adapterName);
    } catch (const PlatformError&) {
        return nullptr;
    }
    const std::string path = devicePath(adapter, parts->address);
    if (!ctx->bus().properties(path, kDeviceIface)) return nullptr;
    return BluezDevice::create(ctx, path, makeDeviceId(adapterNameOf(adapter), parts->address),
                               parts->address);
}

std::shared_ptr<platform::BluetoothLEDevice> BluezPlatform::bluetoothLEDeviceFromBluetoothAddress(
    std::uint64_t address) {
    return bluetoothLEDeviceFromId(formatAddress(address & 0xFFFFFFFFFFFFull));
}

std::shared_ptr<platform::GattSession> BluezPlatform::gattSessionFromDeviceId(
    const std::string& bluetoothDeviceId) {
    auto parts = parseDeviceId(bluetoothDeviceId);
    if (!parts)
        throw PlatformError(platform::hresult::kInvalidArg, "not a device identifier: " + bluetoothDeviceId);
    auto ctx = context();
    return std::make_shared<BluezSession>(ctx,
                                          devicePath(ctx->adapterByName(parts->adapterName), parts->address));
}

std::unique_ptr<platform::BluetoothRadioFind> BluezPlatform::bluetoothFindFirstRadio() {
    std::shared_ptr<Context> ctx;
    try {
        ctx = context();
    } catch (const PlatformError&) {
        return nullptr;
    }
    std::vector<std::shared_ptr<platform::BluetoothRadio>> radios;
    for (const auto& path : ctx->bus().objectsWith(kAdapterIface)) {
        // A switched-off radio is not found, as with the classic radio search.
        if (!variantAs<bool>(ctx->bus().property(path, kAdapterIface, "Powered")).value_or(false)) continue;
        radios.push_back(std::make_shared<BluezRadio>(ctx, path));
    }
    if (radios.empty()) return nullptr;
    return std::make_unique<BluezRadioFind>(std::move(radios));
}

std::optional<int> BluezPlatform::localControllerVersion() {
    try {
        auto ctx = context();
        return adapterVersion(*ctx, ctx->defaultAdapter());
    } catch (const PlatformError&) {
        return std::nullopt;
    }
}

void BluezPlatform::sleep(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

void BluezPlatform::outputDebugString(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

std::shared_ptr<platform::Platform> createPlatform() {
    return std::make_shared<BluezPlatform>();
}

}  // namespace qb::bluez
