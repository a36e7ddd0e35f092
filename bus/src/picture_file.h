// The file a controller's picture request names. The program writes it on the controller's
// behalf, so it writes only where the controller could create the file itself, and never
// into the prefix's own files.
#pragma once

#include "platform/result.h"

#include <string>
#include <sys/types.h>

namespace bus {

// Who sent a datagram, as the kernel tells it.
struct Requester {
    uid_t uid{0};
    gid_t gid{0};
};

// Opens `path` (absolute) for writing a picture, or says why not:
// - every symbolic link on the way to the folder belongs to the requester or to root, and the
//   file itself is not a symbolic link;
// - the requester may write into the folder (by the owner, group or other write bit);
// - an existing file is a regular file of the requester's own;
// - the file is none of the prefix's own: registry.reg and what goes with it, the locks, the
//   bus endpoints.
// The descriptor is the caller's to close.
[[nodiscard]] platform::Result<int> open_picture_file(const std::string& path,
                                                      const Requester& who);

} // namespace bus
