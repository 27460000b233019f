// The virtual QB7720 bridge: GATT database, command channel, serial line, far-side peer and link model.
// Front ends drive it as any VirtualDevice (Device.h); tests also inspect and steer it here.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qb7720/emulator/Device.h"
#include "qb7720/protocol/BridgeFacts.h"
#include "qb7720/protocol/Types.h"

namespace qb::emulator {

// The same types the protocol library encodes; a frame is encoded in one place only.
using protocol::BlockArea;
using protocol::kBlockSize;
using protocol::ParameterBlock;

struct LineSettings {
    std::uint32_t baud = 115200;
    std::uint8_t dataBits = 8;
    std::uint8_t stopBits = 1;
    std::uint8_t parity = 0;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
    // Start, data, parity and stop bits of one character.
    unsigned bitsPerCharacter() const;
    friend bool operator==(const LineSettings& a, const LineSettings& b);
};

struct ModemOutputs {
    bool flowControl = false;  // hardware flow control (far side's CTS gates the line)
    bool dtr = false;
    bool rts = false;
    friend bool operator==(const ModemOutputs& a, const ModemOutputs& b);
};

// The far side's outputs as the bridge sees them; byte 5 of a status report.
struct ModemInputs {
    bool dcd = false;
    bool ri = false;
    bool dsr = true;
    bool cts = true;
    std::uint8_t statusByte() const;  // bit 7 DCD, 6 RI, 5 DSR, 4 CTS
    static ModemInputs fromStatusByte(std::uint8_t byte);
    friend bool operator==(const ModemInputs& a, const ModemInputs& b);
};

enum class PeerKind {
    Loopback,   // what drains out comes back in; its RTS wired to CTS, DTR to DSR and DCD
    Sink,       // swallows everything
    Generator,  // sends a byte pattern at a rate
    Scripted,   // a test injects bytes and sets modem inputs
};
const char* peerKindName(PeerKind kind);

// Air time model: a write or notification takes ceil((bytes + 7) / 251) link-layer packets, each as
// long as the PHY rate makes it (plus its acknowledgement and gaps), and no more than
// packetsPerInterval of them go per connection interval. The host's controller holds aclBuffers
// packets at a time; a write request's answer comes one connection interval after its packet.
struct LinkModel {
    bool enabled = false;
    std::chrono::microseconds connectionInterval{7500};
    unsigned packetsPerInterval = 4;
    unsigned aclBuffers = 4;
    std::uint32_t phyBitsPerSecond = 1000000;  // 1M, 2M, 125k/500k coded
    // Payload bytes per second the model lets through at this MTU.
    double airBytesPerSecond(std::uint16_t mtu) const;
    // Payload bytes per second each way when both directions are full (a loopback at full speed):
    // every exchange then carries data both ways. The model itself times each direction on its own,
    // as airBytesPerSecond, so this is the figure that shows what the air could not carry.
    double duplexBytesPerSecond(std::uint16_t mtu) const;
    // Air time of one ATT PDU carrying this many value bytes (0 when disabled).
    std::chrono::nanoseconds pduTime(std::size_t valueBytes) const;
    // The presets of the configuration text: "off", "le-1m", "le-2m", "le-coded".
    static std::optional<LinkModel> preset(const std::string& name);
};

struct BridgeConfig {
    std::string name = "QB7720-UART";
    std::uint64_t address = 0;  // 0: the World picks one
    std::uint8_t tag = 0x30;    // byte 7 of the manufacturer data
    std::int16_t rssi = -60;
    std::chrono::milliseconds advertisingInterval{100};
    std::uint16_t mtu = 247;

    std::size_t transmitBufferSize = 4096;
    // Fill level at which it asks the host to pause, and the level it must drain to before it lets
    // the host resume. Above the pause level there must be room for what the host's controller
    // still has in the air when the report goes out (four ACL buffers and the piece that crossed
    // the level: 1220 bytes at MTU 247), so it pauses at half.
    std::size_t pauseLevel = 2048;
    std::size_t resumeLevel = 512;

    LineSettings line;        // until a set-serial frame changes it
    ModemOutputs modem;       // until a set-modem frame changes it
    ModemInputs modemInputs;  // far side's lines (a loopback derives them from the outputs)

    PeerKind peer = PeerKind::Loopback;
    Bytes generatorPattern;              // empty: "0123456789ABCDEF\r\n"
    double generatorBytesPerSecond = 0;  // 0: as fast as the line's baud rate allows

