#include "Connection.h"

#include <algorithm>
#include <condition_variable>
#include <thread>

#include "Delivery.h"
#include "LinkSetup.h"
#include "UuidText.h"
#include "qb7720/protocol/BaudRate.h"
#include "qb7720/protocol/Frames.h"
#include "qb7720/protocol/Types.h"

namespace qb::devicelib {

using platform::GattClientCharacteristicConfigurationDescriptorValue;
using platform::GattCommunicationStatus;

namespace {

int failureOf(const platform::PlatformError& error) {
    return error.code() == platform::hresult::kDeviceNotConnected ? QB7720LIB_E_NOT_CONNECTED
                                                                  : QB7720LIB_E_REFUSED;
}

struct Attempt {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    std::shared_ptr<Connection> result;
};

}  // namespace

std::shared_ptr<Connection> Connection::open(std::shared_ptr<platform::Platform> platform,
                                             std::uint64_t address, std::chrono::milliseconds timeout) {
    if (!platform) return nullptr;
    auto attempt = std::make_shared<Attempt>();
    // The platform's calls have no time limit of their own, so the attempt runs where we can leave it.
    std::thread([platform, address, attempt] {
        std::shared_ptr<Connection> connection;
        if (auto link = establishLink(platform, address)) {
            connection = std::make_shared<Connection>(std::move(*link));
            if (!connection->attach()) {
                connection->close();
                connection.reset();
            }
        }
        std::unique_lock<std::mutex> lock(attempt->mutex);
        if (attempt->abandoned) {
            lock.unlock();
            if (connection) connection->close();
            return;
        }
        attempt->result = std::move(connection);
        attempt->done = true;
        attempt->finished.notify_all();
    }).detach();

    std::unique_lock<std::mutex> lock(attempt->mutex);
    if (!attempt->finished.wait_for(lock, timeout, [&] { return attempt->done; })) {
        attempt->abandoned = true;
        return nullptr;
    }
    return std::move(attempt->result);
}

Connection::Connection(Link link) : link_(std::move(link)), mtu_(link_.mtu) {
    command_ = findShortUuid(link_.characteristics, kCommandUuid);
    transmit_ = findShortUuid(link_.characteristics, kTransmitUuid);
}

Connection::~Connection() {
    close();
}

bool Connection::attach() {
    std::weak_ptr<Connection> weak = weak_from_this();
    try {
        statusToken_ = link_.device->addConnectionStatusChanged([weak](platform::BluetoothLEDevice&) {
            if (auto self = weak.lock()) self->onStatusChanged();
        });
        return link_.device->connectionStatus() == platform::BluetoothConnectionStatus::Connected;
    } catch (const std::exception&) {
        return false;
    }
}

void Connection::onStatusChanged() {
    if (closed_.load()) return;
    try {
        if (link_.device->connectionStatus() != platform::BluetoothConnectionStatus::Disconnected) return;
    } catch (const std::exception&) {
        return;
    }
    if (lost_.exchange(true)) return;
    pause_.clear();
    reportLoss();
}

void Connection::reportLoss() {
    std::weak_ptr<Connection> weak = weak_from_this();
    events_.post([weak] {
        auto self = weak.lock();
        if (!self || self->closed_.load()) return;
        qb7720_disconnect_cb_t callback = nullptr;
        void* userData = nullptr;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            if (self->lossReported_ || self->disconnectCallback_ == nullptr) return;
            self->lossReported_ = true;
            callback = self->disconnectCallback_;
            userData = self->disconnectUserData_;
        }
        callback(userData);
    });
}

int Connection::currentMtu(std::uint16_t& mtu) {
    if (lost_.load()) return QB7720LIB_E_NOT_CONNECTED;
    try {
        std::uint16_t value = link_.session->maxPduSize();
        if (value < kMinimumMtu) value = kMinimumMtu;
        mtu_.store(value);
        mtu = value;
        return QB7720LIB_OK;
    } catch (const platform::PlatformError& error) {
        return failureOf(error);
    } catch (const std::exception&) {
        return QB7720LIB_E_REFUSED;
    }
}

int Connection::registerOnDisconnect(qb7720_disconnect_cb_t callback, void* userData) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        disconnectCallback_ = callback;
        disconnectUserData_ = userData;
    }
    // A loss that came before anyone listened is still told, once.
    if (callback != nullptr && lost_.load()) reportLoss();
    return QB7720LIB_OK;
}

int Connection::registerNotification(qb7720_notification_cb_t callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    notificationCallback_ = callback;
    return QB7720LIB_OK;
}

const Characteristic* Connection::findByUuid(const platform::Guid& uuid) const {
    for (const auto& c : link_.characteristics) {
        if (matchesUuid(c.uuid, uuid)) return &c;
    }
    return nullptr;
}

const Characteristic* Connection::findByHandle(std::uint16_t valueHandle) const {
    for (const auto& c : link_.characteristics) {
        if (c.valueHandle == valueHandle) return &c;
    }
    return nullptr;
}

