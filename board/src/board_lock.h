// The lock that makes the board one program's at a time: an exclusive flock on a file in the
// prefix. flock locks belong to the open file, so a second open in this process or in any
// other process on the same prefix is refused until the holder releases it or ends.
#pragma once

#include <string>

namespace board {

class BoardLock {
public:
    BoardLock() = default;
    BoardLock(const BoardLock&) = delete;
    BoardLock& operator=(const BoardLock&) = delete;
    ~BoardLock() { release(); }

    // Takes the lock without waiting; false when another holder has it or the file cannot be
    // opened.
    [[nodiscard]] bool acquire(const std::string& path);
    void release();
    [[nodiscard]] bool held() const { return m_fd >= 0; }

private:
    int m_fd{-1};
};

} // namespace board
