#pragma once

#include <string>

#include "qb7720/platform/PlatformError.h"

namespace qb::dll {

// Formats an error into one debug line, cut to the 255 characters the line buffer holds, and hands
// it to the platform's debug output (outside Windows only when QB7720_DEBUG is set). format takes
// the code (%x) and the message (%s).
void debugLine(const char* format, const platform::PlatformError& error);

// The cut alone, by characters rather than bytes, so a UTF-8 sequence is never split.
std::string limitDebugLine(std::string line);

}  // namespace qb::dll
