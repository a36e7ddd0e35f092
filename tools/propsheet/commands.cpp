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

// Whether a request of the controller succeeded; its reason in `error` when it did not.
bool succeeded(const platform::Status& status, std::string& error) {
    if (!status)
        error = status.message();
    return status.ok();
}

// A message for the program waits, within the bound, until the program has a window to hear
// it (a broadcast right after the start would reach no one). Once it has ended, none waits.
void await_program(Session& s) {
    if (!s.started.empty() && !s.exit_code)
        (void)s.controller->windows(s.timeout_ms);
}

// "shift+r" gives {0x10, 0x52}: modifiers first, the key last.
bool parse_combo(const std::string& combo, std::vector<unsigned>& keys, std::string& error) {
    size_t start = 0;
    while (start <= combo.size()) {
        size_t plus = combo.find('+', start + 1); // "+" alone is not a separator
        std::string part = combo.substr(start, plus == std::string::npos ? plus : plus - start);
        unsigned vk = key_code(part);
        if (!vk)
            return error = "unknown key \"" + part + "\"", false;
        keys.push_back(vk);
        if (plus == std::string::npos)
            break;
        start = plus + 1;
    }
    return !keys.empty();
}

// A key that ends the program (Escape) leaves no one to take the rest of the press: once the
// program has ended, the remaining key-ups are not a failure.
bool inject(Session& s, unsigned vk, bool down, std::string& error) {
    if (s.exit_code && s.pressing)
        return true;
    if (succeeded(s.controller->key(vk, down, s.timeout_ms), error))
        return true;
    return s.pressing && pump_until(s, 1000, [&] { return s.exit_code.has_value(); });
}

// key <combo> [down|up|repeat N]
bool cmd_key(Session& s, const std::vector<std::string>& w, std::string& error) {
    if (w.size() < 2 || w.size() > 4)
        return error = "usage: key <name>[+<name>...] [down|up|repeat <n>]", false;
    std::vector<unsigned> keys;
    if (!parse_combo(w[1], keys, error))
        return false;
    std::string how = w.size() > 2 ? lower(w[2]) : "press";
    long repeat = 1;
    if (how == "repeat" && (w.size() != 4 || !parse_int(w[3], repeat) || repeat < 1))
        return error = "repeat needs a count of 1 or more", false;
    if (how != "repeat" && w.size() == 4)
        return error = "unexpected \"" + w[3] + "\"", false;
    if (how == "down" || how == "up") {
        for (unsigned vk : keys)
            if (!inject(s, vk, how == "down", error))
                return false;
        return true;
    }
    struct Pressing {
        Session& s;
        ~Pressing() { s.pressing = false; }
    } pressing{s};
    if (how != "press" && how != "repeat")
        return error = "expected down, up or repeat, not \"" + w[2] + "\"", false;
    for (size_t i = 0; i + 1 < keys.size(); ++i)
        if (!inject(s, keys[i], true, error))
            return false;
    for (long i = 0; i < repeat; ++i) { // a key-down of a held key is an auto-repeat
        if (!inject(s, keys.back(), true, error))
            return false;
        s.pressing = true;
    }
    for (size_t i = keys.size(); i-- > 0;)
        if (!inject(s, keys[i], false, error))
            return false;
    return true;
}

// keys --batch <combo> ...: every press (modifiers down, key down, then all up in reverse)
// goes into the program's queue at once.
bool cmd_keys_batch(Session& s, const std::vector<std::string>& w, std::string& error) {
    std::vector<KeyStroke> strokes;
    for (size_t i = 2; i < w.size(); ++i) {
        std::vector<unsigned> combo;
        if (!parse_combo(w[i], combo, error))
            return false;
        for (unsigned vk : combo)
            strokes.push_back({vk, true});
        for (size_t k = combo.size(); k-- > 0;)
            strokes.push_back({combo[k], false});
    }
    if (strokes.empty())
        return error = "usage: keys --batch <name> <name> ...", false;
    return succeeded(s.controller->keys(strokes, s.timeout_ms), error);
}

