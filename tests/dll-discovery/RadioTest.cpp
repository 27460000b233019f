// The local radio exports over the emulator's classic radio search.
#include "EmulatorFixture.h"

namespace qb::test {
namespace {

using emulator::Operation;
using emulator::RadioConfig;

class Radio : public EmulatorTest {
  protected:
    void radios(std::vector<RadioConfig> list) { emu->setRadios(std::move(list)); }
};

RadioConfig radio(std::uint8_t version, bool infoFails = false, bool localInfoFails = false) {
    RadioConfig r;
    r.version = version;
    r.infoFails = infoFails;
    r.localInfoFails = localInfoFails;
    return r;
}

TEST_F(Radio, NoneFound) {
    radios({});
    EXPECT_EQ(QB7720IsBluetoothOpened(), 0);
    EXPECT_EQ(QB7720GetBluetoothVer(), 0);
}

TEST_F(Radio, OneRadio) {
    radios({radio(9)});
    EXPECT_EQ(QB7720IsBluetoothOpened(), 1);
    EXPECT_EQ(QB7720GetBluetoothVer(), 9);
}

TEST_F(Radio, LastAnsweringRadioGivesTheVersion) {
    radios({radio(6), radio(8)});
    EXPECT_EQ(QB7720GetBluetoothVer(), 8);
    EXPECT_EQ(QB7720IsBluetoothOpened(), 1);

    radios({radio(6), radio(8, false, true)});
    EXPECT_EQ(QB7720GetBluetoothVer(), 6);
}

TEST_F(Radio, RadioWhoseInfoQueryFailsDoesNotCount) {
    radios({radio(7, true)});
    EXPECT_EQ(QB7720IsBluetoothOpened(), 0);

    radios({radio(7, true), radio(5)});
    EXPECT_EQ(QB7720IsBluetoothOpened(), 1);
}

TEST_F(Radio, FailingSearchFindsNothing) {
    radios({radio(9)});
    emu->injectError(Operation::FindFirstRadio, platform::hresult::kFail, 2);
    EXPECT_EQ(QB7720IsBluetoothOpened(), 0);
    EXPECT_EQ(QB7720GetBluetoothVer(), 0);
    EXPECT_EQ(QB7720GetBluetoothVer(), 9);
}

TEST_F(Radio, SearchThatBreaksOffKeepsWhatItFound) {
    radios({radio(6), radio(8)});
    emu->injectError(Operation::RadioFindNext, platform::hresult::kFail);
    EXPECT_EQ(QB7720GetBluetoothVer(), 6);
}

}  // namespace
}  // namespace qb::test
