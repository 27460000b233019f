#include "datapath/DebugLine.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "qb7720/platform/Platform.h"

namespace qb::dll {
namespace {
constexpr std::size_t kLineCharacters = 255;  // a 256-character buffer with its terminator

// Windows debug output reaches only a debugger; elsewhere it would land on standard error, so
// there it is written only when QB7720_DEBUG is set to something other than 0.
bool debugOutputWanted() {
#if defined(_WIN32)
    return true;
#else
    const char* value = std::getenv("QB7720_DEBUG");
    return value != nullptr && *value != '\0' && std::string(value) != "0";
#endif
}
}  // namespace

std::string limitDebugLine(std::string line) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto byte = static_cast<unsigned char>(line[i]);
        if ((byte & 0xC0) == 0x80) continue;  // continuation byte
        if (++characters > kLineCharacters) {
            line.resize(i);
            break;
        }
    }
    return line;
}

void debugLine(const char* format, const platform::PlatformError& error) {
    if (!debugOutputWanted()) return;
    const std::string message = error.what();
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
    const int needed =
        std::snprintf(nullptr, 0, format, static_cast<unsigned>(error.code()), message.c_str());
    if (needed < 0) return;
    std::vector<char> text(static_cast<std::size_t>(needed) + 1);
    std::snprintf(text.data(), text.size(), format, static_cast<unsigned>(error.code()), message.c_str());
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    try {
        platform::current().outputDebugString(limitDebugLine(std::string(text.data())));
    } catch (...) {
        // Diagnostics never change an export's result.
    }
}

}  // namespace qb::dll
