// The sheet's commands, typed in or read from a script, and the event log they look at.
#include "session.h"
#include "settings.h"

#include "platform/text.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <cstring>
#include <map>
#include <sstream>
#include <strings.h>

namespace propsheet {

namespace {

std::vector<std::string> split_words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

std::string lower(std::string_view s) {
    return platform::ascii_lower(s);
}

bool parse_int(const std::string& s, long& out) {
    char* end = nullptr;
    errno = 0;
    out = strtol(s.c_str(), &end, 0);
    return !s.empty() && *end == '\0' && errno == 0;
}

// A trailing "500ms" or "2s" is a time bound.
// Bounds past INT_MAX milliseconds (24 days) are refused rather than wrapped to a negative
// bound, which would end the wait at once.
bool parse_duration(const std::string& s, int& ms) {
    long n;
    if (s.size() > 2 && s.ends_with("ms") && parse_int(s.substr(0, s.size() - 2), n) && n >= 0 &&
        n <= INT_MAX)
        return ms = int(n), true;
    if (s.size() > 1 && s.ends_with("s") && parse_int(s.substr(0, s.size() - 1), n) && n >= 0 &&
        n <= INT_MAX / 1000)
        return ms = int(n * 1000), true;
    return false;
}

const std::map<std::string, unsigned> kKeyNames = {
    {"backspace", 0x08}, {"tab", 0x09},     {"enter", 0x0D},  {"return", 0x0D}, {"shift", 0x10},
    {"ctrl", 0x11},      {"control", 0x11}, {"alt", 0x12},    {"menu", 0x12},   {"pause", 0x13},
    {"esc", 0x1B},       {"escape", 0x1B},  {"space", 0x20},  {"pageup", 0x21}, {"pagedown", 0x22},
    {"end", 0x23},       {"home", 0x24},    {"left", 0x25},   {"up", 0x26},     {"right", 0x27},
    {"down", 0x28},      {"insert", 0x2D},  {"delete", 0x2E}, {"lshift", 0xA0}, {"rshift", 0xA1},
    {"lctrl", 0xA2},     {"rctrl", 0xA3},   {"lalt", 0xA4},   {"ralt", 0xA5},
};

// A message for the program waits, within the bound, until the program has a window to hear
// it (a broadcast right after the start would reach no one). Once it has ended, none waits.
void await_program(Session& s) {
    if (!s.started.empty() && !s.exit_code)
        (void)s.controller->windows(s.timeout_ms);
}

// "shift+r" gives {0x10, 0x52}: modifiers first, the key last.
platform::Result<std::vector<unsigned>> parse_combo(const std::string& combo) {
    std::vector<unsigned> keys;
    size_t start = 0;
    while (start <= combo.size()) {
        size_t plus = combo.find('+', start + 1); // "+" alone is not a separator
        std::string part = combo.substr(start, plus == std::string::npos ? plus : plus - start);
        unsigned vk = key_code(part);
        if (!vk)
            return platform::fail("unknown key \"" + part + "\"");
        keys.push_back(vk);
        if (plus == std::string::npos)
            break;
        start = plus + 1;
    }
    return keys;
}

// A key that ends the program (Escape) leaves no one to take the rest of the press: once the
// program has ended, the remaining key-ups are not a failure.
platform::Status inject(Session& s, unsigned vk, bool down) {
    if (s.exit_code && s.pressing)
        return {};
    auto injected = s.controller->key(vk, down, s.timeout_ms);
    if (injected || (s.pressing && pump_until(s, 1000, [&] { return s.exit_code.has_value(); })))
        return {};
    return injected;
}

// Auto-repeats of one key command: at a keyboard's 30 a second, more than five minutes.
constexpr long k_max_repeat = 10000;

// key <combo> [down|up|repeat N]
platform::Status cmd_key(Session& s, const std::vector<std::string>& w) {
    if (w.size() < 2 || w.size() > 4)
        return platform::fail("usage: key <name>[+<name>...] [down|up|repeat <n>]");
    auto combo = parse_combo(w[1]);
    if (!combo)
        return combo.error();
    const std::vector<unsigned>& keys = *combo;
    std::string how = w.size() > 2 ? lower(w[2]) : "press";
    long repeat = 1;
    if (how == "repeat" && (w.size() != 4 || !parse_int(w[3], repeat) || repeat < 1))
        return platform::fail("repeat needs a count of 1 or more");
    if (repeat > k_max_repeat) // a key held for minutes: a typing slip, not a test
        return platform::fail("repeat needs a count of " + std::to_string(k_max_repeat) +
                              " or less");
    if (how != "repeat" && w.size() == 4)
        return platform::fail("unexpected \"" + w[3] + "\"");
    if (how == "down" || how == "up") {
        for (unsigned vk : keys)
            if (auto injected = inject(s, vk, how == "down"); !injected)
                return injected;
        return {};
    }
    struct Pressing {
        Session& s;
        ~Pressing() { s.pressing = false; }
    } pressing{s};
    if (how != "press" && how != "repeat")
        return platform::fail("expected down, up or repeat, not \"" + w[2] + "\"");
    for (size_t i = 0; i + 1 < keys.size(); ++i)
        if (auto injected = inject(s, keys[i], true); !injected)
            return injected;
    for (long i = 0; i < repeat; ++i) { // a key-down of a held key is an auto-repeat
        if (auto injected = inject(s, keys.back(), true); !injected)
            return injected;
        s.pressing = true;
    }
    for (size_t i = keys.size(); i-- > 0;)
        if (auto injected = inject(s, keys[i], false); !injected)
            return injected;
    return {};
}

// keys --batch <combo> ...: every press (modifiers down, key down, then all up in reverse)
// goes into the program's queue at once.
platform::Status cmd_keys_batch(Session& s, const std::vector<std::string>& w) {
    std::vector<KeyStroke> strokes;
    for (size_t i = 2; i < w.size(); ++i) {
        auto combo = parse_combo(w[i]);
        if (!combo)
            return combo.error();
        for (unsigned vk : *combo)
            strokes.push_back({vk, true});
        for (size_t k = combo->size(); k-- > 0;)
            strokes.push_back({(*combo)[k], false});
    }
    if (strokes.empty())
        return platform::fail("usage: keys --batch <name> <name> ...");
    return s.controller->keys(strokes, s.timeout_ms);
}

// keys <combo> <combo> ...: each pressed in turn
platform::Status cmd_keys(Session& s, const std::vector<std::string>& w) {
    if (w.size() > 1 && w[1] == "--batch")
        return cmd_keys_batch(s, w);
    if (w.size() < 2)
        return platform::fail("usage: keys <name> <name> ...");
    for (size_t i = 1; i < w.size(); ++i)
        if (auto pressed = cmd_key(s, {"key", w[i]}); !pressed)
            return pressed;
    return {};
}

platform::Status cmd_gamma(Session& s, const std::vector<std::string>& w) {
    if (w.size() != 4)
        return platform::fail("usage: gamma <red> <green> <blue> (values 0.0 to 25.5)");
    int tenths[3];
    for (int i = 0; i < 3; ++i) {
        char* end = nullptr;
        double v = strtod(w[i + 1].c_str(), &end);
        if (*end != '\0' || !(v >= 0.0 && v <= 25.5))
            return platform::fail("gamma value \"" + w[i + 1] + "\" is not within 0.0 to 25.5");
        tenths[i] = int(std::lround(v * 10));
    }
    await_program(s);
    send_gamma(s.sheet, tenths[0], tenths[1], tenths[2]);
    return {};
}

bool parse_on_off(const std::string& word, bool& on) {
    std::string v = lower(word);
    if (v == "on" || v == "1" || v == "yes")
        return on = true, true;
    if (v == "off" || v == "0" || v == "no")
        return on = false, true;
    return false;
}

platform::Status cmd_window(Session& s, const std::vector<std::string>& w) {
    WindowAction action = WindowAction::Close;
    long x = 0, y = 0;
    if (w[0] == "window-close") {
        if (w.size() != 1)
            return platform::fail("usage: window-close");
    } else {
        action = w[0] == "window-move"     ? WindowAction::Move
                 : w[0] == "window-resize" ? WindowAction::Resize
                                           : WindowAction::DisplayChange;
        if (w.size() != 3 || !parse_int(w[1], x) || !parse_int(w[2], y))
            return platform::fail("usage: " + w[0] + " <x> <y>");
    }
    return s.controller->window(action, int(x), int(y), s.timeout_ms);
}

platform::Status cmd_screenshot(Session& s, const std::vector<std::string>& w) {
    static const std::map<std::string, Shot> shots = {{"board", Shot::Board},
                                                      {"screen", Shot::Board},
                                                      {"tv", Shot::Tv},
                                                      {"window", Shot::Window}};
    const char* usage = "usage: screenshot board|tv|window <file.png> or screenshot tv --field "
                        "0|1 <file.png>";
    bool one_field = w.size() == 5 && w[2] == "--field";
    if ((w.size() != 3 && !one_field) || !shots.count(lower(w[1])))
        return platform::fail(usage);
    Shot shot = shots.at(lower(w[1]));
    std::string field;
    if (one_field) {
        if (shot != Shot::Tv || (w[3] != "0" && w[3] != "1"))
            return platform::fail(usage);
        shot = w[3] == "0" ? Shot::TvField0 : Shot::TvField1;
        field = " --field " + w[3];
    }
    if (auto taken = s.controller->screenshot(shot, w.back(), s.timeout_ms); !taken)
        return taken;
    report(s, "screenshot " + lower(w[1]) + field + " " + w.back(), "screenshot",
           ",\"what\":" + json_string(lower(w[1])) + (one_field ? ",\"field\":" + w[3] : "") +
               ",\"file\":" + json_string(w.back()));
    return {};
}

// The pattern is the rest of the line; a last word like "500ms" or "2s" is the time bound.
void split_pattern(const std::string& rest, std::string& pattern, int& ms) {
    pattern = rest;
    while (!pattern.empty() && isspace(static_cast<unsigned char>(pattern.back())))
        pattern.pop_back();
    size_t space = pattern.find_last_of(" \t");
    int bound;
    if (space != std::string::npos && parse_duration(pattern.substr(space + 1), bound)) {
        ms = bound;
        pattern.erase(space);
        while (!pattern.empty() && isspace(static_cast<unsigned char>(pattern.back())))
            pattern.pop_back();
    }
    size_t first = pattern.find_first_not_of(" \t");
    pattern = first == std::string::npos ? "" : pattern.substr(first);
}

// A leading "@2" names the second program started, "@<pid>" a program by its process id:
// the pattern then looks at that program's events only. `pid` stays 0 without one.
platform::Status take_program(const Session& s, std::string& pattern, int& pid) {
    if (pattern.empty() || pattern[0] != '@')
        return {};
    size_t end = pattern.find_first_of(" \t");
    long n = 0;
    if (!parse_int(pattern.substr(1, end == std::string::npos ? end : end - 1), n) || n <= 0)
        return platform::fail("\"@\" names a program: @1, @2 ... in the order started, or @<pid>");
    bool index = size_t(n) <= s.started.size();
    pid = index ? s.started[size_t(n) - 1] : int(n);
    if (!index && !s.all_events &&
        std::find(s.started.begin(), s.started.end(), pid) == s.started.end())
        return platform::fail("no program @" + std::to_string(n) + " was started");
    size_t next = end == std::string::npos ? end : pattern.find_first_not_of(" \t", end);
    pattern = next == std::string::npos ? "" : pattern.substr(next);
    return {};
}

// The next event of this run from the cursor on that matches (of program `pid` if not 0).
std::optional<size_t> find_event(Session& s, const std::string& pattern, int pid) {
    for (size_t i = s.cursor; i < s.log.size(); ++i)
        if (shown(s, s.log[i]) && (!pid || s.log[i].pid == pid) &&
            pattern_matches(pattern, describe(s.log[i])))
            return i;
    return std::nullopt;
}

// expect [@program] <pattern> [bound]: the next matching event, after the last one expected.
platform::Status cmd_expect(Session& s, const std::string& rest) {
    std::string pattern;
    int ms = s.timeout_ms, pid = 0;
    split_pattern(rest, pattern, ms);
    if (auto taken = take_program(s, pattern, pid); !taken)
        return taken;
    if (pattern.empty())
        return platform::fail("usage: expect [@<program>] <event pattern> [<n>ms|<n>s]");
    std::optional<size_t> found;
    if (pump_until(s, ms, [&] { return (found = find_event(s, pattern, pid)).has_value(); })) {
        s.cursor = *found + 1;
        return {};
    }
    std::string message =
        "expected \"" + pattern + "\" within " + std::to_string(ms) + " ms; heard since:";
    bool any = false;
    for (size_t i = s.cursor; i < s.log.size(); ++i)
        if (shown(s, s.log[i]))
            message += "\n    " + s.log[i].program + "[" + std::to_string(s.log[i].pid) + "] " +
                       describe(s.log[i]),
                any = true;
    if (!any)
        message += " nothing";
    return platform::fail(message);
}

// expect-no <pattern> [bound]: no matching event within the bound (default 500 ms).
platform::Status cmd_expect_no(Session& s, const std::string& rest) {
    std::string pattern;
    int ms = 500, pid = 0;
    split_pattern(rest, pattern, ms);
    if (auto taken = take_program(s, pattern, pid); !taken)
        return taken;
    if (pattern.empty())
        return platform::fail("usage: expect-no [@<program>] <event pattern> [<n>ms|<n>s]");
    std::optional<size_t> found;
    if (pump_until(s, ms, [&] { return (found = find_event(s, pattern, pid)).has_value(); }))
        return platform::fail("did not expect: " + describe(s.log[*found]));
    return {};
}

// expect-reg <key> <value> <text>: the value holds exactly the text ("-" for no value).
platform::Status cmd_expect_reg(Session& s, const std::vector<std::string>& w) {
    if (w.size() != 4)
        return platform::fail("usage: expect-reg <key> <value> <text>|-");
    std::string key, text;
    if (!key_below_local_machine(w[1], key))
        return platform::fail("only keys under HKEY_LOCAL_MACHINE are kept");
    bool present = read_setting(key, w[2], text);
    if (w[3] == "-" ? !present : (present && text == w[3]))
        return {};
    return platform::fail(w[1] + "\\" + w[2] + " holds " +
                          (present ? quote_text(text) : "no value") + ", expected " +
                          (w[3] == "-" ? "no value" : quote_text(w[3])));
}

platform::Status cmd_sheet(Session& s) {
    char plain[160], fields[160];
    const SheetState& st = s.sheet;
    snprintf(plain, sizeof plain, "sheet gamma %.1f %.1f %.1f correction %s answer %s test %s",
             st.tenths[0] / 10.0, st.tenths[1] / 10.0, st.tenths[2] / 10.0,
             st.correction_on ? "on" : "off", st.answer_enable ? "on" : "off",
             st.test_closed ? "closed" : "running");
    snprintf(fields, sizeof fields,
             ",\"gamma\":[%.1f,%.1f,%.1f],\"correction\":%s,\"answer\":%s,\"test\":\"%s\"",
             st.tenths[0] / 10.0, st.tenths[1] / 10.0, st.tenths[2] / 10.0,
             st.correction_on ? "true" : "false", st.answer_enable ? "true" : "false",
             st.test_closed ? "closed" : "running");
    report(s, plain, "sheet", fields);
    return {};
}

// A 32-bit message parameter, decimal or 0x hex; a negative value gives its two's complement.
bool parse_param(const std::string& word, uint32_t& out) {
    char* end = nullptr;
    errno = 0;
    bool negative = !word.empty() && word[0] == '-';
    long long v = negative ? strtoll(word.c_str(), &end, 0) : 0;
    unsigned long long u = negative ? 0 : strtoull(word.c_str(), &end, 0);
    if (word.empty() || *end != '\0' || errno != 0 || (!negative && word[0] == '+'))
        return false;
    if (negative ? v < INT32_MIN : u > UINT32_MAX)
        return false;
    out = negative ? uint32_t(int32_t(v)) : uint32_t(u);
    return true;
}

// send "<message name>" <wparam> <lparam>: a registered message to every top-level window;
// returns when the broadcast has returned. lParam is a signed 32-bit value, as on Windows.
platform::Status cmd_send(Session& s, const std::string& rest) {
    const std::string usage = "usage: send \"<message name>\" <wparam> <lparam>";
    size_t open = rest.find_first_not_of(" \t");
    if (open == std::string::npos)
        return platform::fail(usage);
    std::string name, params;
    if (rest[open] == '"') {
        size_t close = rest.find('"', open + 1);
        if (close == std::string::npos)
            return platform::fail("the message name has no closing quote");
        name = rest.substr(open + 1, close - open - 1);
        params = rest.substr(close + 1);
    } else {
        size_t end = rest.find_first_of(" \t", open);
        name = rest.substr(open, end == std::string::npos ? end : end - open);
        params = end == std::string::npos ? "" : rest.substr(end);
    }
    auto w = split_words(params);
    uint32_t wparam = 0, lparam = 0;
    if (name.empty() || w.size() != 2)
        return platform::fail(usage);
    if (!parse_param(w[0], wparam) || !parse_param(w[1], lparam))
        return platform::fail("wparam and lparam are 32-bit numbers (decimal or 0x hex)");
    UINT msg = RegisterWindowMessageA(name.c_str());
    if (!msg)
        return platform::fail("cannot register \"" + name + "\"");
    await_program(s);
    SendMessageA(HWND_BROADCAST, msg, WPARAM(wparam), LPARAM(int32_t(lparam)));
    return {};
}

// wait-frames <n> [bound]: until the board has presented n more frames.
platform::Status cmd_wait_frames(Session& s, const std::vector<std::string>& w) {
    long n = 0;
    int ms = s.timeout_ms;
    if (w.size() < 2 || w.size() > 3 || !parse_int(w[1], n) || n < 0 ||
        (w.size() == 3 && !parse_duration(w[2], ms)))
        return platform::fail("usage: wait-frames <n> [<n>ms|<n>s]");
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    auto first = s.controller->frame_count(ms);
    if (!first)
        return first.error();
    uint64_t target = *first + uint64_t(n), now = *first;
    std::string why;
    int left = int(std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                              until - std::chrono::steady_clock::now())
                                              .count()));
    bool answered = true;
    if (pump_until(s, left,
                   [&] {
                       auto f = s.controller->frame_count(0);
                       answered = f.ok();
                       if (f)
                           now = *f;
                       else
                           why = f.message();
                       return !answered || now >= target;
                   }) &&
        answered)
        return {};
    return platform::fail("the board showed " + std::to_string(now - *first) + " of " +
                          std::to_string(n) + " frames" +
                          (answered ? " within " + std::to_string(ms) + " ms" : " (" + why + ")"));
}

