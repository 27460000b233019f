// The bridge's UART and the far side wired to it: a bounded transmit buffer that drains at the line's
// character rate, pause and resume reports around it, and the peer's traffic coming back.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "qb7720/emulator/Bridge.h"

namespace qb::emulator::detail {

class SerialLine {
  public:
    using TimePoint = std::chrono::nanoseconds;

    explicit SerialLine(const BridgeConfig& config);

    // Moves line and peer on to now.
    void advance(TimePoint now);
    // Bytes the host wrote; what does not fit is dropped and counted.
    void write(TimePoint now, const Bytes& bytes);

    void setLine(TimePoint now, const LineSettings& line);
    void setModem(TimePoint now, const ModemOutputs& modem);
    void setModemInputs(TimePoint now, const ModemInputs& inputs);
    // Empties both directions; a host held back is let go.
    void resetChannel(TimePoint now);
    // The peer only talks while a host is connected.
    void setConnected(TimePoint now, bool connected);
    void injectSerial(const Bytes& bytes);

    // Status reports due, as pause flags (0x04, 0x01 or 0), with the modem inputs at that moment.
    struct Report {
        std::uint8_t pauseFlags = 0;
        ModemInputs inputs;
    };
    std::vector<Report> takeReports();
    // Bytes from the far side waiting to be notified to the host.
    std::deque<std::uint8_t>& received() { return received_; }

    // When advance() next has something to do; nullopt while idle.
    std::optional<TimePoint> deadline() const;

    LineSettings line() const { return line_; }
    ModemOutputs modem() const { return modem_; }
    ModemInputs inputs() const { return inputs_; }
    std::size_t fill() const { return transmit_.size(); }
    std::uint64_t dropped() const { return dropped_; }
    bool pausing() const { return pausing_; }
    const std::deque<std::uint8_t>& farSide() const { return farSide_; }
    void clearFarSide() { farSide_.clear(); }
    std::uint64_t receiveOverflow() const { return receiveOverflow_; }

    // Characters per second at the current settings (0 while the line cannot send).
    double characterRate() const;

  private:
    void drain(TimePoint now);
    void generate(TimePoint now);
    void deliverToPeer(std::uint8_t byte);
    void receive(std::uint8_t byte);
    void rewireLoopback(TimePoint now);
    bool gated() const { return modem_.flowControl && !inputs_.cts; }

    BridgeConfig config_;
    LineSettings line_;
    std::uint32_t drainBaud_;
    ModemOutputs modem_;
    ModemInputs inputs_;
    std::deque<std::uint8_t> transmit_;
    std::deque<std::uint8_t> received_;
    std::deque<std::uint8_t> farSide_;
    std::uint64_t dropped_ = 0;
    std::uint64_t receiveOverflow_ = 0;
    bool pausing_ = false;
    bool connected_ = false;
    TimePoint lineTime_{0};
    double drainCredit_ = 0;
    TimePoint generatorTime_{0};
    double generatorCredit_ = 0;
    std::size_t generatorPosition_ = 0;
    std::vector<Report> reports_;
};

}  // namespace qb::emulator::detail
