#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "qb7720/protocol/Bytes.h"

namespace qb::protocol {

// The bridge's three characteristics, by short UUID.
enum class BridgeCharacteristic : std::uint16_t {
    Receive = 0xFFF1,   // bridge to host: serial input
    Transmit = 0xFFF2,  // host to bridge: serial output
    Command = 0xFFF3,   // command frames, replies and status reports
};

std::optional<BridgeCharacteristic> characteristicFromShortUuid(std::uint16_t shortUuid);
// The Bluetooth Base UUID expansion, upper case, e.g. "0000FFF1-0000-1000-8000-00805F9B34FB".
std::string_view characteristicUuidText(BridgeCharacteristic characteristic);

enum class BridgeCommand : std::uint8_t {
    ReadBlock = 0x01,
    WriteBlock = 0x02,
    ResetBlock = 0x03,
    ResetChannel = 0x04,
    SetSerial = 0x06,
    SetModem = 0x07,
};

std::optional<BridgeCommand> commandFromCode(std::uint8_t code);
std::string_view commandName(BridgeCommand command);
// Replies carry the command code with the top bit set.
constexpr std::uint8_t replyCode(BridgeCommand command) {
    return static_cast<std::uint8_t>(command) | 0x80;
}

enum class BlockArea : std::uint8_t {
    CfgPara = 0x01,
    ExdCfg = 0x03,
};

std::optional<BlockArea> areaFromSelector(std::uint8_t selector);

constexpr std::size_t kBlockSize = 512;
// ATT caps an attribute value here, whatever MTU the link negotiated; a server drops longer writes.
constexpr std::size_t kMaxAttributeValue = 512;
constexpr std::size_t kAttWriteHeader = 3;
constexpr std::size_t kFrameHeaderSize = 4;  // code, length word, selector
constexpr std::size_t kWritePieceSize = 20;  // payload of the default ATT MTU, used whatever was negotiated
constexpr std::size_t kWriteBlockFrameSize = kFrameHeaderSize + kBlockSize + 1;
constexpr std::size_t kReadBlockReplySize = 4 + kBlockSize + 1;
constexpr std::size_t kStatusReportSize = 7;
constexpr std::uint8_t kStatusReportCode = 0x88;

// Opaque firmware configuration; carried unchanged both ways.
using ParameterBlock = std::array<std::uint8_t, kBlockSize>;

// A command as the host means it; the length word and checksum follow from it.
struct CommandFrame {
    BridgeCommand code = BridgeCommand::ResetChannel;
    std::uint8_t selector = 0;
    Bytes payload;

    friend bool operator==(const CommandFrame& a, const CommandFrame& b) {
        return a.code == b.code && a.selector == b.selector && a.payload == b.payload;
    }
};

// The fixed length word and total frame size of each command, and its payload size.
std::uint16_t lengthWord(BridgeCommand command);
std::size_t frameSize(BridgeCommand command);
std::size_t payloadSize(BridgeCommand command);
// Commands whose selector is a BlockArea.
bool isBlockCommand(BridgeCommand command);

// Modem inputs, as bits of the status byte (16550 modem status upper nibble).
struct ModemInputs {
    static constexpr std::uint8_t kDcd = 0x80;
    static constexpr std::uint8_t kRi = 0x40;
    static constexpr std::uint8_t kDsr = 0x20;
    static constexpr std::uint8_t kCts = 0x10;

    std::uint8_t bits = 0;  // only the four bits above are ever set

    static constexpr ModemInputs fromStatusByte(std::uint8_t b) {
        return ModemInputs{std::uint8_t(b & 0xF0)};
    }
    static constexpr ModemInputs of(bool dcd, bool ri, bool dsr, bool cts) {
        return ModemInputs{
            std::uint8_t((dcd ? kDcd : 0) | (ri ? kRi : 0) | (dsr ? kDsr : 0) | (cts ? kCts : 0))};
    }
    // Masked bits, the form the library's modem callback passes on (0x80 or 0, ...).
    constexpr std::uint8_t dcd() const { return bits & kDcd; }
    constexpr std::uint8_t ri() const { return bits & kRi; }
    constexpr std::uint8_t dsr() const { return bits & kDsr; }
    constexpr std::uint8_t cts() const { return bits & kCts; }

    friend constexpr bool operator==(ModemInputs a, ModemInputs b) { return a.bits == b.bits; }
    friend constexpr bool operator!=(ModemInputs a, ModemInputs b) { return a.bits != b.bits; }
};

enum class PauseChange { Unchanged, Set, Cleared };

// What a value notified on the command characteristic says.
struct StatusReport {
    PauseChange pause = PauseChange::Unchanged;
    // Present whenever the value has a byte 5, status report or not.
    std::optional<ModemInputs> modem;
};

}  // namespace qb::protocol
