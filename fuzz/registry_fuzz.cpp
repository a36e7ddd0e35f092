// The registry's text form: any bytes are parsed; what parses is written out and parsed
// again, and the two trees must hold the same keys and values, byte for byte, in the same
// order (nothing lost, nothing changed by the round trip).
#include "registry_store.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace win32::registry;

namespace {

bool same_tree(const Tree& a, const Tree& b) {
    auto left = a.subtree("");
    auto right = b.subtree("");
    if (left.size() != right.size())
        return false;
    for (size_t i = 0; i < left.size(); ++i) {
        const Key& x = *left[i];
        const Key& y = *right[i];
        if (x.path != y.path || x.values.size() != y.values.size())
            return false;
        for (size_t j = 0; j < x.values.size(); ++j)
            if (x.values[j].name != y.values[j].name || x.values[j].type != y.values[j].type ||
                x.values[j].data != y.values[j].data)
                return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    Tree first;
    if (parse_regedit(text, first))
        return 0;
    std::string written = format_regedit(first);
    Tree second;
    if (parse_regedit(written, second) || !same_tree(first, second))
        std::abort();
    if (format_regedit(second) != written)
        std::abort();
    return 0;
}
