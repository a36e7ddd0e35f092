// ASCII case folding, the one way names compare without regard to case here: window classes,
// registered messages, registry keys and values, path components and the tools' words. Only
// the letters A to Z fold, whatever the C locale says, as Win32 folds these names.
#pragma once

#include <string>
#include <string_view>

namespace platform {

[[nodiscard]] constexpr char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

[[nodiscard]] inline std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = ascii_lower(c);
    return out;
}

[[nodiscard]] constexpr bool ascii_iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    return true;
}

} // namespace platform
