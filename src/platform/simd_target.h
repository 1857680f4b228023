// Target attributes for code that runs only where the processor has the
// instruction set: the rest of the tree is compiled for the oldest supported
// processor (SSE, no SSE2, on 32-bit x86), and each kernel is chosen at run
// time from platform/cpu.h's features.
#pragma once

#if defined(__i386__) || defined(__x86_64__)
// MMX with SSE's integer additions: the 32-bit build's baseline has both, the
// attribute makes x86_64 builds accept the intrinsics too.
#define QRX_MMX __attribute__((target("mmx,sse")))
// The _INLINE forms put per-row helpers into every loop whatever the
// inliner's budget.
#define QRX_MMX_INLINE __attribute__((target("mmx,sse"), always_inline)) inline
#define QRX_SSE2 __attribute__((target("sse2")))
#define QRX_SSE2_INLINE __attribute__((target("sse2"), always_inline)) inline
#define QRX_AVX2 __attribute__((target("avx2")))
#define QRX_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline
#endif
