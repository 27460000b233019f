// A bridge's latest pause request as its status reports give it, and the bounded wait that holds
// serial data back while it stands.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace qb::devicelib {

class PauseGate {
  public:
    using Sleep = std::function<void(std::chrono::milliseconds)>;

    // A value the bridge notified on its command characteristic; only status reports move the state.
    void onCommandValue(const std::uint8_t* data, std::size_t size);
    bool paused() const { return paused_.load(); }
    // The link is gone: its pause went with it.
    void clear() { paused_.store(false); }

    // Sleeps in 1 ms steps while paused, for at most budget, or until giveUp() says so. True when the
    // bridge lets data through.
    bool waitForResume(const Sleep& sleep, std::chrono::milliseconds budget,
                       const std::function<bool()>& giveUp) const;

    // How long a bridge at this baud rate may rightly hold the host: twice what draining a full
    // 4 KiB buffer takes, and never less than 5 s.
    static std::chrono::milliseconds budgetFor(std::uint32_t baud);

  private:
    std::atomic<bool> paused_{false};
};

}  // namespace qb::devicelib