// windows: every top-level window of the started programs, with its facts.
platform::Status cmd_windows(Session& s, const std::vector<std::string>& w) {
    if (w.size() != 1)
        return platform::fail("usage: windows");
    auto listed = s.controller->windows(s.timeout_ms);
    if (!listed)
        return listed.error();
    if (listed->empty())
        return platform::fail("the program has no window");
    const std::vector<WindowFacts>& all = *listed;
    report(s, "windows " + std::to_string(all.size()), "windows",
           ",\"count\":" + std::to_string(all.size()));
    for (const WindowFacts& f : all)
        report(s,
               "window-facts " + std::to_string(f.pid) + " " + f.class_name + " " +
                   quote_text(f.title) + window_facts_text(f),
               "window-facts",
               ",\"of\":" + std::to_string(f.pid) + ",\"class\":" + json_string(f.class_name) +
                   ",\"title\":" + json_string(f.title) + window_facts_json(f));
    return {};
}

// start <test> [<word> ...]: another program in this run; the words replace the test's
// default words byte for byte.
platform::Status cmd_start(Session& s, const std::vector<std::string>& w, const std::string& rest) {
    int mode = w.size() >= 2 ? test_mode(w[1]) : -1;
    if (mode < 0)
        return platform::fail("usage: start tv|gamma|glide [<word> ...]");
    size_t at = rest.find(w[1]) + w[1].size();
    std::string words = at < rest.size() ? rest.substr(at + 1) : "";
    auto started = start_program(s, s.command_line(mode, words));
    if (!started)
        return started.error();
    return {};
}

