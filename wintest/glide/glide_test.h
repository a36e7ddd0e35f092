/*
 * The Glide test (mode 2) and the loading of a 3DF texture that the gamma test shares.
 */
#ifndef WINTEST_GLIDE_TEST_H
#define WINTEST_GLIDE_TEST_H

#include "glide.h"

/* Loads the 3DF texture at path into texture memory and returns its handle. On any failure
 * shuts Glide down and ends the process with exit code -1, without a message. */
GrMipMapId_t LoadTestTexture(const char* path);

/* The fixed render state of the textured tests: decal texturing into the back buffer, iterated
 * alpha with source-alpha blending, no alpha test. */
void SetTextureTestState(void);

/* Draws the texture unblended over the quad v1 v2 v3 v4 as the triangles (v1, v2, v3) and
 * (v3, v4, v1), with the render state saved before and restored after. */
void DrawTextureQuad(GrMipMapId_t texture, GrVertex* v1, GrVertex* v2, GrVertex* v3, GrVertex* v4);

#endif
