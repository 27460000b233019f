// Parsing of the QB7720_EMULATOR text.
#include "qb7720/emulator/Config.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace qb::emulator {
namespace {

[[noreturn]] void bad(const std::string& item, const std::string& why) {
    throw std::invalid_argument("bad emulator configuration item \"" + item + "\": " + why);
}

long long number(const std::string& item, const std::string& text, long long low, long long high) {
    if (text.empty()) bad(item, "a number is missing");
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty()) bad(item, "not a number");
    std::size_t start = 0;
    if (!hex && (digits[0] == '-' || digits[0] == '+')) start = 1;
    if (start == digits.size()) bad(item, "not a number");
    for (std::size_t i = start; i < digits.size(); ++i) {
        const char c = digits[i];
        const bool ok = hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                            : std::isdigit(static_cast<unsigned char>(c)) != 0;
        if (!ok) bad(item, "not a number");
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(digits.c_str(), &end, hex ? 16 : 10);
    if (errno == ERANGE || value < low || value > high) {
        bad(item, "must be from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return value;
}

std::vector<std::string> splitNames(const std::string& item, const std::string& text) {
    std::vector<std::string> names;
    std::string current;
    for (char c : text) {
        if (c == ',') {
            names.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    names.push_back(current);
    for (const auto& name : names) {
        if (name.empty()) bad(item, "empty name");
        if (name.size() > 248) bad(item, "a name is longer than 248 bytes");
    }
    return names;
}

}  // namespace

EmulatorConfig parseConfig(const std::string& text) {
    EmulatorConfig config;
    std::istringstream in(text);
    std::string item;
    while (in >> item) {
        const auto eq = item.find('=');
        if (eq == std::string::npos || eq == 0) bad(item, "expected key=value");
        const std::string key = item.substr(0, eq);
        const std::string value = item.substr(eq + 1);
        BridgeConfig& b = config.bridge;
        if (key == "bridges") {
            config.bridges = static_cast<std::size_t>(number(item, value, 0, 64));
        } else if (key == "peer") {
            if (value == "loopback") {
                b.peer = PeerKind::Loopback;
            } else if (value == "sink") {
                b.peer = PeerKind::Sink;
            } else if (value == "generator") {
                b.peer = PeerKind::Generator;
            } else if (value == "scripted") {
                b.peer = PeerKind::Scripted;
            } else {
                bad(item, "peer is loopback, sink, generator or scripted");
            }
        } else if (key == "link") {
            auto link = LinkModel::preset(value);
            if (!link) bad(item, "link is off, le-1m, le-2m or le-coded");
            b.link = *link;
        } else if (key == "mtu") {
            b.mtu = static_cast<std::uint16_t>(number(item, value, 23, 517));
        } else if (key == "baud") {
            b.line.baud = static_cast<std::uint32_t>(number(item, value, 1, 4000000));
        } else if (key == "names") {
            config.names = splitNames(item, value);
        } else if (key == "tag") {
            b.tag = static_cast<std::uint8_t>(number(item, value, 0, 255));
        } else if (key == "rssi") {
            b.rssi = static_cast<std::int16_t>(number(item, value, -127, 20));
        } else if (key == "interval") {
            b.advertisingInterval = std::chrono::milliseconds(number(item, value, 20, 10240));
        } else if (key == "buffer") {
            const auto size = static_cast<std::size_t>(number(item, value, 64, 1 << 20));
            b.transmitBufferSize = size;
            b.pauseLevel = size / 2;
            b.resumeLevel = size / 8;
        } else if (key == "piece") {
            b.readPieceSize = static_cast<std::size_t>(number(item, value, 1, 517));
        } else if (key == "rate") {
            b.generatorBytesPerSecond = static_cast<double>(number(item, value, 1, 10000000));
        } else if (key == "radios") {
            config.radios = static_cast<std::size_t>(number(item, value, 0, 8));
        } else if (key == "version") {
            config.version = static_cast<int>(number(item, value, 0, 255));
        } else if (key == "time") {
            if (value == "real") {
                config.timeMode = TimeMode::Real;
            } else if (value == "fast") {
                config.timeMode = TimeMode::Fast;
            } else if (value == "virtual") {
                config.timeMode = TimeMode::Virtual;
            } else {
                bad(item, "time is real, fast or virtual");
            }
        } else {
            bad(item, "unknown key \"" + key + "\"");
        }
    }
    return config;
}

}  // namespace qb::emulator