platform::Status cmd_reg(Session& s, const std::vector<std::string>& w) {
    std::vector<std::string> args(w.begin() + 1, w.end());
    if (!s.json) {
        auto done = run_reg_command(s.out, args);
        fflush(s.out);
        return done;
    }
    FILE* text = tmpfile(); // the command's text becomes one JSON line
    if (!text)
        return platform::fail("cannot make a temporary file");
    auto done = run_reg_command(text, args);
    std::string all;
    rewind(text);
    for (int c; (c = fgetc(text)) != EOF;)
        all += char(c);
    fclose(text);
    if (done)
        report(s, all, "reg", ",\"text\":" + json_string(all));
    return done;
}

platform::Status cmd_on_off(Session& s, const std::vector<std::string>& w) {
    bool on = false;
    if (w.size() != 2 || !parse_on_off(w[1], on))
        return platform::fail("usage: " + lower(w[0]) + " on|off");
    if (lower(w[0]) != "enable") {
        s.sheet.answer_enable = on;
        return {};
    }
    await_program(s);
    send_enable(s.sheet, on);
    return {};
}

platform::Status cmd_close(Session& s, const std::vector<std::string>& w) {
    if (w.size() != 1)
        return platform::fail("usage: close");
    await_program(s);
    send_closed(s.sheet);
    return {};
}

