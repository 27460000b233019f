// The process around the peripherals: one thread polls every controller's socket and runs the jobs
// the model posts, and turns signals into requests (stop, drop the link, out of range).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Peripheral.h"
#include "UserChannel.h"

namespace qb::hci {

enum class Request { Stop, DropLink, ToggleRange };

class Runner {
  public:
    Runner();
    ~Runner();
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // The runner owns the channel; the peripheral is made over it with the runner's post.
    void add(std::unique_ptr<UserChannel> channel, std::shared_ptr<emulator::VirtualBridge> bridge);

    // Until every peripheral has stopped (or failed); 0 when all stopped as asked.
    int run();

    // Safe from a signal handler.
    void request(Request request);

    // For the control object. post: from any thread, runs the job on the runner's thread. The rest
    // on that thread only. replace: the controller serves this bridge from now on, set up afresh
    // once the old peripheral has ended its link (peripheral(slot) is the new one at once).
    // The refusal is asked before each controller's ATT server serves a read or write request.
    void post(std::function<void()> job);
    std::size_t size() const;
    Peripheral& peripheral(std::size_t slot);
    void replace(std::size_t slot, std::shared_ptr<emulator::VirtualBridge> bridge);
    using Refusal = std::function<std::optional<std::uint8_t>(std::size_t slot, std::uint8_t opcode, std::uint16_t handle)>;
    void setRefusal(Refusal refusal);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qb::hci
