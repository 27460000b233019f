// One emulated bridge served from one controller as an LE peripheral: it sets the controller up,
// advertises as a bridge, takes one connection at a time, serves ATT over L2CAP's fixed channel and
// advertises again once the link is gone. Everything runs on one thread, the one that calls its
// methods; the transport carries H4 packets both ways, so tests drive it without a controller.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "AttServer.h"
#include "HciPackets.h"
#include "L2cap.h"
#include "qb7720/emulator/Bridge.h"

namespace qb::hci {

class HciTransport {
  public:
    virtual ~HciTransport() = default;
    virtual void send(const Bytes& h4) = 0;
};

class Peripheral {
  public:
    enum class State { Idle, SettingUp, Ready, Connected, Stopped, Failed };
    using Log = std::function<void(const std::string&)>;
    using Clock = std::chrono::steady_clock;
    // Runs a job later on the peripheral's thread; the model's events arrive through it.
    using Post = std::function<void(std::function<void()>)>;

    // Notifications of the model beyond this many queued bytes are dropped (and counted): a host that
    // does not take the data must not make the peripheral grow without end.
    static constexpr std::size_t kMaxQueuedBytes = 8u << 20;
    // The kernel's virtual controllers report an advertisement to scanners only when advertising or
    // scanning is switched on, not every interval as a radio does; on them the peripheral switches
    // advertising off and on again this often, so that scanners keep hearing the bridge.
    static constexpr std::uint16_t kVirtualControllerManufacturer = 1521;
    static constexpr std::chrono::milliseconds kMinRepeat{500};
    // A virtual controller's own number for its first link (a peripheral has one at a time).
    static constexpr std::uint16_t kVirtualControllerHandle = 0x002A;

    Peripheral(HciTransport& transport, std::shared_ptr<emulator::VirtualBridge> bridge, Post post, Log log);
    ~Peripheral();
    Peripheral(const Peripheral&) = delete;
    Peripheral& operator=(const Peripheral&) = delete;

    void start();
    void receive(ByteView h4);
    // The link drops now (the host sees the bridge go away); advertising resumes afterwards.
    void dropLink();
    // Out of range: the link drops and the bridge stays silent until back in range.
    void setOutOfRange(bool outOfRange);
    bool outOfRange() const { return outOfRange_; }
    // Disconnects, stops advertising, then Stopped.
    void stop();
    // Time-driven work (the repeated advertisement); nextTick() says when it is next due.
    void tick(Clock::time_point now);
    std::optional<Clock::time_point> nextTick() const;

    State state() const { return state_; }
    bool finished() const { return state_ == State::Stopped || state_ == State::Failed; }
    bool advertising() const { return advertising_; }
    platform::BluetoothAddress controllerAddress() const { return address_; }
    bool repeatsAdvertising() const { return repeatAdvertising_; }
    std::uint16_t connectionHandle() const { return handle_; }
    std::uint16_t attMtu() const { return att_.mtu(); }
    void setAttRefusal(AttServer::Refusal refusal) { att_.setRefusal(std::move(refusal)); }
    std::size_t aclBuffers() const { return aclTotal_; }
    std::size_t queuedPackets() const { return aclQueue_.size(); }
    std::uint64_t droppedNotifications() const { return droppedNotifications_; }

  private:
    struct Command {
        std::uint16_t opcode = 0;
        Bytes parameters;
        std::function<void(std::uint8_t status, ByteView returned)> done;
    };
    struct ModelListener;

    void command(std::uint16_t opcode, Bytes parameters,
                 std::function<void(std::uint8_t, ByteView)> done = nullptr);
    void pumpCommands();
    void onEvent(const Event& event);
    void onCommandDone(std::uint16_t opcode, std::uint8_t credits, std::uint8_t status, ByteView returned);
    void onConnected(const LeConnectionComplete& c);
    void onDisconnected(const DisconnectionComplete& d);
    void onAcl(const AclData& acl);
    void onFrame(const L2capFrame& frame);
    void sendFrame(std::uint16_t cid, const Bytes& payload);
    void pumpAcl();
    void notifyFromModel(std::uint16_t valueHandle, const Bytes& value);

    void setUp();
    void setUpAdvertising();
    // The model's new name goes into the advertisement and the scan response.
    void advertiseName();
    void setAdvertising(bool on);
    void repeatAdvertising();
    void finishStop();
    void fail(const std::string& why);
    void logf(const char* format, ...) __attribute__((format(printf, 2, 3)));

    HciTransport& transport_;
    std::shared_ptr<emulator::VirtualBridge> bridge_;
    Log log_;
    AttServer att_;
    Reassembler reassembler_;
    std::shared_ptr<ModelListener> listener_;
    std::uint64_t listenerToken_ = 0;

    State state_ = State::Idle;
    bool stopping_ = false;
    bool outOfRange_ = false;
    bool advertising_ = false;
    platform::BluetoothAddress address_;
    bool repeatAdvertising_ = false;
    std::chrono::milliseconds repeatPeriod_{kMinRepeat};
    Clock::time_point nextRepeat_{};

    std::deque<Command> commands_;
    bool commandOutstanding_ = false;
    Command outstanding_;
    std::uint8_t commandCredits_ = 1;

    static constexpr std::uint16_t kNoHandle = 0xFFFF;
    std::uint16_t handle_ = kNoHandle;
    std::size_t aclMtu_ = 27;
    std::size_t aclTotal_ = 1;
    std::size_t aclFree_ = 1;
    std::deque<Bytes> aclQueue_;
    std::size_t queuedBytes_ = 0;
    std::uint64_t droppedNotifications_ = 0;
};

const char* stateName(Peripheral::State state);

}  // namespace qb::hci
