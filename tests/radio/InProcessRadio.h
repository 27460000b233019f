// The emulator in this process, installed as the platform.
#pragma once

#include "TestRadio.h"

namespace qb::test {

class InProcessRadio : public TestRadio {
  public:
    explicit InProcessRadio(emulator::EmulatorOptions options);
    ~InProcessRadio() override;

    std::shared_ptr<TestBridge> addBridge(emulator::BridgeConfig config) override;
    void removeDevice(std::uint64_t address) override;
    void failWrites(const TestBridge& bridge, int count) override;
    void failConnects(const TestBridge& bridge, int count) override;
    void failWith(const TestBridge& bridge, Call call, platform::HResult code, int count) override;
    void clearFaults() override;
    bool discovering() override;
    void setRadioOn(bool on) override;
    void settle() override;
    std::shared_ptr<emulator::Emulator> emulator() const override { return emulator_; }

  private:
    std::shared_ptr<emulator::Emulator> emulator_;
};

}  // namespace qb::test
