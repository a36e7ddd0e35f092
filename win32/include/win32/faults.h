// Fault switches of the Win32 subset: make "no memory" and "no bitmap" paths reachable for
// real. Tests set them through this API; a run of the program through the environment:
//
//   WINTEST_GLOBAL_MEMORY_LIMIT=BYTES  global and local memory live at once may not exceed BYTES
//   WINTEST_GLOBAL_ALLOC_LIMIT=BYTES   one GlobalAlloc or GlobalReAlloc request of more than
//                                      BYTES fails
//   WINTEST_FAIL_BITMAP=taller:N       bitmap creation fails for bitmaps of more than N rows
//   WINTEST_FAIL_BITMAP=next:N         the next N bitmap creations fail
//   WINTEST_FAIL_BITMAP=all            every bitmap creation fails
//
// Bitmap creation means CreateCompatibleBitmap and CreateDIBitmap.
#pragma once

#include <cstddef>
#include <optional>

namespace win32::faults {

// Limit on the bytes of global and local memory held at once (they share one heap, as on
// Windows); nullopt removes it. Allocations past it fail with ERROR_NOT_ENOUGH_MEMORY.
void set_global_memory_limit(std::optional<size_t> bytes);
[[nodiscard]] std::optional<size_t> global_memory_limit();

// Limit on the size of one GlobalAlloc or GlobalReAlloc request; nullopt removes it. A larger
// request fails with ERROR_NOT_ENOUGH_MEMORY, whatever is held.
void set_global_alloc_limit(std::optional<size_t> bytes);
[[nodiscard]] std::optional<size_t> global_alloc_limit();

// Bytes of global and local memory held now.
[[nodiscard]] size_t global_memory_in_use();

// Bitmap creation fails for bitmaps taller than `rows`; nullopt removes the rule.
void fail_bitmaps_taller_than(std::optional<int> rows);

// The next `count` bitmap creations fail (0 ends a count still running).
void fail_next_bitmaps(int count);

// Every bitmap creation fails while set.
void fail_all_bitmaps(bool on);

// Back to the state the environment asks for (or no faults when it asks for none).
void reset();

// Whether a bitmap of `rows` rows may be created now; counts down fail_next_bitmaps. Called
// by GDI.
[[nodiscard]] bool bitmap_creation_allowed(int rows);

// Whether SetDIBits may work now; counts the switch of fail_set_dibits down. Called by GDI.
[[nodiscard]] bool set_dibits_allowed();

} // namespace win32::faults
