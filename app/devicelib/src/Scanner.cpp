#include "Scanner.h"

#include <condition_variable>
#include <deque>
#include <map>

#include "BridgeAdvert.h"

namespace qb::devicelib {

using Clock = std::chrono::steady_clock;

struct Scanner::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool running = false;
    bool stopRequested = false;
    std::uint64_t generation = 0;  // tells a finished discovery's late events from the current one's
    Clock::time_point deadline;
    Reporter reporter;
    std::deque<BridgeSighting> pending;
    std::map<std::uint64_t, std::string> names;  // names come in scan responses, apart from the data
    std::shared_ptr<platform::BluetoothLEAdvertisementWatcher> watcher;
    platform::EventToken receivedToken = 0;
    // The discovery thread runs detached (a finished one is never left waiting for a join); this tells
    // when it has let its watcher go.
    bool threadActive = false;
    std::thread::id threadId;
};

namespace {

bool radioReachable(platform::Platform& platform) {
    try {
        auto find = platform.bluetoothFindFirstRadio();
        return find != nullptr && find->first() != nullptr;
    } catch (const std::exception&) {
        return false;
    }
}

void onAdvertisement(const std::weak_ptr<Scanner::State>& weak, std::uint64_t generation,
                     const platform::BluetoothLEAdvertisementReceivedEventArgs& args) {
    auto state = weak.lock();
    if (!state) return;
    std::lock_guard<std::mutex> lock(state->mutex);
    if (!state->running || state->generation != generation) return;
    if (!args.localName.empty()) state->names[args.bluetoothAddress] = args.localName;
    const auto* data = findBridgeData(args.manufacturerData);
    if (data == nullptr || state->pending.size() >= Scanner::kMaxPendingReports) return;
    BridgeSighting sighting;
    sighting.address = formatAddress(args.bluetoothAddress);
    auto name = state->names.find(args.bluetoothAddress);
    if (name != state->names.end()) sighting.name = name->second;
    sighting.rssi = args.rawSignalStrengthInDBm;
    sighting.data = data->data;
    state->pending.push_back(std::move(sighting));
    state->changed.notify_all();
}

void runDiscovery(const std::shared_ptr<Scanner::State>& state) {
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        if (!state->pending.empty() && !state->stopRequested) {
            BridgeSighting sighting = std::move(state->pending.front());
            state->pending.pop_front();
            Scanner::Reporter reporter = state->reporter;
            lock.unlock();
            if (reporter) reporter(sighting);
            lock.lock();
            continue;
        }
        if (state->stopRequested || Clock::now() >= state->deadline) break;
        state->changed.wait_until(lock, state->deadline);
    }
    state->running = false;
    ++state->generation;
    state->pending.clear();
    auto watcher = std::move(state->watcher);
    const auto token = state->receivedToken;
    state->receivedToken = 0;
    state->changed.notify_all();
    lock.unlock();
    if (watcher) {
        try {
            watcher->stop();
            watcher->removeReceived(token);
        } catch (const std::exception&) {
            // The watcher is released either way; a late event finds the generation moved on.
        }
        watcher.reset();
    }
    lock.lock();
    state->threadActive = false;
    state->changed.notify_all();
}

}  // namespace

Scanner::Scanner(PlatformSource platform, std::chrono::milliseconds idleTimeout)
    : platform_(std::move(platform)), idleTimeout_(idleTimeout), state_(std::make_shared<State>()) {}

Scanner::~Scanner() {
    stop();
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (state_->threadId == std::this_thread::get_id()) return;
    state_->changed.wait(lock, [&] { return !state_->threadActive; });
}

Scanner::Result Scanner::request(Reporter reporter) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->running) {
            state_->reporter = std::move(reporter);
            state_->stopRequested = false;
            state_->deadline = Clock::now() + idleTimeout_;
            return Result::Scanning;
        }
    }
    return start(std::move(reporter));
}

Scanner::Result Scanner::start(Reporter reporter) {
    std::lock_guard<std::mutex> startLock(startMutex_);
    std::uint64_t generation = 0;
    {
        std::unique_lock<std::mutex> lock(state_->mutex);
        if (state_->running) {  // another caller started it meanwhile
            state_->reporter = std::move(reporter);
            state_->deadline = Clock::now() + idleTimeout_;
            return Result::Scanning;
        }
        // A finished discovery reports nothing more; it may still be letting its watcher go.
        state_->changed.wait(lock, [&] { return !state_->threadActive; });
        state_->threadId = {};
        generation = state_->generation;
    }

    auto platform = platform_();
    if (!platform || !radioReachable(*platform)) return Result::NoRadio;
    std::shared_ptr<platform::BluetoothLEAdvertisementWatcher> watcher;
    platform::EventToken token = 0;
    try {
        watcher = platform->createBluetoothLEAdvertisementWatcher();
        if (!watcher) return Result::NoRadio;
        std::weak_ptr<State> weak = state_;
        token = watcher->addReceived(
            [weak, generation](platform::BluetoothLEAdvertisementWatcher&,
                               const platform::BluetoothLEAdvertisementReceivedEventArgs& args) {
                onAdvertisement(weak, generation, args);
            });
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            state_->running = true;
            state_->stopRequested = false;
            state_->deadline = Clock::now() + idleTimeout_;
            state_->reporter = std::move(reporter);
            state_->names.clear();
            state_->pending.clear();
            state_->watcher = watcher;
            state_->receivedToken = token;
        }
        watcher->start();
    } catch (const std::exception&) {
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            state_->running = false;
            ++state_->generation;
            state_->watcher.reset();
            state_->reporter = nullptr;
            state_->changed.notify_all();
        }
        if (watcher && token != 0) {
            try {
                watcher->removeReceived(token);
            } catch (const std::exception&) {
            }
        }
        return Result::NoRadio;
    }
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::thread thread([state = state_] { runDiscovery(state); });
    state_->threadId = thread.get_id();
    state_->threadActive = true;
    thread.detach();
    return Result::Scanning;
}

void Scanner::stop() {
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (!state_->running) return;
    state_->stopRequested = true;
    state_->changed.notify_all();
    // From inside a report the loop cannot end before the report returns.
    if (state_->threadId == std::this_thread::get_id()) return;
    // A start that has not launched its thread yet would keep running set: wait for the thread itself.
    state_->changed.wait(lock, [&] { return !state_->running || !state_->threadActive; });
}

bool Scanner::running() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->running;
}

}  // namespace qb::devicelib
