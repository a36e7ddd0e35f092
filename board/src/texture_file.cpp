#include "texture_file.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace board {

namespace {

constexpr TexelFormat k_formats[] = {
    {GR_TEXFMT_RGB_332, "rgb332", 1, false},
    {GR_TEXFMT_YIQ_422, "yiq", 1, false},
    {GR_TEXFMT_ALPHA_8, "a8", 1, false},
    {GR_TEXFMT_INTENSITY_8, "i8", 1, false},
    {GR_TEXFMT_ALPHA_INTENSITY_44, "ai44", 1, false},
    {GR_TEXFMT_P_8, "p8", 1, true},
    {GR_TEXFMT_ARGB_8332, "argb8332", 2, false},
    {GR_TEXFMT_AYIQ_8422, "ayiq8422", 2, false},
    {GR_TEXFMT_RGB_565, "rgb565", 2, false},
    {GR_TEXFMT_ARGB_1555, "argb1555", 2, false},
    {GR_TEXFMT_ARGB_4444, "argb4444", 2, false},
    {GR_TEXFMT_ALPHA_INTENSITY_88, "ai88", 2, false},
    {GR_TEXFMT_AP_88, "ap88", 2, true},
};

// The YIQ formats need an NCC table, which a 3DF file of this board does not carry.
bool needs_ncc(GrTextureFormat_t f) {
    return f == GR_TEXFMT_YIQ_422 || f == GR_TEXFMT_AYIQ_8422;
}

// The header is four short lines; anything longer is not a 3DF file.
constexpr size_t k_header_limit = 256;

// Splits a header line into blank-separated words.
std::vector<std::string_view> words_of(std::string_view line) {
    std::vector<std::string_view> words;
    size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t' || line[pos] == '\r'))
            ++pos;
        size_t end = pos;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r')
            ++end;
        if (end > pos)
            words.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    return words;
}

// A decimal number of at most 6 digits; -1 when the word is not one.
int small_number(std::string_view word) {
    if (word.empty() || word.size() > 6)
        return -1;
    int n = 0;
    for (char c : word) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// The level code of a level size 1..256, or -1.
int lod_of_size(int size) {
    for (int lod = GR_LOD_256; lod <= GR_LOD_1; ++lod)
        if ((256 >> lod) == size)
            return lod;
    return -1;
}

// The aspect code of a width:height pair, or -1.
int aspect_of_terms(int w, int h) {
    static constexpr int k_terms[][2] = {{8, 1}, {4, 1}, {2, 1}, {1, 1}, {1, 2}, {1, 4}, {1, 8}};
    for (int i = 0; i < 7; ++i)
        if (k_terms[i][0] == w && k_terms[i][1] == h)
            return GR_ASPECT_8x1 + i;
    return -1;
}

uint32_t read_be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Expands an n-bit field to 8 bits by repeating its bits.
constexpr uint32_t expand(uint32_t v, int bits) {
    uint32_t out = 0;
    for (int shift = 8 - bits; shift > -bits; shift -= bits)
        out |= shift >= 0 ? v << shift : v >> -shift;
    return out & 0xFF;
}

constexpr uint32_t argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return a << 24 | r << 16 | g << 8 | b;
}

uint32_t decode_332(uint32_t v) {
    return argb(0xFF, expand(v >> 5, 3), expand((v >> 2) & 7, 3), expand(v & 3, 2));
}

// Texel of an NCC (YIQ) table: Y from the 16-entry ramp, I and Q add signed colour terms.
uint32_t decode_ncc(const GuNccTable& t, uint32_t v, uint32_t alpha) {
    int y = int(t.yRGB[(v >> 4) & 15] & 0xFF);
    int i = (v >> 2) & 3, q = v & 3;
    int c[3];
    for (int k = 0; k < 3; ++k)
        c[k] = std::clamp(y + t.iRGB[i][k] + t.qRGB[q][k], 0, 255);
    return argb(alpha, uint32_t(c[0]), uint32_t(c[1]), uint32_t(c[2]));
}

} // namespace

const TexelFormat* format_by_name(std::string_view name) {
    for (const auto& f : k_formats)
        if (name.size() == std::strlen(f.name) &&
            strncasecmp(name.data(), f.name, name.size()) == 0)
            return needs_ncc(f.format) ? nullptr : &f;
    return nullptr;
}

const TexelFormat* format_by_code(GrTextureFormat_t format) {
    for (const auto& f : k_formats)
        if (f.format == format)
            return &f;
    return nullptr;
}

