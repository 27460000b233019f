// The classic radio functions: BluetoothFindFirstRadio / BluetoothFindNextRadio /
// BluetoothFindRadioClose, BluetoothGetRadioInfo, DeviceIoControl(IOCTL_BTH_GET_LOCAL_INFO).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace qb::platform {

// BTH_LOCAL_RADIO_INFO as DeviceIoControl fills it; the library reads only its last byte.
using LocalRadioInfo = std::array<std::uint8_t, 292>;
inline constexpr std::size_t kLocalRadioInfoVersionOffset = 291;

class BluetoothRadio {
  public:
    virtual ~BluetoothRadio() = default;

    // BluetoothGetRadioInfo: true when it answers ERROR_SUCCESS.
    virtual bool getRadioInfo() = 0;
    // DeviceIoControl(IOCTL_BTH_GET_LOCAL_INFO) into a zeroed buffer: true on success.
    virtual bool getLocalInfo(LocalRadioInfo& info) = 0;
};

// An open radio search; destroying it is BluetoothFindRadioClose.
class BluetoothRadioFind {
  public:
    virtual ~BluetoothRadioFind() = default;

    // The radio BluetoothFindFirstRadio returned (may be null).
    virtual std::shared_ptr<BluetoothRadio> first() = 0;
    // BluetoothFindNextRadio: false when there are no more.
    virtual bool findNext(std::shared_ptr<BluetoothRadio>& radio) = 0;
};

}  // namespace qb::platform
