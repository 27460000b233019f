// Bytes between caller memory and platform buffers, through CryptographicBuffer.
#pragma once

#include "Abi.h"
#include "qb7720/platform/Gatt.h"

namespace qb::winrt {

ComPtr<wss::IBuffer> bufferFromBytes(const platform::Bytes& bytes);
// A null buffer reads as no bytes.
platform::Bytes bytesFromBuffer(wss::IBuffer* buffer);

}  // namespace qb::winrt
