// Chooses the backend of this process once: the emulator when QB7720_EMULATOR is set, else the
// system's real Bluetooth stack.
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>

#include "qb7720/platform/Backends.h"

namespace qb::platform {
namespace {

std::mutex& slotMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<Platform>& slot() {
    static std::shared_ptr<Platform> p;
    return p;
}

std::shared_ptr<Platform> createRealPlatform() {
#if defined(QB_HAVE_WINRT)
    return winrt::createPlatform();
#elif defined(QB_HAVE_BLUEZ)
    return bluez::createPlatform();
#else
    return createNullPlatform();
#endif
}

std::shared_ptr<Platform> createDefaultPlatform() {
    const char* config = std::getenv("QB7720_EMULATOR");
    if (config == nullptr) return createRealPlatform();
#if defined(QB_HAVE_EMULATOR)
    try {
        return emulator::createPlatformFromConfig(config);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "QB7720_EMULATOR: %s; no radio is available\n", e.what());
        return createNullPlatform();
    }
#else
    std::fprintf(stderr, "QB7720_EMULATOR: this build has no emulator; no radio is available\n");
    return createNullPlatform();
#endif
}

}  // namespace

std::shared_ptr<Platform> currentShared() {
    std::lock_guard<std::mutex> lock(slotMutex());
    if (!slot()) slot() = createDefaultPlatform();
    return slot();
}

Platform& current() {
    return *currentShared();
}

void setCurrent(std::shared_ptr<Platform> platform) {
    std::lock_guard<std::mutex> lock(slotMutex());
    slot() = std::move(platform);
}

}  // namespace qb::platform
