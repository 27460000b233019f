#include "qb7720/protocol/Types.h"

namespace qb::protocol {

std::optional<BridgeCharacteristic> characteristicFromShortUuid(std::uint16_t shortUuid) {
    switch (shortUuid) {
        case 0xFFF1:
            return BridgeCharacteristic::Receive;
        case 0xFFF2:
            return BridgeCharacteristic::Transmit;
        case 0xFFF3:
            return BridgeCharacteristic::Command;
        default:
            return std::nullopt;
    }
}

std::string_view characteristicUuidText(BridgeCharacteristic characteristic) {
    switch (characteristic) {
        case BridgeCharacteristic::Receive:
            return "0000FFF1-0000-1000-8000-00805F9B34FB";
        case BridgeCharacteristic::Transmit:
            return "0000FFF2-0000-1000-8000-00805F9B34FB";
        case BridgeCharacteristic::Command:
            return "0000FFF3-0000-1000-8000-00805F9B34FB";
    }
    return {};
}

std::optional<BridgeCommand> commandFromCode(std::uint8_t code) {
    switch (code) {
        case 0x01:
            return BridgeCommand::ReadBlock;
        case 0x02:
            return BridgeCommand::WriteBlock;
        case 0x03:
            return BridgeCommand::ResetBlock;
        case 0x04:
            return BridgeCommand::ResetChannel;
        case 0x06:
            return BridgeCommand::SetSerial;
        case 0x07:
            return BridgeCommand::SetModem;
        default:
            return std::nullopt;
    }
}

std::string_view commandName(BridgeCommand command) {
    switch (command) {
        case BridgeCommand::ReadBlock:
            return "ReadBlock";
        case BridgeCommand::WriteBlock:
            return "WriteBlock";
        case BridgeCommand::ResetBlock:
            return "ResetBlock";
        case BridgeCommand::ResetChannel:
            return "ResetChannel";
        case BridgeCommand::SetSerial:
            return "SetSerial";
        case BridgeCommand::SetModem:
            return "SetModem";
    }
    return "?";
}

std::optional<BlockArea> areaFromSelector(std::uint8_t selector) {
    switch (selector) {
        case 0x01:
            return BlockArea::CfgPara;
        case 0x03:
            return BlockArea::ExdCfg;
        default:
            return std::nullopt;
    }
}

std::size_t payloadSize(BridgeCommand command) {
    switch (command) {
        case BridgeCommand::WriteBlock:
            return kBlockSize;
        case BridgeCommand::SetSerial:
            return 7;
        case BridgeCommand::SetModem:
            return 3;
        case BridgeCommand::ReadBlock:
        case BridgeCommand::ResetBlock:
        case BridgeCommand::ResetChannel:
            return 0;
    }
    return 0;
}

std::size_t frameSize(BridgeCommand command) {
    return kFrameHeaderSize + payloadSize(command) + 1;
}

std::uint16_t lengthWord(BridgeCommand command) {
    // Commands without payload carry the block size; the others count the bytes after the word.
    const std::size_t payload = payloadSize(command);
    if (payload == 0) return static_cast<std::uint16_t>(kBlockSize);
    return static_cast<std::uint16_t>(1 + payload + 1);
}

bool isBlockCommand(BridgeCommand command) {
    return command == BridgeCommand::ReadBlock || command == BridgeCommand::WriteBlock ||
           command == BridgeCommand::ResetBlock;
}

}  // namespace qb::protocol
