// The retrace clock on Windows. The board waits for its 60 Hz retraces with the standard
// library's sleep_until, which Windows rounds to its timer tick (15.6 ms unless a program
// asks for a finer one): without a finer tick frames would come at uneven intervals and
// slower than 60 a second.
#pragma once

namespace board {

// Asks for a 1 ms timer tick for the rest of the process; the system drops the request when
// the process ends.
void use_fine_timer();

} // namespace board