// keys <combo> <combo> ...: each pressed in turn
bool cmd_keys(Session& s, const std::vector<std::string>& w, std::string& error) {
    if (w.size() > 1 && w[1] == "--batch")
        return cmd_keys_batch(s, w, error);
    for (size_t i = 1; i < w.size(); ++i)
        if (!cmd_key(s, {"key", w[i]}, error))
            return false;
    return w.size() > 1 || (error = "usage: keys <name> <name> ...", false);
}

bool cmd_gamma(Session& s, const std::vector<std::string>& w, std::string& error) {
    if (w.size() != 4)
        return error = "usage: gamma <red> <green> <blue> (values 0.0 to 25.5)", false;
    int tenths[3];
    for (int i = 0; i < 3; ++i) {
        char* end = nullptr;
        double v = strtod(w[i + 1].c_str(), &end);
        if (*end != '\0' || !(v >= 0.0 && v <= 25.5))
            return error = "gamma value \"" + w[i + 1] + "\" is not within 0.0 to 25.5", false;
        tenths[i] = int(std::lround(v * 10));
    }
    await_program(s);
    send_gamma(s.sheet, tenths[0], tenths[1], tenths[2]);
    return true;
}

bool parse_on_off(const std::string& word, bool& on) {
    std::string v = lower(word);
    if (v == "on" || v == "1" || v == "yes")
        return on = true, true;
    if (v == "off" || v == "0" || v == "no")
        return on = false, true;
    return false;
}

bool cmd_window(Session& s, const std::vector<std::string>& w, std::string& error) {
    WindowAction action = WindowAction::Close;
    long x = 0, y = 0;
    if (w[0] == "window-close") {
        if (w.size() != 1)
            return error = "usage: window-close", false;
    } else {
        action = w[0] == "window-move"     ? WindowAction::Move
                 : w[0] == "window-resize" ? WindowAction::Resize
                                           : WindowAction::DisplayChange;
        if (w.size() != 3 || !parse_int(w[1], x) || !parse_int(w[2], y))
            return error = "usage: " + w[0] + " <x> <y>", false;
    }
    return succeeded(s.controller->window(action, int(x), int(y), s.timeout_ms), error);
}

