// Another program holding the board: a child procedure (child.h) that opens the board, says
// "y" (or "n" when it could not) on its output, and keeps the board until its input ends. It
// ends without grGlideShutdown: the lock goes with the process, as with a program that dies.
#pragma once

#include "child.h"
#include "glide.h"

#include <cstdio>
#include <unistd.h>

namespace wt_test {

inline int hold_board_main() {
    grGlideInit();
    grSstSelect(0);
    bool opened = grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ARGB,
                               GR_ORIGIN_UPPER_LEFT, 2, 1);
    std::printf("%s\n", opened ? "y" : "n");
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    _exit(opened ? 0 : 1);
}

inline const ChildRegistration hold_board_registration{"hold_board", &hold_board_main};

// Starts the holder and waits until it has the board: true once it said so.
inline bool start_board_holder(Child& holder) {
    return holder.started() && holder.read_line() == "y";
}

} // namespace wt_test
