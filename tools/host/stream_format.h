// The raw frames the host's commands read and write: their size and pixel
// format, and how a frame's lines are put in the order the plug-in takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame_reader.h"
#include "plugin/host_records.h"

namespace qrxhost {

struct StreamFormat {
  int32_t width = 720, height = 576;
  bool bgr24 = false;    // 24-bit BGR, else packed 4:2:2 (Y0 U Y1 V)
  bool topDown = false;  // 24-bit lines arrive top line first (as from ffmpeg)

  size_t LineBytes() const { return static_cast<size_t>(width) * (bgr24 ? 3 : 2); }
  size_t FrameBytes() const { return LineBytes() * static_cast<size_t>(height); }
  // The record Start takes (processor class 3: SSE2 and newer).
  qrx::FrameFormat HostFormat() const { return qrx::FrameFormat{width, height, 0, bgr24 ? 1 : 0, 3}; }
  // The plug-in takes 24-bit frames bottom line first; a top-down stream's
  // frames are flipped on the way in and again on the way out.
  void FlipIfTopDown(std::vector<uint8_t>* frame) const {
    if (bgr24 && topDown) FlipLines(frame, LineBytes(), height);
  }
};

}  // namespace qrxhost
