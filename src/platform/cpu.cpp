#include "platform/cpu.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace qrx {
namespace platform {
namespace {

CpuFeatures Detect() {
  CpuFeatures f;
#if defined(__i386__) || defined(__x86_64__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return f;
  f.sse = (edx & bit_SSE) != 0;
  f.sse2 = (edx & bit_SSE2) != 0;
  const bool osxsave = (ecx & bit_OSXSAVE) != 0;
  const bool avx = (ecx & bit_AVX) != 0;
  const bool fma = (ecx & bit_FMA) != 0;
  if (osxsave && avx) {
    unsigned xcr0lo = 0, xcr0hi = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0lo), "=d"(xcr0hi) : "c"(0));
    // The operating system saves XMM and YMM state.
    if ((xcr0lo & 6u) == 6u) {
      f.avx = true;
      f.fma = fma;
      if (__get_cpuid_max(0, nullptr) >= 7) {
        __cpuid_count(7, 0, eax, ebx, ecx, edx);
        f.avx2 = (ebx & bit_AVX2) != 0;
      }
    }
  }
#endif
  return f;
}

const CpuFeatures& Detected() {
  static const CpuFeatures features = Detect();
  return features;
}

const CpuFeatures* g_override = nullptr;

}  // namespace

const CpuFeatures& Cpu() { return g_override ? *g_override : Detected(); }

void OverrideCpuFeatures(const CpuFeatures* features) { g_override = features; }

}  // namespace platform
}  // namespace qrx