void Connection::onValue(const platform::Guid& uuid, const platform::Bytes& value) {
    if (closed_.load()) return;
    // Here on the platform's thread, not behind the callbacks queued before it: a pause must hold
    // the very next write.
    if (command_ != nullptr && matchesUuid(command_->uuid, uuid)) pause_.onCommandValue(value.data(), value.size());
    auto buffer = std::make_shared<std::vector<std::uint8_t>>(paddedCopy(value.data(), value.size()));
    const std::size_t length = value.size();
    const uuid_t gattUuid = toGattUuid(uuid);
    std::weak_ptr<Connection> weak = weak_from_this();
    events_.post([weak, buffer, length, gattUuid] {
        auto self = weak.lock();
        if (!self || self->closed_.load()) return;
        qb7720_notification_cb_t callback = nullptr;
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            callback = self->notificationCallback_;
        }
        if (callback == nullptr) return;
        DeliveryScope scope(buffer->data(), length);
        callback(&gattUuid, buffer->data(), static_cast<unsigned long>(length));
    });
}

int Connection::openNotification(const platform::Guid& uuid) {
    if (closed_.load()) return QB7720LIB_E_ARGUMENT;
    if (lost_.load()) return QB7720LIB_E_NOT_CONNECTED;
    const Characteristic* c = findByUuid(uuid);
    if (c == nullptr) return QB7720LIB_E_NO_CHARACTERISTIC;
    using platform::gatt_property::kIndicate;
    using platform::gatt_property::kNotify;
    if ((c->properties & (kNotify | kIndicate)) == 0) return QB7720LIB_E_REFUSED;

    std::lock_guard<std::mutex> lock(subscriptionMutex_);
    // close() marks the connection before it takes this lock: either it sees our subscription or we see it.
    if (closed_.load()) return QB7720LIB_E_ARGUMENT;
    if (subscriptions_.count(c->valueHandle) != 0) return QB7720LIB_OK;
    const auto descriptor = (c->properties & kIndicate) != 0
                                ? GattClientCharacteristicConfigurationDescriptorValue::Indicate
                                : GattClientCharacteristicConfigurationDescriptorValue::Notify;
    std::weak_ptr<Connection> weak = weak_from_this();
    const platform::Guid characteristicUuid = c->uuid;
    platform::EventToken token = 0;
    try {
        // The handler goes first so that no value notified right after the descriptor write is lost.
        token = c->object->addValueChanged(
            [weak, characteristicUuid](platform::GattCharacteristic&, const platform::Bytes& value) {
                if (auto self = weak.lock()) self->onValue(characteristicUuid, value);
            });
        if (c->object->writeClientCharacteristicConfigurationDescriptor(descriptor) !=
            GattCommunicationStatus::Success) {
            c->object->removeValueChanged(token);
            return QB7720LIB_E_REFUSED;
        }
    } catch (const platform::PlatformError& error) {
        try {
            if (token != 0) c->object->removeValueChanged(token);
        } catch (const std::exception&) {
        }
        return failureOf(error);
    } catch (const std::exception&) {
        return QB7720LIB_E_REFUSED;
    }
    subscriptions_[c->valueHandle] = Subscription{*c, token};
    return QB7720LIB_OK;
}

int Connection::closeNotification(const platform::Guid& uuid) {
    if (closed_.load()) return QB7720LIB_E_ARGUMENT;
    const Characteristic* c = findByUuid(uuid);
    if (c == nullptr) return QB7720LIB_E_NO_CHARACTERISTIC;
    std::lock_guard<std::mutex> lock(subscriptionMutex_);
    auto it = subscriptions_.find(c->valueHandle);
    if (it == subscriptions_.end()) return QB7720LIB_OK;
    try {
        // Without a link the bridge notifies nothing anyway; only our handler is left to remove.
        if (!lost_.load() && c->object->writeClientCharacteristicConfigurationDescriptor(
                                 GattClientCharacteristicConfigurationDescriptorValue::None) !=
                                 GattCommunicationStatus::Success) {
            return QB7720LIB_E_REFUSED;
        }
        c->object->removeValueChanged(it->second.token);
    } catch (const platform::PlatformError& error) {
        if (!lost_.load()) return failureOf(error);
    } catch (const std::exception&) {
        return QB7720LIB_E_REFUSED;
    }
    subscriptions_.erase(it);
    return QB7720LIB_OK;
}

int Connection::write(std::uint16_t valueHandle, bool withResponse, const std::uint8_t* data,
                      std::size_t count) {
    if (closed_.load()) return QB7720LIB_E_ARGUMENT;
    if (count == 0) return QB7720LIB_OK;
    if (data == nullptr) return QB7720LIB_E_ARGUMENT;
    if (lost_.load()) return QB7720LIB_E_NOT_CONNECTED;
    const std::size_t payload = static_cast<std::size_t>(mtu_.load()) - protocol::kAttWriteHeader;
    if (count > std::min(payload, protocol::kMaxAttributeValue)) return QB7720LIB_E_TOO_LONG;
    const Characteristic* c = findByHandle(valueHandle);
    if (c == nullptr) return QB7720LIB_E_NO_CHARACTERISTIC;
    std::lock_guard<std::mutex> order(writeMutex_);
    if (c == transmit_) {
        // What the bridge's line cannot take yet would be lost in its full buffer.
        const bool clear = pause_.waitForResume([this](std::chrono::milliseconds d) { link_.platform->sleep(d); },
                                                PauseGate::budgetFor(lineBaud_.load()),
                                                [this] { return closed_.load() || lost_.load(); });
        if (lost_.load()) return QB7720LIB_E_NOT_CONNECTED;
        if (closed_.load()) return QB7720LIB_E_ARGUMENT;
        if (!clear) return QB7720LIB_E_PAUSED;
    }
    return writeLocked(*c, withResponse, platform::Bytes(data, data + count));
}

