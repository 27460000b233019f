#include "FakeController.h"

#include <chrono>

namespace qb::hci::test {

void FakeController::send(const Bytes& h4) {
    if (h4.empty()) return;
    if (h4[0] == static_cast<std::uint8_t>(PacketType::Command)) {
        Reader r{ByteView(h4).drop(1)};
        SentCommand c;
        c.opcode = r.u16();
        const std::uint8_t length = r.u8();
        const ByteView params = r.take(length);
        c.parameters.assign(params.begin(), params.end());
        commands.push_back(c);
        const auto status = statusFor ? statusFor(c.opcode) : std::nullopt;
        if (c.opcode == opcode::kDisconnect) {
            Writer w;
            w.u8(status.value_or(0)).u8(1).u16(c.opcode);
            Bytes event{static_cast<std::uint8_t>(PacketType::Event), 0x0F, 4};
            const Bytes body = w.take();
            event.insert(event.end(), body.begin(), body.end());
            toHost.push_back(event);
            if (!status) {
                Reader p{ByteView(c.parameters)};
                disconnectionComplete(p.u16(), hci_error::kLocalHostTerminated);
            }
            return;
        }
        Writer returned;
        returned.u8(status.value_or(0));
        if (c.opcode == opcode::kReadBdAddr) {
            const auto bytes = address.bytesLsbFirst();
            returned.bytes(ByteView(bytes.data(), bytes.size()));
        } else if (c.opcode == opcode::kReadLocalVersion) {
            returned.u8(9).u16(0).u8(9).u16(manufacturer).u16(0);
        } else if (c.opcode == opcode::kLeReadBufferSize) {
            returned.u16(aclMtu).u8(aclBuffers);
        } else if (c.opcode == opcode::kReadBufferSize) {
            returned.u16(aclMtu).u8(0).u16(aclBuffers).u16(0);
        }
        commandComplete(c.opcode, returned.take());
        return;
    }
    if (h4[0] == static_cast<std::uint8_t>(PacketType::Acl)) {
        aclSent.push_back(h4);
        const Inbound in = decodePacket(h4);
        if (const auto* acl = std::get_if<AclData>(&in)) {
            if (auto frame = joiner_.feed(acl->boundary == AclBoundary::FirstNonFlushable ? AclBoundary::FirstFlushable
                                                                                           : acl->boundary,
                                          acl->data)) {
                framesSent.push_back(*frame);
            }
            if (autoComplete) completed(acl->handle, 1);
        }
    }
}

void FakeController::deliver(Peripheral& peripheral) {
    while (!toHost.empty()) {
        const Bytes packet = toHost.front();
        toHost.pop_front();
        peripheral.receive(packet);
    }
}

void FakeController::commandComplete(std::uint16_t opcode, const Bytes& returned) {
    Writer w;
    w.u8(1).u16(opcode).bytes(returned);
    const Bytes body = w.take();
    Bytes event{static_cast<std::uint8_t>(PacketType::Event), 0x0E, static_cast<std::uint8_t>(body.size())};
    event.insert(event.end(), body.begin(), body.end());
    toHost.push_back(event);
}

void FakeController::connect(std::uint16_t handle, std::uint8_t role, bool enhanced) {
    Writer w;
    w.u8(enhanced ? 0x0A : 0x01).u8(0).u16(handle).u8(role).u8(0);
    const auto peer = platform::BluetoothAddress(0x00AA01000000ull).bytesLsbFirst();
    w.bytes(ByteView(peer.data(), peer.size()));
    if (enhanced) w.bytes(Bytes(12, 0));
    w.u16(0x0028).u16(0).u16(0x01F4).u8(0);
    const Bytes body = w.take();
    Bytes event{static_cast<std::uint8_t>(PacketType::Event), 0x3E, static_cast<std::uint8_t>(body.size())};
    event.insert(event.end(), body.begin(), body.end());
    toHost.push_back(event);
    lastHandle_ = handle;
}

void FakeController::disconnectionComplete(std::uint16_t handle, std::uint8_t reason) {
    Writer w;
    w.u8(0).u16(handle).u8(reason);
    const Bytes body = w.take();
    Bytes event{static_cast<std::uint8_t>(PacketType::Event), 0x05, static_cast<std::uint8_t>(body.size())};
    event.insert(event.end(), body.begin(), body.end());
    toHost.push_back(event);
}

void FakeController::completed(std::uint16_t handle, std::uint16_t count) {
    toHost.push_back(Bytes{static_cast<std::uint8_t>(PacketType::Event), 0x13, 5, 1,
                           static_cast<std::uint8_t>(handle & 0xFF), static_cast<std::uint8_t>(handle >> 8),
                           static_cast<std::uint8_t>(count & 0xFF), static_cast<std::uint8_t>(count >> 8)});
}

void FakeController::frameFromHost(std::uint16_t handle, std::uint16_t channel, const Bytes& payload) {
    for (auto& packet : fragmentFrame(handle, channel, payload, 27)) {
        // Controller to host, a start is flagged flushable.
        if ((packet[2] >> 4 & 0x3) == 0) packet[2] = static_cast<std::uint8_t>(packet[2] | 0x20);
        toHost.push_back(packet);
    }
}

std::vector<std::uint16_t> FakeController::opcodes() const {
    std::vector<std::uint16_t> out;
    for (const auto& c : commands) out.push_back(c.opcode);
    return out;
}

std::vector<Bytes> FakeController::attSent(std::size_t from) const {
    std::vector<Bytes> out;
    std::size_t seen = 0;
    for (const auto& f : framesSent) {
        if (f.cid != cid::kAtt) continue;
        if (seen++ >= from) out.push_back(f.payload);
    }
    return out;
}

Peripheral::Post JobQueue::poster() {
    return [this](std::function<void()> job) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        cv_.notify_all();
    };
}

void JobQueue::runPending() {
    std::vector<std::function<void()>> now;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        now.swap(jobs_);
    }
    for (auto& job : now) job();
}

bool JobQueue::runUntil(Peripheral& peripheral, FakeController& controller, const std::function<bool()>& done,
                        std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        controller.deliver(peripheral);
        runPending();
        controller.deliver(peripheral);
        if (done()) return true;
        std::unique_lock<std::mutex> lock(mutex_);
        if (std::chrono::steady_clock::now() >= end) return false;
        cv_.wait_for(lock, std::chrono::milliseconds(10), [this] { return !jobs_.empty(); });
    }
}

}  // namespace qb::hci::test
