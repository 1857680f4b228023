// Waiting for the plug-in's output to settle. The mask is built on the
// plug-in's own thread, so the first frames of a stream are filtered with
// the mask that was there before (the neutral one) until the channel's mask
// arrives. Feeding copies of one frame until the output stops changing
// shows when it has.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace qrxhost {

struct SettleLimits {
  int quietMs;        // no change yet: stop after this long without one
  int afterChangeMs;  // after a change: stop after this long without another
  int maxMs;          // give up after this long in all
  int pauseMs;        // between frames, so the builder's thread gets the processor
  // After a change, also this many more frames without another (a slow or
  // busy machine may feed fewer frames in afterChangeMs than it needs to
  // show a change that comes a frame late).
  int framesAfterChange = 0;
};

struct Settled {
  std::vector<uint8_t> output;  // the last output
  int frames = 0;               // copies fed
  bool changed = false;         // the output changed at least once
  bool settled = false;         // false: maxMs ran out first
};

inline Settled SettleOutput(const std::vector<uint8_t>& input,
                            const std::function<void(std::vector<uint8_t>*)>& process, const SettleLimits& limits) {
  using Clock = std::chrono::steady_clock;
  Settled r;
  std::vector<uint8_t> previous;
  const auto start = Clock::now();
  auto lastChange = start;
  int sinceChange = 0;  // frames after the last change that did not change
  for (;;) {
    r.output = input;
    process(&r.output);
    ++r.frames;
    const auto now = Clock::now();
    if (r.frames > 1 && r.output != previous) {
      r.changed = true;
      lastChange = now;
      sinceChange = 0;
    } else {
      ++sinceChange;
    }
    const int quiet = r.changed ? limits.afterChangeMs : limits.quietMs;
    const bool enoughFrames = !r.changed || sinceChange >= limits.framesAfterChange;
    if (now - lastChange >= std::chrono::milliseconds(quiet) && enoughFrames) {
      r.settled = true;
      break;
    }
    if (now - start >= std::chrono::milliseconds(limits.maxMs)) break;
    previous.swap(r.output);
    r.output.clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(limits.pauseMs));
  }
  return r;
}

}  // namespace qrxhost
