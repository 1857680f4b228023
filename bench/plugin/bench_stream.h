// A running stream for the plug-in benchmarks: 720 x 576, FFTLine 512, one
// filter of each shape plus an adaptive clip, processing on, and a test
// picture that is neither flat nor noise.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "filter/mask_builder.h"
#include "plugin/plugin_state.h"

namespace qrx {
namespace bench {

constexpr int32_t kWidth = 720, kHeight = 576;

inline const char* BenchFilters() {
  return "En:1/Fx:2301/Fy:0/Wx:300/Wy:300/O:3/S:-60/T:0//"     // Dot
         "En:1/Fx:3500/Fy:0/Wx:200/Wy:0/O:2/S:-40/T:1//"       // Win 1D
         "En:1/Fx:4000/Fy:3000/Wx:300/Wy:300/O:2/S:-30/T:2//"  // Win 2D
         "En:1/Fx:1151/Fy:-2876/Wx:300/Wy:300/O:2/S:0/T:0//";  // Dot of strength 0: adaptive clip
}

struct Channel {
  int32_t low = 1, high = 0, unused = 0;
  char name[16] = "Bench";
};

inline std::vector<uint8_t> TestFrame(int32_t pixelFormat) {
  const size_t bytes = static_cast<size_t>(kWidth) * kHeight * (pixelFormat == 1 ? 3 : 2);
  std::vector<uint8_t> frame(bytes);
  uint32_t seed = 1;
  for (size_t i = 0; i < bytes; ++i) {
    seed = seed * 1664525u + 1013904223u;
    frame[i] = static_cast<uint8_t>(64 + (i % 97) + (seed >> 28));
  }
  return frame;
}

// Starts a stream with the bench channel's filters and waits for its mask.
inline void StartStream(int32_t pixelFormat) {
  PluginState& s = State();
  static bool initialised = false;
  if (!initialised) {
    InitInfo info = {0, nullptr};
    Init(&info);
    initialised = true;
  }
  s.settings.FFTLine = 512;
  {
    platform::ScopedLock lock(s.pluginLock);
    s.settings.SelectChannel(1, 0);
    s.settings.ProcEnable = 1;
    const char* filters = BenchFilters();
    ParseFilterText(filters, std::strlen(filters), &s.filters);
    s.settings.StoreCurrentChannel();
  }
  FrameFormat format = {kWidth, kHeight, 0, pixelFormat, 3};
  Start(&format);
  std::vector<uint8_t> frame = TestFrame(pixelFormat);
  Channel channel;
  FrameInfo info = {};
  info.pixels = frame.data();
  info.channel = reinterpret_cast<ChannelInfo*>(&channel);
  Process(&info);
  while (s.pipeline.maskBuilder != nullptr && s.pipeline.maskBuilder->PassesCompleted() < 1) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace bench
}  // namespace qrx
