// Requests from a central: the ATT server over the bridge model, fed any run of PDUs.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "../protocol/Check.h"
#include "AttServer.h"
#include "qb7720/emulator/World.h"

using namespace qb::hci;

namespace {

struct Served {
    std::shared_ptr<qb::emulator::World> world = qb::emulator::World::create(qb::emulator::TimeMode::Virtual);
    std::shared_ptr<qb::emulator::VirtualBridge> bridge = world->addBridge();
    std::vector<Bytes> sent;
    AttServer server{bridge, 517, [this](Bytes pdu) { sent.push_back(std::move(pdu)); }};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Served* served = new Served;  // one world for the whole run: making one costs a thread
    auto& s = *served;
    s.bridge->disconnect();
    s.server.linkDown();
    s.server.linkUp();
    s.bridge->connect();
    for (std::size_t at = 0; at < size;) {
        const std::size_t n = std::min<std::size_t>(std::size_t{data[at]} * 2 + 1, size - at - 1);
        const ByteView pdu(data + at + 1, n);
        at += 1 + n;
        s.sent.clear();
        const std::uint16_t mtuBefore = s.server.mtu();
        s.server.receive(pdu);
        QB_FUZZ_CHECK(s.server.mtu() >= kDefaultAttMtu && s.server.mtu() <= kMaxAttMtu);
        QB_FUZZ_CHECK(s.sent.size() <= 1);
        for (const auto& out : s.sent) {
            QB_FUZZ_CHECK(!out.empty());
            // A response fits the MTU it was sent under (an MTU response always fits the default).
            QB_FUZZ_CHECK(out.size() <= std::max(mtuBefore, s.server.mtu()));
            if (pdu.size() > 0 && (pdu[0] & 0x40) != 0) QB_FUZZ_CHECK(out[0] != 0x01);  // commands get no error
        }
    }
    return 0;
}
