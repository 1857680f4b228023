#include "transform/line_resample.h"

#include <cmath>
#include <cstring>
#include <new>

#include "platform/cpu.h"
#include "platform/math_constants.h"
#include "platform/platform.h"
#include "transform/line_kernels_internal.h"

namespace qrx {
namespace {

constexpr double kLanczosA = 3.0;
constexpr double kQ14 = 16384.0;

double Sinc(double t) { return t < 1e-9 ? 1.0 : std::sin(t) / t; }

// Kernel scale and half-width: shrinking widens the kernel in source samples.
double KernelScale(int32_t sourceLength, int32_t destinationLength) {
  const double ratio = static_cast<double>(destinationLength) / sourceLength;
  return ratio < 1.0 ? ratio : 1.0;
}

int32_t HalfWidth(double scale) { return static_cast<int32_t>(std::floor(kLanczosA / scale + 0.5)); }

int16_t ToQ14(double weight, double sum) {
  // Truncation toward zero after adding one half, as the tables always did;
  // the clamp only guards the int16 range, which real kernels never leave.
  double v = std::trunc((1.0 / sum) * weight * kQ14 + 0.5);
  if (v > 32767.0) v = 32767.0;
  if (v < -32768.0) v = -32768.0;
  return static_cast<int16_t>(v);
}

void FillRow(uint8_t* row, int32_t i, int32_t s, int32_t d, int32_t taps, double scale, int32_t e, double* weights) {
  // First tap position, placing the destination centre (i + 0.5) * S / D at
  // h + e; (2i + 1) * S is exact, so a whole-number h stays whole.
  const double h = (2.0 * i + 1.0) * s / (2.0 * d) - e;
  double m = std::floor(h);
  double o = m - h - e + 0.5;
  if (m < 0) {
    o -= m;
    m = 0;
  }
  if (m + taps > s) {
    o -= m + taps - s;
    m = s - taps;
  }
  double sum = 0.0;
  for (int32_t j = 0; j < taps; ++j) {
    weights[j] = LanczosKernel(scale * (j + o));
    sum += weights[j];
  }
  if (taps < 1 || sum == 0.0) sum = 1.0;
  const int32_t start = 2 * static_cast<int32_t>(m);
  std::memcpy(row, &start, sizeof start);
  for (int32_t j = 0; j < taps; ++j) {
    const int16_t c = ToQ14(weights[j], sum);
    std::memcpy(row + 4 + 2 * j, &c, sizeof c);
  }
}

}  // namespace

double LanczosKernel(double x) {
  const double ax = std::fabs(x);
  if (ax >= kLanczosA) return 0.0;
  return Sinc(kPi * ax) * Sinc(kPi * ax / kLanczosA);
}

int32_t ResampleTable::Start(int32_t i) const {
  int32_t start;
  std::memcpy(&start, Row(i), sizeof start);
  return start;
}

const int16_t* ResampleTable::Coefficients(int32_t i) const { return reinterpret_cast<const int16_t*>(Row(i) + 4); }

int32_t ResampleTapCount(int32_t sourceLength, int32_t destinationLength) {
  if (sourceLength < 1 || destinationLength < 1) return 0;
  const int32_t e = HalfWidth(KernelScale(sourceLength, destinationLength));
  return (2 * e + 4) & ~3;
}

ResampleTable* CreateResampleTable(int32_t sourceLength, int32_t destinationLength) {
  const int32_t taps = ResampleTapCount(sourceLength, destinationLength);
  // A line shorter than the kernel cannot hold a row: refuse rather than
  // read outside the line.
  if (taps < 4 || taps > sourceLength) return nullptr;
  ResampleTable* table = new (std::nothrow) ResampleTable;
  if (!table) return nullptr;
  table->sourceLength = sourceLength;
  table->destinationLength = destinationLength;
  table->taps = taps;
  const size_t bytes = table->RowBytes() * static_cast<size_t>(destinationLength);
  table->rows = static_cast<uint8_t*>(platform::AlignedAlloc(bytes));
  double* weights = new (std::nothrow) double[taps];
  if (!table->rows || !weights) {
    delete[] weights;
    DestroyResampleTable(table);
    return nullptr;
  }
  const double scale = KernelScale(sourceLength, destinationLength);
  const int32_t e = HalfWidth(scale);
  for (int32_t i = 0; i < destinationLength; ++i) {
    FillRow(table->rows + table->RowBytes() * static_cast<size_t>(i), i, sourceLength, destinationLength, taps, scale,
            e, weights);
  }
  delete[] weights;
  return table;
}

void DestroyResampleTable(ResampleTable* table) {
  if (!table) return;
  platform::AlignedFree(table->rows);
  delete table;
}

namespace line {

int32_t ApplyRow(const ResampleTable& table, int32_t row, const uint16_t* line) {
  const uint8_t* r = table.Row(row);
  int32_t start;
  std::memcpy(&start, r, sizeof start);
  const uint16_t* source = line + start / 2;
  // Samples are 0..255 and |coefficients| sum to well under 2^16, so the
  // 32-bit sum cannot overflow.
  int32_t acc = 0;
  for (int32_t j = 0; j < table.taps; ++j) {
    int16_t c;
    std::memcpy(&c, r + 4 + 2 * j, sizeof c);
    acc += static_cast<int32_t>(c) * static_cast<int32_t>(static_cast<int16_t>(source[j]));
  }
  return acc >> 14;  // arithmetic: rounds toward minus infinity
}

uint8_t FloatToLuma(float v) {
  // Clamp first (NaN fails the comparison and becomes 0), then round half to
  // even by hand so the result never depends on the rounding mode.
  if (!(v > 0.0f)) return 0;
  if (v > 256.0f) v = 256.0f;
  int32_t i = static_cast<int32_t>(v);  // truncation = floor here
  const float f = v - static_cast<float>(i);
  if (f > 0.5f || (f == 0.5f && (i & 1))) ++i;
  return static_cast<uint8_t>(i > 255 ? 255 : i);
}

namespace detail {

void ResampleToFloatsFrom(const ResampleTable& table, const uint16_t* line, const float* window, float* out,
                          int32_t first) {
  for (int32_t i = first; i < table.destinationLength; ++i) {
    out[i] = static_cast<float>(ApplyRow(table, i, line)) * window[i];
  }
}

void ResampleToLumaFrom(const ResampleTable& table, const uint16_t* line, uint8_t* frameRow, int32_t first) {
  for (int32_t x = first; x < table.destinationLength; ++x) {
    const int32_t v = ApplyRow(table, x, line);
    frameRow[2 * x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  }
}

}  // namespace detail

namespace {

void LumaToFloatsScalar(const uint8_t* frameRow, const float* window, float* out, int32_t n) {
  for (int32_t x = 0; x < n; ++x) out[x] = static_cast<float>(frameRow[2 * x]) * window[x];
}

void ResampleToFloatsScalar(const ResampleTable& table, const uint16_t* line, const float* window, float* out) {
  detail::ResampleToFloatsFrom(table, line, window, out, 0);
}

void FloatsToLumaScalar(const float* in, const float* inverse, uint8_t* frameRow, int32_t n) {
  for (int32_t x = 0; x < n; ++x) frameRow[2 * x] = FloatToLuma(in[x] * inverse[x]);
}

void FloatsToSamplesScalar(const float* in, const float* inverse, uint16_t* line, int32_t n) {
  for (int32_t i = 0; i < n; ++i) line[i] = FloatToLuma(in[i] * inverse[i]);
}

void ResampleToLumaScalar(const ResampleTable& table, const uint16_t* line, uint8_t* frameRow) {
  detail::ResampleToLumaFrom(table, line, frameRow, 0);
}

void LumaToSamplesScalar(const uint8_t* frameRow, uint16_t* line, int32_t n) {
  for (int32_t x = 0; x < n; ++x) line[x] = frameRow[2 * x];
}

const Kernels kScalar = {LumaToFloatsScalar,    ResampleToFloatsScalar, FloatsToLumaScalar,
                         FloatsToSamplesScalar, ResampleToLumaScalar,   LumaToSamplesScalar};

}  // namespace

const Kernels& ScalarKernels() { return kScalar; }

const Kernels& SelectKernels() {
  const platform::CpuFeatures& cpu = platform::Cpu();
  const Kernels* sse2 = Sse2Kernels();
  if (sse2 && cpu.sse2) return *sse2;
  const Kernels* mmx = MmxKernels();
  if (mmx && cpu.sse) return *mmx;
  return kScalar;
}

}  // namespace line
}  // namespace qrx
