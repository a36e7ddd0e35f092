// The REGEDIT4 text form of the registry, as regedit imports and exports it:
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\Software\Board]
//   "Name"="text with \\ and \" escaped"      REG_SZ: the text plus its zero byte
//   @=dword:0000000a                           the default value; REG_DWORD, 4 bytes
//   "Raw"=hex:01,02,ff                         REG_BINARY
//   "Other"=hex(7):61,00,00                    any other type, raw bytes
//
// A line that ends in '\' continues on the next one (long hex lists); ';' starts a comment.
// "[-HKEY_LOCAL_MACHINE\...]" removes a key and "name"=- a value on import. A REG_SZ whose
// bytes are not exactly one text and its zero byte, or that holds a line break, and a
// REG_DWORD that is not 4 bytes long are written as hex(1) and hex(4), so every value survives
// the round trip byte for byte.
#include "registry_store.h"

#include <cstdio>

namespace win32::registry {

namespace {

constexpr std::string_view k_header = "REGEDIT4";
constexpr std::string_view k_root = "HKEY_LOCAL_MACHINE";
constexpr size_t k_hex_line = 76; // regedit wraps hex lists near this column

bool is_space(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (is_space(s.front()) || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (is_space(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads 1 to 8 hex digits as the whole of `s`.
std::optional<uint32_t> parse_hex32(std::string_view s) {
    if (s.empty() || s.size() > 8)
        return std::nullopt;
    uint32_t v = 0;
    for (char c : s) {
        int d = hex_digit(c);
        if (d < 0)
            return std::nullopt;
        v = v << 4 | uint32_t(d);
    }
    return v;
}

// Reads "01,02,ff": bytes of one or two hex digits separated by commas and blanks.
std::optional<std::vector<uint8_t>> parse_hex_bytes(std::string_view s) {
    std::vector<uint8_t> out;
    s = trim(s);
    if (s.empty())
        return out;
    size_t pos = 0;
    for (;;) {
        size_t comma = s.find(',', pos);
        std::string_view item =
            trim(s.substr(pos, comma == std::string_view::npos ? s.npos : comma - pos));
        if (item.empty() || item.size() > 2)
            return std::nullopt;
        auto v = parse_hex32(item);
        if (!v)
            return std::nullopt;
        out.push_back(uint8_t(*v));
        if (comma == std::string_view::npos)
            return out;
        pos = comma + 1;
    }
}

// Reads a quoted text starting at s[pos] == '"'; moves pos past the closing quote. \\ and
// \" are the escapes; any other backslash stays as it is.
std::optional<std::string> parse_quoted(std::string_view s, size_t& pos) {
    std::string out;
    for (size_t i = pos + 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            pos = i + 1;
            return out;
        }
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"'))
            c = s[++i];
        out += c;
    }
    return std::nullopt;
}

// The path below HKEY_LOCAL_MACHINE of a section name, or none for another root.
std::optional<std::string> parse_section_path(std::string_view name) {
    if (fold(name.substr(0, k_root.size())) != fold(k_root))
        return std::nullopt;
    std::string_view rest = name.substr(k_root.size());
    if (rest.empty())
        return std::string();
    if (rest.front() != '\\')
        return std::nullopt;
    return join_path("", rest.substr(1));
}

struct Parser {
    Tree& tree;
    int line{0};
    Key* key{nullptr}; // the section that values go to

    std::optional<std::string> section(std::string_view s);
    std::optional<std::string> value(std::string_view s);
};

std::optional<std::string> Parser::section(std::string_view s) {
    if (s.size() < 2 || s.back() != ']')
        return "section without its closing ]";
    std::string_view name = s.substr(1, s.size() - 2);
    bool remove = !name.empty() && name.front() == '-';
    if (remove)
        name.remove_prefix(1);
    auto path = parse_section_path(name);
    if (!path)
        return "section outside HKEY_LOCAL_MACHINE or with an empty key name";
    key = nullptr;
    if (remove) {
        if (path->empty())
            return "HKEY_LOCAL_MACHINE itself cannot be removed";
        tree.remove(*path);
        return std::nullopt;
    }
    key = &tree.create(*path);
    return std::nullopt;
}

std::optional<std::string> Parser::value(std::string_view s) {
    if (!key)
        return "value before the first section";
    std::string name;
    size_t pos = 1;
    if (s.front() == '"') {
        pos = 0;
        auto quoted = parse_quoted(s, pos);
        if (!quoted)
            return "value name without its closing quote";
        name = std::move(*quoted);
    }
    std::string_view rest = trim(s.substr(pos));
    if (rest.empty() || rest.front() != '=')
        return "value without =";
    rest = trim(rest.substr(1));
    Key* target = key;
    if (rest == "-") {
        target->delete_value(name);
        return std::nullopt;
    }
    if (!rest.empty() && rest.front() == '"') {
        size_t end = 0;
        auto text = parse_quoted(rest, end);
        if (!text || !trim(rest.substr(end)).empty())
            return "text value without its closing quote";
        std::vector<uint8_t> data(text->begin(), text->end());
        data.push_back(0);
        target->set_value(name, REG_SZ, std::move(data));
        return std::nullopt;
    }
    if (rest.starts_with("dword:")) {
        auto v = parse_hex32(rest.substr(6));
        if (!v)
            return "dword value that is not 1 to 8 hex digits";
        uint32_t n = *v;
        target->set_value(name, REG_DWORD,
                          {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)});
        return std::nullopt;
    }
    DWORD type = REG_BINARY;
    if (rest.starts_with("hex(")) {
        size_t close = rest.find(')');
        auto t = close == rest.npos ? std::nullopt : parse_hex32(rest.substr(4, close - 4));
        if (!t || close + 1 >= rest.size() || rest[close + 1] != ':')
            return "hex(type) value with a bad type";
        type = *t;
        rest = rest.substr(close + 2);
    } else if (rest.starts_with("hex:")) {
        rest = rest.substr(4);
    } else {
        return "value data of an unknown form";
    }
    auto bytes = parse_hex_bytes(rest);
    if (!bytes)
        return "hex value with a byte that is not two hex digits";
    target->set_value(name, type, std::move(*bytes));
    return std::nullopt;
}

// Splits the text at line feeds; a trailing carriage return is dropped later by trim.
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

void append_quoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
}

// True when the bytes are one text without line breaks, followed by its only zero byte.
bool is_plain_text(const std::vector<uint8_t>& data) {
    if (data.empty() || data.back() != 0)
        return false;
    for (size_t i = 0; i + 1 < data.size(); ++i)
        if (data[i] == 0 || data[i] == '\n' || data[i] == '\r')
            return false;
    return true;
}

void append_hex(std::string& out, size_t line_start, const std::vector<uint8_t>& data) {
    char byte[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        out += byte;
        if (i + 1 == data.size())
            break;
        out += ',';
        if (out.size() - line_start >= k_hex_line) {
            out += "\\\n  ";
            line_start = out.size() - 2;
        }
    }
}

void append_value(std::string& out, const Value& v) {
    size_t line_start = out.size();
    if (v.name.empty())
        out += '@';
    else
        append_quoted(out, v.name);
    out += '=';
    if (v.type == REG_SZ && is_plain_text(v.data)) {
        append_quoted(
            out, std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1));
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        char text[16];
        uint32_t n = uint32_t(v.data[0]) | uint32_t(v.data[1]) << 8 | uint32_t(v.data[2]) << 16 |
                     uint32_t(v.data[3]) << 24;
        std::snprintf(text, sizeof text, "dword:%08x", n);
        out += text;
    } else {
        char prefix[24];
        if (v.type == REG_BINARY)
            std::snprintf(prefix, sizeof prefix, "hex:");
        else
            std::snprintf(prefix, sizeof prefix, "hex(%x):", unsigned(v.type));
        out += prefix;
        append_hex(out, line_start, v.data);
    }
    out += '\n';
}

} // namespace

std::optional<ParseError> parse_regedit(std::string_view text, Tree& tree) {
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    auto lines = split_lines(text);
    if (lines.empty() || trim(lines[0]) != k_header)
        return ParseError{1, "the first line is not REGEDIT4"};
    Parser parser{tree, 0, nullptr};
    for (size_t i = 1; i < lines.size(); ++i) {
        parser.line = int(i + 1);
        std::string joined;
        std::string_view s = trim(lines[i]);
        if (s.empty() || s.front() == ';')
            continue;
        // Continued lines: drop the backslash and the next line's leading blanks. The pieces
        // are appended, so a long continued value costs its length, not its length squared.
        if (s.back() == '\\' && s.front() != '[') {
            joined = s;
            while (!joined.empty() && joined.back() == '\\') {
                if (i + 1 >= lines.size())
                    return ParseError{parser.line, "line continued past the end of the file"};
                joined.pop_back();
                joined += trim(lines[++i]);
            }
            s = joined;
            if (s.empty())
                return ParseError{parser.line, "a continued line with nothing on it"};
        }
        std::optional<std::string> failure;
        if (s.front() == '[')
            failure = parser.section(s);
        else if (s.front() == '"' || s.front() == '@')
            failure = parser.value(s);
        else
            failure = "a line that is neither a section nor a value";
        if (failure)
            return ParseError{parser.line, *failure};
    }
    return std::nullopt;
}

std::string format_regedit(const Tree& tree, std::string_view path) {
    std::string out(k_header);
    out += "\n\n";
    for (const Key* key : tree.subtree(path)) {
        if (key->path.empty() && key->values.empty())
            continue;
        out += '[';
        out += k_root;
        if (!key->path.empty()) {
            out += '\\';
            out += key->path;
        }
        out += "]\n";
        for (const Value& v : key->values)
            append_value(out, v);
        out += '\n';
    }
    return out;
}

} // namespace win32::registry
