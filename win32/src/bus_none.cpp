// No desktop bus yet: broadcasts stay inside the process.
#include "bus.h"

namespace win32::bus {

void broadcast_to_peers(UINT, WPARAM, LPARAM) {}
void window_created(HWND) {}

} // namespace win32::bus
