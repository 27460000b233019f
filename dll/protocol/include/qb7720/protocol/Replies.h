#pragma once

#include "qb7720/protocol/Bytes.h"
#include "qb7720/protocol/Types.h"

namespace qb::protocol {

// Replies are judged as if read into a cleared buffer: bytes beyond a short reply count as zero.
bool writeBlockAcknowledged(ByteView reply, BlockArea area);
// CfgPara takes either sign of success, ExdCfg insists on both; callers rely on that difference.
bool resetBlockAcknowledged(ByteView reply, BlockArea area);

// Any value notified on the command characteristic. Only a 7-byte value starting with 0x88 moves the pause
// state; the modem inputs come from byte 5 of whatever value has one.
StatusReport decodeStatusReport(ByteView notified);

}  // namespace qb::protocol
