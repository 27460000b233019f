#include "Buffer.h"

#include "Com.h"

namespace qb::winrt {
namespace {

namespace crypto = ABI::Windows::Security::Cryptography;

ComPtr<crypto::ICryptographicBufferStatics> statics() {
    return activationFactory<crypto::ICryptographicBufferStatics>(
        RuntimeClass_Windows_Security_Cryptography_CryptographicBuffer);
}

}  // namespace

ComPtr<wss::IBuffer> bufferFromBytes(const platform::Bytes& bytes) {
    ComPtr<wss::IBuffer> buffer;
    // The runtime copies the bytes; a zero length gives an empty buffer.
    BYTE none = 0;
    BYTE* data = bytes.empty() ? &none : const_cast<BYTE*>(bytes.data());
    check(statics()->CreateFromByteArray(static_cast<UINT32>(bytes.size()), data, buffer.GetAddressOf()),
          "CryptographicBuffer.CreateFromByteArray");
    return buffer;
}

platform::Bytes bytesFromBuffer(wss::IBuffer* buffer) {
    if (buffer == nullptr) return {};
    UINT32 size = 0;
    BYTE* data = nullptr;
    check(statics()->CopyToByteArray(buffer, &size, &data), "CryptographicBuffer.CopyToByteArray");
    platform::Bytes bytes;
    if (data != nullptr) {
        bytes.assign(data, data + size);
        CoTaskMemFree(data);
    }
    return bytes;
}

}  // namespace qb::winrt
