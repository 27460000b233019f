#include "qb7720/protocol/Replies.h"

namespace qb::protocol {

namespace {

constexpr std::uint8_t kPauseBit = 0x04;
constexpr std::uint8_t kResumeBit = 0x01;

}  // namespace

bool writeBlockAcknowledged(ByteView reply, BlockArea area) {
    return reply.at_or_zero(0) == replyCode(BridgeCommand::WriteBlock) &&
           reply.at_or_zero(4) == static_cast<std::uint8_t>(area);
}

bool resetBlockAcknowledged(ByteView reply, BlockArea area) {
    const bool codeMatches = reply.at_or_zero(0) == replyCode(BridgeCommand::ResetBlock);
    const bool areaMatches = reply.at_or_zero(4) == static_cast<std::uint8_t>(area);
    if (area == BlockArea::CfgPara) return codeMatches || areaMatches;
    return codeMatches && areaMatches;
}

StatusReport decodeStatusReport(ByteView notified) {
    StatusReport report;
    if (notified.size() == kStatusReportSize && notified[0] == kStatusReportCode) {
        const std::uint8_t flags = notified[4];
        if (flags & kPauseBit) {
            report.pause = PauseChange::Set;
        } else if (flags & kResumeBit) {
            report.pause = PauseChange::Cleared;
        }
    }
    if (notified.size() > 5) report.modem = ModemInputs::fromStatusByte(notified[5]);
    return report;
}

}  // namespace qb::protocol
