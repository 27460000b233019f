#include "UserChannel.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace qb::hci {
namespace {

// From the kernel's Bluetooth socket interface (include/net/bluetooth/hci_sock.h, mgmt.h).
constexpr int kAfBluetooth = 31;
constexpr int kBtprotoHci = 1;
constexpr unsigned short kChannelUser = 1;
constexpr unsigned short kChannelControl = 3;
constexpr unsigned short kNoDevice = 0xFFFF;
constexpr std::uint16_t kMgmtSetPowered = 0x0005;
constexpr std::uint16_t kMgmtCommandComplete = 0x0001;
constexpr std::uint16_t kMgmtCommandStatus = 0x0002;
constexpr int kMgmtTimeoutMs = 3000;

struct SockaddrHci {
    sa_family_t family;
    unsigned short device;
    unsigned short channel;
};

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

int openSocket() {
    const int fd = ::socket(kAfBluetooth, SOCK_RAW | SOCK_CLOEXEC, kBtprotoHci);
    if (fd < 0) throw std::runtime_error(errnoText("Bluetooth HCI socket"));
    return fd;
}

bool bindTo(int fd, unsigned short device, unsigned short channel) {
    SockaddrHci address{};
    address.family = kAfBluetooth;
    address.device = device;
    address.channel = channel;
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// Asks the kernel to power the index off, so that its host (bluetoothd) lets go of it.
void powerOff(std::uint16_t index) {
    const int fd = openSocket();
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (!bindTo(fd, kNoDevice, kChannelControl)) throw std::runtime_error(errnoText("management socket"));
    const std::uint8_t request[] = {kMgmtSetPowered & 0xFF, kMgmtSetPowered >> 8,
                                    static_cast<std::uint8_t>(index & 0xFF), static_cast<std::uint8_t>(index >> 8),
                                    1, 0, 0};
    if (::write(fd, request, sizeof request) != static_cast<ssize_t>(sizeof request)) {
        throw std::runtime_error(errnoText("power off"));
    }
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kMgmtTimeoutMs) <= 0) throw std::runtime_error("power off: no answer from the kernel");
        std::uint8_t reply[512];
        const ssize_t n = ::read(fd, reply, sizeof reply);
        if (n < 9) continue;
        const std::uint16_t event = le16(reply);
        if (le16(reply + 2) != index || (event != kMgmtCommandComplete && event != kMgmtCommandStatus)) continue;
        if (le16(reply + 6) != kMgmtSetPowered) continue;
        if (reply[8] != 0) throw std::runtime_error("power off refused, management status " + std::to_string(reply[8]));
        return;
    }
}

}  // namespace

UserChannel::UserChannel(std::uint16_t index) : index_(index) {
    fd_ = openSocket();
    if (bindTo(fd_, index, kChannelUser)) return;
    if (errno == EBUSY) {
        powerOff(index);
        if (bindTo(fd_, index, kChannelUser)) return;
    }
    const std::string why = errnoText("hci" + std::to_string(index) + " user channel");
    ::close(fd_);
    throw std::runtime_error(why);
}

UserChannel::~UserChannel() {
    if (fd_ >= 0) ::close(fd_);
}

void UserChannel::send(const Bytes& h4) {
    while (!broken_) {
        const ssize_t n = ::write(fd_, h4.data(), h4.size());
        if (n >= 0) return;
        if (errno == EINTR) continue;
        if (errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        std::fprintf(stderr, "qb7720-emulator: %s\n", errnoText("hci" + std::to_string(index_) + " write").c_str());
        broken_ = true;
    }
}

bool UserChannel::read(Bytes& packet) {
    packet.resize(4096);
    const ssize_t n = ::recv(fd_, packet.data(), packet.size(), MSG_DONTWAIT);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) return false;
        throw std::runtime_error(errnoText("hci" + std::to_string(index_) + " read"));
    }
    if (n == 0) throw std::runtime_error("hci" + std::to_string(index_) + " closed");
    packet.resize(static_cast<std::size_t>(n));
    return true;
}

}  // namespace qb::hci
