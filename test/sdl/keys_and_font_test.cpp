// The parts of the display that need no X server: SDL keys to virtual-key codes, the bitmap
// font's line wrapping, and the message box's buttons and answers.
#include <gtest/gtest.h>

#include "bitmap_font.h"
#include "sdl_keys.h"

#include <string>
#include <vector>

namespace {

using win32::sdl::virtual_key;

UINT vk(SDL_Scancode sc, bool num_lock = false) {
    return virtual_key(sc, SDL_GetKeyFromScancode(sc), num_lock);
}

TEST(SdlKeys, EveryKeyOfAStandardKeyboardHasItsCode) {
    struct Case {
        SDL_Scancode sc;
        UINT code;
    };
    const Case cases[] = {
        {SDL_SCANCODE_A, 0x41},           {SDL_SCANCODE_Z, 0x5A},
        {SDL_SCANCODE_1, 0x31},           {SDL_SCANCODE_0, 0x30},
        {SDL_SCANCODE_F1, 0x70},          {SDL_SCANCODE_F12, 0x7B},
        {SDL_SCANCODE_F13, 0x7C},         {SDL_SCANCODE_F24, 0x87},
        {SDL_SCANCODE_SEMICOLON, 0xBA},   {SDL_SCANCODE_EQUALS, 0xBB},
        {SDL_SCANCODE_COMMA, 0xBC},       {SDL_SCANCODE_MINUS, 0xBD},
        {SDL_SCANCODE_PERIOD, 0xBE},      {SDL_SCANCODE_SLASH, 0xBF},
        {SDL_SCANCODE_GRAVE, 0xC0},       {SDL_SCANCODE_LEFTBRACKET, 0xDB},
        {SDL_SCANCODE_BACKSLASH, 0xDC},   {SDL_SCANCODE_RIGHTBRACKET, 0xDD},
        {SDL_SCANCODE_APOSTROPHE, 0xDE},  {SDL_SCANCODE_NONUSBACKSLASH, 0xE2},
        {SDL_SCANCODE_RETURN, 0x0D},      {SDL_SCANCODE_KP_ENTER, 0x0D},
        {SDL_SCANCODE_ESCAPE, 0x1B},      {SDL_SCANCODE_BACKSPACE, 0x08},
        {SDL_SCANCODE_TAB, 0x09},         {SDL_SCANCODE_SPACE, 0x20},
        {SDL_SCANCODE_CAPSLOCK, 0x14},    {SDL_SCANCODE_NUMLOCKCLEAR, 0x90},
        {SDL_SCANCODE_SCROLLLOCK, 0x91},  {SDL_SCANCODE_PAUSE, 0x13},
        {SDL_SCANCODE_PRINTSCREEN, 0x2C}, {SDL_SCANCODE_INSERT, 0x2D},
        {SDL_SCANCODE_DELETE, 0x2E},      {SDL_SCANCODE_HOME, 0x24},
        {SDL_SCANCODE_END, 0x23},         {SDL_SCANCODE_PAGEUP, 0x21},
        {SDL_SCANCODE_PAGEDOWN, 0x22},    {SDL_SCANCODE_LEFT, 0x25},
        {SDL_SCANCODE_UP, 0x26},          {SDL_SCANCODE_RIGHT, 0x27},
        {SDL_SCANCODE_DOWN, 0x28},        {SDL_SCANCODE_LSHIFT, 0x10},
        {SDL_SCANCODE_RSHIFT, 0x10},      {SDL_SCANCODE_LCTRL, 0x11},
        {SDL_SCANCODE_RCTRL, 0x11},       {SDL_SCANCODE_LALT, 0x12},
        {SDL_SCANCODE_RALT, 0x12},        {SDL_SCANCODE_LGUI, 0x5B},
        {SDL_SCANCODE_RGUI, 0x5C},        {SDL_SCANCODE_APPLICATION, 0x5D},
        {SDL_SCANCODE_KP_DIVIDE, 0x6F},   {SDL_SCANCODE_KP_MULTIPLY, 0x6A},
        {SDL_SCANCODE_KP_MINUS, 0x6D},    {SDL_SCANCODE_KP_PLUS, 0x6B},
    };
    for (const Case& c : cases)
        EXPECT_EQ(vk(c.sc), c.code) << SDL_GetScancodeName(c.sc);
    EXPECT_EQ(vk(SDL_SCANCODE_MUTE), 0u) << "keys Windows has no code for are dropped";
}

TEST(SdlKeys, KeypadGivesDigitsWithNumLockAndTheCursorBlockWithout) {
    const SDL_Scancode pad[] = {SDL_SCANCODE_KP_0, SDL_SCANCODE_KP_1, SDL_SCANCODE_KP_2,
                                SDL_SCANCODE_KP_3, SDL_SCANCODE_KP_4, SDL_SCANCODE_KP_5,
                                SDL_SCANCODE_KP_6, SDL_SCANCODE_KP_7, SDL_SCANCODE_KP_8,
                                SDL_SCANCODE_KP_9};
    const UINT cursor[] = {0x2D, 0x23, 0x28, 0x22, 0x25, 0x0C, 0x27, 0x24, 0x26, 0x21};
    for (int digit = 0; digit < 10; ++digit) {
        EXPECT_EQ(vk(pad[digit], true), UINT(0x60 + digit)) << digit;
        EXPECT_EQ(vk(pad[digit], false), cursor[digit]) << digit;
    }
    EXPECT_EQ(vk(SDL_SCANCODE_KP_PERIOD, true), 0x6Eu);
    EXPECT_EQ(vk(SDL_SCANCODE_KP_PERIOD, false), 0x2Eu);
}

TEST(SdlKeys, LettersFollowTheLayoutOtherKeysTheirPlace) {
    // A French keyboard: the key in the place of Q types an A, and gives A's code.
    EXPECT_EQ(virtual_key(SDL_SCANCODE_Q, SDLK_a, false), UINT('A'));
    // A layout without Latin letters keeps the letter of the place.
    EXPECT_EQ(virtual_key(SDL_SCANCODE_Q, 0x0439, false), UINT('Q'));
    // The digit row keeps its codes whatever it types.
    EXPECT_EQ(virtual_key(SDL_SCANCODE_2, SDLK_QUOTEDBL, false), UINT('2'));
}

std::vector<std::string> lines(std::initializer_list<const char*> l) {
    return {l.begin(), l.end()};
}

TEST(BitmapFont, WrapsAtSpacesBreaksAndCutsLongWords) {
    using win32::font::wrap;
    EXPECT_EQ(wrap("Resize failed due to lack of sufficient buffer memory.\n", 40),
              lines({"Resize failed due to lack of sufficient", "buffer memory."}));
    EXPECT_EQ(wrap("one\r\ntwo\n\nthree", 40), lines({"one", "two", "", "three"}));
    EXPECT_EQ(wrap("abcdefghij xy", 4), lines({"abcd", "efgh", "ij", "xy"}));
    EXPECT_EQ(wrap("  spaced   out  ", 40), lines({"spaced out"}));
    EXPECT_TRUE(wrap("", 40).empty());
    EXPECT_EQ(wrap("x", 0), lines({"x"})) << "a width below one character still shows text";
}

TEST(BitmapFont, DrawsGlyphsClippedToTheImage) {
    // 'L': the left column and the bottom row.
    platform::Image image(8, 8, 0);
    win32::font::draw_text(image, 1, 0, "L", 0xFFFFFF, 1);
    for (int y = 0; y < 7; ++y)
        EXPECT_EQ(image.at(1, y), 0xFFFFFFu) << y;
    for (int x = 1; x < 6; ++x)
        EXPECT_EQ(image.at(x, 6), 0xFFFFFFu) << x;
    EXPECT_EQ(image.at(2, 3), 0u);
    EXPECT_EQ(image.at(0, 6), 0u);
    // Partly or wholly outside: drawn where it lands, no write out of bounds.
    win32::font::draw_text(image, -3, -4, "WW", 0xFF, 3);
    win32::font::draw_text(image, 100, 100, "W", 0xFF, 1);
    // Characters without a glyph show as '?'.
    EXPECT_EQ(win32::font::glyph('\x01'), win32::font::glyph('?'));
    EXPECT_EQ(win32::font::glyph('\xE9'), win32::font::glyph('?'));
    EXPECT_EQ(win32::font::text_width("abc", 2), (3 * 6 - 1) * 2);
}

TEST(MessageBoxView, ButtonsDefaultsAndAnswersFollowTheType) {
    win32::MessageBoxView ok("text", MB_OK | MB_ICONEXCLAMATION);
    EXPECT_EQ(ok.buttons(), std::vector<int>{IDOK});
    EXPECT_EQ(ok.close_answer(), IDOK);
    EXPECT_EQ(ok.button_of_letter('o'), IDOK);

    win32::MessageBoxView ok_cancel("text", MB_OKCANCEL | MB_DEFBUTTON2);
    EXPECT_EQ(ok_cancel.buttons(), (std::vector<int>{IDOK, IDCANCEL}));
    EXPECT_EQ(ok_cancel.selected(), IDCANCEL);
    EXPECT_EQ(ok_cancel.escape_answer(), IDCANCEL);

    win32::MessageBoxView yes_no("text", MB_YESNO);
    EXPECT_EQ(yes_no.selected(), IDYES);
    EXPECT_EQ(yes_no.close_answer(), 0) << "a Yes/No box cannot be closed without an answer";
    yes_no.move_selection(1);
    EXPECT_EQ(yes_no.selected(), IDNO);
    yes_no.move_selection(1);
    EXPECT_EQ(yes_no.selected(), IDYES) << "the selection wraps round";
    yes_no.move_selection(-1);
    EXPECT_EQ(yes_no.selected(), IDNO);
    EXPECT_EQ(yes_no.button_of_letter('y'), IDYES);
    EXPECT_EQ(yes_no.button_of_letter('x'), 0);
}

TEST(MessageBoxView, ButtonsAreHitWhereTheyAreDrawn) {
    win32::MessageBoxView view("A longer text that needs more than one line to be shown whole "
                               "in the box",
                               MB_OKCANCEL);
    platform::Image image = view.render();
    ASSERT_EQ(image.width, view.width());
    ASSERT_EQ(image.height, view.height());
    for (size_t i = 0; i < view.buttons().size(); ++i) {
        RECT r = view.button_rect(i);
        ASSERT_GE(r.left, 0);
        ASSERT_LE(r.right, view.width());
        ASSERT_LE(r.bottom, view.height());
        EXPECT_EQ(view.button_at((r.left + r.right) / 2, (r.top + r.bottom) / 2),
                  view.buttons()[i]);
        EXPECT_EQ(view.button_at(r.left - 2, r.top), 0) << "outside the button";
        // The button's outline is drawn on its edge.
        EXPECT_NE(image.at(r.left + 5, r.bottom - 1), image.at(r.left + 5, r.bottom - 4));
    }
    EXPECT_EQ(view.button_at(0, 0), 0);
    // Two lines of text above the buttons: the box is taller than a one-line box.
    EXPECT_GT(view.height(), win32::MessageBoxView("short", MB_OKCANCEL).height());
}

} // namespace
