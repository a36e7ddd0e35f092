// PNG files on Windows, where the build has no libpng: pictures are written with stored
// (uncompressed) deflate blocks, which every PNG reader accepts. Reading is not needed by
// the Windows build and reports so.
//
// Format: PNG chunks with CRC-32 (IHDR / IDAT / IEND), zlib and deflate (RFC 1950/1951)
// (zlib stream, stored blocks of at most 65,535 bytes, Adler-32 trailer).
#include "platform/image.h"

#include "../file_ptr.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

namespace platform {

namespace {

const std::array<uint32_t, 256>& crc_table() {
    static const std::array<uint32_t, 256> s_table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return s_table;
}

void put_u32_be(std::vector<uint8_t>& out, uint32_t v) {
    out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

// Appends one chunk: length, type, data, CRC-32 of type and data.
void put_chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    put_u32_be(out, uint32_t(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = start; i < out.size(); ++i)
        crc = crc_table()[(crc ^ out[i]) & 0xFF] ^ (crc >> 8);
    put_u32_be(out, crc ^ 0xFFFFFFFFu);
}

// The zlib stream of `raw` in stored blocks.
std::vector<uint8_t> zlib_stored(const std::vector<uint8_t>& raw) {
    std::vector<uint8_t> out{0x78, 0x01}; // deflate, 32 KiB window, no dictionary
    size_t pos = 0;
    do {
        size_t n = std::min<size_t>(raw.size() - pos, 65535);
        bool last = pos + n == raw.size();
        out.push_back(last ? 1 : 0); // BFINAL, BTYPE 00
        out.insert(out.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
        out.insert(out.end(), raw.begin() + long(pos), raw.begin() + long(pos + n));
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put_u32_be(out, b << 16 | a);
    return out;
}

} // namespace

Status write_png(const std::string& path, const Image& image) {
    if (image.empty())
        return fail(path + ": empty image");
    std::vector<uint8_t> header;
    put_u32_be(header, uint32_t(image.width));
    put_u32_be(header, uint32_t(image.height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit RGB, deflate, no filter, no interlace

    std::vector<uint8_t> raw;
    raw.reserve(size_t(image.height) * (size_t(image.width) * 3 + 1));
    for (int y = 0; y < image.height; ++y) {
        raw.push_back(0); // filter type None
        for (int x = 0; x < image.width; ++x) {
            uint32_t p = image.at(x, y);
            raw.insert(raw.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
        }
    }

    std::vector<uint8_t> file{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    put_chunk(file, "IHDR", header);
    put_chunk(file, "IDAT", zlib_stored(raw));
    put_chunk(file, "IEND", {});

    FilePtr out(fopen(path.c_str(), "wb"));
    if (!out || fwrite(file.data(), 1, file.size(), out.get()) != file.size() ||
        fclose(out.release()) != 0)
        return fail(path + ": cannot write");
    return {};
}

Image read_png(const std::string& path) {
    fprintf(stderr, "read_png: %s: the Windows build reads no PNG files\n", path.c_str());
    return {};
}

} // namespace platform
