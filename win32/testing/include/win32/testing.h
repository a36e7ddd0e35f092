// What tests do to the Win32 subset of their own process beyond what a user or the window
// manager can: a clean slate between cases, input at chosen moments of a frame loop, and
// faults that no environment switch reaches. Library wt_win32_testing; only tests link it.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

namespace win32::testing {

// Destroys nothing and sends nothing: forgets every window, class, registered message,
// queued message and key state of the process, so the next case starts clean.
void reset();

// Called each time PeekMessageA finds nothing to retrieve, with a count from 0; a test
// injects input from it at chosen moments of a frame loop. Null removes the hook.
void set_idle_hook(std::function<void(int)> hook);

// A key-down then a key-up as real input (see win32::harness::inject_key).
bool press_key(UINT vk, HWND target = nullptr);

// The process's top-level windows in creation order.
std::vector<HWND> windows();

// After `after` more successful calls, the next `count` calls of SetDIBits fail (return 0
// with ERROR_NOT_ENOUGH_MEMORY). win32::faults::reset() clears it.
void fail_set_dibits(int count, int after = 0);

} // namespace win32::testing
