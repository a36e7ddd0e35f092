// What many test suites need alike: a recorder of the platform's events, environment changes
// undone at the end of a case, paths in the case's prefix, running a program to its end, and
// the row size of a DIB. Library wt_test_support; every suite links it through wt_test_main.
#pragma once

#include "platform/events.h"

#include <cstddef>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace test_support {

// Every event of this process while it lives, in order.
class EventRecorder {
public:
    EventRecorder();
    ~EventRecorder();
    EventRecorder(const EventRecorder&) = delete;
    EventRecorder& operator=(const EventRecorder&) = delete;

    [[nodiscard]] const std::vector<platform::Event>& all() const { return m_events; }
    [[nodiscard]] std::vector<platform::Event> of(platform::EventKind kind) const;
    [[nodiscard]] size_t count(platform::EventKind kind) const;
    void clear() { m_events.clear(); }

private:
    int m_id{0};
    std::vector<platform::Event> m_events;
};

// Sets an environment variable (or removes it, for a null value) until the end of the scope,
// then puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// A path in the test process's prefix (test_main makes one for each process).
[[nodiscard]] std::string prefix_path(const std::string& name);

// A new, empty folder in the prefix; "" when it cannot be made.
[[nodiscard]] std::string fresh_dir(const std::string& stem = "run");

// The whole of a file as text; "" when it cannot be read.
[[nodiscard]] std::string read_text(const std::string& path);

using EnvList = std::vector<std::pair<std::string, std::string>>;

struct ProcessRun {
    int exit_code{-1}; // -1 when a signal ended the process
    std::string err;   // what the process wrote to stderr
};

// Starts a program with the given words after argv[0] and extra environment (which wins over
// the test's own), its standard error into err_path when one is given; its pid, or -1.
[[nodiscard]] pid_t spawn_program(const std::string& path, const std::vector<std::string>& words,
                                  const EnvList& env = {}, const std::string& err_path = "");

// Runs a program to its end with the given words after argv[0] and extra environment, its
// standard error caught in a fresh folder of the prefix.
ProcessRun run_program(const std::string& path, const std::vector<std::string>& words,
                       const EnvList& env = {});

// Bytes of one row of a DIB: the bits rounded up to whole 32-bit words.
[[nodiscard]] constexpr size_t dib_stride(int bits_per_pixel, int width) {
    return (size_t(bits_per_pixel) * size_t(width) + 31) / 32 * 4;
}

} // namespace test_support
