#include "SerialLine.h"

#include <algorithm>
#include <cmath>

namespace qb::emulator::detail {
namespace {

// Runner wake-ups are coalesced to this step; finer would cost more than it shows.
constexpr std::chrono::nanoseconds kStep = std::chrono::milliseconds(1);
// What the far side and the host queues may hold before they drop; a demo must not grow without bound.
constexpr std::size_t kMaxReceived = 1 << 20;
constexpr std::size_t kMaxFarSide = 16 << 20;

const Bytes& defaultPattern() {
    static const Bytes pattern = [] {
        const std::string text = "0123456789ABCDEF\r\n";
        return Bytes(text.begin(), text.end());
    }();
    return pattern;
}

// Characters a rate yields over a span; one division keeps round figures exact.
double characters(std::chrono::nanoseconds d, double perSecond) {
    return static_cast<double>(d.count()) * perSecond / 1e9;
}

}  // namespace

SerialLine::SerialLine(const BridgeConfig& config)
    : config_(config),
      line_(config.line),
      drainBaud_(config.line.baud),
      modem_(config.modem),
      inputs_(config.modemInputs) {
    if (config_.transmitBufferSize == 0) config_.transmitBufferSize = 1;
    config_.pauseLevel = std::clamp<std::size_t>(config_.pauseLevel, 1, config_.transmitBufferSize);
    config_.resumeLevel = std::min(config_.resumeLevel, config_.pauseLevel - 1);
    if (config_.generatorPattern.empty()) config_.generatorPattern = defaultPattern();
    if (config_.peer == PeerKind::Loopback) {
        inputs_.cts = modem_.rts;
        inputs_.dsr = modem_.dtr;
        inputs_.dcd = modem_.dtr;
        inputs_.ri = false;
    }
}

double SerialLine::characterRate() const {
    if (drainBaud_ == 0) return 0;
    return static_cast<double>(drainBaud_) / line_.bitsPerCharacter();
}

void SerialLine::advance(TimePoint now) {
    drain(now);
    generate(now);
}

void SerialLine::drain(TimePoint now) {
    const auto elapsed = now - lineTime_;
    if (elapsed.count() <= 0) return;
    lineTime_ = now;
    if (transmit_.empty()) {
        drainCredit_ = 0;
        return;
    }
    // Hardware flow control: the far side's CTS holds the line, and time held is not made up later.
    if (gated()) return;
    drainCredit_ += characters(elapsed, characterRate());
    while (drainCredit_ >= 1 && !transmit_.empty()) {
        drainCredit_ -= 1;
        const std::uint8_t byte = transmit_.front();
        transmit_.pop_front();
        deliverToPeer(byte);
    }
    if (transmit_.empty()) drainCredit_ = 0;
    if (pausing_ && transmit_.size() <= config_.resumeLevel) {
        pausing_ = false;
        reports_.push_back({0x01, inputs_});
    }
}

void SerialLine::deliverToPeer(std::uint8_t byte) {
    if (farSide_.size() == kMaxFarSide) farSide_.pop_front();
    farSide_.push_back(byte);
    if (config_.peer == PeerKind::Loopback) receive(byte);
}

void SerialLine::receive(std::uint8_t byte) {
    if (received_.size() >= kMaxReceived) {
        ++receiveOverflow_;
        return;
    }
    received_.push_back(byte);
}

void SerialLine::generate(TimePoint now) {
    const auto elapsed = now - generatorTime_;
    if (elapsed.count() <= 0) return;
    generatorTime_ = now;
    if (config_.peer != PeerKind::Generator || !connected_) {
        generatorCredit_ = 0;
        return;
    }
    const double rate =
        config_.generatorBytesPerSecond > 0 ? config_.generatorBytesPerSecond : characterRate();
    generatorCredit_ += characters(elapsed, rate);
    const auto& pattern = config_.generatorPattern;
    while (generatorCredit_ >= 1) {
        generatorCredit_ -= 1;
        receive(pattern[generatorPosition_]);
        generatorPosition_ = (generatorPosition_ + 1) % pattern.size();
    }
}

void SerialLine::write(TimePoint now, const Bytes& bytes) {
    advance(now);
    for (std::uint8_t byte : bytes) {
        if (transmit_.size() >= config_.transmitBufferSize) {
            ++dropped_;
            continue;
        }
        transmit_.push_back(byte);
    }
    if (!pausing_ && transmit_.size() >= config_.pauseLevel) {
        pausing_ = true;
        reports_.push_back({0x04, inputs_});
    }
}

void SerialLine::setLine(TimePoint now, const LineSettings& line) {
    advance(now);
    line_ = line;
    // A rate the UART cannot take leaves it at the one it had, rather than stalling the line.
    if (line.baud != 0) drainBaud_ = line.baud;
}

void SerialLine::setModem(TimePoint now, const ModemOutputs& modem) {
    advance(now);
    modem_ = modem;
    if (config_.peer == PeerKind::Loopback) rewireLoopback(now);
}

void SerialLine::rewireLoopback(TimePoint now) {
    ModemInputs wired = inputs_;
    wired.cts = modem_.rts;
    wired.dsr = modem_.dtr;
    wired.dcd = modem_.dtr;
    setModemInputs(now, wired);
}

void SerialLine::setModemInputs(TimePoint now, const ModemInputs& inputs) {
    advance(now);
    if (inputs == inputs_) return;
    inputs_ = inputs;
    reports_.push_back({0x00, inputs_});
}

void SerialLine::resetChannel(TimePoint now) {
    advance(now);
    transmit_.clear();
    received_.clear();
    drainCredit_ = 0;
    if (pausing_) {
        pausing_ = false;
        reports_.push_back({0x01, inputs_});
    }
}

void SerialLine::setConnected(TimePoint now, bool connected) {
    advance(now);
    connected_ = connected;
}

void SerialLine::injectSerial(const Bytes& bytes) {
    for (std::uint8_t byte : bytes) receive(byte);
}

std::vector<SerialLine::Report> SerialLine::takeReports() {
    std::vector<Report> out;
    out.swap(reports_);
    return out;
}

std::optional<SerialLine::TimePoint> SerialLine::deadline() const {
    std::optional<TimePoint> next;
    const double rate = characterRate();
    if (!transmit_.empty() && !gated() && rate > 0) {
        const double missing = std::max(0.0, 1 - drainCredit_);
        const auto wait =
            std::chrono::nanoseconds(static_cast<std::int64_t>(std::ceil(missing / rate * 1e9)));
        next = lineTime_ + std::max(wait, kStep);
    }
    if (config_.peer == PeerKind::Generator && connected_) {
        const auto at = generatorTime_ + kStep;
        next = next ? std::min(*next, at) : at;
    }
    return next;
}

}  // namespace qb::emulator::detail
