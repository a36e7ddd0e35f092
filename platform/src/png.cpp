#include "platform/image.h"

#include <png.h>

#include <cstdio>
#include <memory>

namespace platform {

namespace {

struct FileCloser {
    void operator()(FILE* f) const {
        if (f)
            fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

} // namespace

bool write_png(const std::string& path, const Image& image) {
    if (image.empty()) {
        fprintf(stderr, "write_png: %s: empty image\n", path.c_str());
        return false;
    }
    FilePtr file(fopen(path.c_str(), "wb"));
    if (!file) {
        perror(path.c_str());
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    std::vector<png_byte> row(size_t(image.width) * 3);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fprintf(stderr, "write_png: %s: libpng failed\n", path.c_str());
        return false;
    }
    png_init_io(png, file.get());
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            uint32_t p = image.at(x, y);
            row[x * 3 + 0] = png_byte(p >> 16);
            row[x * 3 + 1] = png_byte(p >> 8);
            row[x * 3 + 2] = png_byte(p);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

Image read_png(const std::string& path) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str()))
        return {};
    img.format = PNG_FORMAT_BGRA;
    std::vector<uint32_t> buf(size_t(img.width) * img.height);
    if (!png_image_finish_read(&img, nullptr, buf.data(), 0, nullptr)) {
        png_image_free(&img);
        return {};
    }
    Image out(int(img.width), int(img.height));
    for (size_t i = 0; i < buf.size(); ++i)
        out.pixels[i] = buf[i] & 0x00FFFFFFu; // BGRA in memory is 0xAARRGGBB little-endian
    return out;
}

} // namespace platform
