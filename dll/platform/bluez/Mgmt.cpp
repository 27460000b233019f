#include "Mgmt.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace qb::bluez::mgmt {
namespace {

constexpr int kAfBluetooth = 31;
constexpr int kBtProtoHci = 1;
constexpr std::uint16_t kHciDevNone = 0xFFFF;
constexpr std::uint16_t kHciChannelControl = 3;

struct SockaddrHci {
    sa_family_t family;
    std::uint16_t dev;
    std::uint16_t channel;
};

std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

Reply parseReadInfoReply(const std::uint8_t* data, std::size_t size, std::uint16_t index) {
    // Header: event (2), controller index (2), parameter length (2), all little-endian.
    constexpr std::size_t kHeader = 6;
    if (data == nullptr || size < kHeader) return {};
    const std::uint16_t event = le16(data);
    const std::uint16_t evIndex = le16(data + 2);
    const std::size_t length = le16(data + 4);
    if (evIndex != index || size - kHeader < length) return {};
    const std::uint8_t* params = data + kHeader;
    if (event == kEvCommandStatus) {
        // opcode (2), status (1)
        if (length < 3 || le16(params) != kOpReadInfo) return {};
        return {ReplyKind::Failed, 0};
    }
    if (event != kEvCommandComplete || length < 3 || le16(params) != kOpReadInfo) return {};
    if (params[2] != 0) return {ReplyKind::Failed, 0};
    // opcode (2), status (1), then address (6) and the version byte.
    constexpr std::size_t kVersionAt = 3 + 6;
    if (length <= kVersionAt) return {ReplyKind::Failed, 0};
    return {ReplyKind::Version, params[kVersionAt]};
}

std::optional<int> readControllerVersion(std::uint16_t index, std::chrono::milliseconds timeout) {
    Fd fd(::socket(kAfBluetooth, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, kBtProtoHci));
    if (fd.get() < 0) return std::nullopt;
    SockaddrHci addr{};
    addr.family = kAfBluetooth;
    addr.dev = kHciDevNone;
    addr.channel = kHciChannelControl;
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) return std::nullopt;
    const std::uint8_t request[6] = {kOpReadInfo & 0xFF,
                                     kOpReadInfo >> 8,
                                     static_cast<std::uint8_t>(index & 0xFF),
                                     static_cast<std::uint8_t>(index >> 8),
                                     0,
                                     0};
    if (::send(fd.get(), request, sizeof request, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof request)) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::uint8_t buffer[1024];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd p{fd.get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        const ssize_t got = ::recv(fd.get(), buffer, sizeof buffer, 0);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return std::nullopt;
        }
        const Reply reply = parseReadInfoReply(buffer, static_cast<std::size_t>(got), index);
        if (reply.kind == ReplyKind::Version) return reply.version;
        if (reply.kind == ReplyKind::Failed) return std::nullopt;
    }
}

}  // namespace qb::bluez::mgmt
