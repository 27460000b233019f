#include "datapath/CommandChannel.h"

#include "qb7720/platform/Platform.h"
#include "qb7720/protocol/BridgeFacts.h"

namespace qb::dll {

void platformSleep(std::chrono::milliseconds duration) {
    platform::currentShared()->sleep(duration);
}

bool writeCommand(QB7720DeviceHandle handle, const protocol::Bytes& frame, bool withResponse) {
    return succeeded(QB7720WriteBuffer(handle, kCommandUuid, withResponse ? 1 : 0, frame.data(),
                                       static_cast<std::uint32_t>(frame.size())));
}

bool readReply(QB7720DeviceHandle handle, Reply& reply, std::uint32_t capacity) {
    reply.bytes.fill(0);
    reply.length = capacity < kReplyCapacity ? capacity : kReplyCapacity;
    if (!succeeded(QB7720ReadBuffer(handle, kCommandUuid, reply.bytes.data(), &reply.length))) {
        reply.length = 0;
        return false;
    }
    return true;
}

bool awaitReply(QB7720DeviceHandle handle, Reply& reply) {
    platformSleep(protocol::kReplyDelay);
    return readReply(handle, reply);
}

}  // namespace qb::dll
