// The floor of the gamma test's point loop: the program's loop of DrawGammaBands, the same
// vertex stores per point, calling a function that does nothing instead of grDrawPoint.
#pragma once

#include "glide.h"

namespace gl_peer {

// Does nothing; defined apart from the loop so that the compiler keeps the call.
void empty_point(const GrVertex* v);
// The bands' 153,600 points of a 640 x 480 screen, each handed to empty_point.
void empty_point_bands();

} // namespace gl_peer
