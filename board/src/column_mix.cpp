#include "column_mix.h"

#include "simd.h"

#include <initializer_list>

namespace board::detail {

namespace {

void mix_plain(uint32_t* dst, int count, const uint64_t* columns, int64_t s, int64_t ds, int shift,
               uint32_t alpha) {
    for (int i = 0; i < count; ++i, s += ds) {
        const int64_t u = s >> shift;
        const uint64_t* pair = columns + (u >> 8);
        dst[i] = mix_rows(pair[0], pair[1], uint32_t(u & 255)) | alpha;
    }
}

#if defined(WT_HAVE_SSE2)
// Per weight f: 256 - f in the four lanes of the left column, f in those of the right one.
struct alignas(16) Weights {
    uint16_t lanes[256][8];
    Weights() {
        for (int f = 0; f < 256; ++f)
            for (int lane = 0; lane < 8; ++lane)
                lanes[f][lane] = uint16_t(lane < 4 ? 256 - f : f);
    }
};
const Weights k_weights;

// One pixel: the column pair (lanes B, G, R, 0 of each) times its weights, summed and
// rounded: B, G, R, 0 in 32-bit lanes.
inline __m128i mix_pixel(const uint64_t* pair, uint8_t f) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pair));
    const __m128i w = _mm_load_si128(reinterpret_cast<const __m128i*>(k_weights.lanes[f]));
    const __m128i lo = _mm_mullo_epi16(v, w), hi = _mm_mulhi_epu16(v, w);
    const __m128i sum = _mm_add_epi32(_mm_unpacklo_epi16(lo, hi), _mm_unpackhi_epi16(lo, hi));
    return _mm_srli_epi32(_mm_add_epi32(sum, _mm_set1_epi32(0x8000)), 16);
}

// The pixel at s: its column pair and weight.
inline __m128i mix_at(const uint64_t* columns, int64_t s, int shift) {
    const int64_t u = s >> shift;
    return mix_pixel(columns + (u >> 8), uint8_t(u & 255));
}

void mix_sse2(uint32_t* dst, int count, const uint64_t* columns, int64_t s, int64_t ds, int shift,
              uint32_t alpha) {
    const __m128i a = _mm_set1_epi32(int(alpha));
    int i = 0;
    for (; i + 2 <= count; i += 2, s += 2 * ds) {
        const __m128i words =
            _mm_packs_epi32(mix_at(columns, s, shift), mix_at(columns, s + ds, shift));
        const __m128i bytes = _mm_packus_epi16(words, words);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), _mm_or_si128(bytes, a));
    }
    mix_plain(dst + i, count - i, columns, s, ds, shift, alpha);
}
#endif

#if defined(WT_HAVE_AVX2)
// Two pixels' column pairs or weights, one in each 128-bit half.
__attribute__((target("avx2"))) inline __m256i two(const void* low, const void* high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(low))),
        _mm_loadu_si128(static_cast<const __m128i*>(high)), 1);
}

// Two pixels at once (at s0 and s1), as mix_pixel does one.
__attribute__((target("avx2"))) inline __m256i mix_two(const uint64_t* columns, int64_t s0,
                                                       int64_t s1, int shift) {
    const int64_t u0 = s0 >> shift, u1 = s1 >> shift;
    const __m256i v = two(columns + (u0 >> 8), columns + (u1 >> 8));
    const __m256i w = two(k_weights.lanes[u0 & 255], k_weights.lanes[u1 & 255]);
    const __m256i lo = _mm256_mullo_epi16(v, w), hi = _mm256_mulhi_epu16(v, w);
    const __m256i sum =
        _mm256_add_epi32(_mm256_unpacklo_epi16(lo, hi), _mm256_unpackhi_epi16(lo, hi));
    return _mm256_srli_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(0x8000)), 16);
}

__attribute__((target("avx2"))) void mix_avx2(uint32_t* dst, int count, const uint64_t* columns,
                                              int64_t s, int64_t ds, int shift, uint32_t alpha) {
    const __m128i a = _mm_set1_epi32(int(alpha));
    const __m256i order = _mm256_setr_epi32(0, 1, 4, 5, 0, 0, 0, 0);
    int i = 0;
    for (; i + 4 <= count; i += 4, s += 4 * ds) {
        // Pixels 0 and 2 in one register, 1 and 3 in the other: packing leaves 0 1 | 2 3 in
        // the low dwords of each half, which the permutation joins.
        const __m256i even = mix_two(columns, s, s + 2 * ds, shift);
        const __m256i odd = mix_two(columns, s + ds, s + 3 * ds, shift);
        const __m256i words = _mm256_packs_epi32(even, odd);
        const __m256i bytes = _mm256_packus_epi16(words, words);
        const __m128i four = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(bytes, order));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_or_si128(four, a));
    }
    // Clean upper halves for the SSE code that follows (the compiler leaves them dirty before
    // a tail call, and every legacy SSE instruction after it then waits on them: grDrawPoint
    // after a textured triangle took twice as long).
    _mm256_zeroupper();
    mix_sse2(dst + i, count - i, columns, s, ds, shift, alpha);
}
#endif

#if defined(WT_HAVE_AVX2)
// mix_texel_rows four columns at a time.
__attribute__((target("avx2"))) void mix_rows_avx2(uint64_t* out, const uint64_t* top,
                                                   const uint64_t* bottom, int64_t count,
                                                   uint32_t f) {
    const __m256i wt = _mm256_set1_epi16(short(256 - f)), wb = _mm256_set1_epi16(short(f));
    int64_t k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + k));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + k));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k),
                            _mm256_add_epi16(_mm256_mullo_epi16(t, wt), _mm256_mullo_epi16(b, wb)));
    }
    for (; k < count; ++k)
        out[k] = mix_row(top[k], bottom[k], f);
}
#endif

} // namespace

void mix_texel_rows(uint64_t* out, const uint64_t* top, const uint64_t* bottom, int64_t count,
                    uint32_t f) {
    int64_t k = 0;
#if defined(WT_HAVE_AVX2)
    if (cpu_has_avx2() && count >= 8)
        return mix_rows_avx2(out, top, bottom, count, f);
#endif
#if defined(WT_HAVE_SSE2)
    // Every lane product fits 16 bits: 255 (256 - f) + 255 f = 65280.
    const __m128i wt = _mm_set1_epi16(short(256 - f)), wb = _mm_set1_epi16(short(f));
    for (; k + 2 <= count; k += 2) {
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + k));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                         _mm_add_epi16(_mm_mullo_epi16(t, wt), _mm_mullo_epi16(b, wb)));
    }
#endif
    for (; k < count; ++k)
        out[k] = mix_row(top[k], bottom[k], f);
}

ColumnMix column_mix(MixKernel kernel) {
    switch (kernel) {
    case MixKernel::Plain:
        return mix_plain;
    case MixKernel::Sse2:
#if defined(WT_HAVE_SSE2)
        return mix_sse2;
#else
        return nullptr;
#endif
    case MixKernel::Avx2:
#if defined(WT_HAVE_AVX2)
        return cpu_has_avx2() ? mix_avx2 : nullptr;
#else
        return nullptr;
#endif
    }
    return nullptr;
}

ColumnMix best_column_mix() {
    static const ColumnMix s_best = [] {
        for (MixKernel k : {MixKernel::Avx2, MixKernel::Sse2})
            if (ColumnMix mix = column_mix(k))
                return mix;
        return column_mix(MixKernel::Plain);
    }();
    return s_best;
}

} // namespace board::detail
