// QB7720Init in a process of its own: its once-flag outlives every test.
#include <gtest/gtest.h>

#include "QB7720DLL.h"
#include "qb7720/emulator/Emulator.h"

namespace qb::dll::test {
namespace {

using emulator::Operation;

TEST(InitTest, FailureIsRetriedAndSuccessHappensOnce) {
    auto emu = emulator::Emulator::create();
    emu->install();
    emu->injectError(Operation::InitializeApartment, platform::hresult::kFail);
    QB7720Init();
    EXPECT_EQ(emu->callCount(Operation::InitializeApartment), 1u);
    QB7720Init();
    EXPECT_EQ(emu->callCount(Operation::InitializeApartment), 2u);
    QB7720Init();
    QB7720Init();
    EXPECT_EQ(emu->callCount(Operation::InitializeApartment), 2u);
}

}  // namespace
}  // namespace qb::dll::test
