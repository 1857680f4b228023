#include "demo_picture.h"

#include <algorithm>
#include <cmath>

#include "platform/math_constants.h"
#include "transform/fft_engine.h"

namespace qrxhost {

namespace {

using qrx::kPi;

uint8_t ClampByte(double v) {
  const double r = std::floor(v + 0.5);
  return static_cast<uint8_t>(r < 0 ? 0 : (r > 255 ? 255 : r));
}

// Deterministic noise for the texture, independent of the C library.
uint32_t NextRandom(uint32_t* state) {
  *state = *state * 1664525u + 1013904223u;
  return *state >> 8;
}

}  // namespace

std::vector<double> MakeCleanLuma(int32_t width, int32_t height) {
  std::vector<double> luma(static_cast<size_t>(width) * height);
  // Gradients: horizontal in the upper half, vertical in the lower half.
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      double v = y < height / 2 ? 70.0 + 100.0 * x / width : 90.0 + 80.0 * y / height;
      luma[static_cast<size_t>(y) * width + x] = v;
    }
  }
  auto fill = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1, double v) {
    for (int32_t y = std::max(0, y0); y < std::min(height, y1); ++y)
      for (int32_t x = std::max(0, x0); x < std::min(width, x1); ++x) luma[static_cast<size_t>(y) * width + x] = v;
  };
  // Hard edges: two solid blocks and a disc.
  fill(width / 16, height / 12, width / 4, height / 3, 200.0);
  fill(width * 5 / 16, height / 12, width * 7 / 16, height / 3, 50.0);
  const double cx = width * 0.75, cy = height * 0.28, radius = height * 0.15;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < radius * radius) luma[static_cast<size_t>(y) * width + x] = 180.0;
  // Fine texture: smoothed noise in a band of the lower half.
  uint32_t seed = 12345;
  std::vector<double> noise(static_cast<size_t>(width) * height);
  for (double& n : noise) n = static_cast<double>(NextRandom(&seed) % 33) - 16.0;
  for (int32_t y = height * 9 / 16; y < height * 13 / 16; ++y)
    for (int32_t x = width / 2 + 1; x < width - 1; ++x) {
      const size_t i = static_cast<size_t>(y) * width + x;
      luma[i] += 0.25 * noise[i - 1] + 0.5 * noise[i] + 0.25 * noise[i + 1];
    }
  // Text-like blocks: rows of small dark glyph shapes on a light strip.
  const int32_t stripTop = height * 9 / 16, stripBottom = height * 13 / 16;
  fill(width / 16, stripTop, width * 7 / 16, stripBottom, 190.0);
  uint32_t glyphSeed = 777;
  for (int32_t row = stripTop + 6; row + 12 < stripBottom; row += 18) {
    for (int32_t x = width / 16 + 4; x + 8 < width * 7 / 16; x += 9) {
      const uint32_t bits = NextRandom(&glyphSeed);
      if ((bits & 7) == 0) continue;                     // word gaps
      fill(x, row, x + 2, row + 12, 60.0);               // stem
      if (bits & 8) fill(x, row, x + 7, row + 2, 60.0);  // top bar
      if (bits & 16) fill(x, row + 5, x + 6, row + 7, 60.0);
      if (bits & 32) fill(x + 5, row, x + 7, row + 12, 60.0);
      if (bits & 64) fill(x, row + 10, x + 7, row + 12, 60.0);
    }
  }
  return luma;
}

void AddGrating(std::vector<double>* luma, int32_t width, int32_t height, const Grating& g) {
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const double phase = 2 * kPi * (g.cyclesX * x / width + g.cyclesY * y / g.rowsM) + g.phase;
      (*luma)[static_cast<size_t>(y) * width + x] += g.amplitude * std::cos(phase);
    }
}

std::vector<uint8_t> MakeYuy2(const std::vector<double>& luma, int32_t width, int32_t height) {
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * 2);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = &frame[(static_cast<size_t>(y) * width + x) * 2];
      p[0] = ClampByte(luma[static_cast<size_t>(y) * width + x]);
      p[1] = (x & 1) == 0 ? ClampByte(128 + 40 * std::sin(2 * kPi * x / width))
                          : ClampByte(128 + 40 * std::cos(2 * kPi * y / height));
    }
  return frame;
}

std::vector<double> LumaOfYuy2(const std::vector<uint8_t>& frame, int32_t width, int32_t height) {
  std::vector<double> luma(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < luma.size(); ++i) luma[i] = frame[i * 2];
  return luma;
}

std::vector<uint8_t> Yuy2ToBgr24(const std::vector<uint8_t>& frame, int32_t width, int32_t height) {
  std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* pair = &frame[(static_cast<size_t>(y) * width + (x & ~1)) * 2];
      const double Y = frame[(static_cast<size_t>(y) * width + x) * 2];
      const double cb = pair[1] - 128.0, cr = (x | 1) < width ? pair[3] - 128.0 : 0.0;
      uint8_t* out = &bgr[(static_cast<size_t>(height - 1 - y) * width + x) * 3];
      out[0] = ClampByte(Y + 1.772 * cb);
      out[1] = ClampByte(Y - 0.344136 * cb - 0.714136 * cr);
      out[2] = ClampByte(Y + 1.402 * cr);
    }
  return bgr;
}

double GratingAmplitude(const std::vector<double>& luma, int32_t width, int32_t height, const Grating& g) {
  double cc = 0, ss = 0, cs = 0, dc = 0, ds = 0;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const double phase = 2 * kPi * (g.cyclesX * x / width + g.cyclesY * y / g.rowsM);
      const double c = std::cos(phase), s = std::sin(phase);
      const double d = luma[static_cast<size_t>(y) * width + x];
      cc += c * c;
      ss += s * s;
      cs += c * s;
      dc += d * c;
      ds += d * s;
    }
  const double det = cc * ss - cs * cs;
  if (std::fabs(det) < 1e-9) return 0.0;
  const double a = (dc * ss - ds * cs) / det;
  const double b = (ds * cc - dc * cs) / det;
  return std::sqrt(a * a + b * b);
}

double PowerRatioDb(double before, double after) {
  if (after <= before * 1e-10) return 200.0;
  return 20.0 * std::log10(before / after);
}

double Psnr(const std::vector<double>& a, const std::vector<double>& b, int32_t width, int32_t x0, int32_t y0,
            int32_t x1, int32_t y1) {
  double sum = 0;
  size_t count = 0;
  for (int32_t y = y0; y < y1; ++y)
    for (int32_t x = x0; x < x1; ++x) {
      const size_t i = static_cast<size_t>(y) * width + x;
      sum += (a[i] - b[i]) * (a[i] - b[i]);
      ++count;
    }
  if (count == 0 || sum == 0) return 200.0;
  return 10.0 * std::log10(255.0 * 255.0 / (sum / count));
}

double SquaredError(const std::vector<double>& a, const std::vector<double>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return sum;
}

int32_t HorizontalKHz(double bin, int32_t fftLine) {
  // Column k lies at k * rowRateKHz / N.
  const double rate = qrx::ScaleRowRateKHz(fftLine);
  return static_cast<int32_t>(std::lround(bin * rate / fftLine));
}

int32_t VerticalKHz(double bin, int32_t rowsM, int32_t frameHeight) {
  const double rate = qrx::ScaleColRateKHz(frameHeight);
  return static_cast<int32_t>(std::lround(bin * rate / rowsM));
}

}  // namespace qrxhost
