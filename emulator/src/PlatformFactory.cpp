// The factory the platform selection calls when QB7720_EMULATOR is set.
#include "qb7720/emulator/Config.h"
#include "qb7720/emulator/Emulator.h"
#include "qb7720/platform/Backends.h"

namespace qb::emulator {

std::shared_ptr<Emulator> createEmulator(const EmulatorConfig& config) {
    EmulatorOptions options;
    options.timeMode = config.timeMode;
    RadioConfig radio;
    radio.version = static_cast<std::uint8_t>(config.version);
    options.radios.assign(config.radios, radio);
    options.controllerVersion = config.radios > 0 ? std::optional<int>(config.version) : std::nullopt;
    auto emulator = Emulator::create(options);
    for (std::size_t i = 0; i < config.bridges; ++i) {
        BridgeConfig bridge = config.bridge;
        bridge.name = i < config.names.size() ? config.names[i] : "QB7720-UART-" + std::to_string(i + 1);
        emulator->addBridge(bridge);
    }
    return emulator;
}

std::shared_ptr<platform::Platform> createPlatformFromConfig(const std::string& config) {
    return createEmulator(parseConfig(config))->platform();
}

}  // namespace qb::emulator
