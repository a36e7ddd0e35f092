// The pictures of the data files, drawn by code so that every run gives the same bytes.
#pragma once

#include "texlib.h"

namespace datagen {

// A colourful 256 x 256 picture that shows at once when it is flipped or mirrored: an "F" at
// the top left, a red corner at the top right, a gradient and a grid.
texlib::Picture sample_picture();
// A 128 x 64 picture with an alpha ramp, for the 16-bit alpha formats.
texlib::Picture sample_alpha_picture();
// A 64 x 64 picture of few colours, for the palette format.
texlib::Picture sample_palette_picture();
// The TV alignment card: 256 x 256 grey levels (grid, circle, centre cross, grey steps, fine
// lines for sharpness and the flicker filter).
texlib::Picture tv_card();
// The gamma chart: 256 x 256 with a column for grey, red, green and blue (line patterns beside
// the flat levels that match them at gammas 1.0 to 3.1), a checkerboard beside flat 50 %,
// and grey steps.
texlib::Picture gamma_chart();

} // namespace datagen
