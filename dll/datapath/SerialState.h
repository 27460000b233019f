// State of the serial-port mode: each device's pause state, and the one modem callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "QB7720DLL.h"

namespace qb::dll {

// Whether a bridge asked to be left alone: set by its pause report, cleared by its resume report,
// by its link dropping and by its close. Each device opened in serial-port mode has its own.
using PauseFlag = std::shared_ptr<std::atomic<bool>>;

// Starts a device's pause state, clear; a device already tracked keeps its own.
void trackPause(QB7720DeviceHandle handle);
// The device's pause state, or null for a device not opened in serial-port mode.
PauseFlag pauseFlagOf(QB7720DeviceHandle handle);
// The link dropped: whatever the bridge asked before no longer holds.
void clearPause(QB7720DeviceHandle handle);
// The device was closed.
void forgetPause(QB7720DeviceHandle handle);

// Process-wide: a later serial-mode open replaces it for every device.
std::atomic<ModemStatusCallback>& modemStatusCallback();

// Registered on the command characteristic with the handle as context: moves that device's pause
// state and reports the modem inputs of every notified value (all 0 for a value without a byte 5).
void QB7720_CALL statusReportHandler(void* context, const std::uint8_t* data, std::uint32_t length);

}  // namespace qb::dll