int Connection::writeLocked(const Characteristic& c, bool withResponse, const platform::Bytes& value) {
    if (const int confirmed = confirmEarlierWrites(c); confirmed != QB7720LIB_OK) return confirmed;
    try {
        const auto option = withResponse ? platform::GattWriteOption::WriteWithResponse
                                         : platform::GattWriteOption::WriteWithoutResponse;
        if (c.object->writeValueWithResult(value, option) != GattCommunicationStatus::Success)
            return QB7720LIB_E_REFUSED;
        // A write request on the data characteristic arrives after the data written before it.
        if (&c == transmit_) dataUnconfirmed_ = !withResponse;
        return QB7720LIB_OK;
    } catch (const platform::PlatformError& error) {
        return failureOf(error);
    } catch (const std::exception&) {
        return QB7720LIB_E_REFUSED;
    }
}

int Connection::confirmEarlierWrites(const Characteristic& next) {
    if (!dataUnconfirmed_ || &next == transmit_) return QB7720LIB_OK;
    dataUnconfirmed_ = false;
    // Nothing to ask an answer of: the order is left to the platform.
    if ((transmit_->properties & platform::gatt_property::kWrite) == 0) return QB7720LIB_OK;
    try {
        // No bytes reach the line; the answer only comes once everything before it has arrived.
        return transmit_->object->writeValueWithResult({}, platform::GattWriteOption::WriteWithResponse) ==
                       GattCommunicationStatus::Success
                   ? QB7720LIB_OK
                   : QB7720LIB_E_REFUSED;
    } catch (const platform::PlatformError& error) {
        return failureOf(error);
    } catch (const std::exception&) {
        return QB7720LIB_E_REFUSED;
    }
}

int Connection::exchangeCommand(const std::vector<std::uint8_t>& frame) {
    if (closed_.load()) return QB7720LIB_E_ARGUMENT;
    if (lost_.load()) return QB7720LIB_E_NOT_CONNECTED;
    if (command_ == nullptr) return QB7720LIB_E_NO_CHARACTERISTIC;
    std::lock_guard<std::mutex> lock(commandMutex_);
    {
        std::lock_guard<std::mutex> order(writeMutex_);
        if (const int written = writeLocked(*command_, false, frame); written != QB7720LIB_OK) return written;
    }
    try {
        // The bridge needs this long to apply the setting before its reply is there to read.
        link_.platform->sleep(kReplyDelay);
        const auto reply = command_->object->readValue(platform::BluetoothCacheMode::Uncached);
        return reply.status == GattCommunicationStatus::Success ? QB7720LIB_OK : QB7720LIB_E_REFUSED;
    } catch (const platform::PlatformError& error) {
        return failureOf(error);
    } catch (const std::exception&) {
        return QB7720LIB_E_REFUSED;
    }
}

int Connection::setSerial(std::uint32_t baud, std::uint8_t dataBits, std::uint8_t stopBits,
                          std::uint8_t parity) {
    const std::uint32_t encodable = protocol::encodableBaudRate(baud);
    const int result = exchangeCommand(protocol::encodeSetSerial(encodable, dataBits, stopBits, parity));
    // A rate the bridge cannot take leaves its line as it was.
    if (result == QB7720LIB_OK && encodable != 0) lineBaud_.store(encodable);
    return result;
}

int Connection::setModem(std::uint8_t flowControl, std::uint8_t dtr, std::uint8_t rts) {
    return exchangeCommand(protocol::encodeSetModem(flowControl, dtr, rts));
}

void Connection::close() {
    if (closed_.exchange(true)) return;
    std::map<std::uint16_t, Subscription> subscriptions;
    {
        std::lock_guard<std::mutex> lock(subscriptionMutex_);
        subscriptions.swap(subscriptions_);
    }
    for (auto& [handle, subscription] : subscriptions) {
        try {
            subscription.characteristic.object->removeValueChanged(subscription.token);
        } catch (const std::exception&) {
        }
    }
    try {
        if (statusToken_ != 0 && link_.device) link_.device->removeConnectionStatusChanged(statusToken_);
    } catch (const std::exception&) {
    }
    statusToken_ = 0;
    pause_.clear();
    // Values already queued are dropped; a callback running now is waited for.
    events_.shutdown();
    dropLink(link_);
}

}  // namespace qb::devicelib
