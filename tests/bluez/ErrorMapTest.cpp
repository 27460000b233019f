#include <gtest/gtest.h>

#include "ErrorMap.h"

namespace qb::bluez {
namespace {

namespace hr = platform::hresult;
namespace hx = hresult_extra;

TEST(ErrorMap, AttPermissionErrorsKeepTheirMeaning) {
    EXPECT_EQ(mapBluezError("org.bluez.Error.NotPermitted", "Write not permitted"),
              hr::kAttWriteNotPermitted);
    EXPECT_EQ(mapBluezError("org.bluez.Error.NotPermitted", "Read not permitted"), hx::kAttReadNotPermitted);
    // Any other refusal (pairing, acquired) is an access denial, not an ATT error.
    EXPECT_EQ(mapBluezError("org.bluez.Error.NotPermitted", "Not paired"), hr::kAccessDenied);
    EXPECT_EQ(mapBluezError("org.bluez.Error.NotPermitted", "Write acquired"), hr::kAccessDenied);
    EXPECT_EQ(mapBluezError("org.bluez.Error.NotAuthorized", ""), hr::kAccessDenied);
}

TEST(ErrorMap, NotConnectedInBothSpellings) {
    EXPECT_EQ(mapBluezError("org.bluez.Error.Failed", "Not connected"), hr::kDeviceNotConnected);
    EXPECT_EQ(mapBluezError("org.bluez.Error.NotConnected", "whatever"), hr::kDeviceNotConnected);
    // The same error name with another text is a plain failure.
    EXPECT_EQ(mapBluezError("org.bluez.Error.Failed", "le-connection-abort-by-local"), hr::kFail);
}

TEST(ErrorMap, AttErrorCodesBecomeBluetoothAttHresults) {
    EXPECT_EQ(mapBluezError("org.bluez.Error.Failed", "Operation failed with ATT error: 0x04"),
              hr::kAttInvalidPdu);
    EXPECT_EQ(mapBluezError("org.bluez.Error.Failed", "Operation failed with ATT error: 0x0d"),
              hr::kAttInvalidAttributeLength);
    EXPECT_EQ(mapBluezError("org.bluez.Error.Failed", "Operation failed with ATT error: 0xFE"), 0x806500FEu);
    EXPECT_TRUE(isAttError(mapBluezError("org.bluez.Error.Failed", "Operation failed with ATT error: 0x80")));
}

TEST(ErrorMap, MalformedAttTextsAreNotTrusted) {
    for (const char* text :
         {"Operation failed with ATT error: 0x", "Operation failed with ATT error: 0xzz",
          "Operation failed with ATT error: 0x0", "Operation failed with ATT error: 0x00"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(mapBluezError("org.bluez.Error.Failed", text), hr::kFail);
    }
}

TEST(ErrorMap, BusLevelFailures) {
    EXPECT_EQ(mapBluezError("org.freedesktop.DBus.Error.ServiceUnknown", "x"), hx::kDeviceNotAvailable);
    EXPECT_EQ(mapBluezError("org.freedesktop.DBus.Error.NoReply", "x"), hr::kTimeout);
    EXPECT_EQ(mapBluezError("org.freedesktop.DBus.Error.UnknownObject", "x"), hr::kNotFound);
    EXPECT_EQ(mapBluezError("org.bluez.Error.InProgress", ""), hx::kBusy);
    EXPECT_EQ(mapBluezError("org.bluez.Error.Failed", "Operation already in progress"), hx::kBusy);
    EXPECT_EQ(mapBluezError("org.bluez.Error.NotReady", ""), hx::kNotReady);
    EXPECT_EQ(mapBluezError("org.bluez.Error.Failed", "Failed to initiate write"),
              hr::kAttInvalidAttributeLength);
    EXPECT_EQ(mapBluezError("com.example.Unheard", "x"), hr::kFail);
}

TEST(ErrorMap, PlatformErrorNamesTheDbusError) {
    auto e = toPlatformError("org.bluez.Error.NotPermitted", "Write not permitted");
    EXPECT_EQ(e.code(), hr::kAttWriteNotPermitted);
    EXPECT_NE(std::string(e.what()).find("org.bluez.Error.NotPermitted"), std::string::npos);
}

// The daemon's tests fail BlueZ calls with the error the backend turns into a given code; every code
// the core tells apart must come back as itself.
TEST(ErrorMap, ErrorChosenForACodeMapsBackToIt) {
    const platform::HResult codes[] = {hr::kAttWriteNotPermitted, hx::kAttReadNotPermitted, hr::kAttInvalidPdu,
                                       hr::kAttInvalidAttributeLength, hr::kAccessDenied, hr::kDeviceNotConnected,
                                       hr::kInvalidArg, hr::kNotImplemented, hr::kNotFound, hr::kTimeout, hx::kBusy,
                                       hx::kNotReady, hx::kDeviceNotAvailable, hr::kFail, 0x80650011u};
    for (const auto code : codes) {
        const auto error = bluezErrorFor(code);
        EXPECT_EQ(mapBluezError(error.name, error.message), code)
            << std::hex << code << " went out as " << error.name << ": " << error.message;
    }
    // A code no BlueZ error produces is a plain failure.
    const auto other = bluezErrorFor(0x80004003u);
    EXPECT_EQ(mapBluezError(other.name, other.message), hr::kFail);
}

}  // namespace
}  // namespace qb::bluez
