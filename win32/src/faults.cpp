// Fault switches: the memory limit and the bitmap creation failures, from the environment or
// set by tests (win32/faults.h).
#include "win32/faults.h"

#include "faults_internal.h"

#include "platform/prefix.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace win32::faults {

namespace {

struct FaultState {
    std::optional<size_t> memory_limit;
    std::optional<size_t> alloc_limit; // one GlobalAlloc/GlobalReAlloc request
    std::optional<int> taller_than;
    int fail_next{0};
    bool fail_all{false};
    SetDibitsCountdown set_dibits;
};

// Parses WINTEST_FAIL_BITMAP: "taller:N", "next:N" or "all"; anything else is ignored with a
// line on stderr, so a typo never silently changes a run.
void parse_bitmap_switch(const std::string& text, FaultState& state) {
    if (text.empty())
        return;
    if (text == "all") {
        state.fail_all = true;
        return;
    }
    auto number_after = [&](const char* prefix) -> std::optional<long> {
        std::string p(prefix);
        if (text.rfind(p, 0) != 0 || text.size() == p.size())
            return std::nullopt;
        char* end = nullptr;
        long value = std::strtol(text.c_str() + p.size(), &end, 10);
        if (*end != '\0' || value < 0)
            return std::nullopt;
        return value;
    };
    if (auto rows = number_after("taller:"))
        state.taller_than = int(*rows);
    else if (auto count = number_after("next:"))
        state.fail_next = int(*count);
    else
        std::fprintf(stderr,
                     "wintest: WINTEST_FAIL_BITMAP=%s not understood (taller:N, next:N, all)\n",
                     text.c_str());
}

FaultState from_environment() {
    FaultState state;
    long long limit = platform::env_number("WINTEST_GLOBAL_MEMORY_LIMIT", -1);
    if (limit >= 0)
        state.memory_limit = size_t(limit);
    long long request = platform::env_number("WINTEST_GLOBAL_ALLOC_LIMIT", -1);
    if (request >= 0)
        state.alloc_limit = size_t(request);
    parse_bitmap_switch(platform::env_string("WINTEST_FAIL_BITMAP"), state);
    return state;
}

FaultState& state() {
    static FaultState s_state = from_environment();
    return s_state;
}

} // namespace

std::mutex& fault_mutex() {
    static std::mutex s_mutex;
    return s_mutex;
}

SetDibitsCountdown& set_dibits_countdown() {
    return state().set_dibits;
}

void set_global_memory_limit(std::optional<size_t> bytes) {
    std::lock_guard lock(fault_mutex());
    state().memory_limit = bytes;
}

std::optional<size_t> global_memory_limit() {
    std::lock_guard lock(fault_mutex());
    return state().memory_limit;
}

void set_global_alloc_limit(std::optional<size_t> bytes) {
    std::lock_guard lock(fault_mutex());
    state().alloc_limit = bytes;
}

std::optional<size_t> global_alloc_limit() {
    std::lock_guard lock(fault_mutex());
    return state().alloc_limit;
}

void fail_bitmaps_taller_than(std::optional<int> rows) {
    std::lock_guard lock(fault_mutex());
    state().taller_than = rows;
}

void fail_next_bitmaps(int count) {
    std::lock_guard lock(fault_mutex());
    state().fail_next = count < 0 ? 0 : count;
}

void fail_all_bitmaps(bool on) {
    std::lock_guard lock(fault_mutex());
    state().fail_all = on;
}

bool set_dibits_allowed() {
    std::lock_guard lock(fault_mutex());
    SetDibitsCountdown& c = set_dibits_countdown();
    if (c.fail == 0)
        return true;
    if (c.after > 0) {
        --c.after;
        return true;
    }
    --c.fail;
    return false;
}

void reset() {
    std::lock_guard lock(fault_mutex());
    state() = from_environment();
}

bool bitmap_creation_allowed(int rows) {
    std::lock_guard lock(fault_mutex());
    FaultState& s = state();
    if (s.fail_all)
        return false;
    if (s.fail_next > 0) {
        --s.fail_next;
        return false;
    }
    return !(s.taller_than && rows > *s.taller_than);
}

} // namespace win32::faults
