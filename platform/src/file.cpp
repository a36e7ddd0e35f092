#include "platform/file.h"

#include <cstdio>
#include <memory>

namespace platform {

Result<std::vector<uint8_t>> read_file(const std::string& path, size_t limit) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
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
