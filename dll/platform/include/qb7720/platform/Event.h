// Events are added with a handler and removed by a 64-bit token, as on the platforms we wrap.
// EventSource is a helper for backends: thread-safe add/remove and invocation on a snapshot, so a
// handler may remove itself (or others) while being called.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace qb::platform {

using EventToken = std::int64_t;

template <typename... Args>
class EventSource {
  public:
    using Handler = std::function<void(Args...)>;

    EventToken add(Handler handler) {
        std::lock_guard<std::mutex> lock(mutex_);
        EventToken token = ++lastToken_;
        handlers_.emplace_back(token, std::make_shared<Handler>(std::move(handler)));
        return token;
    }

    // Removing an unknown token is a no-op, as on Windows.
    void remove(EventToken token) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = handlers_.begin(); it != handlers_.end(); ++it) {
            if (it->first == token) {
                handlers_.erase(it);
                return;
            }
        }
    }

    bool empty() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return handlers_.empty();
    }

    void invoke(Args... args) const {
        std::vector<std::shared_ptr<Handler>> snapshot;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            snapshot.reserve(handlers_.size());
            for (const auto& entry : handlers_) snapshot.push_back(entry.second);
        }
        for (const auto& handler : snapshot) (*handler)(args...);
    }

  private:
    mutable std::mutex mutex_;
    EventToken lastToken_ = 0;
    std::vector<std::pair<EventToken, std::shared_ptr<Handler>>> handlers_;
};

}  // namespace qb::platform
