// Processor features for run-time choice of SIMD code. Detected once.
#pragma once

namespace qrx {
namespace platform {

struct CpuFeatures {
  bool sse = false;
  bool sse2 = false;
  bool avx = false;   // AVX usable: processor and operating system agree
  bool avx2 = false;
  bool fma = false;
};

const CpuFeatures& Cpu();

// Tests and benchmarks force the scalar or a narrower path with this;
// passing nullptr returns to what the processor has.
void OverrideCpuFeatures(const CpuFeatures* features);

}  // namespace platform
}  // namespace qrx
