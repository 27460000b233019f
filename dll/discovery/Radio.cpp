// The local radio, through the classic radio search.
#include <cstdint>
#include <memory>

#include "QB7720DLL.h"
#include "qb7720/platform/Platform.h"

namespace qb::dll::discovery {
namespace {

// Visits the first radio and each further one the search yields. A radio whose query throws is
// skipped like one whose query fails; a search that throws ends the walk.
template <typename Visit>
void forEachRadio(Visit&& visit) {
    try {
        std::unique_ptr<platform::BluetoothRadioFind> search = platform::current().bluetoothFindFirstRadio();
        if (!search) return;
        std::shared_ptr<platform::BluetoothRadio> radio = search->first();
        do {
            if (radio) {
                try {
                    visit(*radio);
                } catch (...) {
                }
            }
        } while (search->findNext(radio));
    } catch (...) {
    }
}

}  // namespace
}  // namespace qb::dll::discovery

extern "C" QB7720_API std::int32_t QB7720_CALL QB7720IsBluetoothOpened(void) {
    int answering = 0;
    qb::dll::discovery::forEachRadio([&](qb::platform::BluetoothRadio& radio) {
        if (radio.getRadioInfo()) ++answering;
    });
    return answering > 0 ? 1 : 0;
}

extern "C" QB7720_API std::uint8_t QB7720_CALL QB7720GetBluetoothVer(void) {
    std::uint8_t version = 0;
    qb::dll::discovery::forEachRadio([&](qb::platform::BluetoothRadio& radio) {
        qb::platform::LocalRadioInfo info{};
        if (radio.getLocalInfo(info)) version = info[qb::platform::kLocalRadioInfoVersionOffset];
    });
    return version;
}
