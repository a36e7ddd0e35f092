// datagen: writes the data files drawn by code, or checks that the files in a folder are
// exactly what it would write.
//
//   datagen <folder>           writes the files
//   datagen --check <folder>   exit 0 when every file is byte for byte what datagen makes
//   datagen --version
#include "pictures.h"
#include "platform/version.h"
#include "texlib.h"
#include "platform/file.h"

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

struct DataFile {
    const char* name;
    GrTextureFormat_t format;
    bool mipmaps;
    std::function<texlib::Picture()> draw;
};

const std::vector<DataFile>& data_files() {
    static const std::vector<DataFile> s_files = {
        {"sample256.3df", GR_TEXFMT_RGB_565, true, datagen::sample_picture},
        {"sample_argb4444.3df", GR_TEXFMT_ARGB_4444, true, datagen::sample_alpha_picture},
        {"sample_p8.3df", GR_TEXFMT_P_8, true, datagen::sample_palette_picture},
        {"testtv.3df", GR_TEXFMT_INTENSITY_8, false, datagen::tv_card},
        {"TESTGAMA.3DF", GR_TEXFMT_P_8, false, datagen::gamma_chart},
    };
    return s_files;
}

// The texture of a file, or the reason it cannot be made, both from the drawing code.
platform::Result<board::Texture3df> texture_of(const DataFile& file) {
    return texlib::encode_3df(file.format, texlib::build_levels(file.draw(), file.mipmaps));
}

} // namespace

int main(int argc, char** argv) {
    if (platform::print_version_if_asked(argc, argv, "datagen"))
        return 0;
    bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
    if (argc != 2 && !check) {
        std::fprintf(stderr, "usage: datagen [--check] <folder>\n       datagen --version\n");
        return 2;
    }
    std::string folder = argv[argc - 1];
    int status = 0;
    for (const DataFile& file : data_files()) {
        std::string path = folder + "/" + file.name;
        auto texture = texture_of(file);
        if (!texture) {
            std::fprintf(stderr, "datagen: %s: %s\n", file.name, texture.message().c_str());
            status = 1;
            continue;
        }
        if (check) {
            auto present = platform::read_file(path);
            if (!present || *present != board::serialize_3df(*texture)) {
                std::fprintf(stderr, "datagen: %s differs from what datagen makes\n", path.c_str());
                status = 1;
            }
            continue;
        }
        if (auto written = texlib::write_3df(path, *texture); !written) {
            std::fprintf(stderr, "datagen: %s\n", written.message().c_str());
            status = 1;
        }
    }
    return status;
}
