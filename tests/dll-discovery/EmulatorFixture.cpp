#include "EmulatorFixture.h"

#include "qb7720/platform/Platform.h"

namespace qb::test {

RssiRecorder& recorderA() {
    static RssiRecorder r;
    return r;
}

RssiRecorder& recorderB() {
    static RssiRecorder r;
    return r;
}

void QB7720_CALL recordA(const std::uint8_t* address, std::int32_t rssi, std::int32_t tagByte) {
    recorderA().record(address, rssi, tagByte);
}

void QB7720_CALL recordB(const std::uint8_t* address, std::int32_t rssi, std::int32_t tagByte) {
    recorderB().record(address, rssi, tagByte);
}

void EmulatorTest::install(emulator::EmulatorOptions options) {
    emu = emulator::Emulator::create(std::move(options));
    emu->install();
    recorderA().clear();
    recorderB().clear();
}

void EmulatorTest::TearDown() {
    QB7720RegisterRSSINotify(nullptr);
    emu->setSleepHook(nullptr);
    emu->waitIdle();
    platform::setCurrent(nullptr);
    emu.reset();
}

}  // namespace qb::test
