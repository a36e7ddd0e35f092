// The TV view's encoder and set: what each output, format and setting does to the picture,
// measured on the pictures as a viewer would see them (colour, light of each field, levels).
#include "tv_view.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>

namespace {

constexpr int k_width = 640, k_height = 480;

platform::Image screen_of(uint32_t (*pixel)(int x, int y)) {
    platform::Image img(k_width, k_height);
    for (int y = 0; y < k_height; ++y)
        for (int x = 0; x < k_width; ++x)
            img.at(x, y) = pixel(x, y);
    return img;
}

board::TvRecord record(int output, int format) {
    board::TvRecord tv = board::k_tv_defaults;
    tv[board::k_tv_output] = output; // 0 composite, 1 S-video
    tv[board::k_tv_format] = format; // 0 NTSC, 1 PAL
    tv[board::k_tv_scan] = 1;        // overscan: the picture covers the face
    return tv;
}

int channel(uint32_t p, int shift) {
    return int((p >> shift) & 0xFF);
}

// The largest spread between a pixel's channels over the middle of the face: 0 for grey.
int most_colour(const platform::Image& img) {
    int most = 0;
    for (int y = img.height / 4; y < img.height * 3 / 4; ++y)
        for (int x = img.width / 4; x < img.width * 3 / 4; ++x) {
            uint32_t p = img.at(x, y);
            int r = channel(p, 16), g = channel(p, 8), b = channel(p, 0);
            most = std::max(most, std::max({r, g, b}) - std::min({r, g, b}));
        }
    return most;
}

// The light of a picture (green, summed): what the eye collects from a field.
long light(const platform::Image& img) {
    long sum = 0;
    for (uint32_t p : img.pixels)
        sum += channel(p, 8);
    return sum;
}

// The hue angle (degrees) and luminance of a pixel, from its RGB.
double hue_of(uint32_t p) {
    double r = channel(p, 16), g = channel(p, 8), b = channel(p, 0);
    double y = 0.299 * r + 0.587 * g + 0.114 * b;
    return std::atan2(0.877 * (r - y), 0.492 * (b - y)) * 180.0 / 3.14159265358979;
}

} // namespace

TEST(TvOutput, SvideoKeepsGreyGreyAndCompositeShowsCrossColourOnFineLuma) {
    platform::Image ramp =
        screen_of([](int x, int) { return uint32_t(x * 255 / 639) * 0x010101u; });
    // Vertical black and white stripes two pixels wide: luma detail near the subcarrier.
    platform::Image grating = screen_of([](int x, int) { return (x & 2) ? 0xFFFFFFu : 0u; });
    for (int format : {0, 1}) {
        SCOPED_TRACE(format ? "PAL" : "NTSC");
        EXPECT_EQ(most_colour(board::render_tv(ramp, record(1, format))), 0);
        EXPECT_EQ(most_colour(board::render_tv(grating, record(1, format))), 0);
        EXPECT_GT(most_colour(board::render_tv(grating, record(0, format))), 40)
            << "the set's chroma filter passes fine luma as colour";
        EXPECT_LE(most_colour(board::render_tv(ramp, record(0, format))), 2)
            << "a slow ramp has nothing near the subcarrier";
    }
}

TEST(TvOutput, CompositeColourEdgesCrawlFromFieldToFieldAndRepeatWithTheSubcarrier) {
    platform::Image bars =
        screen_of([](int x, int) { return (x / 40) & 1 ? 0xFF0000u : 0x0000FFu; });
    for (int format : {0, 1}) {
        SCOPED_TRACE(format ? "PAL" : "NTSC");
        board::TvRecord tv = record(0, format);
        int cycle = board::tv_standard(tv).colour_fields;
        platform::Image first = board::render_tv(bars, tv, 0);
        EXPECT_NE(first.pixels, board::render_tv(bars, tv, 2).pixels) << "dots that stand still";
        EXPECT_EQ(first.pixels, board::render_tv(bars, tv, cycle).pixels);
        EXPECT_EQ(first.pixels, board::render_tv(bars, tv, 0).pixels) << "not a pure function";
        tv[board::k_tv_output] = 1;
        EXPECT_EQ(board::render_tv(bars, tv, 0).pixels, board::render_tv(bars, tv, 2).pixels)
            << "S-video has no subcarrier in the picture";
    }
}

TEST(TvFormat, ViewsHaveTheFormatsLinesAndEachFieldEveryOtherLine) {
    platform::Image white = screen_of([](int, int) { return 0xFFFFFFu; });
    const int sizes[2][2] = {{640, 480}, {768, 576}};
    for (int format : {0, 1}) {
        SCOPED_TRACE(format ? "PAL" : "NTSC");
        board::TvRecord tv = record(1, format);
        platform::Image frame = board::render_tv(white, tv);
        EXPECT_EQ(frame.width, sizes[format][0]);
        EXPECT_EQ(frame.height, sizes[format][1]);
        platform::Image field1 = board::render_tv(white, tv, 1);
        ASSERT_EQ(field1.height, frame.height);
        for (int y = 0; y < field1.height; ++y)
            ASSERT_EQ(field1.at(frame.width / 2, y), (y & 1) ? 0xFFFFFFu : 0u) << "line " << y;
    }
}

