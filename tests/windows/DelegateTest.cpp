// Event handlers as the runtime sees them: found under their parameterized IID, agile, and never
// letting an exception escape into the runtime.
#include <gtest/gtest.h>

#include <stdexcept>

#include "Delegate.h"

namespace qb::winrt {
namespace {

using StatusHandler = wf::ITypedEventHandler<wdb::BluetoothLEDevice*, IInspectable*>;

TEST(EventDelegate, AnswersItsParameterizedInterfaceAndAgility) {
    auto handler = EventDelegate<StatusHandler>::create([](wdb::IBluetoothLEDevice*, IInspectable*) {});
    ComPtr<StatusHandler> same;
    EXPECT_EQ(handler.As(&same), S_OK);
    ComPtr<IAgileObject> agile;
    EXPECT_EQ(handler.As(&agile), S_OK);
    ComPtr<IInspectable> inspectable;
    EXPECT_EQ(handler.As(&inspectable), E_NOINTERFACE) << "a delegate is not an IInspectable";
    ComPtr<wf::ITypedEventHandler<wdb::BluetoothLEDevice*, IInspectable*>> viaIid;
    EXPECT_EQ(
        handler->QueryInterface(__uuidof(StatusHandler), reinterpret_cast<void**>(viaIid.GetAddressOf())),
        S_OK);
}

TEST(EventDelegate, PassesTheArgumentsAndSwallowsExceptions) {
    int calls = 0;
    IInspectable* seenArgs = reinterpret_cast<IInspectable*>(0x1234);
    auto handler =
        EventDelegate<StatusHandler>::create([&](wdb::IBluetoothLEDevice* sender, IInspectable* args) {
            ++calls;
            EXPECT_EQ(sender, nullptr);
            seenArgs = args;
            throw std::runtime_error("a handler that fails");
        });
    EXPECT_EQ(handler->Invoke(nullptr, nullptr), S_OK);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seenArgs, nullptr);
}

TEST(EventDelegate, LivesAsLongAsTheRuntimeHoldsIt) {
    auto alive = std::make_shared<int>(0);
    std::weak_ptr<int> watch = alive;
    StatusHandler* raw = nullptr;
    {
        auto handler = EventDelegate<StatusHandler>::create(
            [alive = std::move(alive)](wdb::IBluetoothLEDevice*, IInspectable*) { ++*alive; });
        raw = handler.Get();
        raw->AddRef();  // what add_ConnectionStatusChanged does
    }
    EXPECT_FALSE(watch.expired());
    EXPECT_EQ(raw->Invoke(nullptr, nullptr), S_OK);
    EXPECT_EQ(*watch.lock(), 1);
    EXPECT_EQ(raw->Release(), 0u);  // what remove_ConnectionStatusChanged does
    EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace qb::winrt
