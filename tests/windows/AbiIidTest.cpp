// The IIDs widl computes for parameterized interfaces depend on the default interface of every runtime
// class in their signature; the SDK publishes the results, so a wrong IID in our IDL shows up here.
#include <gtest/gtest.h>

#include "Abi.h"
#include "Com.h"

namespace qb::winrt {
namespace {

std::string text(const GUID& guid) {
    return fromGuid(guid).toString();
}

TEST(AbiIids, ParameterizedInterfacesMatchThePublishedValues) {
    EXPECT_EQ(text(__uuidof(wf::IAsyncOperation<wdb::BluetoothLEDevice*>)),
              "375f9d67-74a2-5f91-a11d-169093718d41");
    EXPECT_EQ(text(__uuidof(wf::IAsyncOperation<gatt::GattDeviceServicesResult*>)),
              "e7c667f6-e874-500f-86ff-760ca6f07a58");
    using ReceivedHandler = wf::ITypedEventHandler<adv::BluetoothLEAdvertisementWatcher*,
                                                   adv::BluetoothLEAdvertisementReceivedEventArgs*>;
    EXPECT_EQ(text(__uuidof(ReceivedHandler)), "90eb4eca-d465-5ea0-a61c-033c8c5ecef2");
}

}  // namespace
}  // namespace qb::winrt