platform::Status cmd_frames(Session& s) {
    auto frames = s.controller->frame_count(s.timeout_ms);
    if (!frames)
        return frames.error();
    report(s, "frames " + std::to_string(*frames), "frames",
           ",\"count\":" + std::to_string(*frames));
    return {};
}

platform::Status cmd_wait(Session& s, const std::vector<std::string>& w) {
    long n = 0;
    if (w.size() != 2 || !parse_int(w[1], n) || n < 0 || n > INT_MAX)
        return platform::fail("usage: wait <ms> (at most 2147483647)");
    pump_until(s, int(n), [] { return false; });
    return {};
}

platform::Status cmd_echo(Session& s, const std::string& rest) {
    size_t start = rest.find_first_not_of(" \t");
    std::string text = start == std::string::npos ? "" : rest.substr(start);
    report(s, text, "echo", ",\"text\":" + json_string(text));
    return {};
}

// One command: its words and the text after the command word.
struct Call {
    Session& s;
    const std::vector<std::string>& w;
    const std::string& rest;
};

using Handler = platform::Status (*)(Call&);

const std::map<std::string, Handler>& commands() {
    static const std::map<std::string, Handler> table = {
        {"key", [](Call& c) { return cmd_key(c.s, c.w); }},
        {"keys", [](Call& c) { return cmd_keys(c.s, c.w); }},
        {"gamma", [](Call& c) { return cmd_gamma(c.s, c.w); }},
        {"enable", [](Call& c) { return cmd_on_off(c.s, c.w); }},
        {"answer", [](Call& c) { return cmd_on_off(c.s, c.w); }},
        {"close", [](Call& c) { return cmd_close(c.s, c.w); }},
        {"send", [](Call& c) { return cmd_send(c.s, c.rest); }},
        {"window-close", [](Call& c) { return cmd_window(c.s, c.w); }},
        {"window-move", [](Call& c) { return cmd_window(c.s, c.w); }},
        {"window-resize", [](Call& c) { return cmd_window(c.s, c.w); }},
        {"display-change", [](Call& c) { return cmd_window(c.s, c.w); }},
        {"windows", [](Call& c) { return cmd_windows(c.s, c.w); }},
        {"screenshot", [](Call& c) { return cmd_screenshot(c.s, c.w); }},
        {"frames", [](Call& c) { return cmd_frames(c.s); }},
        {"wait", [](Call& c) { return cmd_wait(c.s, c.w); }},
        {"wait-frames", [](Call& c) { return cmd_wait_frames(c.s, c.w); }},
        {"start", [](Call& c) { return cmd_start(c.s, c.w, c.rest); }},
        {"expect", [](Call& c) { return cmd_expect(c.s, c.rest); }},
        {"expect-no", [](Call& c) { return cmd_expect_no(c.s, c.rest); }},
        {"expect-reg", [](Call& c) { return cmd_expect_reg(c.s, c.w); }},
        {"sheet", [](Call& c) { return cmd_sheet(c.s); }},
        {"echo", [](Call& c) { return cmd_echo(c.s, c.rest); }},
        {"reg", [](Call& c) { return cmd_reg(c.s, c.w); }},
    };
    return table;
}

} // namespace