bool valid_lod(GrLOD_t lod) {
    return lod >= GR_LOD_256 && lod <= GR_LOD_1;
}
bool valid_aspect(GrAspectRatio_t aspect) {
    return aspect >= GR_ASPECT_8x1 && aspect <= GR_ASPECT_1x8;
}

Extent level_extent(GrLOD_t lod, GrAspectRatio_t aspect) {
    if (!valid_lod(lod) || !valid_aspect(aspect))
        return {};
    uint32_t longest = 256u >> lod;
    int ratio_shift = aspect - GR_ASPECT_1x1; // < 0: wider than high
    uint32_t shortest = std::max(1u, longest >> (ratio_shift < 0 ? -ratio_shift : ratio_shift));
    return ratio_shift <= 0 ? Extent{longest, shortest} : Extent{shortest, longest};
}

uint32_t texture_bytes(GrTextureFormat_t format, GrLOD_t small_lod, GrLOD_t large_lod,
                       GrAspectRatio_t aspect) {
    const TexelFormat* f = format_by_code(format);
    if (!f || !valid_lod(small_lod) || !valid_lod(large_lod) || small_lod < large_lod ||
        !valid_aspect(aspect))
        return 0;
    uint32_t total = 0;
    for (GrLOD_t lod = large_lod; lod <= small_lod; ++lod) {
        Extent e = level_extent(lod, aspect);
        total += e.width * e.height * uint32_t(f->bytes);
    }
    return total;
}

platform::Result<Header3df> parse_3df_header(std::span<const uint8_t> bytes) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()),
                          std::min(bytes.size(), k_header_limit));
    std::string_view lines[4];
    size_t pos = 0;
    for (auto& line : lines) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            return platform::fail("header ends before its fourth line");
        }
        line = text.substr(pos, end - pos);
        pos = end + 1;
    }
    auto version = words_of(lines[0]);
    if (version.size() != 2 || version[0] != "3df" || version[1].size() < 2 ||
        version[1][0] != 'v') {
        return platform::fail("not a 3df file");
    }
    auto name = words_of(lines[1]);
    const TexelFormat* format = name.size() == 1 ? format_by_name(name[0]) : nullptr;
    if (!format) {
        return platform::fail("unknown texel format");
    }
    auto lods = words_of(lines[2]);
    auto aspect = words_of(lines[3]);
    if (lods.size() != 4 || lods[0] != "lod" || lods[1] != "range:" || aspect.size() != 4 ||
        aspect[0] != "aspect" || aspect[1] != "ratio:") {
        return platform::fail("damaged header");
    }
    int small_lod = lod_of_size(small_number(lods[2]));
    int large_lod = lod_of_size(small_number(lods[3]));
    int ratio = aspect_of_terms(small_number(aspect[2]), small_number(aspect[3]));
    if (small_lod < 0 || large_lod < 0 || small_lod < large_lod || ratio < 0) {
        return platform::fail("bad level range or aspect ratio");
    }
    Header3df out;
    Extent e = level_extent(large_lod, ratio);
    out.header = {e.width, e.height, small_lod, large_lod, ratio, format->format};
    out.data_offset = pos;
    out.texel_bytes = texture_bytes(format->format, small_lod, large_lod, ratio);
    return out;
}

platform::Result<Texture3df> parse_3df(std::span<const uint8_t> bytes) {
    auto header = parse_3df_header(bytes);
    if (!header)
        return header.error();
    const TexelFormat* format = format_by_code(header->header.format);
    size_t pos = header->data_offset;
    Texture3df out;
    out.header = header->header;
    if (format->palette) {
        if (bytes.size() - pos < 1024) {
            return platform::fail("file ends inside the palette");
        }
        for (size_t i = 0; i < 256; ++i)
            out.palette[i] = read_be32(&bytes[pos + i * 4]);
        pos += 1024;
    }
    if (bytes.size() - pos < header->texel_bytes) {
        return platform::fail("file ends inside the texels");
    }
    out.texels.assign(bytes.begin() + ptrdiff_t(pos),
                      bytes.begin() + ptrdiff_t(pos + header->texel_bytes));
    if (format->bytes == 2) { // big-endian in the file, native in memory
        for (size_t i = 0; i + 1 < out.texels.size(); i += 2) {
            uint16_t v = uint16_t(out.texels[i] << 8 | out.texels[i + 1]);
            std::memcpy(&out.texels[i], &v, 2);
        }
    }
    return out;
}

