// A tiny built-in bitmap font (5 x 7 pixels, printable ASCII) and a message box drawn with it,
// for displays that have no text rendering of their own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/image.h"

namespace win32::font {

constexpr int k_glyph_width = 5;
constexpr int k_glyph_height = 7;
constexpr int k_advance = 6;      // glyph plus one column of space
constexpr int k_line_height = 10; // glyph plus three rows of space

// The seven rows of a character's glyph, bit 4 the leftmost pixel; characters outside
// printable ASCII show as '?'.
[[nodiscard]] const uint8_t* glyph(char c);

// Width in pixels of a line of text at the given scale.
[[nodiscard]] int text_width(std::string_view text, int scale);

// Splits text into lines at line breaks, then at spaces so that no line is longer than
// max_chars; a word longer than a line is cut. Carriage returns are dropped and trailing
// empty lines removed.
[[nodiscard]] std::vector<std::string> wrap(std::string_view text, int max_chars);

// Draws one line of text with its top-left corner at (x, y); pixels outside the image are
// skipped.
void draw_text(platform::Image& image, int x, int y, std::string_view text, uint32_t colour,
               int scale);

} // namespace win32::font

namespace win32 {

// The picture and the hit areas of a modal message box: the text wrapped over a grey face and
// a row of buttons for the box's type, with the default button marked.
class MessageBoxView {
public:
    MessageBoxView(std::string_view text, UINT type);

    [[nodiscard]] int width() const { return m_width; }
    [[nodiscard]] int height() const { return m_height; }
    [[nodiscard]] const std::vector<int>& buttons() const { return m_buttons; } // IDOK, ...
    [[nodiscard]] int selected() const { return m_buttons[m_selected]; }

    // The button under a point of the box, or 0.
    [[nodiscard]] int button_at(int x, int y) const;
    // Moves the selection by `step` buttons, wrapping round (Tab, arrow keys).
    void move_selection(int step);
    // The answer when the box is closed without a button: Cancel where there is one, OK for
    // a box with only OK, 0 (refused) otherwise.
    [[nodiscard]] int close_answer() const;
    // The answer to Escape: as closing.
    [[nodiscard]] int escape_answer() const { return close_answer(); }
    // The button of a letter typed on the keyboard (Y, N, O, C), or 0.
    [[nodiscard]] int button_of_letter(char c) const;

    [[nodiscard]] platform::Image render() const;
    // Where the button at this index of buttons() lies in the box.
    [[nodiscard]] RECT button_rect(size_t index) const;

private:
    std::vector<std::string> m_lines;
    std::vector<int> m_buttons;
    size_t m_selected{0};
    int m_width{0};
    int m_height{0};
};

} // namespace win32
