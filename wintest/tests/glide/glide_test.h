/*
 * The Glide test (mode 2) and the loading of a 3DF texture that the gamma test shares.
 */
#ifndef WINTEST_GLIDE_TEST_H
#define WINTEST_GLIDE_TEST_H

#include "glide.h"

/* Loads the 3DF texture at path into texture memory and returns its handle. On any failure
 * shuts Glide down and ends the process with exit code -1, without a message. */
GrMipMapId_t LoadTestTexture(const char* path);

#endif
