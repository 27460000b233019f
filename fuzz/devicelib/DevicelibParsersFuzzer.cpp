// The device library's readers of bytes from the air and text from callers: advertisement sections,
// delivered notification values, addresses and UUID names.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "BridgeAdvert.h"
#include "Delivery.h"
#include "QB7720lib.h"
#include "UuidText.h"

namespace {

void ignoreLines(bool, bool, bool, bool) {}

// Manufacturer sections as [company lo, company hi, length, bytes...] repeated.
std::vector<qb::platform::BluetoothLEManufacturerData> sectionsFrom(const std::uint8_t* data,
                                                                    std::size_t size) {
    std::vector<qb::platform::BluetoothLEManufacturerData> sections;
    std::size_t at = 0;
    while (at + 3 <= size) {
        qb::platform::BluetoothLEManufacturerData section;
        section.companyId = static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
        std::size_t length = data[at + 2];
        at += 3;
        if (length > size - at) length = size - at;
        section.data.assign(data + at, data + at + length);
        at += length;
        sections.push_back(std::move(section));
    }
    return sections;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t selector = data[0];
    ++data;
    --size;
    switch (selector % 4) {
        case 0: {
            auto sections = sectionsFrom(data, size);
            if (const auto* found = qb::devicelib::findBridgeData(sections)) {
                if (found->data.size() < 8 || found->companyId != qb::devicelib::kBridgeCompanyId)
                    __builtin_trap();
            }
            break;
        }
        case 1: {
            // As a notification callback hands it on: padded, its length remembered on this thread.
            auto buffer = qb::devicelib::paddedCopy(data, size);
            qb::devicelib::DeliveryScope scope(buffer.data(), size);
            const int result = QB7720Ble_Get_Modem_state(buffer.data(), ignoreLines);
            const bool report = size == 7 && data[0] == 0x88;
            if ((result == 0) != report) __builtin_trap();
            break;
        }
        case 2: {
            std::string_view text(reinterpret_cast<const char*>(data), size);
            if (auto address = qb::devicelib::parseAddress(text)) {
                if (qb::devicelib::parseAddress(qb::devicelib::formatAddress(*address)) != address)
                    __builtin_trap();
            }
            break;
        }
        default: {
            std::string_view text(reinterpret_cast<const char*>(data), size);
            if (auto uuid = qb::devicelib::parseUuidText(text)) {
                const uuid_t gatt = qb::devicelib::toGattUuid(*uuid);
                char out[38];
                if (gatt_uuid_to_string(&gatt, out, sizeof out) != 0) __builtin_trap();
            }
            break;
        }
    }
    return 0;
}
