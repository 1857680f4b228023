// How long the host feeds copies of a stream's first frame before it
// streams (see settle.h): until the output has not changed for a quiet time
// that covers the mask builder's work on the channel's filters.
#pragma once

#include <cstdint>
#include <string>

#include "settle.h"

namespace qrxhost {

// settingsPath: the settings file the plug-in will read, when the host
// knows it (empty: unknown); its channel's filters lengthen the wait.
SettleLimits StreamPrimingLimits(const std::string& settingsPath, int32_t keyLow, int32_t keyHigh, int32_t height);

}  // namespace qrxhost
