#include "win32/testing.h"

#include "faults_internal.h"
#include "user.h"
#include "win32/harness.h"

#include <algorithm>

namespace win32::testing {

// The one reader of User's state from outside it: what a clean slate clears.
struct UserAccess {
    static void reset(User& u) {
        u.m_windows.clear();
        u.m_order.clear();
        u.m_classes.clear();
        u.m_focus = nullptr;
        u.m_message_numbers.clear();
        u.m_message_names.clear();
        u.m_next_message = 0xC000;
        u.m_idle_hook = nullptr;
        std::fill(std::begin(u.m_physical), std::end(u.m_physical), false);
        std::lock_guard lock(u.m_mutex);
        u.m_posted.clear();
        u.m_incoming.clear();
        u.m_quit = false;
        std::fill(std::begin(u.m_keys), std::end(u.m_keys), BYTE(0));
    }

    static void set_idle_hook(User& u, std::function<void(int)> hook) {
        u.m_idle_hook = std::move(hook);
        u.m_idle_count = 0;
    }
};

void reset() {
    UserAccess::reset(User::the());
}

void set_idle_hook(std::function<void(int)> hook) {
    UserAccess::set_idle_hook(User::the(), std::move(hook));
}

bool press_key(UINT vk, HWND target) {
    return harness::inject_key(vk, true, target) && harness::inject_key(vk, false, target);
}

std::vector<HWND> windows() {
    return User::the().top_level_windows();
}

void fail_set_dibits(int count, int after) {
    std::lock_guard lock(faults::fault_mutex());
    faults::set_dibits_countdown() = {std::max(after, 0), std::max(count, 0)};
}

} // namespace win32::testing
