// The sheet's commands, typed in or read from a script, and the event log they look at.
#include "session.h"
#include "settings.h"

#include <windows.h>

#include <cmath>
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

std::string lower(std::string s) {
    for (char& c : s)
        c = char(tolower(static_cast<unsigned char>(c)));
    return s;
}

bool parse_int(const std::string& s, long& out) {
    char* end = nullptr;
    errno = 0;
    out = strtol(s.c_str(), &end, 0);
    return !s.empty() && *end == '\0' && errno == 0;
}

// A trailing "500ms" or "2s" is a time bound.
bool parse_duration(const std::string& s, int& ms) {
    long n;
    if (s.size() > 2 && s.ends_with("ms") && parse_int(s.substr(0, s.size() - 2), n) && n >= 0)
        return ms = int(n), true;
    if (s.size() > 1 && s.ends_with("s") && parse_int(s.substr(0, s.size() - 1), n) && n >= 0)
        return ms = int(n * 1000), true;
    return false;
}

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char hex[8];
                snprintf(hex, sizeof hex, c >= 0x7F ? "\\x%02x" : "\\u%04x", c);
                out += hex;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

// JSON strings: the same escapes, except bytes above 0x7E, which pass as they are.
std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\')
            out += '\\', out += char(c);
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c < 0x20) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\u%04x", c);
            out += hex;
        } else
            out += char(c);
    }
    return out + "\"";
}

const char* kind_word(SheetEvent::Kind k) {
    switch (k) {
    case SheetEvent::Kind::Window:
        return "window";
    case SheetEvent::Kind::Broadcast:
        return "broadcast";
    case SheetEvent::Kind::Box:
        return "messagebox";
    case SheetEvent::Kind::Beep:
        return "beep";
    case SheetEvent::Kind::Debug:
        return "debug";
    case SheetEvent::Kind::Gamma:
        return "gamma";
    case SheetEvent::Kind::Tv:
        return "tv";
    case SheetEvent::Kind::Exit:
        return "exit";
    }
    return "?";
}

const char* const kTvFields[10] = {"enable", "output",     "scan",   "format",    "xshift",
                                   "yshift", "brightness", "tuning", "sharpness", "ffilter"};

const std::map<std::string, unsigned> kKeyNames = {
    {"backspace", 0x08}, {"tab", 0x09},     {"enter", 0x0D},  {"return", 0x0D}, {"shift", 0x10},
    {"ctrl", 0x11},      {"control", 0x11}, {"alt", 0x12},    {"menu", 0x12},   {"pause", 0x13},
    {"esc", 0x1B},       {"escape", 0x1B},  {"space", 0x20},  {"pageup", 0x21}, {"pagedown", 0x22},
    {"end", 0x23},       {"home", 0x24},    {"left", 0x25},   {"up", 0x26},     {"right", 0x27},
    {"down", 0x28},      {"insert", 0x2D},  {"delete", 0x2E}, {"lshift", 0xA0}, {"rshift", 0xA1},
    {"lctrl", 0xA2},     {"rctrl", 0xA3},   {"lalt", 0xA4},   {"ralt", 0xA5},
};

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
    if (s.controller->key(vk, down, s.timeout_ms, &error))
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