unsigned key_code(const std::string& name) {
    std::string n = lower(name);
    if (n.size() == 1 && isalnum(static_cast<unsigned char>(n[0])))
        return unsigned(toupper(static_cast<unsigned char>(n[0])));
    if (auto it = kKeyNames.find(n); it != kKeyNames.end())
        return it->second;
    long v;
    if (n.size() >= 2 && n[0] == 'f' && parse_int(n.substr(1), v) && v >= 1 && v <= 24)
        return unsigned(0x70 + v - 1);
    if (n.starts_with("numpad") && parse_int(n.substr(6), v) && v >= 0 && v <= 9)
        return unsigned(0x60 + v);
    if (n.starts_with("0x") && parse_int(n, v) && v > 0 && v < 256)
        return unsigned(v);
    return 0;
}

bool own_event(const Session& s, const SheetEvent& e) {
    return e.pid == s.self_pid ||
           std::find(s.started.begin(), s.started.end(), e.pid) != s.started.end();
}

bool shown(const Session& s, const SheetEvent& e) {
    return s.all_events || own_event(s, e);
}

int test_mode(const std::string& word) {
    if (word == "tv" || word == "0")
        return 0;
    if (word == "gamma" || word == "1")
        return 1;
    if (word == "glide" || word == "2")
        return 2;
    return -1;
}

