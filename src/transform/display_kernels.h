// The spectrum's display values: scale * log10(1 + |S|) of a row of complex
// elements. The scalar reference defines the result (a single-precision
// logarithm from the exponent and a polynomial of the mantissa, accurate to
// about one part in ten million); the SSE2 and AVX2 versions do the same
// operations in the same order on four or eight elements at once, so all
// give identical bits.
#pragma once

#include <cstdint>

namespace qrx {

namespace platform {
struct CpuFeatures;
}

namespace display {

// out[k] = scale * log10(1 + |row[k]|) for k < count; row holds count
// complex elements (real first). A non-finite magnitude gives a very large
// value (infinity) or NaN (NaN), never a small one.
void LogMagnitudeScalar(const float* row, float* out, int32_t count, float scale);
void LogMagnitudeSse2(const float* row, float* out, int32_t count, float scale);
void LogMagnitudeAvx2(const float* row, float* out, int32_t count, float scale);

using LogMagnitudeFn = void (*)(const float* row, float* out, int32_t count, float scale);
// The widest version a processor with these features runs.
LogMagnitudeFn LogMagnitudeFor(const platform::CpuFeatures& cpu);
// The version for this processor, chosen at the first call.
void LogMagnitude(const float* row, float* out, int32_t count, float scale);

}  // namespace display
}  // namespace qrx
