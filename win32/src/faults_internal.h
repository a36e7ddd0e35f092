// Fault state that no environment switch sets: the library's own test support
// (win32/testing) reaches it here, outside the public fault API.
#pragma once

#include <mutex>

namespace win32::faults {

// After `after` more successful calls of SetDIBits, the next `fail` calls fail.
struct SetDibitsCountdown {
    int after{0};
    int fail{0};
};

// Guards every fault switch.
std::mutex& fault_mutex();

// The SetDIBits countdown; hold fault_mutex() while using it. reset() clears it.
SetDibitsCountdown& set_dibits_countdown();

} // namespace win32::faults