// keys <combo> <combo> ...: each pressed in turn
bool cmd_keys(Session& s, const std::vector<std::string>& w, std::string& error) {
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
    return s.controller->window(action, int(x), int(y), s.timeout_ms, &error);
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
    if (!s.controller->screenshot(shot, w.back(), s.timeout_ms, &error))
        return false;
    fprintf(s.out, "screenshot %s%s %s\n", lower(w[1]).c_str(), field.c_str(), w.back().c_str());
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

// Events that expect looks at: the program's and the sheet's own.
bool watched(const Session& s, const SheetEvent& e) {
    return e.pid == s.self_pid || e.pid == s.controller->program_pid();
}

std::optional<size_t> find_event(Session& s, const std::string& pattern) {
    for (size_t i = s.cursor; i < s.log.size(); ++i)
        if (watched(s, s.log[i]) && pattern_matches(pattern, describe(s.log[i])))
            return i;
    return std::nullopt;
}

// expect <pattern> [bound]: the next matching event, from after the last one expected.
bool cmd_expect(Session& s, const std::string& rest, std::string& error) {
    std::string pattern;
    int ms = s.timeout_ms;
    split_pattern(rest, pattern, ms);
    if (pattern.empty())
        return error = "usage: expect <event pattern> [<n>ms|<n>s]", false;
    std::optional<size_t> found;
    if (pump_until(s, ms, [&] { return (found = find_event(s, pattern)).has_value(); })) {
        s.cursor = *found + 1;
        return true;
    }
    error = "expected \"" + pattern + "\" within " + std::to_string(ms) + " ms; heard since:";
    bool any = false;
    for (size_t i = s.cursor; i < s.log.size(); ++i)
        if (watched(s, s.log[i]))
            error += "\n    " + describe(s.log[i]), any = true;
    if (!any)
        error += " nothing";
    return false;
}

// expect-no <pattern> [bound]: no matching event within the bound (default 500 ms).
bool cmd_expect_no(Session& s, const std::string& rest, std::string& error) {
    std::string pattern;
    int ms = 500;
    split_pattern(rest, pattern, ms);
    if (pattern.empty())
        return error = "usage: expect-no <event pattern> [<n>ms|<n>s]", false;
    std::optional<size_t> found;
    if (pump_until(s, ms, [&] { return (found = find_event(s, pattern)).has_value(); }))
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
    error = w[1] + "\\" + w[2] + " holds " + (present ? quoted(text) : "no value") + ", expected " +
            (w[3] == "-" ? "no value" : quoted(w[3]));
    return false;
}

bool cmd_sheet(Session& s) {
    fprintf(s.out, "sheet gamma %.1f %.1f %.1f correction %s answer %s test %s\n",
            s.sheet.tenths[0] / 10.0, s.sheet.tenths[1] / 10.0, s.sheet.tenths[2] / 10.0,
            s.sheet.correction_on ? "on" : "off", s.sheet.answer_enable ? "on" : "off",
            s.sheet.test_closed ? "closed" : "running");
    return true;
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

std::string describe(const SheetEvent& e) {
    char buf[160];
    std::string line = kind_word(e.kind);
    switch (e.kind) {
    case SheetEvent::Kind::Window:
        return line + " " + e.name + " " + quoted(e.text);
    case SheetEvent::Kind::Broadcast:
        snprintf(buf, sizeof buf, " wparam=%llu lparam=%lld", (unsigned long long)e.wparam,
                 (long long)e.lparam);
        return line + " " + quoted(e.name) + buf;
    case SheetEvent::Kind::Box:
        return line + " " + quoted(e.caption) + " " + quoted(e.text);
    case SheetEvent::Kind::Beep:
        return line + " " + std::to_string(e.code);
    case SheetEvent::Kind::Debug:
        return line + " " + quoted(e.text);
    case SheetEvent::Kind::Gamma:
        snprintf(buf, sizeof buf, " %.2f %.2f %.2f", e.gamma[0], e.gamma[1], e.gamma[2]);
        return line + buf;
    case SheetEvent::Kind::Tv:
        for (int i = 0; i < 10; ++i)
            line += std::string(" ") + kTvFields[i] + "=" + std::to_string(e.tv[i]);
        return line;
    case SheetEvent::Kind::Exit:
        return line + " " + std::to_string(e.code) +
               (e.signal ? " signal " + std::to_string(e.signal) : std::string());
    }
    return line;
}

std::string describe_json(const SheetEvent& e) {
    std::string j = "{\"pid\":" + std::to_string(e.pid) + ",\"program\":" + json_string(e.program) +
                    ",\"kind\":\"" + kind_word(e.kind) + "\"";
    char buf[160];
    switch (e.kind) {
    case SheetEvent::Kind::Window:
        j += ",\"class\":" + json_string(e.name) + ",\"title\":" + json_string(e.text);
        break;
    case SheetEvent::Kind::Broadcast:
        j += ",\"name\":" + json_string(e.name) + ",\"wparam\":" + std::to_string(e.wparam) +
             ",\"lparam\":" + std::to_string(e.lparam);
        break;
    case SheetEvent::Kind::Box:
        j += ",\"caption\":" + json_string(e.caption) + ",\"text\":" + json_string(e.text);
        break;
    case SheetEvent::Kind::Beep:
        j += ",\"type\":" + std::to_string(e.code);
        break;
    case SheetEvent::Kind::Debug:
        j += ",\"text\":" + json_string(e.text);
        break;
    case SheetEvent::Kind::Gamma:
        snprintf(buf, sizeof buf, ",\"gamma\":[%.4g,%.4g,%.4g]", e.gamma[0], e.gamma[1],
                 e.gamma[2]);
        j += buf;
        break;
    case SheetEvent::Kind::Tv:
        for (int i = 0; i < 10; ++i)
            j += std::string(",\"") + kTvFields[i] + "\":" + std::to_string(e.tv[i]);
        break;
    case SheetEvent::Kind::Exit:
        j += ",\"code\":" + std::to_string(e.code) + ",\"signal\":" + std::to_string(e.signal);
        break;
    }
    return j + "}";
}

bool pattern_matches(const std::string& pattern_in, const std::string& line) {
    std::string pattern = pattern_in;
    if (pattern.find('*') == std::string::npos)
        pattern += '*'; // a prefix
    // Classic wildcard matching with backtracking to the last '*'.
    size_t p = 0, l = 0, star = std::string::npos, mark = 0;
    while (l < line.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == line[l]))
            ++p, ++l;
        else if (p < pattern.size() && pattern[p] == '*')
            star = p++, mark = l;
        else if (star != std::string::npos)
            p = star + 1, l = ++mark;
        else
            return false;
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

void pump(Session& s) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    while (auto e = s.controller->next_event()) {
        if (s.json)
            fprintf(s.out, "%s\n", describe_json(*e).c_str());
        else
            fprintf(s.out, "%s[%d] %s\n", e->program.c_str(), e->pid, describe(*e).c_str());
        fflush(s.out);
        if (e->kind == SheetEvent::Kind::Exit && e->pid == s.controller->program_pid())
            s.exit_code = e->code;
        s.log.push_back(std::move(*e));
    }
}

bool run_command(Session& s, const std::string& line, std::string& error) {
    size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#')
        return true;
    auto w = split_words(line);
    std::string cmd = lower(w[0]);
    std::string rest = line.substr(line.find(w[0]) + w[0].size());
    bool on = false;
    long n = 0;
    if (cmd == "try") { // the command may fail: say so and go on
        std::string why;
        if (!run_command(s, rest, why))
            fprintf(s.out, "propsheet: (went on) %s\n", why.c_str());
        return true;
    }
    if (cmd == "key")
        return cmd_key(s, w, error);
    if (cmd == "keys")
        return cmd_keys(s, w, error);
    if (cmd == "gamma")
        return cmd_gamma(s, w, error);
    if (cmd == "enable" || cmd == "answer") {
        if (w.size() != 2 || !parse_on_off(w[1], on))
            return error = "usage: " + cmd + " on|off", false;
        if (cmd == "enable")
            send_enable(s.sheet, on);
        else
            s.sheet.answer_enable = on;
        return true;
    }
    if (cmd == "close") {
        if (w.size() != 1)
            return error = "usage: close", false;
        send_closed(s.sheet);
        return true;
    }
    if (cmd == "window-close" || cmd == "window-move" || cmd == "window-resize" ||
        cmd == "display-change")
        return cmd_window(s, w, error);
    if (cmd == "screenshot")
        return cmd_screenshot(s, w, error);
    if (cmd == "frames") {
        auto frames = s.controller->frame_count(&error);
        if (frames)
            fprintf(s.out, "frames %llu\n", (unsigned long long)*frames);
        return frames.has_value();
    }
    if (cmd == "wait") {
        if (w.size() != 2 || !parse_int(w[1], n) || n < 0)
            return error = "usage: wait <ms>", false;
        pump_until(s, int(n), [] { return false; });
        return true;
    }
    if (cmd == "expect")
        return cmd_expect(s, rest, error);
    if (cmd == "expect-no")
        return cmd_expect_no(s, rest, error);
    if (cmd == "expect-reg")
        return cmd_expect_reg(s, w, error);
    if (cmd == "sheet")
        return cmd_sheet(s);
    if (cmd == "echo") {
        size_t start = rest.find_first_not_of(" \t");
        fprintf(s.out, "%s\n", start == std::string::npos ? "" : rest.c_str() + start);
        return true;
    }
    if (cmd == "reg") {
        std::vector<std::string> args(w.begin() + 1, w.end());
        return run_reg_command(s.out, args, error) == 0;
    }
    error = "unknown command \"" + w[0] + "\" (try --help)";
    return false;
}

} // namespace propsheet
