// Discovery for the terminal: started or renewed by each scan call, stopped by itself once nobody
// renews it. Bridges heard are reported one at a time from the scanner's own thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "qb7720/platform/Platform.h"

namespace qb::devicelib {

struct BridgeSighting {
    std::string address;              // "AA:BB:CC:DD:EE:FF"
    std::optional<std::string> name;  // the latest name heard from this address during the scan
    std::int16_t rssi = 0;
    std::vector<std::uint8_t> data;  // the bridge's manufacturer data
};

class Scanner {
  public:
    using Reporter = std::function<void(const BridgeSighting&)>;
    using PlatformSource = std::function<std::shared_ptr<platform::Platform>()>;

    enum class Result { Scanning, NoRadio };

    // Reports queued while the reporter is busy; later ones are dropped (bridges advertise again).
    static constexpr std::size_t kMaxPendingReports = 256;

    Scanner(PlatformSource platform, std::chrono::milliseconds idleTimeout);
    ~Scanner();  // stop()
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // Starts discovery or renews it for another idle timeout; the reporter replaces the previous one.
    Result request(Reporter reporter);
    // Stops discovery now; from inside a report it takes effect once the report returns.
    void stop();
    bool running() const;

    struct State;

  private:
    Result start(Reporter reporter);

    PlatformSource platform_;
    std::chrono::milliseconds idleTimeout_;
    std::mutex startMutex_;  // one start at a time; never held while a report runs
    std::shared_ptr<State> state_;
};

}  // namespace qb::devicelib
