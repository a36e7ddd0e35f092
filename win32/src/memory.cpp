// KERNEL global and local memory: fixed blocks (the handle is the pointer) and moveable ones
// (the handle names a block that GlobalLock turns into a pointer), one heap for both, as on
// Windows, with an optional limit on the bytes held (win32/faults.h).
#include <windows.h>

#include "win32/faults.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#define ERROR_DISCARDED 157L
#define ERROR_NOT_LOCKED 158L

namespace win32 {

namespace {

class Heap {
public:
    static Heap& the() {
        static Heap s_heap;
        return s_heap;
    }

    [[nodiscard]] HANDLE allocate(UINT flags, size_t bytes);
    [[nodiscard]] HANDLE reallocate(HANDLE handle, size_t bytes, UINT flags);
    [[nodiscard]] void* lock(HANDLE handle);
    [[nodiscard]] BOOL unlock(HANDLE handle);
    [[nodiscard]] bool release(HANDLE handle);
    [[nodiscard]] size_t size_of(HANDLE handle);
    [[nodiscard]] size_t in_use() {
        std::lock_guard lock(m_mutex);
        return m_in_use;
    }

private:
    struct Block {
        void* data{nullptr};
        size_t size{0};
        bool moveable{false};
        unsigned locks{0};
    };

    // Whether `bytes` more may be held under the limit.
    [[nodiscard]] bool fits(size_t more) const {
        auto limit = faults::global_memory_limit();
        return !limit || (more <= *limit && m_in_use <= *limit - more);
    }

    Block* find(HANDLE handle) {
        auto it = m_blocks.find(handle);
        return it == m_blocks.end() ? nullptr : &it->second;
    }

    std::mutex m_mutex;
    std::unordered_map<HANDLE, Block> m_blocks;
    size_t m_in_use{0};
    uintptr_t m_next_moveable{0x10008};
};

// Storage of at least one byte, so that an empty block still has an address.
void* storage(size_t bytes, bool zero) {
    return zero ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
}

HANDLE Heap::allocate(UINT flags, size_t bytes) {
    std::lock_guard lock(m_mutex);
    if (!fits(bytes)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void* data = storage(bytes, (flags & GMEM_ZEROINIT) != 0);
    if (!data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    Block block{data, bytes, (flags & GMEM_MOVEABLE) != 0, 0};
    HANDLE handle = data;
    if (block.moveable) {
        // Moveable handles live in a low range that no heap pointer reaches.
        handle = reinterpret_cast<HANDLE>(m_next_moveable);
        m_next_moveable += 8;
    }
    m_blocks.emplace(handle, block);
    m_in_use += bytes;
    return handle;
}

HANDLE Heap::reallocate(HANDLE handle, size_t bytes, UINT flags) {
    std::lock_guard lock(m_mutex);
    Block* block = find(handle);
    if (!block) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // A fixed or locked block may only move when the caller allows it.
    bool may_move = (flags & GMEM_MOVEABLE) || (block->moveable && block->locks == 0);
    if (bytes > block->size && (!may_move || !fits(bytes - block->size))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void* data = std::realloc(block->data, bytes ? bytes : 1);
    if (!data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (bytes > block->size && (flags & GMEM_ZEROINIT))
        std::memset(static_cast<char*>(data) + block->size, 0, bytes - block->size);
    m_in_use = m_in_use - block->size + bytes;
    Block moved = *block;
    moved.data = data;
    moved.size = bytes;
    if (block->moveable) {
        *block = moved;
        return handle;
    }
    m_blocks.erase(handle);
    m_blocks.emplace(data, moved);
    return data;
}

void* Heap::lock(HANDLE handle) {
    std::lock_guard lock(m_mutex);
    Block* block = find(handle);
    if (!block) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!block->moveable)
        return block->data;
    if (block->size == 0) {
        SetLastError(ERROR_DISCARDED);
        return nullptr;
    }
    ++block->locks;
    return block->data;
}

BOOL Heap::unlock(HANDLE handle) {
    std::lock_guard lock(m_mutex);
    Block* block = find(handle);
    if (!block) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!block->moveable)
        return TRUE;
    if (block->locks == 0) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    if (--block->locks == 0) {
        SetLastError(ERROR_SUCCESS);
        return FALSE;
    }
    return TRUE;
}

bool Heap::release(HANDLE handle) {
    if (!handle)
        return true;
    std::lock_guard lock(m_mutex);
    auto it = m_blocks.find(handle);
    if (it == m_blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    m_in_use -= it->second.size;
    std::free(it->second.data);
    m_blocks.erase(it);
    return true;
}

size_t Heap::size_of(HANDLE handle) {
    std::lock_guard lock(m_mutex);
    Block* block = find(handle);
    if (!block) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return block->size;
}

} // namespace

// The single-request switch (WINTEST_GLOBAL_ALLOC_LIMIT): a larger request fails as out of
// memory before the heap is asked.
bool request_allowed(SIZE_T bytes) {
    auto limit = faults::global_alloc_limit();
    if (!limit || bytes <= *limit)
        return true;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
}

namespace faults {
size_t global_memory_in_use() {
    return Heap::the().in_use();
}
} // namespace faults

} // namespace win32

using win32::Heap;

extern "C" {

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (!win32::request_allowed(bytes))
        return nullptr;
    return Heap::the().allocate(flags, bytes);
}

/* Keeps the contents up to the smaller size; GMEM_ZEROINIT zeroes what grows. A moveable block
 * keeps its handle; a fixed one gets a new handle when GMEM_MOVEABLE lets it move. */
HGLOBAL WINAPI GlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags) {
    if (!win32::request_allowed(bytes))
        return nullptr;
    return Heap::the().reallocate(mem, bytes, flags);
}

/* Raises the lock count of a moveable block; a fixed block is its own pointer. */
LPVOID WINAPI GlobalLock(HGLOBAL mem) {
    return Heap::the().lock(mem);
}

/* Nonzero while the block stays locked; 0 with ERROR_SUCCESS once the count reaches 0, 0 with
 * ERROR_NOT_LOCKED when it was not locked. */
BOOL WINAPI GlobalUnlock(HGLOBAL mem) {
    return Heap::the().unlock(mem);
}

/* NULL on success (locked blocks too), the handle itself on failure. */
HGLOBAL WINAPI GlobalFree(HGLOBAL mem) {
    return Heap::the().release(mem) ? nullptr : mem;
}

SIZE_T WINAPI GlobalSize(HGLOBAL mem) {
    return Heap::the().size_of(mem);
}

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
    return Heap::the().allocate(flags, bytes);
}

HLOCAL WINAPI LocalFree(HLOCAL mem) {
    return Heap::the().release(mem) ? nullptr : mem;
}
}
