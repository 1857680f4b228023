#include "priming.h"

#include <algorithm>

#include "filter/filter_list.h"
#include "host_settings.h"

namespace qrxhost {

namespace {

// Without a change, the output counts as settled after this long.
constexpr int kBaseQuietMs = 300;
// After the mask has arrived (the output changed), a short confirmation.
// The host asks for the channel's filters once, with the first frame, and
// the builder publishes their mask whole (one change, also with a default
// section and other channels in the file); the confirmation makes sure the
// output then stays as it is for a few more frames.
constexpr int kAfterChangeMs = 30;
constexpr int kFramesAfterChange = 3;
constexpr int kMaxMs = 10000;
constexpr int kPauseMs = 5;
// What one filter costs the builder per spectrum cell, with room for a slow
// or busy machine (about 40 ns measured on the development machine).
constexpr double kBuildNsPerCell = 160.0;

}  // namespace

SettleLimits StreamPrimingLimits(const std::string& settingsPath, int32_t keyLow, int32_t keyHigh, int32_t height) {
  SettleLimits limits{kBaseQuietMs, kAfterChangeMs, kMaxMs, kPauseMs, kFramesAfterChange};
  ChannelSettingsView view;
  std::string error;
  if (settingsPath.empty() || !ReadChannelSettings(settingsPath, keyLow, keyHigh, &view, &error)) return limits;
  qrx::FilterList list;
  qrx::ParseFilterText(view.filter.data(), view.filter.size(), &list);
  int32_t shapes = 0;
  for (int32_t i = 0; i < list.Count(); ++i) {
    const qrx::FilterSpec& f = list[i];
    if (f.En != 0 && f.S != 0 && f.T >= qrx::kShapeDot && f.T <= qrx::kShapeWin2D) ++shapes;
  }
  int32_t rows = 2;
  while (rows < height && rows < (1 << 20)) rows *= 2;
  const double cells = static_cast<double>(rows) * (view.fftLine / 2 + 1);
  const double buildMs = shapes * cells * kBuildNsPerCell * 1e-6;
  limits.quietMs = std::min(kMaxMs, kBaseQuietMs + static_cast<int>(buildMs));
  return limits;
}

}  // namespace qrxhost
