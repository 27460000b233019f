#include "qb7720/emulator/Operation.h"

namespace qb::emulator {

const char* operationName(Operation op) {
    switch (op) {
#define QB_NAME(x)     \
    case Operation::x: \
        return #x;
        QB_NAME(CreateDeviceWatcher)
        QB_NAME(CreateAdvertisementWatcher)
        QB_NAME(DeviceFromId)
        QB_NAME(DeviceFromAddress)
        QB_NAME(GattSessionFromDeviceId)
        QB_NAME(FindFirstRadio)
        QB_NAME(LocalControllerVersion)
        QB_NAME(Sleep)
        QB_NAME(InitializeApartment)
        QB_NAME(OutputDebugString)
        QB_NAME(RadioFindNext)
        QB_NAME(RadioGetRadioInfo)
        QB_NAME(RadioGetLocalInfo)
        QB_NAME(DeviceWatcherAddHandler)
        QB_NAME(DeviceWatcherRemoveHandler)
        QB_NAME(DeviceWatcherStart)
        QB_NAME(DeviceWatcherStop)
        QB_NAME(DeviceInformationId)
        QB_NAME(DeviceInformationName)
        QB_NAME(DeviceInformationUpdate)
        QB_NAME(AdvertisementWatcherAddHandler)
        QB_NAME(AdvertisementWatcherRemoveHandler)
        QB_NAME(AdvertisementWatcherStart)
        QB_NAME(AdvertisementWatcherStop)
        QB_NAME(DeviceConnectionStatus)
        QB_NAME(DeviceAddConnectionStatusChanged)
        QB_NAME(DeviceRemoveConnectionStatusChanged)
        QB_NAME(DeviceGetGattServices)
        QB_NAME(DeviceBluetoothDeviceId)
        QB_NAME(DeviceBluetoothAddress)
        QB_NAME(DeviceName)
        QB_NAME(DeviceClose)
        QB_NAME(ServiceUuid)
        QB_NAME(ServiceRequestAccess)
        QB_NAME(ServiceGetCharacteristics)
        QB_NAME(CharacteristicUuid)
        QB_NAME(CharacteristicProperties)
        QB_NAME(CharacteristicAttributeHandle)
        QB_NAME(CharacteristicWriteValue)
        QB_NAME(CharacteristicReadValue)
        QB_NAME(CharacteristicWriteCccd)
        QB_NAME(CharacteristicAddValueChanged)
        QB_NAME(CharacteristicRemoveValueChanged)
        QB_NAME(SessionMaxPduSize)
        QB_NAME(SessionCanMaintainConnection)
        QB_NAME(SessionMaintainConnection)
        QB_NAME(SessionSetMaintainConnection)
#undef QB_NAME
        case Operation::Count_:
            break;
    }
    return "?";
}

}  // namespace qb::emulator
