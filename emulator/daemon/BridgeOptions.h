// A bridge's configuration as the control object's AddBridge takes it: a{sv}, one entry per field.
// Both the daemon and its clients (tests) convert through here, so the two sides cannot drift.
#pragma once

#include <sdbus-c++/Types.h>

#include <map>
#include <string>

#include "qb7720/emulator/Bridge.h"

namespace qb::emud {

using BridgeOptions = std::map<std::string, sdbus::Variant>;

// Every field of the configuration.
BridgeOptions toBridgeOptions(const emulator::BridgeConfig& config);
// Fields not given keep their defaults. Throws sdbus::Error (org.bluez.Error.InvalidArguments) naming
// an unknown key, a value of the wrong type or an unknown peer kind.
emulator::BridgeConfig fromBridgeOptions(const BridgeOptions& options);

}  // namespace qb::emud
