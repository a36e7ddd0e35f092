#include "bus/seams.h"

#include <atomic>

namespace bus {

namespace {

// Constant-initialised, so a table registered by a static object of another file is never
// lost to the order in which files are initialised.
constinit std::atomic<WindowSystem*> g_window_system{nullptr};
constinit std::atomic<BoardSource*> g_board{nullptr};
constinit std::atomic<BoardDisplay*> g_board_display{nullptr};

} // namespace

void register_window_system(WindowSystem* table) {
    g_window_system = table;
}
void register_board(BoardSource* table) {
    g_board = table;
}
void register_board_display(BoardDisplay* table) {
    g_board_display = table;
}

WindowSystem* window_system() {
    return g_window_system;
}
BoardSource* board() {
    return g_board;
}
BoardDisplay* board_display() {
    return g_board_display;
}

} // namespace bus
