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
#include <utility>

namespace {

int usage() {
    std::fprintf(stderr, "usage: texconv to3df <in.png> <out.3df> [--format NAME] [--mipmaps]\n"
                         "       texconv topng <in.3df> <out-prefix>\n"
                         "       texconv info <in.3df>\n"
                         "       texconv --version\n");
    return 2;
}

// Tells of a failure the way every message of this tool starts; returns the exit code 1.
int report(const std::string& message) {
    std::fprintf(stderr, "texconv: %s\n", message.c_str());
    return 1;
}

std::optional<board::Texture3df> read_3df(const char* path) {
    auto bytes = platform::read_file(path);
    if (!bytes) {
        report(bytes.message());
        return std::nullopt;
    }
    auto texture = board::parse_3df(*bytes);
    if (!texture) {
        report(std::string(path) + ": " + texture.message());
        return std::nullopt;
    }
    return std::move(*texture);
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
    if (!picture)
        return report(picture.message());
    auto texture = texlib::encode_3df(format->format, texlib::build_levels(*picture, mipmaps));
    if (!texture)
        return report(std::string(argv[2]) + ": " + texture.message());
    if (auto written = texlib::write_3df(argv[3], *texture); !written)
        return report(written.message());
    return 0;
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
        if (auto written = texlib::write_png(path, level); !written)
            return report(written.message());
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
