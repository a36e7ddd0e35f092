// Host files read whole, the one reader the board, the tools and the property sheet stand-in
// share. Paths are host paths: the program's Windows paths go through map_path first.
#pragma once

#include "platform/result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The default bound of read_file: no file the program or the tools read comes near it.
inline constexpr size_t k_read_file_limit = size_t(16) << 20;

// The bytes of a file, at most `limit` of them; a larger file is refused rather than cut.
[[nodiscard]] Result<std::vector<uint8_t>> read_file(const std::string& path,
                                                     size_t limit = k_read_file_limit);

} // namespace platform
