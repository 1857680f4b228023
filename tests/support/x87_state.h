// The x87 register state after SIMD kernels. MMX instructions mark all
// eight x87 registers in use; only EMMS empties them again. Left in use,
// the next x87 load overflows the register stack and yields NaN: long
// double arithmetic, and on 32-bit x86 every float or double a function
// returns, since those come back in st(0).
#pragma once

#include <cstdint>

namespace qrx {
namespace x87 {

// The x87 tag word: 0xFFFF when every register is empty (after EMMS or
// when no MMX instruction ran), anything else after MMX work without EMMS.
// Non-x86 builds have no such state and always report empty.
inline uint16_t TagWord() {
#if defined(__i386__) || defined(__x86_64__)
  uint16_t environment[14];  // the 28-byte environment; the tag word is its third word
  // fnstenv masks every x87 exception as a side effect: fldcw puts the saved
  // control word back.
  __asm__ volatile("fnstenv %0\n\tfldcw %0" : "=m"(environment));
  return environment[4];
#else
  return 0xFFFF;
#endif
}

// Runs one MMX instruction and leaves the registers in use, as a kernel
// without EMMS would. Only for checking that the probe sees it.
inline void LeaveMmxInUse() {
#if defined(__i386__) || defined(__x86_64__)
  __asm__ volatile("pxor %%mm0, %%mm0" ::: "mm0");
#endif
}

inline void Empty() {
#if defined(__i386__) || defined(__x86_64__)
  __asm__ volatile("emms");
#endif
}

// x87 arithmetic through a call the compiler cannot see into: NaN on real
// processors when the registers were left in use. (Emulators may not model
// the stack overflow; the tag word above is the dependable check.)
__attribute__((noinline)) inline long double Product(long double a, long double b) { return a * b; }

}  // namespace x87
}  // namespace qrx
