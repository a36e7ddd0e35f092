// A vertex at (x, y) with a colour and alpha, w = 1: what most board cases draw with.
#pragma once

#include "glide.h"

inline GrVertex vertex(float x, float y, float r = 255, float g = 255, float b = 255,
                       float a = 255) {
    GrVertex v{};
    v.x = x;
    v.y = y;
    v.r = r;
    v.g = g;
    v.b = b;
    v.a = a;
    v.oow = 1.0f;
    return v;
}
