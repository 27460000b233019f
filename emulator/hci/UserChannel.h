// A controller taken through the kernel's HCI user channel: the process becomes the controller's only
// host, and packets cross the socket in H4 form. bluetoothd has to let go of the index first, which
// open() arranges by powering it off through the management interface.
#pragma once

#include <cstdint>
#include <string>

#include "Peripheral.h"

namespace qb::hci {

class UserChannel : public HciTransport {
  public:
    // Throws std::runtime_error saying what failed (no Bluetooth in this kernel, no such index, no
    // permission: it needs CAP_NET_ADMIN).
    explicit UserChannel(std::uint16_t index);
    ~UserChannel() override;
    UserChannel(const UserChannel&) = delete;
    UserChannel& operator=(const UserChannel&) = delete;

    int fd() const { return fd_; }
    std::uint16_t index() const { return index_; }
    // A failed write marks the channel broken (and says why once) instead of throwing into the
    // peripheral; the runner then gives the controller up.
    void send(const Bytes& h4) override;
    bool broken() const { return broken_; }
    // One packet, or nothing when the socket has none now; throws when the controller is gone.
    bool read(Bytes& packet);

  private:
    std::uint16_t index_;
    int fd_ = -1;
    bool broken_ = false;
};

}  // namespace qb::hci
