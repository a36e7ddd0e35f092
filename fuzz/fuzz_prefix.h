// A prefix of the fuzzing process's own, made once in LLVMFuzzerInitialize: in memory where
// the machine has it (a file written per input costs a disk flush on ext4), headless and off
// the desktop bus, so no input waits on a display or on another process.
#pragma once

#include <cstdlib>
#include <string>

inline std::string make_fuzz_prefix() {
    static char shm[] = "/dev/shm/wintest-fuzz-XXXXXX", tmp[] = "/tmp/wintest-fuzz-XXXXXX";
    char* dir = mkdtemp(shm) ? shm : mkdtemp(tmp);
    if (!dir)
        std::abort();
    setenv("WINTEST_PREFIX", dir, 1);
    setenv("WINTEST_DISPLAY", "headless", 1);
    setenv("WINTEST_BUS", "0", 1);
    return dir;
}
