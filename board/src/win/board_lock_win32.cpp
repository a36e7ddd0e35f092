// The board lock on Windows: the lock file in the prefix opened with no sharing at all, so a
// second open, in this process or in any other, fails with a sharing violation until the
// holder closes it or ends (the system closes the handles of a process that ends, however it
// ends). The handle is kept in the lock's descriptor field: kernel handles fit in 32 bits on
// 64-bit Windows too (HandleToLong / LongToHandle) and are never negative.
#include "board_lock.h"

#include <windows.h>

namespace board {

bool BoardLock::acquire(const std::string& path) {
    if (held())
        return false;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    m_fd = HandleToLong(file);
    return true;
}

void BoardLock::release() {
    if (!held())
        return;
    CloseHandle(LongToHandle(m_fd));
    m_fd = -1;
}

} // namespace board
