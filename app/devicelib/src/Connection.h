// One link to a bridge: its characteristics, its notifications and its library thread. Every
// operation answers with a QB7720LIB_* result and never throws.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "PauseGate.h"
#include "QB7720lib.h"
#include "SerialQueue.h"
#include "qb7720/protocol/BridgeFacts.h"
#include "qb7720/platform/Platform.h"

namespace qb::devicelib {

struct Characteristic {
    std::shared_ptr<platform::GattCharacteristic> object;
    platform::Guid uuid;
    std::uint32_t properties = 0;
    std::uint16_t valueHandle = 0;
};

// What a successful set-up hands over: the device with its link up, every characteristic the device
// let us see (in discovery order) and the session.
struct Link {
    std::shared_ptr<platform::Platform> platform;
    std::shared_ptr<platform::BluetoothLEDevice> device;
    std::shared_ptr<platform::GattSession> session;
    std::vector<Characteristic> characteristics;
    std::uint16_t mtu = 23;
};

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    static constexpr std::uint16_t kMinimumMtu = 23;
    static constexpr std::chrono::milliseconds kReplyDelay = protocol::kReplyDelay;

    // Connects and finds the bridge's characteristics; null on any failure or when it takes longer
    // than timeout (the attempt then finishes in the background and lets the device go).
    static std::shared_ptr<Connection> open(std::shared_ptr<platform::Platform> platform,
                                            std::uint64_t address, std::chrono::milliseconds timeout);

    explicit Connection(Link link);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The connection's library thread, where all its callbacks run.
    SerialQueue& events() { return events_; }

    int currentMtu(std::uint16_t& mtu);
    std::uint16_t writeLimitMtu() const { return mtu_.load(); }

    int registerOnDisconnect(qb7720_disconnect_cb_t callback, void* userData);
    int registerNotification(qb7720_notification_cb_t callback);
    int openNotification(const platform::Guid& uuid);
    int closeNotification(const platform::Guid& uuid);

    int write(std::uint16_t valueHandle, bool withResponse, const std::uint8_t* data, std::size_t count);

    int setSerial(std::uint32_t baud, std::uint8_t dataBits, std::uint8_t stopBits, std::uint8_t parity);
    int setModem(std::uint8_t flowControl, std::uint8_t dtr, std::uint8_t rts);

    bool lost() const { return lost_.load(); }
    // Drops the link; no callback of this connection starts afterwards. Idempotent.
    void close();

  private:
    struct Subscription {
        Characteristic characteristic;
        platform::EventToken token = 0;
    };

    // Registers for link changes; false when the link is already down.
    bool attach();
    void onStatusChanged();
    void onValue(const platform::Guid& uuid, const platform::Bytes& value);
    void reportLoss();
    const Characteristic* findByUuid(const platform::Guid& uuid) const;
    const Characteristic* findByHandle(std::uint16_t valueHandle) const;
    int exchangeCommand(const std::vector<std::uint8_t>& frame);
    // Called with writeMutex_ held. Serial data sent without response travels apart from writes to
    // other characteristics (its own socket, on BlueZ), so before one of those a write request of no
    // bytes on the data characteristic makes sure the data has arrived.
    int confirmEarlierWrites(const Characteristic& next);
    int writeLocked(const Characteristic& c, bool withResponse, const platform::Bytes& value);

    Link link_;
    const Characteristic* command_ = nullptr;
    const Characteristic* transmit_ = nullptr;
    std::atomic<std::uint16_t> mtu_;
    std::atomic<bool> closed_{false};
    std::atomic<bool> lost_{false};
    platform::EventToken statusToken_ = 0;

    std::mutex mutex_;  // callbacks and the loss report
    qb7720_disconnect_cb_t disconnectCallback_ = nullptr;
    void* disconnectUserData_ = nullptr;
    bool lossReported_ = false;
    qb7720_notification_cb_t notificationCallback_ = nullptr;

    std::mutex subscriptionMutex_;                         // open/close of notifications, one at a time
    std::map<std::uint16_t, Subscription> subscriptions_;  // by value handle

    std::mutex commandMutex_;  // one command exchange at a time: each reads its own reply

    std::mutex writeMutex_;  // writes one at a time, so that they keep their order
    bool dataUnconfirmed_ = false;  // serial data written without response since the last answer
    PauseGate pause_;
    std::atomic<std::uint32_t> lineBaud_{115200};  // the bridge's line, as last set through us

    SerialQueue events_;
};

}  // namespace qb::devicelib
