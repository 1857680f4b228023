// The scalar reference kernels. Written so that each operation is one
// rounded single-precision step in a fixed order; the SIMD kernels follow the
// same order, lane by lane.
#include "transform/fft_kernels.h"

#include "platform/math_constants.h"
#include "transform/fft_kernels_simd.h"

#include <cmath>

namespace qrx {
namespace {

// The kernels' single-precision π and 2π (the nearest floats).
constexpr float kPiFloat = static_cast<float>(kPi);
constexpr float kTwoPiFloat = static_cast<float>(2.0 * kPi);

struct Cx {
  float re, im;
};

inline Cx Load(const float* p, int32_t i) { return {p[2 * i], p[2 * i + 1]}; }
inline void Store(float* p, int32_t i, Cx v) {
  p[2 * i] = v.re;
  p[2 * i + 1] = v.im;
}
// a * b: re = a.re b.re - a.im b.im, im = a.re b.im + a.im b.re.
inline Cx Mul(Cx a, Cx b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }

// One butterfly: data[s] = a + b, data[s + half] = (a - b) * w.
inline void Butterfly(float* d, int32_t s, int32_t half, Cx w) {
  const Cx a = Load(d, s);
  const Cx b = Load(d, s + half);
  Store(d, s, {a.re + b.re, a.im + b.im});
  Store(d, s + half, Mul({a.re - b.re, a.im - b.im}, w));
}

void SplitStep(float* z, int32_t N, int32_t b) {
  const double theta = b * static_cast<double>(kTwoPiFloat) / N;
  const Cx step = {static_cast<float>(std::cos(theta)), static_cast<float>(std::sin(theta))};
  const float c2 = -0.5f * static_cast<float>(b);
  Cx w = step;
  const int32_t halfN = N / 2;
  for (int32_t k = 1; k <= N / 4; ++k) {
    const Cx A = Load(z, k);
    const Cx B = Load(z, halfN - k);
    const float h1r = 0.5f * (A.re + B.re);
    const float h1i = 0.5f * (A.im - B.im);
    const float h2r = -c2 * (A.im + B.im);
    const float h2i = c2 * (A.re - B.re);
    Store(z, k, {h1r + w.re * h2r - w.im * h2i, h1i + w.re * h2i + w.im * h2r});
    Store(z, halfN - k, {h1r - w.re * h2r + w.im * h2i, -h1i + w.re * h2i + w.im * h2r});
    w = Mul(w, step);
  }
  const float re = z[0], im = z[1];
  if (b > 0) {
    z[0] = re + im;
    z[1] = re - im;
  } else {
    z[0] = (re + im) * 0.5f;
    z[1] = (re - im) * 0.5f;
  }
}

}  // namespace

int32_t BitReversePairs(int32_t* pairs, int32_t n) {
  int32_t bits = 0;
  while ((1 << bits) < n) ++bits;
  int32_t count = 0;
  for (int32_t j = 0; j < n; ++j) {
    int32_t r = 0;
    for (int32_t b = 0; b < bits; ++b) r |= ((j >> b) & 1) << (bits - 1 - b);
    if (j <= r) {
      pairs[2 * count] = j;
      pairs[2 * count + 1] = r;
      ++count;
    }
  }
  return count;
}

void ReversedIndices(int32_t* out, int32_t n) {
  int32_t bits = 0;
  while ((1 << bits) < n) ++bits;
  for (int32_t j = 0; j < n; ++j) {
    int32_t r = 0;
    for (int32_t b = 0; b < bits; ++b) r |= ((j >> b) & 1) << (bits - 1 - b);
    out[j] = r;
  }
}

StageRotation MakeStageRotation(int32_t half, int32_t direction) {
  const double theta = static_cast<double>(kPiFloat) / half;
  const double c = std::cos(theta);
  const double s = -direction * std::sqrt(1.0 - c * c);
  StageRotation r;
  r.c = static_cast<float>(c);
  r.s = static_cast<float>(s);
  r.c2 = static_cast<float>(2.0 * c * c - 1.0);
  r.s2 = static_cast<float>(2.0 * s * c);
  return r;
}

int32_t StageTwiddleCount(int32_t n) {
  int32_t total = 0;
  for (int32_t half = n / 2; half >= 4; half /= 2) total += half;
  return total;
}

void FillStageTwiddles(float* out, int32_t n, int32_t direction) {
  for (int32_t half = n / 2; half >= 4; half /= 2) {
    const StageRotation rot = MakeStageRotation(half, direction);
    const Cx r = {rot.c2, rot.s2};
    Cx w0 = {1.0f, 0.0f};
    Cx w1 = {rot.c, rot.s};
    for (int32_t j = 0; j < half; j += 2) {
      Store(out, j, w0);
      Store(out, j + 1, w1);
      w0 = Mul(w0, r);
      w1 = Mul(w1, r);
    }
    out += 2 * half;
  }
}

void FillSplitTwiddles(float* out, int32_t N, int32_t b) {
  const double theta = b * static_cast<double>(kTwoPiFloat) / N;
  const Cx step = {static_cast<float>(std::cos(theta)), static_cast<float>(std::sin(theta))};
  Cx w = step;
  for (int32_t k = 0; k < N / 4; ++k) {
    Store(out, k, w);
    w = Mul(w, step);
  }
}

void ComplexFft(float* data, int32_t n, int32_t direction) {
  if (n < 2) return;
  for (int32_t m = n; m >= 2; m /= 2) {
    const int32_t half = m / 2;
    if (half == 1) {
      for (int32_t s = 0; s < n; s += 2) Butterfly(data, s, 1, {1.0f, 0.0f});
    } else if (half == 2) {
      for (int32_t s = 0; s < n; s += 4) {
        const Cx a0 = Load(data, s), b0 = Load(data, s + 2);
        Store(data, s, {a0.re + b0.re, a0.im + b0.im});
        Store(data, s + 2, {a0.re - b0.re, a0.im - b0.im});
        // w_1 = -direction * i, applied by exchanging and negating parts.
        const Cx a1 = Load(data, s + 1), b1 = Load(data, s + 3);
        Store(data, s + 1, {a1.re + b1.re, a1.im + b1.im});
        const Cx t = {a1.re - b1.re, a1.im - b1.im};
        Store(data, s + 3, direction > 0 ? Cx{t.im, -t.re} : Cx{-t.im, t.re});
      }
    } else {
      const StageRotation rot = MakeStageRotation(half, direction);
      const Cx r = {rot.c2, rot.s2};
      Cx w0 = {1.0f, 0.0f};
      Cx w1 = {rot.c, rot.s};
      for (int32_t j = 0; j < half; j += 2) {
        for (int32_t s = j; s < n; s += m) {
          Butterfly(data, s, half, w0);
          Butterfly(data, s + 1, half, w1);
        }
        w0 = Mul(w0, r);
        w1 = Mul(w1, r);
      }
    }
  }
}

void ReversalSwap(float* data, const int32_t* pairs, int32_t count) {
  for (int32_t p = 0; p < count; ++p) {
    const int32_t i = pairs[2 * p], j = pairs[2 * p + 1];
    const Cx a = Load(data, i);
    Store(data, i, Load(data, j));
    Store(data, j, a);
  }
}

void ScaledReversalSwap(float* data, const int32_t* pairs, int32_t count, float factor) {
  for (int32_t p = 0; p < count; ++p) {
    const int32_t i = pairs[2 * p], j = pairs[2 * p + 1];
    const Cx a = Load(data, i), b = Load(data, j);
    Store(data, i, {factor * b.re, factor * b.im});
    Store(data, j, {factor * a.re, factor * a.im});
  }
}

void RealRowFft(float* row, int32_t N, int32_t direction, const int32_t* pairs, int32_t count) {
  const int32_t halfN = N / 2;
  if (direction > 0) {
    ComplexFft(row, halfN, -1);
    ReversalSwap(row, pairs, count);
    SplitStep(row, N, +1);
    // Element 0 holds (R[0], R[N/2]).
    row[2 * halfN] = row[1];
    row[2 * halfN + 1] = 0.0f;
    row[1] = 0.0f;
  } else {
    row[1] = row[2 * halfN];
    row[2 * halfN] = 0.0f;
    row[2 * halfN + 1] = 0.0f;
    SplitStep(row, N, -1);
    ComplexFft(row, halfN, +1);
    ScaledReversalSwap(row, pairs, count, 2.0f / static_cast<float>(N));
  }
}

void GatherColumn(const float* spectrum, int32_t pitch, int32_t k, int32_t count, int32_t M, float* scratch) {
  const float* src = spectrum + 2 * k;
  const int32_t stride = 2 * pitch;
  int32_t m = 0;
  for (; m + 1 < count; m += 2) {
    scratch[2 * m] = src[m * stride];
    scratch[2 * m + 1] = src[m * stride + 1];
    scratch[2 * m + 2] = -src[(m + 1) * stride];
    scratch[2 * m + 3] = -src[(m + 1) * stride + 1];
  }
  if (m < count) {  // odd count: the last (even) row alone
    scratch[2 * m] = src[m * stride];
    scratch[2 * m + 1] = src[m * stride + 1];
    ++m;
  }
  for (; m < M; ++m) {
    scratch[2 * m] = 0.0f;
    scratch[2 * m + 1] = 0.0f;
  }
}

void MultiplyColumn(float* spectrum, int32_t pitch, int32_t k, int32_t M, const float* mask) {
  for (int32_t m = 0; m < M; ++m) {
    float* element = spectrum + 2 * (static_cast<size_t>(m) * pitch + k);
    const float f = mask[static_cast<size_t>(m) * pitch + k];
    element[0] *= f;
    element[1] *= f;
  }
}

void ScatterColumn(float* spectrum, int32_t pitch, int32_t k, int32_t count, const float* scratch) {
  float* dst = spectrum + 2 * k;
  const int32_t stride = 2 * pitch;
  for (int32_t m = 0; m < count; ++m) {
    const bool odd = (m & 1) != 0;
    dst[m * stride] = odd ? -scratch[2 * m] : scratch[2 * m];
    dst[m * stride + 1] = odd ? -scratch[2 * m + 1] : scratch[2 * m + 1];
  }
}

void SpreadSseTwiddles(const float* pairs, int32_t count, float* out) {
  for (int32_t j = 0; j < count; ++j, out += 8) {
    const float re = pairs[2 * j], im = pairs[2 * j + 1];
    for (int32_t c = 0; c < 4; ++c) out[c] = re;
    for (int32_t c = 0; c < 4; c += 2) {
      out[4 + c] = -im;
      out[5 + c] = im;
    }
  }
}

}  // namespace qrx
