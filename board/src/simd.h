// Which vector instructions the board's kernels may use. SSE2 is the baseline of every x86-64
// compiler target; AVX2 kernels are compiled per function (target attribute) and chosen at
// run time when the CPU reports AVX2. Internal to the board.
#pragma once

#if defined(__SSE2__)
#include <immintrin.h>
#define WT_HAVE_SSE2 1
#endif
// AVX2 only where the compiler can target it per function; not on Windows, whose compilers
// here may spill 32-byte vectors to a stack aligned to 16.
#if defined(WT_HAVE_SSE2) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define WT_HAVE_AVX2 1
#endif

namespace board::detail {

// True when the CPU runs AVX2 (and the build can use it).
inline bool cpu_has_avx2() {
#if defined(WT_HAVE_AVX2)
    static const bool s_avx2 = __builtin_cpu_supports("avx2");
    return s_avx2;
#else
    return false;
#endif
}

} // namespace board::detail
