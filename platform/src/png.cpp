#include "platform/image.h"

#include "file_ptr.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace platform {

Status write_png(const std::string& path, const Image& image) {
    if (image.empty())
        return fail(path + ": empty image");
    FilePtr file(fopen(path.c_str(), "wb"));
    if (!file)
        return fail(path + ": " + std::strerror(errno));
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return fail(path + ": no memory for the PNG writer");
    }
    std::vector<png_byte> row(size_t(image.width) * 3);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return fail(path + ": cannot write the PNG picture");
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
    if (fclose(file.release()) != 0)
        return fail(path + ": cannot write");
    return {};
}

Image read_png(const std::string& path) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str()))
        return {};
    // The header's size is the file's word: refuse what no screen or window has before
    // allocating the pixels.
    if (img.width > 16384 || img.height > 16384) {
        png_image_free(&img);
        return {};
    }
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
