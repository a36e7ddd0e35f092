// The keyboard of the SDL display: SDL's key codes turned into Windows virtual-key codes.
#pragma once

#ifdef WINTEST_HAVE_SDL2

#include <windows.h>

#include <SDL.h>

namespace win32::sdl {

// The virtual-key code of a key, or 0 for a key that has none. Letters follow the keyboard
// layout (the key's symbol); every other key its place on the keyboard, as on a US keyboard.
// Keypad keys give the digit codes with Num Lock on and the cursor-block codes with it off.
// Left and right Shift, Ctrl and Alt give the generic codes, as WM_KEYDOWN carries them.
[[nodiscard]] UINT virtual_key(SDL_Scancode scancode, SDL_Keycode symbol, bool num_lock);

} // namespace win32::sdl

#endif
