#include "clip_picture.h"
#include "platform/math_constants.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace qrxtest {

namespace {

using qrx::kPi;
constexpr int32_t kEdge = 16;

// The module's frequency scale: 13500 kHz over 704 pixels of a line, 14727
// kHz over 576 lines, whatever the frame's size.
double CyclesAcross(double fxKHz) { return fxKHz * 704.0 / 13500.0; }
// A Dot's positive Fy sits on a grating whose phase falls down the frame.
double CyclesDown(double fyKHz) { return -fyKHz * 576.0 / 14727.0; }

double Phase(const GratingKHz& g, int32_t x, int32_t y, int32_t width, int32_t height) {
  return 2.0 * kPi * (CyclesAcross(g.fxKHz) * x / width + CyclesDown(g.fyKHz) * y / height);
}

double Envelope(int32_t y, int32_t height) {
  const int32_t full = FullRows(height), end = FadeEnd(height);
  if (y < full) return 1.0;
  if (y >= end) return 0.0;
  return 0.5 + 0.5 * std::cos(kPi * (y - full) / (end - full));
}

uint8_t Byte(double v) { return static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, v)))); }

double Luma(const uint8_t* p) { return (29.0 * p[0] + 150.0 * p[1] + 77.0 * p[2]) / 256.0; }

}  // namespace

int32_t FullRows(int32_t height) { return height * 2 / 5; }
int32_t FadeEnd(int32_t height) { return height * 11 / 20; }
int32_t CleanBegin(int32_t height) { return height * 3 / 4; }

std::vector<GratingKHz> GratingsOfFilterText(const std::string& text, double amplitude) {
  std::vector<GratingKHz> gratings;
  size_t at = 0;
  while ((at = text.find("En:", at)) != std::string::npos) {
    int en = 0, fx = 0, fy = 0, wx = 0, wy = 0, o = 0, s = 0, t = 0;
    if (std::sscanf(text.c_str() + at, "En:%d/Fx:%d/Fy:%d/Wx:%d/Wy:%d/O:%d/S:%d/T:%d", &en, &fx, &fy, &wx, &wy, &o, &s,
                    &t) == 8 &&
        en != 0 && t == 0) {
      gratings.push_back(GratingKHz{static_cast<double>(fx), static_cast<double>(fy), amplitude});
    }
    at += 3;
  }
  return gratings;
}

std::vector<uint8_t> CleanFrame(int32_t width, int32_t height, int32_t frame) {
  std::vector<uint8_t> bgra(static_cast<size_t>(width) * height * 4);
  // A soft blob moving to the right.
  const double blobX = width * (0.3 + 0.02 * frame), blobY = height * 0.8, sigma = width / 16.0;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = &bgra[(static_cast<size_t>(y) * width + x) * 4];
      const double u = static_cast<double>(x) / width, v = static_cast<double>(y) / height;
      const double blob =
          40.0 * std::exp(-((x - blobX) * (x - blobX) + (y - blobY) * (y - blobY)) / (2.0 * sigma * sigma));
      p[0] = Byte(128.0 + 55.0 * std::sin(2.0 * kPi * (0.7 * u + 0.02 * frame)) - 0.5 * blob);
      p[1] = Byte(120.0 + 45.0 * std::cos(2.0 * kPi * (0.6 * v - 0.015 * frame)) - blob);
      p[2] = Byte(120.0 + 50.0 * std::sin(2.0 * kPi * (0.8 * (u + v) / 2.0 + 0.01 * frame)) + blob);
      p[3] = static_cast<uint8_t>((x * 3 + y * 5 + frame * 7) & 0xFF);
    }
  }
  // One-pixel colour stripes in the clean area: every other column moved
  // one way and the rest the other along a direction of (almost) no luma
  // (29 * 40 - 150 * 20 + 77 * 24 = 8 of 256 * 255): colour detail at full
  // resolution on the picture's own luma.
  for (int32_t y = CleanBegin(height); y < height; ++y) {
    for (int32_t x = width / 8; x < width / 4; ++x) {
      uint8_t* p = &bgra[(static_cast<size_t>(y) * width + x) * 4];
      const int sign = (x & 1) != 0 ? 1 : -1;
      p[0] = Byte(p[0] + sign * 40.0);
      p[1] = Byte(p[1] - sign * 20.0);
      p[2] = Byte(p[2] + sign * 24.0);
    }
  }
  return bgra;
}

std::vector<uint8_t> WithInterference(const std::vector<uint8_t>& clean, int32_t width, int32_t height,
                                      const std::vector<GratingKHz>& gratings, bool wholeFrame) {
  std::vector<uint8_t> bgra = clean;
  for (int32_t y = 0; y < (wholeFrame ? height : FadeEnd(height)); ++y) {
    const double envelope = wholeFrame ? 1.0 : Envelope(y, height);
    for (int32_t x = 0; x < width; ++x) {
      double sum = 0.0;
      for (const GratingKHz& g : gratings) sum += g.amplitude * std::cos(Phase(g, x, y, width, height));
      const long change = std::lround(envelope * sum);
      uint8_t* p = &bgra[(static_cast<size_t>(y) * width + x) * 4];
      for (int c = 0; c < 3; ++c) p[c] = Byte(p[c] + static_cast<double>(change));
    }
  }
  return bgra;
}

FrameVerdict Judge(const uint8_t* clean, const uint8_t* input, const uint8_t* output, int32_t width, int32_t height,
                   const std::vector<GratingKHz>& gratings) {
  FrameVerdict verdict = {200.0, 0, 0.0, true};
  const int32_t rows = FullRows(height);
  for (const GratingKHz& g : gratings) {
    // Least-squares amplitude of the grating in the luma difference to the
    // clean frame, before and after.
    double before[2] = {0, 0}, after[2] = {0, 0};
    for (int32_t y = 0; y < rows; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        const size_t i = (static_cast<size_t>(y) * width + x) * 4;
        const double phase = Phase(g, x, y, width, height);
        const double c = std::cos(phase), s = std::sin(phase);
        const double dIn = Luma(input + i) - Luma(clean + i), dOut = Luma(output + i) - Luma(clean + i);
        before[0] += dIn * c;
        before[1] += dIn * s;
        after[0] += dOut * c;
        after[1] += dOut * s;
      }
    }
    const double a = std::hypot(before[0], before[1]), b = std::hypot(after[0], after[1]);
    const double db = b <= 0.0 ? 200.0 : std::min(200.0, 20.0 * std::log10(a / b));
    verdict.worstRemovedDb = std::min(verdict.worstRemovedDb, db);
  }
  // The clean area without the frame's edges, where the inverse window
  // magnifies what the notch takes from the picture itself.
  size_t values = 0, withinOne = 0;
  for (int32_t y = CleanBegin(height); y < height - kEdge; ++y) {
    for (int32_t x = kEdge; x < width - kEdge; ++x) {
      const size_t i = (static_cast<size_t>(y) * width + x) * 4;
      for (int c = 0; c < 3; ++c) {
        const int change = std::abs(output[i + c] - input[i + c]);
        verdict.cleanMaxChange = std::max(verdict.cleanMaxChange, change);
        withinOne += change <= 1 ? 1 : 0;
        ++values;
      }
    }
  }
  verdict.cleanShareWithinOne = values > 0 ? static_cast<double>(withinOne) / values : 0.0;
  for (size_t i = 3; i < static_cast<size_t>(width) * height * 4; i += 4) {
    if (output[i] != input[i]) verdict.alphaKept = false;
  }
  return verdict;
}

}  // namespace qrxtest
