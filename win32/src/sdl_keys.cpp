#ifdef WINTEST_HAVE_SDL2

#include "sdl_keys.h"

namespace win32::sdl {

namespace {

// Keypad keys 1 to 9, 0 and the decimal point without Num Lock: the cursor block.
constexpr UINT k_keypad_navigation[11] = {VK_END,           VK_DOWN,   VK_NEXT,  VK_LEFT,
                                          0x0C /* Clear */, VK_RIGHT,  VK_HOME,  VK_UP,
                                          VK_PRIOR,         VK_INSERT, VK_DELETE};

UINT keypad_key(SDL_Scancode sc, bool num_lock) {
    int index = sc - SDL_SCANCODE_KP_1; // KP_1 .. KP_9, KP_0, KP_PERIOD follow each other
    if (!num_lock)
        return k_keypad_navigation[index];
    if (sc == SDL_SCANCODE_KP_0)
        return VK_NUMPAD0;
    if (sc == SDL_SCANCODE_KP_PERIOD)
        return VK_DECIMAL;
    return UINT(VK_NUMPAD0 + 1 + index);
}

UINT punctuation_key(SDL_Scancode sc) {
    switch (sc) {
    case SDL_SCANCODE_SEMICOLON:
        return VK_OEM_1;
    case SDL_SCANCODE_EQUALS:
        return VK_OEM_PLUS;
    case SDL_SCANCODE_COMMA:
        return VK_OEM_COMMA;
    case SDL_SCANCODE_MINUS:
        return VK_OEM_MINUS;
    case SDL_SCANCODE_PERIOD:
        return VK_OEM_PERIOD;
    case SDL_SCANCODE_SLASH:
        return VK_OEM_2;
    case SDL_SCANCODE_GRAVE:
        return VK_OEM_3;
    case SDL_SCANCODE_LEFTBRACKET:
        return VK_OEM_4;
    case SDL_SCANCODE_BACKSLASH:
    case SDL_SCANCODE_NONUSHASH:
        return VK_OEM_5;
    case SDL_SCANCODE_RIGHTBRACKET:
        return VK_OEM_6;
    case SDL_SCANCODE_APOSTROPHE:
        return VK_OEM_7;
    case SDL_SCANCODE_NONUSBACKSLASH:
        return 0xE2; // VK_OEM_102
    default:
        return 0;
    }
}

UINT control_key(SDL_Scancode sc) {
    switch (sc) {
    case SDL_SCANCODE_RETURN:
    case SDL_SCANCODE_KP_ENTER:
        return VK_RETURN;
    case SDL_SCANCODE_ESCAPE:
        return VK_ESCAPE;
    case SDL_SCANCODE_BACKSPACE:
        return VK_BACK;
    case SDL_SCANCODE_TAB:
        return VK_TAB;
    case SDL_SCANCODE_SPACE:
        return VK_SPACE;
    case SDL_SCANCODE_CAPSLOCK:
        return VK_CAPITAL;
    case SDL_SCANCODE_PRINTSCREEN:
        return 0x2C; // VK_SNAPSHOT
    case SDL_SCANCODE_SCROLLLOCK:
        return VK_SCROLL;
    case SDL_SCANCODE_PAUSE:
        return VK_PAUSE;
    case SDL_SCANCODE_INSERT:
        return VK_INSERT;
    case SDL_SCANCODE_HOME:
        return VK_HOME;
    case SDL_SCANCODE_PAGEUP:
        return VK_PRIOR;
    case SDL_SCANCODE_DELETE:
        return VK_DELETE;
    case SDL_SCANCODE_END:
        return VK_END;
    case SDL_SCANCODE_PAGEDOWN:
        return VK_NEXT;
    case SDL_SCANCODE_RIGHT:
        return VK_RIGHT;
    case SDL_SCANCODE_LEFT:
        return VK_LEFT;
    case SDL_SCANCODE_DOWN:
        return VK_DOWN;
    case SDL_SCANCODE_UP:
        return VK_UP;
    case SDL_SCANCODE_NUMLOCKCLEAR:
        return VK_NUMLOCK;
    case SDL_SCANCODE_KP_DIVIDE:
        return VK_DIVIDE;
    case SDL_SCANCODE_KP_MULTIPLY:
        return VK_MULTIPLY;
    case SDL_SCANCODE_KP_MINUS:
        return VK_SUBTRACT;
    case SDL_SCANCODE_KP_PLUS:
        return VK_ADD;
    case SDL_SCANCODE_APPLICATION:
        return 0x5D; // VK_APPS
    case SDL_SCANCODE_LCTRL:
    case SDL_SCANCODE_RCTRL:
        return VK_CONTROL;
    case SDL_SCANCODE_LSHIFT:
    case SDL_SCANCODE_RSHIFT:
        return VK_SHIFT;
    case SDL_SCANCODE_LALT:
    case SDL_SCANCODE_RALT:
        return VK_MENU;
    case SDL_SCANCODE_LGUI:
        return 0x5B; // VK_LWIN
    case SDL_SCANCODE_RGUI:
        return 0x5C; // VK_RWIN
    default:
        return 0;
    }
}

} // namespace

UINT virtual_key(SDL_Scancode sc, SDL_Keycode symbol, bool num_lock) {
    if (symbol >= SDLK_a && symbol <= SDLK_z)
        return UINT('A' + (symbol - SDLK_a));
    if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z)
        return UINT('A' + (sc - SDL_SCANCODE_A));
    if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9)
        return UINT('1' + (sc - SDL_SCANCODE_1));
    if (sc == SDL_SCANCODE_0)
        return '0';
    if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12)
        return UINT(VK_F1 + (sc - SDL_SCANCODE_F1));
    if (sc >= SDL_SCANCODE_F13 && sc <= SDL_SCANCODE_F24)
        return UINT(VK_F1 + 12 + (sc - SDL_SCANCODE_F13));
    if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_PERIOD)
        return keypad_key(sc, num_lock);
    if (UINT vk = punctuation_key(sc))
        return vk;
    return control_key(sc);
}

} // namespace win32::sdl

#endif
