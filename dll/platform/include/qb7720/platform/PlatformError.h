// The one error type of the platform layer: an HRESULT and a message.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qb::platform {

using HResult = std::uint32_t;

namespace hresult {
inline constexpr HResult kAccessDenied = 0x80070005;          // E_ACCESSDENIED
inline constexpr HResult kAttWriteNotPermitted = 0x80650003;  // E_BLUETOOTH_ATT_WRITE_NOT_PERMITTED
inline constexpr HResult kAttInvalidPdu = 0x80650004;         // E_BLUETOOTH_ATT_INVALID_PDU
inline constexpr HResult kAttInvalidAttributeLength = 0x8065000D;
inline constexpr HResult kFail = 0x80004005;                // E_FAIL
inline constexpr HResult kInvalidArg = 0x80070057;          // E_INVALIDARG
inline constexpr HResult kNotImplemented = 0x80004001;      // E_NOTIMPL
inline constexpr HResult kIllegalMethodCall = 0x8000000E;   // E_ILLEGAL_METHOD_CALL
inline constexpr HResult kDeviceNotConnected = 0x8007048F;  // HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)
inline constexpr HResult kNotFound = 0x80070490;            // HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
inline constexpr HResult kTimeout = 0x800705B4;             // HRESULT_FROM_WIN32(ERROR_TIMEOUT)
inline constexpr HResult kClassNotRegistered = 0x80040154;  // REGDB_E_CLASSNOTREG
}  // namespace hresult

class PlatformError : public std::runtime_error {
  public:
    PlatformError(HResult code, const std::string& message) : std::runtime_error(message), code_(code) {}
    HResult code() const noexcept { return code_; }

  private:
    HResult code_;
};

}  // namespace qb::platform
