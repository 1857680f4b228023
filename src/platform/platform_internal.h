// Pieces shared by the platform implementations and their tests; not part
// of the interface the rest of the plug-in uses.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace qrx {
namespace platform {
namespace detail {

// The portable multiply-then-divide. The POSIX build's MulDiv is this one;
// the Windows build uses the system's and keeps this one for comparison.
int32_t PortableMulDiv(int32_t number, int32_t numerator, int32_t denominator);

// Shows the text the platform's way (message box or standard error); called
// by ShowMessage when no sink is set.
void ShowMessageNative(const char* text, MessageIcon icon);

}  // namespace detail
}  // namespace platform
}  // namespace qrx
