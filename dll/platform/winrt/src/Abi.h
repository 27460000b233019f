// The Windows Runtime ABI headers generated from our IDL, and short names for their namespaces.
#pragma once

#include <roapi.h>
#include <windows.h>
#include <winstring.h>
#include <wrl/client.h>

#include "windows.devices.bluetooth.h"
#include "windows.devices.enumeration.h"
#include "windows.foundation.h"
#include "windows.security.cryptography.h"
#include "windows.storage.streams.h"

namespace qb::winrt {

namespace wf = ABI::Windows::Foundation;
namespace wfc = ABI::Windows::Foundation::Collections;
namespace wss = ABI::Windows::Storage::Streams;
namespace wde = ABI::Windows::Devices::Enumeration;
namespace wdb = ABI::Windows::Devices::Bluetooth;
namespace gatt = ABI::Windows::Devices::Bluetooth::GenericAttributeProfile;
namespace adv = ABI::Windows::Devices::Bluetooth::Advertisement;

using Microsoft::WRL::ComPtr;

}  // namespace qb::winrt
