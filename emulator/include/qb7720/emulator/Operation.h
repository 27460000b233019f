// Every operation of the platform interface, named so a test can aim a fault at it or count its calls.
#pragma once

#include <cstdint>

namespace qb::emulator {

enum class Operation : std::uint16_t {
    // Platform
    CreateDeviceWatcher,
    CreateAdvertisementWatcher,
    DeviceFromId,
    DeviceFromAddress,
    GattSessionFromDeviceId,
    FindFirstRadio,
    LocalControllerVersion,
    Sleep,
    InitializeApartment,
    OutputDebugString,
    // BluetoothRadioFind / BluetoothRadio (an error here makes the classic call fail, it never throws)
    RadioFindNext,
    RadioGetRadioInfo,
    RadioGetLocalInfo,
    // DeviceWatcher
    DeviceWatcherAddHandler,  // any of its five add... calls
    DeviceWatcherRemoveHandler,
    DeviceWatcherStart,
    DeviceWatcherStop,
    // DeviceInformation
    DeviceInformationId,
    DeviceInformationName,
    DeviceInformationUpdate,
    // BluetoothLEAdvertisementWatcher
    AdvertisementWatcherAddHandler,
    AdvertisementWatcherRemoveHandler,
    AdvertisementWatcherStart,
    AdvertisementWatcherStop,
    // BluetoothLEDevice
    DeviceConnectionStatus,
    DeviceAddConnectionStatusChanged,
    DeviceRemoveConnectionStatusChanged,
    DeviceGetGattServices,
    DeviceBluetoothDeviceId,
    DeviceBluetoothAddress,
    DeviceName,
    DeviceClose,
    // GattDeviceService
    ServiceUuid,
    ServiceRequestAccess,
    ServiceGetCharacteristics,
    // GattCharacteristic
    CharacteristicUuid,
    CharacteristicProperties,
    CharacteristicAttributeHandle,
    CharacteristicWriteValue,
    CharacteristicReadValue,
    CharacteristicWriteCccd,
    CharacteristicAddValueChanged,
    CharacteristicRemoveValueChanged,
    // GattSession
    SessionMaxPduSize,
    SessionCanMaintainConnection,
    SessionMaintainConnection,
    SessionSetMaintainConnection,

    Count_
};

inline constexpr std::size_t kOperationCount = static_cast<std::size_t>(Operation::Count_);

// "CharacteristicWriteValue" and so on; "?" for a value out of range.
const char* operationName(Operation op);

}  // namespace qb::emulator
