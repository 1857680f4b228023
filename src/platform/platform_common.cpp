// Platform pieces that need no operating-system call of their own: the
// portable MulDiv and the routing of messages to a test sink.
#include <cstdint>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace qrx {
namespace platform {
namespace detail {

int32_t PortableMulDiv(int32_t number, int32_t numerator, int32_t denominator) {
  if (denominator == 0) return -1;
  const int64_t product = static_cast<int64_t>(number) * numerator;
  // Work on magnitudes so that halves round away from zero whatever the
  // signs. |product| <= 2^62 and |denominator| <= 2^31, so nothing wraps.
  const bool negative = (product < 0) != (denominator < 0);
  const uint64_t magnitude =
      product < 0 ? 0 - static_cast<uint64_t>(product) : static_cast<uint64_t>(product);
  const uint64_t divisor = denominator < 0
                               ? 0 - static_cast<uint64_t>(static_cast<int64_t>(denominator))
                               : static_cast<uint64_t>(denominator);
  const uint64_t quotient = (magnitude + divisor / 2) / divisor;
  if (negative) {
    if (quotient > uint64_t{1} << 31) return -1;
    return static_cast<int32_t>(-static_cast<int64_t>(quotient));
  }
  if (quotient > uint64_t{INT32_MAX}) return -1;
  return static_cast<int32_t>(quotient);
}

}  // namespace detail

namespace {

struct SinkState {
  CriticalSection lock;
  MessageSink sink = nullptr;
  void* context = nullptr;
};

// Created on first use so that a message shown during start-up finds it.
SinkState& Sink() {
  static SinkState state;
  return state;
}

}  // namespace

void SetMessageSink(MessageSink sink, void* context) {
  SinkState& state = Sink();
  ScopedLock hold(state.lock);
  state.sink = sink;
  state.context = context;
}

void ShowMessage(const char* text, MessageIcon icon) {
  if (text == nullptr) text = "";
  SinkState& state = Sink();
  {
    // The sink is called under the lock: once SetMessageSink returns, the
    // previous sink is no longer running and its context may go away.
    ScopedLock hold(state.lock);
    if (state.sink != nullptr) {
      state.sink(text, state.context);
      return;
    }
  }
  detail::ShowMessageNative(text, icon);
}

}  // namespace platform
}  // namespace qrx
