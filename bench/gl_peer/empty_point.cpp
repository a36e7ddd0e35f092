#include "point_floor.h"

namespace gl_peer {

// Never inlined (also not when linked with link-time optimisation): the loop calls it.
[[gnu::noinline]] void empty_point(const GrVertex* v) {
    asm volatile("" : : "r"(v) : "memory");
}

} // namespace gl_peer
