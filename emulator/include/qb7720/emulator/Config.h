// The configuration text of QB7720_EMULATOR: blank-separated key=value items, for example
// "bridges=3 peer=loopback link=le-1m". Items:
//   bridges=N      number of bridges (0..64, default 1)
//   peer=KIND      loopback | sink | generator | scripted (default loopback)
//   link=MODEL     off | le-1m | le-2m | le-coded (default off)
//   mtu=N          ATT MTU of each connection, 23..517 (default 247)
//   baud=N         the line's rate until the host sets one (default 115200)
//   names=A,B,...  bridge names (default QB7720-UART-1, -2, ...)
//   tag=N          tag byte of the advertisements (default 48)
//   rssi=N         signal strength in dBm, -127..20 (default -60)
//   interval=MS    advertising interval (default 100)
//   buffer=N       transmit buffer bytes (default 4096; pause at 3/4, resume at 1/8)
//   piece=N        bytes per read of the block stream (default 20)
//   rate=N         generator bytes per second (default: the line's rate)
//   radios=N       number of local radios (default 1)
//   version=N      their version byte and the controller version (default 9)
//   time=MODE      real | fast | virtual (default real)
// Numbers are decimal, or hexadecimal with 0x.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "qb7720/emulator/Bridge.h"
#include "qb7720/emulator/Clock.h"
#include "qb7720/platform/Platform.h"

namespace qb::emulator {

class Emulator;

struct EmulatorConfig {
    std::size_t bridges = 1;
    std::vector<std::string> names;
    BridgeConfig bridge;  // what every bridge starts from
    std::size_t radios = 1;
    int version = 9;
    TimeMode timeMode = TimeMode::Real;
};

// Throws std::invalid_argument naming the bad item.
EmulatorConfig parseConfig(const std::string& text);

// An emulator set up as the configuration says.
std::shared_ptr<Emulator> createEmulator(const EmulatorConfig& config);

}  // namespace qb::emulator
