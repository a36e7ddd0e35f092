// The desktop bus as the window manager sees it: broadcasts leave through it, and a process
// joins the desktop of its prefix once it has top-level windows. Without a bus (WINTEST_BUS=0)
// these calls reach no other process.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <sys/types.h>

namespace bus {

// Delivers a broadcast to the top-level windows of the other processes on the desktop and
// returns when all have answered or the wait bound ran out; messages sent to this process
// meanwhile are dispatched at once.
void broadcast_to_peers(UINT message, WPARAM wParam, LPARAM lParam);

// Called at each top-level window's creation; the first one joins the desktop and tells the
// observers of it again (its creation event went out before the bus listened).
void window_created(const std::string& class_name, const std::string& title);

// Acts on one datagram as the receiver thread does with each that arrives, as sent by a
// process of user `uid` and group `gid`: decoded, checked, and its work on windows queued for
// the GUI thread's next message retrieval. Answers go out only while this process is on the
// desktop.
void receive_datagram(std::span<const uint8_t> datagram, uid_t uid, gid_t gid);

// The GUI thread's sleep when it has nothing to do: returns at once when `ready()` holds, else
// when wake_gui_thread() is called, when a datagram for this process arrives (read and acted
// on by this thread itself: its broadcasts and requests are then queued for it), or after
// `bound`. `ready` is checked after the sleep is announced, so a wake between the two is
// never lost.
void wait_on_gui_thread(std::chrono::milliseconds bound, const std::function<bool()>& ready);
// Any thread: ends the GUI thread's sleep; costs nothing when it does not sleep.
void wake_gui_thread();

} // namespace bus
