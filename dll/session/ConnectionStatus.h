#pragma once

#include "qb7720/platform/Device.h"

namespace qb::dll {

// ConnectionStatusChanged handler: tells the first listed session of that device object, holding
// the library lock while the caller's callback runs.
void dispatchConnectionStatus(platform::BluetoothLEDevice& sender);

}  // namespace qb::dll
