// The HCI peripheral's bridges steered over the system bus, through the same control object the
// emulator daemon serves (org.qb7720.EmulatorControl1 at /org/qb7720/emulator), under the name
// org.qb7720.Emulator. Each bridge is known by its controller's address. Bridges are handed out:
// AddBridge takes the next free controller and serves a fresh bridge of the given configuration
// from it; Release makes every controller free and silent again.
#pragma once

#include <memory>

#include "Runner.h"
#include "qb7720/emulator/Emulator.h"

namespace qb::hci {

inline constexpr const char* kControlBusName = "org.qb7720.Emulator";

class Control {
  public:
    // Serves on its own thread until destroyed; throws sdbus::Error when the bus or the name is
    // not to be had. Must be destroyed before the runner.
    Control(Runner& runner, std::shared_ptr<emulator::Emulator> emulator);
    ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qb::hci
