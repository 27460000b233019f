// The one advertisement scanner of the process and its callback slot.
#pragma once

#include "QB7720DLL.h"
#include "qb7720/platform/Advertisement.h"

namespace qb::dll::discovery {

// Puts the callback in the slot and starts the scanner if none runs; null stops the scanner and
// empties the slot. Platform errors are swallowed: a scanner that failed to start finds nothing.
void registerRssiNotify(RssiCallback callback);

// The scanner's Received handling: every bridge section goes to the callback in the slot.
void deliverAdvertisement(const platform::BluetoothLEAdvertisementReceivedEventArgs& args);

}  // namespace qb::dll::discovery
