// Factories of the backends, for the platform selection. Each is defined by its backend's library.
#pragma once

#include <memory>
#include <string>

#include "qb7720/platform/Platform.h"

namespace qb::emulator {
// Throws std::invalid_argument naming the bad item when the configuration text is wrong.
std::shared_ptr<platform::Platform> createPlatformFromConfig(const std::string& config);
}  // namespace qb::emulator

namespace qb::bluez {
std::shared_ptr<platform::Platform> createPlatform();
}  // namespace qb::bluez

namespace qb::winrt {
std::shared_ptr<platform::Platform> createPlatform();
}  // namespace qb::winrt

namespace qb::platform {
// A platform without any radio: every search finds nothing. Used where no real backend is built.
std::shared_ptr<Platform> createNullPlatform();
}  // namespace qb::platform
