// Tells a watching controller of the board's gamma and TV calls (screen_protocol.h).
#pragma once

namespace board {

// Called once when the library is loaded.
void start_telling_observers();

} // namespace board
