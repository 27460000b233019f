// The factory the platform selection calls when QB7720_EMULATOR is set.
#include <stdexcept>

#include "qb7720/emulator/Config.h"
#include "qb7720/platform/Backends.h"

namespace qb::emulator {

std::shared_ptr<platform::Platform> createPlatformFromConfig(const std::string& config) {
    const EmulatorConfig parsed = parseConfig(config);
    (void)parsed;
    throw std::runtime_error("the in-process emulator is not built yet");
}

}  // namespace qb::emulator
