// Event lines as the sheet prints them (plain or JSON), and the patterns that expect matches
// against them.
#include "session.h"

#include <chrono>
#include <cstdio>

namespace propsheet {

namespace {

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
    case SheetEvent::Kind::Registry:
        return "registry";
    }
    return "?";
}

const char* const kTvFields[10] = {"enable", "output",     "scan",   "format",    "xshift",
                                   "yshift", "brightness", "tuning", "sharpness", "ffilter"};

} // namespace

std::string quote_text(const std::string& s) {
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

uint64_t now_us() {
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

void print_line(Session& s, const std::string& line) {
    fputs(line.c_str(), s.out);
    fputc('\n', s.out);
    fflush(s.out); // a driver reading a pipe sees each line as it happens
}

std::string sheet_json(const Session& s, const char* kind, const std::string& fields) {
    return "{\"pid\":" + std::to_string(s.self_pid) + ",\"program\":\"propsheet\",\"kind\":\"" +
           kind + "\"" + fields + ",\"time_us\":" + std::to_string(now_us()) + "}";
}

void report(Session& s, const std::string& plain, const char* kind, const std::string& fields) {
    print_line(s, s.json ? sheet_json(s, kind, fields) : plain);
}

std::string window_facts_text(const WindowFacts& f) {
    if (!f.complete)
        return "";
    char buf[200];
    snprintf(buf, sizeof buf,
             " rect=%d,%d,%d,%d client=%dx%d visible=%d style=0x%08x exstyle=0x%08x focus=%d",
             f.left, f.top, f.right, f.bottom, f.client_width, f.client_height, int(f.visible),
             unsigned(f.style), unsigned(f.ex_style), int(f.focus));
    return buf;
}

std::string window_facts_json(const WindowFacts& f) {
    if (!f.complete)
        return "";
    char buf[240];
    snprintf(buf, sizeof buf,
             ",\"rect\":[%d,%d,%d,%d],\"client\":[%d,%d],\"visible\":%s,\"style\":%u,"
             "\"exstyle\":%u,\"focus\":%s",
             f.left, f.top, f.right, f.bottom, f.client_width, f.client_height,
             f.visible ? "true" : "false", unsigned(f.style), unsigned(f.ex_style),
             f.focus ? "true" : "false");
    return buf;
}

std::string describe(const SheetEvent& e) {
    char buf[160];
    std::string line = kind_word(e.kind);
    switch (e.kind) {
    case SheetEvent::Kind::Window:
        return line + " " + e.name + " " + quote_text(e.text) + window_facts_text(e.window);
    case SheetEvent::Kind::Broadcast:
        snprintf(buf, sizeof buf, " wparam=%llu lparam=%lld", (unsigned long long)e.wparam,
                 (long long)e.lparam);
        return line + " " + quote_text(e.name) + buf;
    case SheetEvent::Kind::Box:
        return line + " " + quote_text(e.caption) + " " + quote_text(e.text);
    case SheetEvent::Kind::Beep:
        return line + " " + std::to_string(e.code);
    case SheetEvent::Kind::Debug:
        return line + " " + quote_text(e.text);
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
    case SheetEvent::Kind::Registry:
        return line + " " + quote_text(e.name) + " " + quote_text(e.text);
    }
    return line;
}

std::string describe_json(const SheetEvent& e) {
    std::string j = "{\"pid\":" + std::to_string(e.pid) + ",\"program\":" + json_string(e.program) +
                    ",\"kind\":\"" + kind_word(e.kind) + "\"";
    char buf[160];
    switch (e.kind) {
    case SheetEvent::Kind::Window:
        j += ",\"class\":" + json_string(e.name) + ",\"title\":" + json_string(e.text) +
             window_facts_json(e.window);
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
    case SheetEvent::Kind::Registry:
        j += ",\"key\":" + json_string(e.name) + ",\"value\":" + json_string(e.text);
        break;
    }
    return j + ",\"time_us\":" + std::to_string(e.time_us) + "}";
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

} // namespace propsheet
