// The classic radio functions, loaded at run time so the library loads where they are missing.
#pragma once

#include <memory>
#include <optional>

#include "qb7720/platform/Radio.h"

namespace qb::winrt {

// True inside Wine, whose classic radio functions end the process instead of failing.
bool runningUnderWine();

// BluetoothFindFirstRadio; null when no radio answers, the functions are missing, or under Wine.
std::unique_ptr<platform::BluetoothRadioFind> findFirstRadio();

// The version byte of the last radio whose local information can be read.
std::optional<int> localControllerVersion();

}  // namespace qb::winrt
