// The real Linux stack in the rig's guest: Debian's bluetoothd on the system bus, reached through the
// BlueZ backend, and the HCI peripheral's bridges steered through its control object
// (org.qb7720.Emulator). QB7720_TEST_BACKEND=realstack picks it.
#pragma once

#include "BusRadio.h"

namespace qb::test {

class RealStackRadio : public BusRadio {
  public:
    RealStackRadio();
    // A refused link shows on a real controller only as a connection that never completes, which
    // the peripheral cannot stage: throws, saying so.
    void failConnects(const TestBridge& bridge, int count) override;
    void settle() override;
    // The bridge falls silent, and bluetoothd forgets it at once, as it would a temporary device
    // once its timeout (30 s) has passed.
    void removeDevice(std::uint64_t address) override;

  protected:
    void hear(std::uint64_t address) override;
};

}  // namespace qb::test
