// The local radio exports over the platform's classic radio search. The radios and their controller
// versions are the in-process emulator's; over the bus only switching the one adapter off is possible.
#include "EmulatorFixture.h"

namespace qb::test {
namespace {

using emulator::Operation;
using emulator::RadioConfig;

class Radio : public EmulatorTest {
  protected:
    void radios(std::vector<RadioConfig> list) { emu->setRadios(std::move(list)); }
};

RadioConfig localRadio(std::uint8_t version, bool infoFails = false, bool localInfoFails = false) {
    RadioConfig r;
    r.version = version;
    r.infoFails = infoFails;
    r.localInfoFails = localInfoFails;
    return r;
}

TEST_F(Radio, NoneFound) {
    radio->setRadioOn(false);
    EXPECT_EQ(QB7720IsBluetoothOpened(), 0);
    EXPECT_EQ(QB7720GetBluetoothVer(), 0);
}

TEST_F(Radio, RadioSwitchedOnAgainIsFoundAgain) {
    EXPECT_EQ(QB7720IsBluetoothOpened(), 1);
    // Over the bus the host learns of the switch from a signal, a moment after the switch.
    radio->setRadioOn(false);
    EXPECT_TRUE(eventually([] { return QB7720IsBluetoothOpened() == 0; }));
    EXPECT_EQ(QB7720GetBluetoothVer(), 0);
    radio->setRadioOn(true);
    EXPECT_TRUE(eventually([] { return QB7720IsBluetoothOpened() == 1; }));
}

TEST_F(Radio, OneRadio) {
    QB_IN_PROCESS_ONLY("a radio of a chosen controller version");
    radios({localRadio(9)});
    EXPECT_EQ(QB7720IsBluetoothOpened(), 1);
    EXPECT_EQ(QB7720GetBluetoothVer(), 9);
}

TEST_F(Radio, LastAnsweringRadioGivesTheVersion) {
    QB_IN_PROCESS_ONLY("several local radios");
    radios({localRadio(6), localRadio(8)});
    EXPECT_EQ(QB7720GetBluetoothVer(), 8);
    EXPECT_EQ(QB7720IsBluetoothOpened(), 1);

    radios({localRadio(6), localRadio(8, false, true)});
    EXPECT_EQ(QB7720GetBluetoothVer(), 6);
}

TEST_F(Radio, RadioWhoseInfoQueryFailsDoesNotCount) {
    QB_IN_PROCESS_ONLY("a radio whose information query fails");
    radios({localRadio(7, true)});
    EXPECT_EQ(QB7720IsBluetoothOpened(), 0);

    radios({localRadio(7, true), localRadio(5)});
    EXPECT_EQ(QB7720IsBluetoothOpened(), 1);
}

TEST_F(Radio, FailingSearchFindsNothing) {
    QB_IN_PROCESS_ONLY("a radio search that fails");
    radios({localRadio(9)});
    emu->injectError(Operation::FindFirstRadio, platform::hresult::kFail, 2);
    EXPECT_EQ(QB7720IsBluetoothOpened(), 0);
    EXPECT_EQ(QB7720GetBluetoothVer(), 0);
    EXPECT_EQ(QB7720GetBluetoothVer(), 9);
}

TEST_F(Radio, SearchThatBreaksOffKeepsWhatItFound) {
    QB_IN_PROCESS_ONLY("several local radios and a search that breaks off");
    radios({localRadio(6), localRadio(8)});
    emu->injectError(Operation::RadioFindNext, platform::hresult::kFail);
    EXPECT_EQ(QB7720GetBluetoothVer(), 6);
}

}  // namespace
}  // namespace qb::test
