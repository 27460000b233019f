// The blocking wait on asynchronous operations.
#include <gtest/gtest.h>

#include <thread>

#include "Await.h"
#include "FakeOperation.h"

namespace qb::winrt {
namespace {

using Status = gatt::GattCommunicationStatus;
using StatusOperation = test::FakeOperation<Status>;
using DeviceOperation = test::FakeOperation<wdb::BluetoothLEDevice*>;

TEST(Await, CompletedOperationGivesItsResultWithoutAHandler) {
    auto operation = StatusOperation::create();
    operation->complete(AsyncStatus::Completed, gatt::GattCommunicationStatus_ProtocolError);

    EXPECT_EQ(await(operation->asOperation(), "write"), gatt::GattCommunicationStatus_ProtocolError);
    EXPECT_EQ(operation->registrations(), 0);
}

TEST(Await, PendingOperationIsWaitedForUntilAnotherThreadCompletesIt) {
    auto operation = StatusOperation::create();
    std::thread completer;
    // Complete only once the handler is in place, from a thread of its own, as the runtime does.
    operation->onRegistered([&] {
        completer = std::thread([operation] {
            operation->complete(AsyncStatus::Completed, gatt::GattCommunicationStatus_AccessDenied);
        });
    });

    Status result = await(operation->asOperation(), "write");
    completer.join();

    EXPECT_EQ(result, gatt::GattCommunicationStatus_AccessDenied);
    EXPECT_EQ(operation->registrations(), 1);
}

TEST(Await, OperationFinishingWhileTheHandlerIsRegisteredIsNotMissed) {
    auto operation = StatusOperation::create();
    operation->onRegistered([] {});
    // Completes between the status check and the registration: put_Completed calls the handler at once.
    std::thread([operation] {
        operation->complete(AsyncStatus::Completed, gatt::GattCommunicationStatus_Success);
    }).join();

    EXPECT_EQ(await(operation->asOperation(), "write"), gatt::GattCommunicationStatus_Success);
}

TEST(Await, FailedOperationRaisesItsOwnErrorCodeUnchanged) {
    for (HRESULT code : {static_cast<HRESULT>(0x80650003), static_cast<HRESULT>(0x80070005),
                         static_cast<HRESULT>(0x80650004), static_cast<HRESULT>(0x8007048F)}) {
        auto operation = StatusOperation::create();
        operation->complete(AsyncStatus::Error, gatt::GattCommunicationStatus_Success, code);
        try {
            await(operation->asOperation(), "GattCharacteristic.WriteValueWithResultAsync");
            ADD_FAILURE() << "no error for " << std::hex << code;
        } catch (const platform::PlatformError& error) {
            EXPECT_EQ(error.code(), static_cast<platform::HResult>(code));
            EXPECT_NE(std::string(error.what()).find("GattCharacteristic.WriteValueWithResultAsync"),
                      std::string::npos);
        }
    }
}

TEST(Await, CancelledOperationRaisesCancelled) {
    auto operation = StatusOperation::create();
    operation->complete(AsyncStatus::Canceled, gatt::GattCommunicationStatus_Success);
    try {
        await(operation->asOperation(), "read");
        ADD_FAILURE() << "no error";
    } catch (const platform::PlatformError& error) {
        EXPECT_EQ(error.code(), static_cast<platform::HResult>(HRESULT_FROM_WIN32(ERROR_CANCELLED)));
    }
}

TEST(Await, NullObjectResultComesBackAsNull) {
    // FromIdAsync answers null for an identifier that matches no device.
    auto operation = DeviceOperation::create();
    operation->complete(AsyncStatus::Completed, nullptr);

    ComPtr<wdb::IBluetoothLEDevice> device = await(operation->asOperation(), "BluetoothLEDevice.FromIdAsync");
    EXPECT_EQ(device, nullptr);
}

TEST(Await, NullOperationRaisesInsteadOfCrashing) {
    ComPtr<wf::IAsyncOperation<Status>> none;
    EXPECT_THROW(await(none, "write"), platform::PlatformError);
}

}  // namespace
}  // namespace qb::winrt
