// Placeholder until the test of this mode is built: checks the word count and ends.
#include "shell.h"

#include <stdlib.h>

void RunGlideTest(int count, char** words) {
    if (count != 3)
        exit(1);
    exit(0);
}