std::vector<uint8_t> serialize_3df(const Texture3df& texture) {
    const Gu3dfHeader& h = texture.header;
    const TexelFormat* format = format_by_code(h.format);
    static constexpr int k_terms[][2] = {{8, 1}, {4, 1}, {2, 1}, {1, 1}, {1, 2}, {1, 4}, {1, 8}};
    if (!format || !valid_aspect(h.aspect_ratio) || !valid_lod(h.small_lod) ||
        !valid_lod(h.large_lod))
        return {};
    char text[128];
    int n =
        std::snprintf(text, sizeof text, "3df v1.1\n%s\nlod range: %u %u\naspect ratio: %d %d\n",
                      format->name, 256u >> h.small_lod, 256u >> h.large_lod,
                      k_terms[h.aspect_ratio][0], k_terms[h.aspect_ratio][1]);
    std::vector<uint8_t> out(text, text + n);
    if (format->palette)
        for (uint32_t c : texture.palette)
            for (int shift = 24; shift >= 0; shift -= 8)
                out.push_back(uint8_t(c >> shift));
    if (format->bytes == 1) {
        out.insert(out.end(), texture.texels.begin(), texture.texels.end());
    } else {
        for (size_t i = 0; i + 1 < texture.texels.size(); i += 2) {
            uint16_t v;
            std::memcpy(&v, &texture.texels[i], 2);
            out.push_back(uint8_t(v >> 8));
            out.push_back(uint8_t(v));
        }
    }
    return out;
}

namespace {

// Texels of one byte each; nullopt for a format of two bytes.
std::optional<bool> decode_8bit_texels(GrTextureFormat_t format, const uint8_t* b, size_t count,
                                       const GuTexTable* table, uint32_t* out) {
    switch (format) {
    case GR_TEXFMT_RGB_332:
        for (size_t i = 0; i < count; ++i)
            out[i] = decode_332(b[i]);
        return true;
    case GR_TEXFMT_ALPHA_8: // alpha, repeated in the colour channels
        for (size_t i = 0; i < count; ++i)
            out[i] = argb(b[i], b[i], b[i], b[i]);
        return true;
    case GR_TEXFMT_INTENSITY_8:
        for (size_t i = 0; i < count; ++i)
            out[i] = argb(0xFF, b[i], b[i], b[i]);
        return true;
    case GR_TEXFMT_ALPHA_INTENSITY_44:
        for (size_t i = 0; i < count; ++i) {
            uint32_t a = expand(b[i] >> 4, 4), v = expand(b[i] & 15, 4);
            out[i] = argb(a, v, v, v);
        }
        return true;
    case GR_TEXFMT_P_8:
        if (!table)
            return false;
        for (size_t i = 0; i < count; ++i)
            out[i] = 0xFF000000u | (table->palette.data[b[i]] & 0xFFFFFFu);
        return true;
    case GR_TEXFMT_YIQ_422:
        if (!table)
            return false;
        for (size_t i = 0; i < count; ++i)
            out[i] = decode_ncc(table->nccTable, b[i], 0xFF);
        return true;
    default:
        return std::nullopt;
    }
}

// Texels of two bytes each, in the host's order; false for any other format.
bool decode_16bit_texels(GrTextureFormat_t format, const void* src, size_t count,
                         const GuTexTable* table, uint32_t* out) {
    auto u16 = [src](size_t i) {
        uint16_t v;
        std::memcpy(&v, static_cast<const uint8_t*>(src) + i * 2, 2);
        return uint32_t(v);
    };
    switch (format) {
    case GR_TEXFMT_ARGB_8332:
        for (size_t i = 0; i < count; ++i)
            out[i] = (u16(i) >> 8) << 24 | (decode_332(u16(i) & 0xFF) & 0xFFFFFFu);
        return true;
    case GR_TEXFMT_AYIQ_8422:
        if (!table)
            return false;
        for (size_t i = 0; i < count; ++i)
            out[i] = decode_ncc(table->nccTable, u16(i) & 0xFF, u16(i) >> 8);
        return true;
    case GR_TEXFMT_RGB_565:
        for (size_t i = 0; i < count; ++i) {
            uint32_t v = u16(i);
            out[i] = argb(0xFF, expand(v >> 11, 5), expand((v >> 5) & 63, 6), expand(v & 31, 5));
        }
        return true;
    case GR_TEXFMT_ARGB_1555:
        for (size_t i = 0; i < count; ++i) {
            uint32_t v = u16(i);
            out[i] = argb(v & 0x8000 ? 0xFF : 0, expand((v >> 10) & 31, 5),
                          expand((v >> 5) & 31, 5), expand(v & 31, 5));
        }
        return true;
    case GR_TEXFMT_ARGB_4444:
        for (size_t i = 0; i < count; ++i) {
            uint32_t v = u16(i);
            out[i] = argb(expand(v >> 12, 4), expand((v >> 8) & 15, 4), expand((v >> 4) & 15, 4),
                          expand(v & 15, 4));
        }
        return true;
    case GR_TEXFMT_ALPHA_INTENSITY_88:
        for (size_t i = 0; i < count; ++i) {
            uint32_t v = u16(i), l = v & 0xFF;
            out[i] = argb(v >> 8, l, l, l);
        }
        return true;
    case GR_TEXFMT_AP_88:
        if (!table)
            return false;
        for (size_t i = 0; i < count; ++i) {
            uint32_t v = u16(i);
            out[i] = (v >> 8) << 24 | (table->palette.data[v & 0xFF] & 0xFFFFFFu);
        }
        return true;
    default:
        return false;
    }
}

} // namespace