    std::size_t readPieceSize = 20;  // bytes handed out per read of the block stream
    LinkModel link;
};

// A command frame as the bridge saw it.
struct FrameRecord {
    Bytes bytes;
    bool valid = false;
};

class VirtualBridge : public VirtualDevice {
  public:
    static constexpr std::uint16_t kReceiveUuid = static_cast<std::uint16_t>(protocol::BridgeCharacteristic::Receive);
    static constexpr std::uint16_t kTransmitUuid = static_cast<std::uint16_t>(protocol::BridgeCharacteristic::Transmit);
    static constexpr std::uint16_t kCommandUuid = static_cast<std::uint16_t>(protocol::BridgeCharacteristic::Command);
    static constexpr std::uint16_t kTransmitValueHandle = protocol::kTransmitValueHandle;

    static std::shared_ptr<VirtualBridge> create(BridgeConfig config, std::shared_ptr<Clock> clock);
    ~VirtualBridge() override;

    const BridgeConfig& bridgeConfig() const { return bridgeConfig_; }

    // Parameter blocks.
    static ParameterBlock firmwareDefaults(BlockArea area);
    ParameterBlock block(BlockArea area) const;
    void setBlock(BlockArea area, const ParameterBlock& block);

    // What set-serial / set-modem last gave it.
    LineSettings lineSettings() const;
    ModemOutputs modemOutputs() const;

    // Command frames, valid and malformed, in order.
    std::vector<FrameRecord> frames() const;
    std::uint64_t malformedFrames() const;

    // Serial line.
    std::size_t transmitFill() const;
    std::uint64_t droppedBytes() const;  // overflowed the transmit buffer
    // Far-side bytes that could not reach the host (no link, or notifications not enabled).
    std::uint64_t receiveDropped() const;
    bool pausing() const;           // a pause was reported and no resume yet
    Bytes farSideReceived() const;  // everything that drained out of the line
    void clearFarSideReceived();
    // Status reports it notified, in order.
    std::vector<Bytes> statusReports() const;

    // Far side. injectSerial is queued behind anything the peer itself sends.
    void injectSerial(const Bytes& bytes);
    ModemInputs modemInputs() const;
    // Changes the far side's lines; a change is reported with a status report (pause flags 0).
    void setModemInputs(const ModemInputs& inputs);

    // A status report now: pause flags as given (0x04 pause, 0x01 resume), byte 5 the modem inputs.
    void sendStatusReport(std::uint8_t pauseFlags);
    // Same with a given modem status byte (bit 7 DCD, 6 RI, 5 DSR, 4 CTS), whatever the far side says.
    void sendStatusReport(std::uint8_t pauseFlags, std::uint8_t modemStatus);
    // Any value notified on 0xFFF3 (bad reports for tests).
    void sendCommandNotification(const Bytes& value);

    // Faults of the command channel. A reply override replaces what reads after that command return
    // (an empty override answers with an empty value; nullopt removes the override). An ignored
    // command is recorded but has no effect, and reads go on returning the previous reply.
    void overrideReply(std::uint8_t commandCode, std::optional<Bytes> reply);
    void setIgnoreCommand(std::uint8_t commandCode, bool ignore);
    void clearCommandFaults();

    // Link model, changeable at run time (benchmarks switch it on).
    LinkModel linkModel() const;
    void setLinkModel(const LinkModel& link);

    // The model's own clock-driven work (line draining, generator, queued notifications) up to now.
    // The World calls this; front ends need not.
    void runUntil(std::chrono::nanoseconds now);
    // When runUntil next has work, or nullopt when idle.
    std::optional<std::chrono::nanoseconds> nextDeadline() const;

  protected:
    VirtualBridge(BridgeConfig config, std::shared_ptr<Clock> clock);
    AttReadResult onReadLocked(const CharacteristicEntry& entry) override;
    AttStatus onWriteLocked(const CharacteristicEntry& entry, const Bytes& value, bool withResponse) override;
    void onConnectionChangeLocked(bool connected) override;
    LinkTiming linkTimingLocked(std::size_t bytes) const override;
    void onLinkQueuedLocked() override;

  private:
    friend class World;
    // The World's runner is woken through this when the bridge has new work.
    void setWake(std::function<void()> wake);
    void flushLocked(std::chrono::nanoseconds now);

    struct Impl;
    BridgeConfig bridgeConfig_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qb::emulator
