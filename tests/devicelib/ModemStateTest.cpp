// Decoding the modem inputs from a value the caller hands back without its length.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "Delivery.h"
#include "QB7720lib.h"

using qb::devicelib::DeliveryScope;
using qb::devicelib::paddedCopy;

namespace {

struct Lines {
    int calls = 0;
    bool dcd = false, ring = false, dsr = false, cts = false;
};
thread_local Lines lines;

void record(bool dcd, bool ring, bool dsr, bool cts) {
    ++lines.calls;
    lines = {lines.calls, dcd, ring, dsr, cts};
}

// Hands value to the decoder as a notification callback would: from the delivered, padded buffer.
int decodeDelivered(const std::vector<std::uint8_t>& value) {
    auto buffer = paddedCopy(value.data(), value.size());
    DeliveryScope scope(buffer.data(), value.size());
    return QB7720Ble_Get_Modem_state(buffer.data(), record);
}

}  // namespace

TEST(ModemState, StatusReportBitsInCallbackOrder) {
    lines = {};
    EXPECT_EQ(decodeDelivered({0x88, 0, 0, 0, 0, 0x90, 0}), 0);
    EXPECT_EQ(lines.calls, 1);
    EXPECT_TRUE(lines.dcd);
    EXPECT_FALSE(lines.ring);
    EXPECT_FALSE(lines.dsr);
    EXPECT_TRUE(lines.cts);

    EXPECT_EQ(decodeDelivered({0x88, 0, 0, 0, 0x04, 0x6F, 0}), 0);  // low nibble unused
    EXPECT_EQ(lines.calls, 2);
    EXPECT_FALSE(lines.dcd);
    EXPECT_TRUE(lines.ring);
    EXPECT_TRUE(lines.dsr);
    EXPECT_FALSE(lines.cts);
}

TEST(ModemState, OtherValuesLeaveTheLinesAlone) {
    lines = {};
    const std::vector<std::vector<std::uint8_t>> others = {
        {},
        {0x88},
        {0x88, 0, 0, 0, 0, 0xF0},        // 6 bytes
        {0x88, 0, 0, 0, 0, 0xF0, 0, 0},  // 8 bytes
        {0x82, 0, 0, 0, 0, 0xF0, 0},     // a reply, not a report
    };
    for (const auto& value : others) {
        EXPECT_EQ(decodeDelivered(value), QB7720LIB_E_NOT_STATUS) << value.size();
    }
    EXPECT_EQ(lines.calls, 0);
}

TEST(ModemState, DeliveredBuffersAreZeroPaddedSoByteFiveIsThere) {
    const std::uint8_t one = 0x88;
    auto buffer = paddedCopy(&one, 1);
    ASSERT_GE(buffer.size(), 8u);
    EXPECT_EQ(buffer[0], 0x88);
    for (std::size_t i = 1; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0) << i;
    EXPECT_GE(paddedCopy(nullptr, 0).size(), 8u);
    std::vector<std::uint8_t> big(300, 0x41);
    EXPECT_EQ(paddedCopy(big.data(), big.size()), big);
}

TEST(ModemState, TheLengthIsKnownOnlyForTheBufferBeingDelivered) {
    lines = {};
    // The delivered buffer is 6 bytes long; a copy of its padded form is the caller's own 8 bytes,
    // which are taken as a 7-byte report.
    const std::vector<std::uint8_t> six = {0x88, 0, 0, 0, 0, 0x10};
    auto delivered = paddedCopy(six.data(), six.size());
    auto copy = delivered;
    {
        DeliveryScope scope(delivered.data(), six.size());
        EXPECT_EQ(QB7720Ble_Get_Modem_state(delivered.data(), record), QB7720LIB_E_NOT_STATUS);
        EXPECT_EQ(QB7720Ble_Get_Modem_state(copy.data(), record), 0);
    }
    EXPECT_EQ(lines.calls, 1);
    // Once the delivery is over, the same memory is only the caller's.
    EXPECT_EQ(QB7720Ble_Get_Modem_state(delivered.data(), record), 0);
    EXPECT_EQ(lines.calls, 2);
}

TEST(ModemState, NestedDeliveriesRestoreTheOuterOne) {
    const std::vector<std::uint8_t> outerValue = {0x88, 0, 0, 0, 0, 0x80, 0, 0};
    auto outer = paddedCopy(outerValue.data(), outerValue.size());
    DeliveryScope outerScope(outer.data(), outerValue.size());
    {
        const std::uint8_t inner[7] = {0x88, 0, 0, 0, 0, 0x80, 0};
        DeliveryScope innerScope(inner, sizeof inner);
        EXPECT_EQ(QB7720Ble_Get_Modem_state(inner, record), 0);
    }
    EXPECT_EQ(QB7720Ble_Get_Modem_state(outer.data(), record), QB7720LIB_E_NOT_STATUS);
}

TEST(ModemState, NullArgumentsAreRefused) {
    const std::uint8_t report[7] = {0x88, 0, 0, 0, 0, 0xF0, 0};
    EXPECT_EQ(QB7720Ble_Get_Modem_state(nullptr, record), QB7720LIB_E_ARGUMENT);
    EXPECT_EQ(QB7720Ble_Get_Modem_state(report, nullptr), QB7720LIB_E_ARGUMENT);
}