platform::Result<int> start_program(Session& s, const std::string& tail) {
    auto started = s.controller->start(s.program_path, tail);
    if (!started)
        return started.error();
    int pid = *started;
    if (!pid)
        return platform::fail("the program did not start");
    s.started.push_back(pid);
    if (s.on_started)
        s.on_started(pid);
    std::string name = std::filesystem::path(s.program_path).filename().string();
    if (name.ends_with(".exe"))
        name.resize(name.size() - 4);
    if (s.json)
        print_line(s, "{\"pid\":" + std::to_string(pid) + ",\"program\":" + json_string(name) +
                          ",\"kind\":\"started\",\"by\":" + std::to_string(s.self_pid) +
                          ",\"command_line\":" + json_string(tail) +
                          ",\"time_us\":" + std::to_string(now_us()) + "}");
    else
        print_line(s, "propsheet[" + std::to_string(s.self_pid) + "] started " + name + "[" +
                          std::to_string(pid) + "] with \"" + tail + "\"");
    return pid;
}

// Prints the events of this run (of everything with --all-events) and keeps them all.
void pump(Session& s) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    while (auto e = s.controller->next_event()) {
        if (shown(s, *e))
            print_line(s, s.json ? describe_json(*e)
                                 : e->program + "[" + std::to_string(e->pid) + "] " + describe(*e));
        if (e->kind == SheetEvent::Kind::Exit && !s.started.empty() && e->pid == s.started[0])
            s.exit_code = e->code;
        s.log.push_back(std::move(*e));
    }
}

platform::Status run_command(Session& s, const std::string& line) {
    size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#')
        return {};
    auto w = split_words(line);
    if (w.empty()) // only blanks of other kinds (vertical tab, form feed): a blank line
        return {};
    std::string cmd = lower(w[0]);
    std::string rest = line.substr(line.find(w[0]) + w[0].size());
    if (cmd == "try") { // the command may fail: say so and go on
        if (auto done = run_command(s, rest); !done)
            report(s, "propsheet: (went on) " + done.message(), "went-on",
                   ",\"error\":" + json_string(done.message()));
        return {};
    }
    auto it = commands().find(cmd);
    if (it == commands().end())
        return platform::fail("unknown command \"" + w[0] + "\" (try --help)");
    Call call{s, w, rest};
    return it->second(call);
}

} // namespace propsheet
