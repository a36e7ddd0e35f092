// texconv: converts PNG pictures to 3DF textures and back.
//
//   texconv to3df <in.png> <out.3df> [--format NAME] [--mipmaps]
//       NAME is a 3DF format name (default rgb565); --mipmaps adds every level down to 1.
//   texconv topng <in.3df> <out-prefix>
//       writes each level as <out-prefix>_<width>x<height>.png (RGBA).
//   texconv info <in.3df>
//       prints the header.
//   texconv --version
#include "platform/version.h"
#include "texlib.h"
#include "texture_file.h"
#include "platform/file.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr, "usage: texconv to3df <in.png> <out.3df> [--format NAME] [--mipmaps]\n"
                         "       texconv topng <in.3df> <out-prefix>\n"
                         "       texconv info <in.3df>\n"
                         "       texconv --version\n");
    return 2;
}

std::optional<board::Texture3df> read_3df(const char* path) {
    auto bytes = platform::read_file(path);
    if (!bytes) {
        std::fprintf(stderr, "%s: cannot read\n", path);
        return std::nullopt;
    }
    std::string error;
    auto texture = board::parse_3df(*bytes, &error);
    if (!texture)
        std::fprintf(stderr, "%s: %s\n", path, error.c_str());
    return texture;
}

int to_3df(int argc, char** argv) {
    if (argc < 4)
        return usage();
    const char* format_name = "rgb565";
    bool mipmaps = false;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--mipmaps") == 0)
            mipmaps = true;
        else if (std::strcmp(argv[i], "--format") == 0 && i + 1 < argc)
            format_name = argv[++i];
        else
            return usage();
    }
    const board::TexelFormat* format = board::format_by_name(format_name);
    if (!format) {
        std::fprintf(stderr, "texconv: unknown format %s\n", format_name);
        return 2;
    }
    auto picture = texlib::read_png(argv[2]);
    if (!picture) {
        std::fprintf(stderr, "%s: cannot read the PNG picture\n", argv[2]);
        return 1;
    }
    std::string error;
    auto texture =
        texlib::encode_3df(format->format, texlib::build_levels(*picture, mipmaps), &error);
    if (!texture) {
        std::fprintf(stderr, "%s: %s\n", argv[2], error.c_str());
        return 1;
    }
    return texlib::write_3df(argv[3], *texture) ? 0 : 1;
}

int to_png(int argc, char** argv) {
    if (argc != 4)
        return usage();
    auto texture = read_3df(argv[2]);
    if (!texture)
        return 1;
    for (const texlib::Picture& level : texlib::decode_3df(*texture)) {
        std::string path = std::string(argv[3]) + "_" + std::to_string(level.width) + "x" +
                           std::to_string(level.height) + ".png";
        if (!texlib::write_png(path, level))
            return 1;
    }
    return 0;
}

int info(int argc, char** argv) {
    if (argc != 3)
        return usage();
    auto texture = read_3df(argv[2]);
    if (!texture)
        return 1;
    const Gu3dfHeader& h = texture->header;
    std::printf("format %s\nsize %ux%u\nlevels %u..%u\ntexel bytes %zu\n",
                board::format_by_code(h.format)->name, h.width, h.height, 256u >> h.large_lod,
                256u >> h.small_lod, texture->texels.size());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (platform::print_version_if_asked(argc, argv, "texconv"))
        return 0;
    if (argc < 2)
        return usage();
    if (std::strcmp(argv[1], "to3df") == 0)
        return to_3df(argc, argv);
    if (std::strcmp(argv[1], "topng") == 0)
        return to_png(argc, argv);
    if (std::strcmp(argv[1], "info") == 0)
        return info(argc, argv);
    return usage();
}