bool cmd_screenshot(Session& s, const std::vector<std::string>& w, std::string& error) {
    static const std::map<std::string, Shot> shots = {{"board", Shot::Board},
                                                      {"screen", Shot::Board},
                                                      {"tv", Shot::Tv},
                                                      {"window", Shot::Window}};
    const char* usage = "usage: screenshot board|tv|window <file.png> or screenshot tv --field "
                        "0|1 <file.png>";
    bool one_field = w.size() == 5 && w[2] == "--field";
    if ((w.size() != 3 && !one_field) || !shots.count(lower(w[1])))
        return error = usage, false;
    Shot shot = shots.at(lower(w[1]));
    std::string field;
    if (one_field) {
        if (shot != Shot::Tv || (w[3] != "0" && w[3] != "1"))
            return error = usage, false;
        shot = w[3] == "0" ? Shot::TvField0 : Shot::TvField1;
        field = " --field " + w[3];
    }
    if (!succeeded(s.controller->screenshot(shot, w.back(), s.timeout_ms), error))
        return false;
    report(s, "screenshot " + lower(w[1]) + field + " " + w.back(), "screenshot",
           ",\"what\":" + json_string(lower(w[1])) + (one_field ? ",\"field\":" + w[3] : "") +
               ",\"file\":" + json_string(w.back()));
    return true;
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
bool take_program(const Session& s, std::string& pattern, int& pid, std::string& error) {
    if (pattern.empty() || pattern[0] != '@')
        return true;
    size_t end = pattern.find_first_of(" \t");
    long n = 0;
    if (!parse_int(pattern.substr(1, end == std::string::npos ? end : end - 1), n) || n <= 0)
        return error = "\"@\" names a program: @1, @2 ... in the order started, or @<pid>", false;
    bool index = size_t(n) <= s.started.size();
    pid = index ? s.started[size_t(n) - 1] : int(n);
    if (!index && !s.all_events &&
        std::find(s.started.begin(), s.started.end(), pid) == s.started.end())
        return error = "no program @" + std::to_string(n) + " was started", false;
    size_t next = end == std::string::npos ? end : pattern.find_first_not_of(" \t", end);
    pattern = next == std::string::npos ? "" : pattern.substr(next);
    return true;
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
bool cmd_expect(Session& s, const std::string& rest, std::string& error) {
    std::string pattern;
    int ms = s.timeout_ms, pid = 0;
    split_pattern(rest, pattern, ms);
    if (!take_program(s, pattern, pid, error))
        return false;
    if (pattern.empty())
        return error = "usage: expect [@<program>] <event pattern> [<n>ms|<n>s]", false;
    std::optional<size_t> found;
    if (pump_until(s, ms, [&] { return (found = find_event(s, pattern, pid)).has_value(); })) {
        s.cursor = *found + 1;
        return true;
    }
    error = "expected \"" + pattern + "\" within " + std::to_string(ms) + " ms; heard since:";
    bool any = false;
    for (size_t i = s.cursor; i < s.log.size(); ++i)
        if (shown(s, s.log[i]))
            error += "\n    " + s.log[i].program + "[" + std::to_string(s.log[i].pid) + "] " +
                     describe(s.log[i]),
                any = true;
    if (!any)
        error += " nothing";
    return false;
}

// expect-no <pattern> [bound]: no matching event within the bound (default 500 ms).
bool cmd_expect_no(Session& s, const std::string& rest, std::string& error) {
    std::string pattern;
    int ms = 500, pid = 0;
    split_pattern(rest, pattern, ms);
    if (!take_program(s, pattern, pid, error))
        return false;
    if (pattern.empty())
        return error = "usage: expect-no [@<program>] <event pattern> [<n>ms|<n>s]", false;
    std::optional<size_t> found;
    if (pump_until(s, ms, [&] { return (found = find_event(s, pattern, pid)).has_value(); }))
        return error = "did not expect: " + describe(s.log[*found]), false;
    return true;
}

// expect-reg <key> <value> <text>: the value holds exactly the text ("-" for no value).
bool cmd_expect_reg(Session& s, const std::vector<std::string>& w, std::string& error) {
    if (w.size() != 4)
        return error = "usage: expect-reg <key> <value> <text>|-", false;
    std::string key, text;
    if (!key_below_local_machine(w[1], key))
        return error = "only keys under HKEY_LOCAL_MACHINE are kept", false;
    bool present = read_setting(key, w[2], text);
    if (w[3] == "-" ? !present : (present && text == w[3]))
        return true;
    error = w[1] + "\\" + w[2] + " holds " + (present ? quote_text(text) : "no value") +
            ", expected " + (w[3] == "-" ? "no value" : quote_text(w[3]));
    return false;
}

bool cmd_sheet(Session& s) {
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
    return true;
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
bool cmd_send(Session& s, const std::string& rest, std::string& error) {
    const std::string usage = "usage: send \"<message name>\" <wparam> <lparam>";
    size_t open = rest.find_first_not_of(" \t");
    if (open == std::string::npos)
        return error = usage, false;
    std::string name, params;
    if (rest[open] == '"') {
        size_t close = rest.find('"', open + 1);
        if (close == std::string::npos)
            return error = "the message name has no closing quote", false;
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
        return error = usage, false;
    if (!parse_param(w[0], wparam) || !parse_param(w[1], lparam))
        return error = "wparam and lparam are 32-bit numbers (decimal or 0x hex)", false;
    UINT msg = RegisterWindowMessageA(name.c_str());
    if (!msg)
        return error = "cannot register \"" + name + "\"", false;
    await_program(s);
    SendMessageA(HWND_BROADCAST, msg, WPARAM(wparam), LPARAM(int32_t(lparam)));
    return true;
}

// wait-frames <n> [bound]: until the board has presented n more frames.
bool cmd_wait_frames(Session& s, const std::vector<std::string>& w, std::string& error) {
    long n = 0;
    int ms = s.timeout_ms;
    if (w.size() < 2 || w.size() > 3 || !parse_int(w[1], n) || n < 0 ||
        (w.size() == 3 && !parse_duration(w[2], ms)))
        return error = "usage: wait-frames <n> [<n>ms|<n>s]", false;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    auto first = s.controller->frame_count(ms);
    if (!first)
        return error = first.message(), false;
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
        return true;
    error = "the board showed " + std::to_string(now - *first) + " of " + std::to_string(n) +
            " frames" + (answered ? " within " + std::to_string(ms) + " ms" : " (" + why + ")");
    return false;
}

// windows: every top-level window of the started programs, with its facts.
bool cmd_windows(Session& s, const std::vector<std::string>& w, std::string& error) {
    if (w.size() != 1)
        return error = "usage: windows", false;
    auto listed = s.controller->windows(s.timeout_ms);
    if (!listed)
        error = listed.message();
    if (!listed || listed->empty())
        return false;
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
    return true;
}

// start <test> [<word> ...]: another program in this run; the words replace the test's
// default words byte for byte.
bool cmd_start(Session& s, const std::vector<std::string>& w, const std::string& rest,
               std::string& error) {
    int mode = w.size() >= 2 ? test_mode(w[1]) : -1;
    if (mode < 0)
        return error = "usage: start tv|gamma|glide [<word> ...]", false;
    size_t at = rest.find(w[1]) + w[1].size();
    std::string words = at < rest.size() ? rest.substr(at + 1) : "";
    return start_program(s, s.command_line(mode, words), error) != 0;
}

bool cmd_reg(Session& s, const std::vector<std::string>& w, std::string& error) {
    std::vector<std::string> args(w.begin() + 1, w.end());
    if (!s.json) {
        bool done = succeeded(run_reg_command(s.out, args), error);
        fflush(s.out);
        return done;
    }
    FILE* text = tmpfile(); // the command's text becomes one JSON line
    if (!text)
        return error = "cannot make a temporary file", false;
    bool done = succeeded(run_reg_command(text, args), error);
    std::string all;
    rewind(text);
    for (int c; (c = fgetc(text)) != EOF;)
        all += char(c);
    fclose(text);
    if (done)
        report(s, all, "reg", ",\"text\":" + json_string(all));
    return done;
}

bool cmd_on_off(Session& s, const std::vector<std::string>& w, std::string& error) {
    bool on = false;
    if (w.size() != 2 || !parse_on_off(w[1], on))
        return error = "usage: " + lower(w[0]) + " on|off", false;
    if (lower(w[0]) != "enable")
        return s.sheet.answer_enable = on, true;
    await_program(s);
    send_enable(s.sheet, on);
    return true;
}

bool cmd_close(Session& s, const std::vector<std::string>& w, std::string& error) {
    if (w.size() != 1)
        return error = "usage: close", false;
    await_program(s);
    send_closed(s.sheet);
    return true;
}

bool cmd_frames(Session& s, std::string& error) {
    auto frames = s.controller->frame_count(s.timeout_ms);
    if (!frames)
        return error = frames.message(), false;
    report(s, "frames " + std::to_string(*frames), "frames",
           ",\"count\":" + std::to_string(*frames));
    return true;
}

bool cmd_wait(Session& s, const std::vector<std::string>& w, std::string& error) {
    long n = 0;
    if (w.size() != 2 || !parse_int(w[1], n) || n < 0 || n > INT_MAX)
        return error = "usage: wait <ms> (at most 2147483647)", false;
    pump_until(s, int(n), [] { return false; });
    return true;
}

bool cmd_echo(Session& s, const std::string& rest) {
    size_t start = rest.find_first_not_of(" \t");
    std::string text = start == std::string::npos ? "" : rest.substr(start);
    report(s, text, "echo", ",\"text\":" + json_string(text));
    return true;
}

// One command: its words, the text after the command word, and where a failure goes.
struct Call {
    Session& s;
    const std::vector<std::string>& w;
    const std::string& rest;
    std::string& error;
};

using Handler = bool (*)(Call&);

const std::map<std::string, Handler>& commands() {
    static const std::map<std::string, Handler> table = {
        {"key", [](Call& c) { return cmd_key(c.s, c.w, c.error); }},
        {"keys", [](Call& c) { return cmd_keys(c.s, c.w, c.error); }},
        {"gamma", [](Call& c) { return cmd_gamma(c.s, c.w, c.error); }},
        {"enable", [](Call& c) { return cmd_on_off(c.s, c.w, c.error); }},
        {"answer", [](Call& c) { return cmd_on_off(c.s, c.w, c.error); }},
        {"close", [](Call& c) { return cmd_close(c.s, c.w, c.error); }},
        {"send", [](Call& c) { return cmd_send(c.s, c.rest, c.error); }},
        {"window-close", [](Call& c) { return cmd_window(c.s, c.w, c.error); }},
        {"window-move", [](Call& c) { return cmd_window(c.s, c.w, c.error); }},
        {"window-resize", [](Call& c) { return cmd_window(c.s, c.w, c.error); }},
        {"display-change", [](Call& c) { return cmd_window(c.s, c.w, c.error); }},
        {"windows", [](Call& c) { return cmd_windows(c.s, c.w, c.error); }},
        {"screenshot", [](Call& c) { return cmd_screenshot(c.s, c.w, c.error); }},
        {"frames", [](Call& c) { return cmd_frames(c.s, c.error); }},
        {"wait", [](Call& c) { return cmd_wait(c.s, c.w, c.error); }},
        {"wait-frames", [](Call& c) { return cmd_wait_frames(c.s, c.w, c.error); }},
        {"start", [](Call& c) { return cmd_start(c.s, c.w, c.rest, c.error); }},
        {"expect", [](Call& c) { return cmd_expect(c.s, c.rest, c.error); }},
        {"expect-no", [](Call& c) { return cmd_expect_no(c.s, c.rest, c.error); }},
        {"expect-reg", [](Call& c) { return cmd_expect_reg(c.s, c.w, c.error); }},
        {"sheet", [](Call& c) { return cmd_sheet(c.s); }},
        {"echo", [](Call& c) { return cmd_echo(c.s, c.rest); }},
        {"reg", [](Call& c) { return cmd_reg(c.s, c.w, c.error); }},
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

int start_program(Session& s, const std::string& tail, std::string& error) {
    auto started = s.controller->start(s.program_path, tail);
    if (!started)
        return error = started.message(), 0;
    int pid = *started;
    if (!pid)
        return 0;
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

bool run_command(Session& s, const std::string& line, std::string& error) {
    size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#')
        return true;
    auto w = split_words(line);
    if (w.empty()) // only blanks of other kinds (vertical tab, form feed): a blank line
        return true;
    std::string cmd = lower(w[0]);
    std::string rest = line.substr(line.find(w[0]) + w[0].size());
    if (cmd == "try") { // the command may fail: say so and go on
        std::string why;
        if (!run_command(s, rest, why))
            report(s, "propsheet: (went on) " + why, "went-on", ",\"error\":" + json_string(why));
        return true;
    }
    auto it = commands().find(cmd);
    if (it == commands().end())
        return error = "unknown command \"" + w[0] + "\" (try --help)", false;
    Call call{s, w, rest, error};
    return it->second(call);
}

} // namespace propsheet