bool decode_texels(GrTextureFormat_t format, const void* src, size_t count, const GuTexTable* table,
                   uint32_t* out) {
    if (auto done = decode_8bit_texels(format, static_cast<const uint8_t*>(src), count, table, out))
        return *done;
    return decode_16bit_texels(format, src, count, table, out);
}

namespace {

uint32_t luminance(uint32_t c) {
    uint32_t r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    return (r * 299 + g * 587 + b * 114 + 500) / 1000;
}

// Rounds an 8-bit channel to n bits.
uint32_t reduce(uint32_t v, int bits) {
    return (v * ((1u << bits) - 1) + 127) / 255;
}

uint32_t encode_332(uint32_t c) {
    return reduce((c >> 16) & 0xFF, 3) << 5 | reduce((c >> 8) & 0xFF, 3) << 2 | reduce(c & 0xFF, 2);
}

// The palette entry nearest to the colour (alpha ignored); the first of equals.
uint32_t nearest_entry(const std::array<uint32_t, 256>& palette, uint32_t c) {
    uint32_t best = 0, best_d = ~0u;
    for (uint32_t i = 0; i < 256; ++i) {
        int d = 0;
        for (int shift = 0; shift < 24; shift += 8) {
            int diff = int((palette[i] >> shift) & 0xFF) - int((c >> shift) & 0xFF);
            d += diff * diff;
        }
        if (uint32_t(d) < best_d) {
            best_d = uint32_t(d);
            best = i;
            if (d == 0)
                break;
        }
    }
    return best;
}

} // namespace

bool encode_texels(GrTextureFormat_t format, const uint32_t* argb_in, size_t count,
                   const std::array<uint32_t, 256>& palette, uint8_t* out) {
    auto put16 = [out](size_t i, uint32_t v) {
        uint16_t w = uint16_t(v);
        std::memcpy(out + i * 2, &w, 2);
    };
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = argb_in[i], a = c >> 24, r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF,
                 b = c & 0xFF;
        switch (format) {
        case GR_TEXFMT_RGB_332:
            out[i] = uint8_t(encode_332(c));
            break;
        case GR_TEXFMT_ALPHA_8:
            out[i] = uint8_t(a);
            break;
        case GR_TEXFMT_INTENSITY_8:
            out[i] = uint8_t(luminance(c));
            break;
        case GR_TEXFMT_ALPHA_INTENSITY_44:
            out[i] = uint8_t(reduce(a, 4) << 4 | reduce(luminance(c), 4));
            break;
        case GR_TEXFMT_P_8:
            out[i] = uint8_t(nearest_entry(palette, c));
            break;
        case GR_TEXFMT_ARGB_8332:
            put16(i, a << 8 | encode_332(c));
            break;
        case GR_TEXFMT_RGB_565:
            put16(i, reduce(r, 5) << 11 | reduce(g, 6) << 5 | reduce(b, 5));
            break;
        case GR_TEXFMT_ARGB_1555:
            put16(i, (a >= 128 ? 0x8000u : 0u) | reduce(r, 5) << 10 | reduce(g, 5) << 5 |
                         reduce(b, 5));
            break;
        case GR_TEXFMT_ARGB_4444:
            put16(i, reduce(a, 4) << 12 | reduce(r, 4) << 8 | reduce(g, 4) << 4 | reduce(b, 4));
            break;
        case GR_TEXFMT_ALPHA_INTENSITY_88:
            put16(i, a << 8 | luminance(c));
            break;
        case GR_TEXFMT_AP_88:
            put16(i, a << 8 | nearest_entry(palette, c));
            break;
        default:
            return false;
        }
    }
    return true;
}

} // namespace board
