// Environment variables read as text, flags and numbers.
#include "platform/prefix.h"
#include "platform/text.h"

#include <cerrno>
#include <cstdlib>

namespace platform {

std::string env_string(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : std::string(fallback);
}

bool env_flag(const char* name, bool fallback) {
    std::string v = env_string(name);
    if (v.empty())
        return fallback;
    return !(v == "0" || ascii_iequal(v, "no") || ascii_iequal(v, "off") ||
             ascii_iequal(v, "false"));
}

long long env_number(const char* name, long long fallback) {
    std::string v = env_string(name);
    if (v.empty())
        return fallback;
    errno = 0;
    char* end = nullptr;
    long long n = std::strtoll(v.c_str(), &end, 0);
    if (errno || end == v.c_str() || *end || n < 0)
        return fallback;
    return n;
}

} // namespace platform
