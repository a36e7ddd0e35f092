// propsheet's script lines: every command's words, key names and combinations, message names
// and 32-bit parameters, patterns and texts, as a script file or standard input hands them
// over. Commands that wait for time to pass (wait, expect, expect-no, wait-frames) or touch
// the registry file (reg, expect-reg) are left out; the rest run over a controller that only
// answers, so that a line can only fail with a message, never crash.
#include "session.h"

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>

namespace {

using namespace propsheet;

class QuietController final : public Controller {
public:
    platform::Result<int> start(const std::string&, const std::string&) override { return 1000; }
    void kill_program() override {}
    int program_pid() const override { return 1000; }
    platform::Status key(unsigned, bool, int) override { return {}; }
    platform::Status keys(const std::vector<KeyStroke>&, int) override { return {}; }
    platform::Status window(WindowAction, int, int, int) override { return {}; }
    platform::Status screenshot(Shot, const std::string&, int) override { return {}; }
    platform::Result<uint64_t> frame_count(int) override { return uint64_t(1); }
    platform::Result<std::vector<WindowFacts>> windows(int) override {
        return std::vector<WindowFacts>{WindowFacts{}};
    }
    std::optional<SheetEvent> next_event() override { return std::nullopt; }
    void wait(int) override {}
    void wake() override {}
};

std::string words_only(int mode, const std::string& words) {
    return std::to_string(mode) + " " + words;
}

bool waits_or_writes(const std::string& line) {
    std::istringstream in(line);
    std::string first;
    in >> first;
    if (first == "try")
        in >> first;
    return first == "wait" || first == "expect" || first == "expect-no" || first == "wait-frames" ||
           first == "reg" || first == "expect-reg";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FILE* sink = fopen("/dev/null", "w");
    Session s;
    s.controller = std::make_unique<QuietController>();
    s.timeout_ms = 0;
    s.out = sink;
    s.command_line = words_only;
    s.started.push_back(1000);
    std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (waits_or_writes(line))
            continue;
        (void)run_command(s, line);
        (void)pattern_matches(line, text);
    }
    return 0;
}
