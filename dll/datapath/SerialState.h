// Process-wide state of the serial-port mode, shared by every device opened in it.
#pragma once

#include <atomic>
#include <cstdint>

#include "QB7720DLL.h"

namespace qb::dll {

// Set by a bridge's pause report, cleared by its resume report; polled by the serial writer.
std::atomic<bool>& transmitPaused();
std::atomic<ModemStatusCallback>& modemStatusCallback();

// Registered on the command characteristic with the handle as context: moves the pause state and
// reports the modem inputs of every notified value (all 0 for a value without a byte 5).
void QB7720_CALL statusReportHandler(void* context, const std::uint8_t* data, std::uint32_t length);

}  // namespace qb::dll
