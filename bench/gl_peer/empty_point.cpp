#include "point_floor.h"

namespace gl_peer {

// In a file of its own: the loop's compiler cannot see that it does nothing.
void empty_point(const GrVertex* v) {
    asm volatile("" : : "r"(v) : "memory");
}

} // namespace gl_peer
