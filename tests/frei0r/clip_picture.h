// Test pictures for the frei0r module: BGRA frames of a smooth, moving,
// colourful picture with a varying alpha and a patch of one-pixel colour
// stripes of equal luma (chroma detail that a 4:2:2 round trip would lose),
// and interference in the upper part of the frame only: gratings at the kHz
// of Dot filters, fading out over a band of rows, so that the lower part is
// a clean area the filter must leave alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qrxtest {

constexpr int32_t kCleanMaxChange = 3;
constexpr double kCleanShareWithinOne = 0.95;

struct GratingKHz {
  double fxKHz;  // horizontal, as a Dot's Fx
  double fyKHz;  // vertical, as a Dot's Fy
  double amplitude;
};

// Rows [0, FullRows) carry the whole interference, it fades out by
// FadeEnd, and rows [CleanBegin, height) are the clean area. Within rounding
// there means: no value off by more than kCleanMaxChange, and at least
// kCleanShareWithinOne of them off by at most 1 (the frame's round trip
// through the transform alone moves values by up to 2).
int32_t FullRows(int32_t height);
int32_t FadeEnd(int32_t height);
int32_t CleanBegin(int32_t height);

// The gratings at the centres of the enabled Dot filters of a Filter= text.
std::vector<GratingKHz> GratingsOfFilterText(const std::string& text, double amplitude);

std::vector<uint8_t> CleanFrame(int32_t width, int32_t height, int32_t frame);
// The frame with the gratings added to blue, green and red alike.
std::vector<uint8_t> WithInterference(const std::vector<uint8_t>& clean, int32_t width, int32_t height,
                                      const std::vector<GratingKHz>& gratings);

struct FrameVerdict {
  double worstRemovedDb;  // over the gratings, in the fully interfered rows
  // |output - input| of blue, green and red in the clean area, 16 pixels
  // off the frame's edges: the largest, and the share of values within 1.
  int32_t cleanMaxChange;
  double cleanShareWithinOne;
  bool alphaKept;  // output alpha equal to the input's everywhere
};
// input: the frame the filter got (clean plus interference); clean: the
// same without interference.
FrameVerdict Judge(const uint8_t* clean, const uint8_t* input, const uint8_t* output, int32_t width, int32_t height,
                   const std::vector<GratingKHz>& gratings);

}  // namespace qrxtest
