#include "Runner.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <stdexcept>

namespace qb::hci {
namespace {

// A stop that the controller does not finish (a disconnection never confirmed) is cut short here.
constexpr auto kStopGrace = std::chrono::seconds(3);
constexpr int kPollMs = 100;

}  // namespace

struct Runner::Impl {
    struct Slot {
        std::unique_ptr<UserChannel> channel;
        std::unique_ptr<Peripheral> peripheral;
        // A replaced peripheral ends its link before the new one resets the controller: a reset under
        // a live link leaves the host's kernel to tear the connection down by itself, which Debian 12's
        // kernel did with a list corruption. The new one waits, unstarted, for it.
        std::unique_ptr<Peripheral> retiring;
        std::chrono::steady_clock::time_point retireDeadline{};
        bool channelLost = false;
    };

    int wakeFd = -1;
    std::mutex mutex;
    std::vector<std::function<void()>> jobs;
    std::atomic<bool> stop{false};
    std::atomic<int> drops{0};
    std::atomic<int> toggles{0};
    std::vector<Slot> slots;
    Runner::Refusal refusal;

    // The slot's controller serves this bridge through a new peripheral, whose requests the refusal sees.
    void serve(std::size_t slot, std::shared_ptr<emulator::VirtualBridge> bridge);

    void wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wakeFd, &one, sizeof one);
    }

    void post(std::function<void()> job) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            jobs.push_back(std::move(job));
        }
        wake();
    }

    // The slot's new peripheral starts once the old one has stopped (or given up stopping).
    void takeOverIfRetired(Slot& slot) {
        if (!slot.retiring) return;
        if (!slot.retiring->finished() && std::chrono::steady_clock::now() < slot.retireDeadline) return;
        slot.retiring.reset();
        slot.peripheral->start();
    }

    Peripheral& receiver(Slot& slot) { return slot.retiring ? *slot.retiring : *slot.peripheral; }

    void runJobs() {
        std::vector<std::function<void()>> now;
        {
            std::lock_guard<std::mutex> lock(mutex);
            now.swap(jobs);
        }
        for (auto& job : now) job();
    }
};

Runner::Runner() : impl_(std::make_unique<Impl>()) {
    impl_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl_->wakeFd < 0) throw std::runtime_error("eventfd failed");
}

Runner::~Runner() {
    // Peripherals first: they leave the model before the channels close.
    for (auto& slot : impl_->slots) {
        slot.retiring.reset();
        slot.peripheral.reset();
    }
    impl_->slots.clear();
    ::close(impl_->wakeFd);
}

namespace {

std::unique_ptr<Peripheral> makePeripheral(UserChannel& channel, std::shared_ptr<emulator::VirtualBridge> bridge,
                                           Peripheral::Post post) {
    const std::string prefix = "qb7720-emulator hci" + std::to_string(channel.index()) + ": ";
    return std::make_unique<Peripheral>(channel, std::move(bridge), std::move(post), [prefix](const std::string& line) {
        std::fprintf(stderr, "%s%s\n", prefix.c_str(), line.c_str());
    });
}

}  // namespace

void Runner::Impl::serve(std::size_t slot, std::shared_ptr<emulator::VirtualBridge> bridge) {
    auto& s = slots.at(slot);
    s.peripheral = makePeripheral(*s.channel, std::move(bridge), [this](std::function<void()> job) { post(std::move(job)); });
    s.peripheral->setAttRefusal([this, slot](std::uint8_t opcode, std::uint16_t handle) {
        return refusal ? refusal(slot, opcode, handle) : std::nullopt;
    });
}

void Runner::add(std::unique_ptr<UserChannel> channel, std::shared_ptr<emulator::VirtualBridge> bridge) {
    Impl::Slot slot;
    slot.channel = std::move(channel);
    impl_->slots.push_back(std::move(slot));
    impl_->serve(impl_->slots.size() - 1, std::move(bridge));
}

