#include <stdexcept>

#include "Core.h"

namespace qb::emulator::detail {
namespace {

bool matches(const FaultTarget& target, const CallSite& site) {
    if (target.address && site.address != target.address) return false;
    if (target.shortUuid && site.shortUuid != target.shortUuid) return false;
    return true;
}

}  // namespace

void FaultTable::addError(Operation op, platform::HResult code, int count, const FaultTarget& target) {
    if (count < 1) throw std::invalid_argument("a fault needs a count of at least 1");
    std::lock_guard<std::mutex> lock(mutex_);
    Fault fault;
    fault.op = op;
    fault.code = code;
    fault.remaining = count;
    fault.target = target;
    faults_.push_back(fault);
}

void FaultTable::addStatus(Operation op, platform::GattCommunicationStatus status, int count,
                           const FaultTarget& target) {
    if (count < 1) throw std::invalid_argument("a fault needs a count of at least 1");
    switch (op) {
        case Operation::DeviceGetGattServices:
        case Operation::ServiceGetCharacteristics:
        case Operation::CharacteristicWriteValue:
        case Operation::CharacteristicReadValue:
        case Operation::CharacteristicWriteCccd:
            break;
        default:
            throw std::invalid_argument(std::string(operationName(op)) + " reports no GATT status");
    }
    std::lock_guard<std::mutex> lock(mutex_);
    Fault fault;
    fault.op = op;
    fault.isStatus = true;
    fault.status = status;
    fault.remaining = count;
    fault.target = target;
    faults_.push_back(fault);
}

void FaultTable::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

std::size_t FaultTable::pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t n = 0;
    for (const auto& f : faults_) n += static_cast<std::size_t>(f.remaining);
    return n;
}

std::optional<platform::GattCommunicationStatus> FaultTable::consume(Operation op, const CallSite& site) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->op != op || !matches(it->target, site)) continue;
        const Fault fault = *it;
        if (--it->remaining == 0) faults_.erase(it);
        if (fault.isStatus) return fault.status;
        throw platform::PlatformError(fault.code, std::string("injected fault in ") + operationName(op));
    }
    return std::nullopt;
}

}  // namespace qb::emulator::detail
