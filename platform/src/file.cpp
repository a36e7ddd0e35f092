#include "platform/file.h"

#include "file_ptr.h"

#include <cstdio>

namespace platform {

Result<std::vector<uint8_t>> read_file(const std::string& path, size_t limit) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return fail("cannot read " + path);
    std::vector<uint8_t> bytes;
    uint8_t chunk[16384];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        if (bytes.size() + n > limit)
            return fail(path + ": larger than " + std::to_string(limit) + " bytes");
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    if (std::ferror(file.get()))
        return fail("cannot read " + path);
    return bytes;
}

} // namespace platform