void Runner::post(std::function<void()> job) {
    impl_->post(std::move(job));
}

std::size_t Runner::size() const {
    return impl_->slots.size();
}

Peripheral& Runner::peripheral(std::size_t slot) {
    return *impl_->slots.at(slot).peripheral;
}

void Runner::replace(std::size_t slot, std::shared_ptr<emulator::VirtualBridge> bridge) {
    auto& s = impl_->slots.at(slot);
    // A peripheral replaced while still retiring never started: it has nothing to end.
    if (!s.retiring) {
        s.retiring = std::move(s.peripheral);
        s.retiring->stop();
        s.retireDeadline = std::chrono::steady_clock::now() + kStopGrace;
    }
    impl_->serve(slot, std::move(bridge));
    impl_->takeOverIfRetired(s);
}

void Runner::setRefusal(Refusal refusal) {
    impl_->refusal = std::move(refusal);
}

void Runner::request(Request request) {
    switch (request) {
        case Request::Stop:
            impl_->stop = true;
            break;
        case Request::DropLink:
            ++impl_->drops;
            break;
        case Request::ToggleRange:
            ++impl_->toggles;
            break;
    }
    impl_->wake();
}

int Runner::run() {
    auto& slots = impl_->slots;
    for (auto& slot : slots) slot.peripheral->start();
    bool stopping = false;
    std::chrono::steady_clock::time_point deadline{};
    Bytes packet;
    for (;;) {
        bool allDone = true;
        for (auto& slot : slots) {
            if (slot.channel->broken()) slot.channelLost = true;
            allDone = allDone && (slot.channelLost || (!slot.retiring && slot.peripheral->finished()));
        }
        if (allDone) break;
        if (stopping && std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "qb7720-emulator: controllers did not finish stopping in time\n");
            break;
        }

        std::vector<pollfd> fds;
        fds.push_back({impl_->wakeFd, POLLIN, 0});
        for (auto& slot : slots) fds.push_back({slot.channelLost ? -1 : slot.channel->fd(), POLLIN, 0});
        int timeout = kPollMs;
        const auto now = Peripheral::Clock::now();
        for (auto& slot : slots) {
            if (auto due = impl_->receiver(slot).nextTick()) {
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - now).count();
                timeout = std::clamp<int>(static_cast<int>(wait), 0, timeout);
            }
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            std::perror("qb7720-emulator: poll");
            break;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(impl_->wakeFd, &count, sizeof count);
        }
        for (std::size_t i = 0; i < slots.size(); ++i) {
            auto& slot = slots[i];
            if (slot.channelLost || !(fds[i + 1].revents & (POLLIN | POLLERR | POLLHUP))) continue;
            try {
                while (slot.channel->read(packet)) impl_->receiver(slot).receive(packet);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "qb7720-emulator: %s\n", e.what());
                slot.channelLost = true;
            }
        }
        impl_->runJobs();
        for (auto& slot : slots) {
            if (slot.channelLost) continue;
            impl_->takeOverIfRetired(slot);
            impl_->receiver(slot).tick(Peripheral::Clock::now());
        }
        if (impl_->stop && !stopping) {
            stopping = true;
            deadline = std::chrono::steady_clock::now() + kStopGrace;
            for (auto& slot : slots) slot.peripheral->stop();
        }
        for (int n = impl_->drops.exchange(0); n > 0; --n) {
            for (auto& slot : slots) slot.peripheral->dropLink();
        }
        for (int n = impl_->toggles.exchange(0); n > 0; --n) {
            for (auto& slot : slots) slot.peripheral->setOutOfRange(!slot.peripheral->outOfRange());
        }
    }
    int status = 0;
    for (auto& slot : slots) {
        if (slot.channelLost || slot.peripheral->state() != Peripheral::State::Stopped) status = 1;
    }
    return status;
}

}  // namespace qb::hci
