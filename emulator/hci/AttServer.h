// The ATT server of one link, over the model's GATT database: MTU exchange, discovery, reads (long
// values through read blob), writes, client configuration, and the model's notifications sent on.
// Single-threaded: the peripheral calls it from its own thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "AttPdu.h"
#include "AttributeTable.h"

namespace qb::hci {

class AttServer {
  public:
    using Send = std::function<void(Bytes pdu)>;
    // An ATT error to answer a read or write request with instead of serving it; nothing serves it.
    using Refusal = std::function<std::optional<std::uint8_t>(std::uint8_t opcode, std::uint16_t handle)>;

    // serverMtu: the largest ATT MTU this server takes (23..517).
    AttServer(std::shared_ptr<emulator::VirtualDevice> device, std::uint16_t serverMtu, Send send);

    // A new link starts at the default MTU with nothing cached.
    void linkUp();
    void linkDown();
    void receive(ByteView pdu);
    // A value the model notified; sent as the client configured it, or not at all.
    void notifyFromModel(std::uint16_t valueHandle, const Bytes& value);

    void setRefusal(Refusal refusal) { refusal_ = std::move(refusal); }

    std::uint16_t mtu() const { return mtu_; }
    const std::vector<Attribute>& table() const { return table_; }

  private:
    void exchangeMtu(const ExchangeMtu& request);
    void findInformation(const FindInformation& request);
    void findByTypeValue(const FindByTypeValue& request);
    void readByType(const ReadByType& request);
    void readByGroupType(const ReadByGroupType& request);
    void read(std::uint8_t opcode, std::uint16_t handle, std::uint16_t offset);
    void readMultiple(const ReadMultiple& request);
    void write(const Write& request);
    void confirmed();

    const Attribute* find(std::uint16_t handle) const;
    // The attribute's whole value, or an ATT error code.
    std::variant<Bytes, std::uint8_t> valueOf(const Attribute& attribute);
    bool rangeValid(std::uint8_t opcode, const HandleRange& range);
    void error(std::uint8_t opcode, std::uint16_t handle, std::uint8_t code);
    void sendValue(std::uint16_t handle, const Bytes& value, bool indication);

    std::shared_ptr<emulator::VirtualDevice> device_;
    std::vector<Attribute> table_;
    std::uint16_t serverMtu_;
    std::uint16_t mtu_ = kDefaultAttMtu;
    Send send_;
    Refusal refusal_;
    // Values of the last read per handle, so that read blob continues the same value even when
    // reading has side effects (the command channel hands out its next piece).
    std::map<std::uint16_t, Bytes> readCache_;
    // Indications wait for the confirmation of the one before.
    bool awaitingConfirmation_ = false;
    std::deque<std::pair<std::uint16_t, Bytes>> indications_;
};

}  // namespace qb::hci