TEST(TvInterlace, FlickerFilterEvensOutTheLightOfTheTwoFieldsOfAOneLineStripe) {
    platform::Image stripe = screen_of([](int, int y) { return y == 240 ? 0xFFFFFFu : 0u; });
    for (int format : {0, 1}) {
        SCOPED_TRACE(format ? "PAL" : "NTSC");
        board::TvRecord tv = record(1, format);
        auto ratio = [&](int flicker) {
            tv[board::k_tv_flicker] = flicker;
            long a = light(board::render_tv(stripe, tv, 0)),
                 b = light(board::render_tv(stripe, tv, 1));
            return double(std::max(a, b)) / double(std::max(1L, std::min(a, b)));
        };
        // PAL's scaler (5 lines for 4 rows) spreads the row a little over both fields itself.
        EXPECT_GT(ratio(0), 1.6) << "without the filter one field carries the line";
        EXPECT_LT(ratio(3), 1.2) << "the strongest filter shares it between the fields";
        EXPECT_LT(ratio(3), ratio(1));
        tv[board::k_tv_flicker] = 0;
        platform::Image a = board::render_tv_window(stripe, tv, 6),
                        b = board::render_tv_window(stripe, tv, 7);
        EXPECT_GT(double(std::max(light(a), light(b))) / double(std::min(light(a), light(b))), 1.2)
            << "the window's pictures of consecutive fields must flicker";
        platform::Image frame = board::render_tv(stripe, tv),
                        window = board::render_tv_window(stripe, tv, 1);
        // Field 1 as just scanned, field 0 at half its light, around the stripe.
        for (int y = frame.height / 2 - 4; y < frame.height / 2 + 6; ++y)
            ASSERT_EQ(window.at(300, y),
                      y & 1 ? frame.at(300, y) : (frame.at(300, y) >> 1) & 0x7F7F7Fu)
                << y;
    }
}

TEST(TvSet, BrightnessMovesTheBlackLevelThreeLevelsAStepAndTuningTurnsTheHueSixDegrees) {
    platform::Image grey = screen_of([](int, int) { return 0x646464u; }); // level 100
    platform::Image red = screen_of([](int, int) { return 0xA07060u; });  // turns unclipped
    for (int output : {0, 1}) {
        SCOPED_TRACE(output ? "S-video" : "composite");
        board::TvRecord tv = record(output, 0);
        for (int brightness : {51, 65, 68, 80}) {
            tv[board::k_tv_brightness] = brightness;
            EXPECT_EQ(board::render_tv(grey, tv).at(320, 240),
                      0x010101u * uint32_t(100 + 3 * (brightness - 65)));
        }
        tv[board::k_tv_brightness] = 65;
        double neutral = hue_of(board::render_tv(red, tv).at(320, 240));
        EXPECT_NEAR(neutral, hue_of(0xA07060u), 1.5);
        for (int tuning : {0, 7, 9, 15}) {
            tv[board::k_tv_tuning] = tuning;
            double turned = hue_of(board::render_tv(red, tv).at(320, 240)) - neutral;
            EXPECT_NEAR(turned, (tuning - 8) * 6.0, 1.5) << "tuning " << tuning;
        }
    }
}

TEST(TvScan, ScanFitsOrCropsThePictureAndShiftsMoveItByEncoderPixels) {
    platform::Image white = screen_of([](int, int) { return 0xFFFFFFu; });
    board::TvRecord tv = record(1, 1); // PAL: 768 x 576
    tv[board::k_tv_scan] = 0;
    platform::Image under = board::render_tv(white, tv);
    EXPECT_EQ(under.at(384, 288), 0xFFFFFFu);
    EXPECT_EQ(under.at(40, 288), 0u) << "underscan leaves a border: 7/8 of 768 is 672";
    EXPECT_EQ(under.at(60, 288), 0xFFFFFFu);
    EXPECT_EQ(under.at(384, 30), 0u);
    tv[board::k_tv_scan] = 1;
    platform::Image over = board::render_tv(white, tv);
    EXPECT_EQ(over.at(0, 0), 0xFFFFFFu);
    EXPECT_EQ(over.at(767, 575), 0xFFFFFFu);
    platform::Image card = screen_of([](int x, int y) { return uint32_t(x ^ y) * 0x010203u; });
    tv[board::k_tv_scan] = 0;
    platform::Image centred = board::render_tv(card, tv);
    tv[board::k_tv_xshift] = 5;
    tv[board::k_tv_yshift] = 4; // up by 4 lines: the fields keep their parity
    platform::Image moved = board::render_tv(card, tv);
    for (int y = 100; y < 400; y += 7)
        for (int x = 100; x < 600; x += 13)
            ASSERT_EQ(moved.at(x + 5, y - 4), centred.at(x, y)) << x << "," << y;
}

TEST(TvRecordLimits, AnyRecordGivesAPictureOfTheFacesSize) {
    platform::Image card = screen_of([](int x, int y) { return uint32_t(x * y) * 0x030507u; });
    for (int32_t extreme : {INT_MIN, -129, 129, INT_MAX}) {
        board::TvRecord tv;
        tv.fill(extreme);
        tv[board::k_tv_enable] = 1;
        platform::Image img = board::render_tv(card, tv, extreme);
        EXPECT_EQ(img.pixels.size(), size_t(img.width) * size_t(img.height));
        EXPECT_EQ(img.height, extreme == 0 ? 480 : 576);
        EXPECT_FALSE(board::render_tv_window(card, tv, extreme).empty());
    }
    board::TvRecord off = board::k_tv_defaults;
    off[board::k_tv_enable] = 0;
    platform::Image blank = board::render_tv(card, off);
    EXPECT_EQ(blank.pixels, std::vector<uint32_t>(640 * 480, 0u));
}
