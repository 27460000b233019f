// The property list handed to DeviceInformation.CreateWatcher, walked as the runtime walks it.
#include <gtest/gtest.h>

#include "Com.h"
#include "StringIterable.h"

namespace qb::winrt {
namespace {

const std::vector<std::string> kProperties = {"System.Devices.Aep.DeviceAddress",
                                              "System.Devices.Aep.IsConnected",
                                              "System.Devices.Aep.Bluetooth.Le.IsConnectable"};

std::string take(HSTRING value) {
    UINT32 length = 0;
    const wchar_t* raw = WindowsGetStringRawBuffer(value, &length);
    std::string text = toUtf8(raw, length);
    WindowsDeleteString(value);
    return text;
}

TEST(StringIterable, YieldsEveryTextInOrderThenReportsTheEnd) {
    auto iterable = StringIterable::create(kProperties);
    ComPtr<wfc::IIterator<HSTRING>> iterator;
    ASSERT_EQ(iterable->First(iterator.GetAddressOf()), S_OK);

    std::vector<std::string> seen;
    // The flags are one-byte booleans in the runtime's ABI: the bytes after the first must stay as they were.
    BOOL has = static_cast<BOOL>(0x5A5A5A00);
    ASSERT_EQ(iterator->get_HasCurrent(&has), S_OK);
    while (has & 0xFF) {
        EXPECT_EQ(has & ~0xFF, 0x5A5A5A00);
        HSTRING current = nullptr;
        ASSERT_EQ(iterator->get_Current(&current), S_OK);
        seen.push_back(take(current));
        has = static_cast<BOOL>(0x5A5A5A00);
        ASSERT_EQ(iterator->MoveNext(&has), S_OK);
    }
    EXPECT_EQ(seen, kProperties);

    HSTRING past = nullptr;
    EXPECT_TRUE(FAILED(iterator->get_Current(&past)));
    has = 0;
    ASSERT_EQ(iterator->MoveNext(&has), S_OK);
    EXPECT_EQ(has & 0xFF, 0);
}

TEST(StringIterable, GetManyHandsOutWhatIsLeftAndCountsIt) {
    auto iterable = StringIterable::create(kProperties);
    ComPtr<wfc::IIterator<HSTRING>> iterator;
    ASSERT_EQ(iterable->First(iterator.GetAddressOf()), S_OK);
    BOOL has = 0;
    ASSERT_EQ(iterator->MoveNext(&has), S_OK);

    HSTRING items[8] = {};
    UINT32 count = 99;
    ASSERT_EQ(iterator->GetMany(8, items, &count), S_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(take(items[0]), kProperties[1]);
    EXPECT_EQ(take(items[1]), kProperties[2]);

    ASSERT_EQ(iterator->GetMany(8, items, &count), S_OK);
    EXPECT_EQ(count, 0u);
}

TEST(StringIterable, EachIteratorStartsAtTheBeginningAndKeepsTheListAlive) {
    ComPtr<wfc::IIterator<HSTRING>> first;
    {
        auto iterable = StringIterable::create({"only"});
        ASSERT_EQ(iterable->First(first.GetAddressOf()), S_OK);
        BOOL has = 0;
        ASSERT_EQ(first->MoveNext(&has), S_OK);
        ComPtr<wfc::IIterator<HSTRING>> second;
        ASSERT_EQ(iterable->First(second.GetAddressOf()), S_OK);
        HSTRING current = nullptr;
        ASSERT_EQ(second->get_Current(&current), S_OK);
        EXPECT_EQ(take(current), "only");
    }
    BOOL has = 1;
    ASSERT_EQ(first->get_HasCurrent(&has), S_OK);
    EXPECT_EQ(has & 0xFF, 0);
}

TEST(StringIterable, EmptyListHasNoCurrent) {
    auto iterable = StringIterable::create({});
    ComPtr<wfc::IIterator<HSTRING>> iterator;
    ASSERT_EQ(iterable->First(iterator.GetAddressOf()), S_OK);
    BOOL has = 1;
    ASSERT_EQ(iterator->get_HasCurrent(&has), S_OK);
    EXPECT_EQ(has & 0xFF, 0);
}

}  // namespace
}  // namespace qb::winrt
