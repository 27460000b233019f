// The C functions' workings, with the knobs the tests turn.
#pragma once

#include <chrono>

#include "QB7720lib.h"
#include "Scanner.h"

namespace qb::devicelib {

inline constexpr std::chrono::milliseconds kScanIdleTimeout{2000};
inline constexpr std::chrono::milliseconds kConnectTimeout{10000};

// The process's scanner, on the current platform.
Scanner& processScanner();

QB7720HANDLE* connect(const char* address, qb7720_connect_cb_t callback, std::chrono::milliseconds timeout);

}  // namespace qb::devicelib
