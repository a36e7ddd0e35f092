// The vector kernels of bilinear filtering give the plain C++ kernel's pixels, for every
// weight, the largest lane values, every length (the vector loops' tails) and any alpha.
#include "column_mix.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using namespace board::detail;

TEST(ColumnMix, VectorKernelsMatchThePlainOne) {
    std::mt19937 rng(99);
    // Columns as the vertical step leaves them: each lane at most 255 * 256.
    std::vector<uint64_t> columns(300);
    for (size_t i = 0; i < columns.size(); ++i) {
        uint32_t c0 = rng(), c1 = rng(), f = rng() % 257;
        auto lanes = [](uint32_t c) {
            return uint64_t(c >> 16 & 0xFF) << 32 | uint64_t(c >> 8 & 0xFF) << 16 | (c & 0xFF);
        };
        columns[i] = i < 4 ? 0x0000FF00FF00FF00ull : mix_row(lanes(c0), lanes(c1), f > 256 ? 0 : f);
    }
    std::vector<uint16_t> index(700);
    std::vector<uint8_t> fx(index.size());
    for (size_t i = 0; i < index.size(); ++i) {
        index[i] = uint16_t(rng() % (columns.size() - 1));
        fx[i] = uint8_t(i < 256 ? i : rng()); // every weight once
    }
    const ColumnMix plain = column_mix(MixKernel::Plain);
    int kernels = 0;
    for (MixKernel kernel : {MixKernel::Sse2, MixKernel::Avx2}) {
        const ColumnMix mix = column_mix(kernel);
        if (!mix)
            continue; // not in this build or on this CPU
        ++kernels;
        for (int count : {0, 1, 2, 3, 4, 5, 7, 8, 255, 699})
            for (uint32_t alpha : {0u, 0x7F000000u, 0xFF000000u}) {
                std::vector<uint32_t> want(size_t(count) + 1, 0xDEADBEEFu), got = want;
                plain(want.data(), count, columns.data(), index.data(), fx.data(), alpha);
                mix(got.data(), count, columns.data(), index.data(), fx.data(), alpha);
                ASSERT_EQ(got, want) << "kernel " << int(kernel) << ", " << count << " pixels";
            }
    }
#if defined(__x86_64__)
    EXPECT_GE(kernels, 1) << "every x86-64 has SSE2";
#endif
    EXPECT_NE(best_column_mix(), nullptr);
}

} // namespace
