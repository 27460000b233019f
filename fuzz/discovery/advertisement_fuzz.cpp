// Feeds arbitrary advertisements through the bridge recogniser and arbitrary text through the
// enumeration's field writer. Input: address (6), signal (2), type (1), then sections of
// company (2), length (1) and that many data bytes; what is left over is used as a device name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "BridgeAdvertisement.h"
#include "EntryText.h"

namespace {

using qb::dll::discovery::BridgeAddress;

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool take(std::size_t n, const std::uint8_t*& out) {
        if (size_ - pos_ < n) return false;
        out = data_ + pos_;
        pos_ += n;
        return true;
    }
    std::string_view rest() const { return {reinterpret_cast<const char*>(data_ + pos_), size_ - pos_}; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qb::platform;
    Reader in(data, size);
    const std::uint8_t* p = nullptr;
    if (!in.take(9, p)) return 0;

    BluetoothLEAdvertisementReceivedEventArgs args;
    for (int i = 0; i < 6; ++i) args.bluetoothAddress = args.bluetoothAddress << 8 | p[i];
    args.rawSignalStrengthInDBm = static_cast<std::int16_t>(p[6] << 8 | p[7]);
    args.advertisementType = static_cast<BluetoothLEAdvertisementType>(p[8] % 6);

    std::size_t matching = 0;
    const std::uint8_t* header = nullptr;
    while (in.take(3, header)) {
        const std::uint8_t* body = nullptr;
        const std::size_t length = header[2];
        if (!in.take(length, body)) break;
        BluetoothLEManufacturerData section;
        section.companyId = static_cast<std::uint16_t>(header[0] | header[1] << 8);
        section.data.assign(body, body + length);
        if (section.companyId == qb::dll::discovery::kBridgeCompanyId && length >= 8 &&
            std::memcmp(body + 2, "QB772", 5) == 0) {
            ++matching;
        }
        args.manufacturerData.push_back(std::move(section));
    }

    std::size_t reports = 0;
    qb::dll::discovery::forEachBridgeReport(
        args, [&](const BridgeAddress& address, std::int32_t rssi, std::uint8_t) {
            check(std::memcmp(address.data(), data, 6) == 0);
            check(rssi == args.rawSignalStrengthInDBm);
            ++reports;
        });
    const bool connectable = args.advertisementType == BluetoothLEAdvertisementType::ConnectableUndirected;
    check(reports == (connectable ? matching : 0));

    // Names and identifiers are untrusted too: the field never overflows and stays terminated.
    char field[260 + 1];
    field[260] = '\x7E';
    qb::dll::discovery::copyToField(field, 260, in.rest());
    check(field[260] == '\x7E');
    check(std::memchr(field, '\0', 260) != nullptr);
    return 0;
}
