// Texts and errors crossing between the library and the runtime.
#include <gtest/gtest.h>

#include "Com.h"

namespace qb::winrt {
namespace {

TEST(HString, Utf8SurvivesTheRoundTripThroughTheRuntimeString) {
    for (const std::string& original :
         {std::string(), std::string("QB7720-UART"),
          std::string("Br\xC3\xBC"
                      "cke \xE4\xB8\xB2\xE5\x8F\xA3"),
          std::string("BluetoothLE#BluetoothLEc2:a1:b3:d4:e5:f6-00:11:22:33:44:55"),
          std::string("\xF0\x9F\x93\xA1 emoji outside the basic plane")}) {
        HString value(original);
        EXPECT_EQ(value.utf8(), original);
    }
}

TEST(HString, PutReleasesTheHeldStringAndTakesANewOne) {
    HString value(std::string("first"));
    ASSERT_EQ(WindowsCreateString(L"second", 6, value.put()), S_OK);
    EXPECT_EQ(value.utf8(), "second");
}

TEST(PlatformErrors, CarryTheHresultAndNameTheCall) {
    try {
        check(static_cast<HRESULT>(0x80040154), "RoGetActivationFactory");
        ADD_FAILURE() << "no error";
    } catch (const platform::PlatformError& error) {
        EXPECT_EQ(error.code(), platform::hresult::kClassNotRegistered);
        EXPECT_EQ(std::string(error.what()).rfind("RoGetActivationFactory: ", 0), 0u);
    }
    EXPECT_NO_THROW(check(S_FALSE, "success codes pass"));
}

TEST(PlatformErrors, CodeWithoutSystemTextIsShownInHexadecimal) {
    EXPECT_EQ(describeHresult(static_cast<HRESULT>(0xA0001234)), "0xa0001234");
}

TEST(Guids, KeepTheirFieldsInTheWindowsLayout) {
    GUID guid{0x0000fff1, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5f, 0x9b, 0x34, 0xfb}};
    platform::Guid converted = fromGuid(guid);
    EXPECT_EQ(converted.toString(), "0000fff1-0000-1000-8000-00805f9b34fb");
    EXPECT_EQ(converted.shortUuid(), 0xfff1);
}

}  // namespace
}  // namespace qb::winrt
