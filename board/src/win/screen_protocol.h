// How another program finds and asks the board's screen window on Windows (used by the
// property sheet stand-in's controller). The window's class is k_screen_class. A request is a
// WM_COPYDATA with dwData k_screen_request and the text "<what> <file>", where what is
//   screen  the shown picture (front buffer through the gamma tables) as a PNG file,
//   tv      what a TV set on the TV output shows, as a PNG file,
//   state   a text file: "open 0|1", "frames N", "gamma R G B", "tv F0 .. F9", one a line.
// The window answers TRUE once the file is written, FALSE otherwise.
//
// The other way, the board tells a watching controller of each call of its two extensions,
// in the order the program makes them: a WM_COPYDATA, sent from the program's thread to the
// first window of class k_observer_class, with dwData k_board_event and the text
// "gamma R G B" or "tv F0 .. F9".
#pragma once

namespace board {

inline constexpr char k_screen_class[] = "WinTestBoardScreen";
inline constexpr char k_screen_title[] = "Board screen";
inline constexpr unsigned long k_screen_request = 0x57544253; // 'WTBS'
inline constexpr char k_observer_class[] = "WinTestSheetListener";
inline constexpr unsigned long k_board_event = 0x57544245; // 'WTBE'

} // namespace board
