// A controller for the peripheral's tests, answering as btvirt's virtual controllers do (one LE ACL
// buffer of 192 bytes, a completed-packets event for every ACL packet) unless a test says otherwise,
// and an ATT client on the far side of its link.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "HciPackets.h"
#include "L2cap.h"
#include "Peripheral.h"

namespace qb::hci::test {

struct SentCommand {
    std::uint16_t opcode = 0;
    Bytes parameters;
};

class FakeController : public HciTransport {
  public:
    std::uint16_t aclMtu = 192;
    std::uint8_t aclBuffers = 1;
    bool autoComplete = true;  // a completed-packets event for every ACL packet, as btvirt sends
    platform::BluetoothAddress address{0x00AA01010001ull};
    std::uint16_t manufacturer = 1521;  // btvirt's
    std::function<std::optional<std::uint8_t>(std::uint16_t opcode)> statusFor;  // nullopt: success

    std::vector<SentCommand> commands;
    std::vector<Bytes> aclSent;          // every ACL packet, as sent
    std::vector<L2capFrame> framesSent;  // the same joined into frames
    std::deque<Bytes> toHost;            // what the controller has to deliver

    void send(const Bytes& h4) override;

    // Delivery to the peripheral happens only here, never inside send(), as on a real socket.
    void deliver(Peripheral& peripheral);

    // Events and data from the controller.
    void commandComplete(std::uint16_t opcode, const Bytes& returned);
    void connect(std::uint16_t handle, std::uint8_t role = 0x01, bool enhanced = false);
    void disconnectionComplete(std::uint16_t handle, std::uint8_t reason);
    void completed(std::uint16_t handle, std::uint16_t count);
    // An L2CAP frame from the central, cut into ACL packets of 27 bytes as an LE link carries them.
    void frameFromHost(std::uint16_t handle, std::uint16_t channel, const Bytes& payload);

    std::vector<std::uint16_t> opcodes() const;
    // ATT PDUs the peripheral sent, from the index given on.
    std::vector<Bytes> attSent(std::size_t from = 0) const;

  private:
    Reassembler joiner_{4096};
    std::uint16_t lastHandle_ = 0;
};

// Runs the peripheral's posted jobs on the test's thread, as the runner does on its own.
class JobQueue {
  public:
    Peripheral::Post poster();
    void runPending();
    // Delivers controller packets and posted jobs until done() or the time is up.
    bool runUntil(Peripheral& peripheral, FakeController& controller, const std::function<bool()>& done,
                  std::chrono::milliseconds limit = std::chrono::milliseconds(3000));

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::function<void()>> jobs_;
};

}  // namespace qb::hci::test
