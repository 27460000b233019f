#include <cstddef>
#include <cstdint>

#include "Check.h"
#include "qb7720/protocol/Replies.h"

using namespace qb::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const StatusReport report = decodeStatusReport(ByteView(data, size));

    const bool isReport = size == kStatusReportSize && data[0] == kStatusReportCode;
    if (!isReport) QB_FUZZ_CHECK(report.pause == PauseChange::Unchanged);
    if (isReport) {
        const std::uint8_t flags = data[4];
        const PauseChange expected = (flags & 0x04)   ? PauseChange::Set
                                     : (flags & 0x01) ? PauseChange::Cleared
                                                      : PauseChange::Unchanged;
        QB_FUZZ_CHECK(report.pause == expected);
    }
    QB_FUZZ_CHECK(report.modem.has_value() == (size > 5));
    if (report.modem) {
        QB_FUZZ_CHECK((report.modem->bits & 0x0F) == 0);
        QB_FUZZ_CHECK(report.modem->bits == (data[5] & 0xF0));
    }
    return 0;
}
