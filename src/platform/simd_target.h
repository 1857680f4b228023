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

// The same for a whole region of a file: every function defined between
// QRX_BEGIN_TARGET_* and QRX_END_TARGET gets the target, templates written
// over a vector trait included there too (one file per instruction set, as
// the kernels' *_sse2.cpp and *_avx2.cpp files do).
#if defined(__clang__)
#define QRX_BEGIN_TARGET_SSE2 _Pragma("clang attribute push(__attribute__((target(\"sse2\"))), apply_to = function)")
#define QRX_BEGIN_TARGET_AVX2 _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define QRX_END_TARGET _Pragma("clang attribute pop")
#else
#define QRX_BEGIN_TARGET_SSE2 _Pragma("GCC push_options") _Pragma("GCC target(\"sse2\")")
#define QRX_BEGIN_TARGET_AVX2 _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define QRX_END_TARGET _Pragma("GCC pop_options")
#endif
#endif
