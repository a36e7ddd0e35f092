// The vector kernels of bilinear filtering give the plain C++ kernel's pixels, for every
// weight, the largest lane values, every length (the vector loops' tails), steps forward and
// backward, and any alpha.
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
    // Spans across the columns at steps of less than a column (every weight, magnified),
    // about one and many (minified), forward and backward, for the shifts of every level.
    struct Walk {
        int64_t s, ds;
        int shift;
    };
    std::vector<Walk> walks;
    for (int shift = 24; shift <= 32; shift += 4) {
        const int64_t unit = int64_t(1) << shift; // a 256th of a column
        for (int64_t ds : {unit / 3 + 1, unit * 97, unit * 256 - 5, unit * 100, unit / 256})
            walks.push_back({unit * 3 + int64_t(rng() % uint64_t(unit)), ds, shift});
        walks.push_back({unit * 256 * 298 - 1, -(unit * 37 + 11), shift}); // backward
    }
    const ColumnMix plain = column_mix(MixKernel::Plain);
    int kernels = 0;
    for (MixKernel kernel : {MixKernel::Sse2, MixKernel::Avx2}) {
        const ColumnMix mix = column_mix(kernel);
        if (!mix)
            continue; // not in this build or on this CPU
        ++kernels;
        for (const Walk& w : walks)
            for (int count : {0, 1, 2, 3, 4, 5, 7, 8, 255, 699}) {
                // Only as far as the columns reach.
                const int64_t last = w.s + w.ds * (count - 1);
                if (count > 0 &&
                    (last < 0 || (last >> w.shift >> 8) + 1 >= int64_t(columns.size())))
                    continue;
                for (uint32_t alpha : {0u, 0x7F000000u, 0xFF000000u}) {
                    std::vector<uint32_t> want(size_t(count) + 1, 0xDEADBEEFu), got = want;
                    plain(want.data(), count, columns.data(), w.s, w.ds, w.shift, alpha);
                    mix(got.data(), count, columns.data(), w.s, w.ds, w.shift, alpha);
                    ASSERT_EQ(got, want) << "kernel " << int(kernel) << ", " << count
                                         << " pixels, step " << w.ds << ", shift " << w.shift;
                }
            }
    }
    // The plain kernel is mix_rows of each pixel's pair and weight.
    uint32_t one = 0;
    const int64_t u = 5 * 256 + 77;
    plain(&one, 1, columns.data(), u << 24, 0, 24, 0xFF000000u);
    EXPECT_EQ(one, mix_rows(columns[5], columns[6], 77) | 0xFF000000u);
#if defined(__x86_64__)
    EXPECT_GE(kernels, 1) << "every x86-64 has SSE2";
#endif
    EXPECT_NE(best_column_mix(), nullptr);
}

// The vertical step gives mix_row of each column, whatever the length (the vector loops and
// their tails) and weight.
TEST(ColumnMix, TexelRowsMixLikeOneColumn) {
    std::mt19937 rng(3);
    auto lanes = [&rng] {
        const uint32_t c = rng();
        return uint64_t(c >> 16 & 0xFF) << 32 | uint64_t(c >> 8 & 0xFF) << 16 | (c & 0xFF);
    };
    std::vector<uint64_t> top(300), bottom(300);
    for (size_t i = 0; i < top.size(); ++i) {
        top[i] = i < 8 ? 0x000000FF00FF00FFull : lanes();
        bottom[i] = i < 8 ? 0x000000FF00FF00FFull : lanes();
    }
    for (int64_t count : {0, 1, 2, 3, 7, 8, 9, 12, 15, 258, 299})
        for (uint32_t f : {0u, 1u, 128u, 255u, 256u}) {
            std::vector<uint64_t> out(size_t(count) + 1, 0x1234u);
            mix_texel_rows(out.data(), top.data() + 1, bottom.data() + 1, count, f);
            for (int64_t k = 0; k < count; ++k)
                ASSERT_EQ(out[size_t(k)], mix_row(top[size_t(k) + 1], bottom[size_t(k) + 1], f))
                    << count << " columns, weight " << f << ", column " << k;
            EXPECT_EQ(out[size_t(count)], 0x1234u) << "written past the end";
        }
}

} // namespace
