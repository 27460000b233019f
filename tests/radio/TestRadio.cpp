#include "TestRadio.h"

#include <cctype>
#include <cstdlib>
#include <stdexcept>

#include "InProcessRadio.h"
#if defined(QB_TEST_HAVE_BUS)
#include "BusRadio.h"
#include "RealStackRadio.h"
#endif

namespace qb::test {

#if !defined(QB_TEST_HAVE_BUS)
// With the bus, SuiteBackend.cpp answers this.
bool onBus() {
    const char* value = std::getenv("QB7720_TEST_BACKEND");
    return value != nullptr && std::string(value) == "bluez";
}
#endif

bool onRealStack() {
    const char* value = std::getenv("QB7720_TEST_BACKEND");
    return value != nullptr && std::string(value) == "realstack";
}

std::string TestBridge::addressText() const {
    auto text = emulator::World::addressText(address());
    for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::unique_ptr<TestRadio> TestRadio::create(emulator::EmulatorOptions options) {
#if defined(QB_TEST_HAVE_BUS)
    if (onRealStack()) return std::make_unique<RealStackRadio>();
    if (onBus()) return std::make_unique<BusRadio>();
#endif
    if (onBus()) throw std::runtime_error("QB7720_TEST_BACKEND=bluez, but this build has no bus backend");
    return std::make_unique<InProcessRadio>(std::move(options));
}

}  // namespace qb::test
