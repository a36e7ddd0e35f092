// The SDL2 display: each visible top-level window is a real window showing its client area,
// the board's monitor and TV view are windows of their own, and keyboard, mouse and window
// manager events come back into the thread's message queue as the Win32 messages a user's
// actions produce.
//
// Everything here runs on the GUI thread: the window manager calls the backend there, poll()
// runs inside the queue's retrieval, and the board hands its frames over from grBufferSwap.
#ifdef WINTEST_HAVE_SDL2

#include "bitmap_font.h"
#include "display.h"
#include "sdl_keys.h"
#include "user.h"
#include "window_surface.h"

#include "platform/prefix.h"
#include "win32/harness.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <numbers>
#include <vector>

namespace win32 {

namespace {

// The board's monitor and its TV view open beside the 1024 x 768 desktop of the program's
// windows when the screen has room there. A window below another keeps this much space
// above it for its caption; side by side windows keep a smaller one.
constexpr int k_board_window_x = 1024;
constexpr int k_caption_room = 40;
constexpr int k_side_gap = 16;

constexpr int k_beep_rate = 22050;
constexpr int k_beep_hz = 880;
constexpr int k_beep_milliseconds = 100;

// Window titles are ANSI text; SDL wants UTF-8. Bytes from 0x80 up are taken as Latin-1.
std::string utf8_of_ansi(const std::string& text) {
    std::string out;
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Copies a picture into a window's surface, scaled to fit and centred when the sizes differ
// (the full-screen board), then shows it.
void present_image(SDL_Window* window, const platform::Image& image) {
    SDL_Surface* target = SDL_GetWindowSurface(window);
    if (!target)
        return;
    if (image.empty()) {
        SDL_FillRect(target, nullptr, SDL_MapRGB(target->format, 0, 0, 0));
        SDL_UpdateWindowSurface(window);
        return;
    }
    SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(
        const_cast<uint32_t*>(image.pixels.data()), image.width, image.height, 32, image.width * 4,
        SDL_PIXELFORMAT_RGB888);
    if (!source)
        return;
    if (image.width == target->w && image.height == target->h) {
        SDL_BlitSurface(source, nullptr, target, nullptr);
    } else if (image.width <= target->w && image.height <= target->h &&
               !(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN)) {
        // A window still at its old size: the surface shows from the top left.
        SDL_FillRect(target, nullptr, SDL_MapRGB(target->format, 0, 0, 0));
        SDL_BlitSurface(source, nullptr, target, nullptr);
    } else {
        double scale = std::min(double(target->w) / image.width, double(target->h) / image.height);
        SDL_Rect dest{0, 0, int(image.width * scale), int(image.height * scale)};
        dest.x = (target->w - dest.w) / 2;
        dest.y = (target->h - dest.h) / 2;
        SDL_FillRect(target, nullptr, SDL_MapRGB(target->format, 0, 0, 0));
        SDL_BlitScaled(source, nullptr, target, &dest);
    }
    SDL_FreeSurface(source);
    SDL_UpdateWindowSurface(window);
}

// A program window shown as an SDL window, with the geometry that this backend asked SDL for
// and SDL has not yet confirmed: its own requests come back as window events, which must not
// be mistaken for the user moving or sizing the window.
struct ShownWindow {
    SDL_Window* window{nullptr};
    std::deque<SDL_Point> pending_moves;
    std::deque<SDL_Point> pending_sizes;
};

// A request the window manager overrode is never confirmed: only the last few are kept.
constexpr size_t k_pending_kept = 8;

void remember(std::deque<SDL_Point>& pending, SDL_Point p) {
    pending.push_back(p);
    if (pending.size() > k_pending_kept)
        pending.pop_front();
}

// Drops a confirmed request and every older one; true when the point was one of them.
bool confirm(std::deque<SDL_Point>& pending, int a, int b) {
    auto it = std::find_if(pending.begin(), pending.end(),
                           [&](const SDL_Point& p) { return p.x == a && p.y == b; });
    if (it == pending.end())
        return false;
    pending.erase(pending.begin(), it + 1);
    return true;
}

// The area two rectangles share, 0 when they do not meet.
long long overlap(const SDL_Rect& a, const SDL_Rect& b) {
    SDL_Rect shared;
    return SDL_IntersectRect(&a, &b, &shared) ? (long long)shared.w * shared.h : 0;
}

// Where a board window of this size opens on the screen's usable area, `taken` holding the
// windows already there (frames included). The places tried, in this order: beside the
// program's 1024 x 768 desktop, at the right edge of the screen, right of each window, at
// the left edge; at each, the top, below each window and the bottom. The first place
// inside the screen that meets no window wins; when every place meets some, the one that
// covers least of them. A screen smaller than the window gets it at its top-left corner.
SDL_Point place_board_window(const SDL_Rect& usable, int width, int height,
                             const std::vector<SDL_Rect>& taken) {
    std::vector<int> xs{k_board_window_x, usable.x + usable.w - width};
    std::vector<int> ys{usable.y};
    for (const SDL_Rect& t : taken) {
        xs.push_back(t.x + t.w + k_side_gap);
        ys.push_back(t.y + t.h + k_caption_room);
    }
    xs.push_back(usable.x);
    ys.push_back(usable.y + usable.h - height);
    SDL_Point best{usable.x, usable.y};
    long long best_cover = -1;
    for (int x : xs) {
        for (int y : ys) {
            if (x < usable.x || y < usable.y || x + width > usable.x + usable.w ||
                y + height > usable.y + usable.h)
                continue;
            SDL_Rect frame{x, y - k_caption_room, width, height + k_caption_room};
            long long cover = 0;
            for (const SDL_Rect& t : taken)
                cover += overlap(frame, t);
            if (best_cover < 0 || cover < best_cover) {
                best = {x, y};
                best_cover = cover;
            }
            if (cover == 0)
                return best;
        }
    }
    return best;
}

// A picture of the board shown in a window of its own (the monitor, the TV view), through a
// renderer: on a real desktop the graphics card scales the full-screen monitor.
struct BoardView {
    SDL_Window* window{nullptr};
    SDL_Renderer* renderer{nullptr};
    SDL_Texture* texture{nullptr};
    int width{0};
    int height{0};
    const char* title{""};
};

class SdlDisplay final : public DisplayBackend {
public:
    SdlDisplay() {
        m_arrow = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
        m_wait = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_WAIT);
        m_fullscreen = platform::env_flag("WINTEST_FULLSCREEN", false);
        m_tv_wanted = platform::env_flag("WINTEST_TV_WINDOW", false);
        m_board.title = "Board screen";
        m_tv.title = "TV view";
        SDL_StopTextInput(); // key events only: no input method, no text events
    }

    ~SdlDisplay() override {
        for (auto& [hwnd, shown] : m_windows)
            SDL_DestroyWindow(shown.window);
        close_view(m_board);
        close_view(m_tv);
        if (m_audio)
            SDL_CloseAudioDevice(m_audio);
        SDL_FreeCursor(m_arrow);
        SDL_FreeCursor(m_wait);
        SDL_Quit();
    }

    const char* name() const override { return "sdl"; }

    void window_created(HWND) override {}

    void window_destroyed(HWND hwnd) override {
        auto it = m_windows.find(hwnd);
        if (it == m_windows.end())
            return;
        SDL_DestroyWindow(it->second.window);
        m_windows.erase(it);
    }

    void window_changed(HWND hwnd) override;
    void surface_changed(HWND hwnd) override { present(hwnd); }
    void cursor_changed(HCURSOR cursor) override;
    void poll() override;
    int message_box(HWND owner, const std::string& text, const std::string& caption,
                    UINT type) override;
    void beep(UINT) override;

    bool wants_board_frames() const override { return true; }
    bool wants_tv_frames() const override { return m_tv_wanted; }
    void board_frame(const platform::Image& image) override { show_view(m_board, image, 0); }
    void tv_frame(bus::BoardDisplay::TvFields fields, double field_rate) override {
        if (!m_tv_wanted || field_rate <= 0)
            return;
        if (!m_tv_fields)
            m_tv_epoch = std::chrono::steady_clock::now();
        m_tv_fields = std::move(fields);
        m_tv_field_rate = field_rate;
        m_tv_shown = -1;
        show_tv_field();
    }
    void board_closed() override {
        m_tv_fields = nullptr;
        close_view(m_board);
        close_view(m_tv);
    }

private:
    void present(HWND hwnd);
    void handle(const SDL_Event& e);
    void handle_window_event(HWND hwnd, const SDL_WindowEvent& e);
    void handle_key(const SDL_KeyboardEvent& e);
    // What a message box's loop keeps between events.
    struct BoxInput {
        int pressed{0};   // the button under a mouse press, answered when released over it
        bool dirty{true}; // the box needs drawing
    };
    int box_event(MessageBoxView& view, Uint32 box_id, const SDL_Event& e, BoxInput& input);
    void user_moved(HWND hwnd, int x, int y);
    void user_sized(HWND hwnd, int width, int height);
    HWND program_window(Uint32 window_id) const;
    void show_view(BoardView& view, const platform::Image& image, int slot);
    void show_tv_field();
    void close_view(BoardView& view) {
        if (view.texture)
            SDL_DestroyTexture(view.texture);
        if (view.renderer)
            SDL_DestroyRenderer(view.renderer);
        if (view.window)
            SDL_DestroyWindow(view.window);
        view.texture = nullptr;
        view.renderer = nullptr;
        view.window = nullptr;
    }
    bool open_view(BoardView& view, const platform::Image& image, int slot);
    std::vector<SDL_Rect> windows_on_screen() const;
    bool open_audio();

    std::map<HWND, ShownWindow> m_windows;
    BoardView m_board;
    BoardView m_tv;
    SDL_Cursor* m_arrow{nullptr};
    SDL_Cursor* m_wait{nullptr};
    bool m_fullscreen{false};
    bool m_tv_wanted{false};
    bus::BoardDisplay::TvFields m_tv_fields;          // the TV set's fields of the shown frame
    double m_tv_field_rate{0};                        // fields a second
    std::chrono::steady_clock::time_point m_tv_epoch; // field 0 of the TV view
    int64_t m_tv_shown{-1};                           // the field in the window (-1: none)
    bool m_polling{false};                            // inside poll(): events are being handled
    int m_modal{0}; // message boxes up: their loops read the events
    SDL_AudioDeviceID m_audio{0};
    bool m_audio_failed{false};
};

// ---- program windows ----------------------------------------------------------------------

void SdlDisplay::window_changed(HWND hwnd) {
    Window* w = User::the().window(hwnd);
    if (!w)
        return;
    auto it = m_windows.find(hwnd);
    if (!(w->style & WS_VISIBLE)) {
        if (it != m_windows.end())
            SDL_HideWindow(it->second.window);
        return;
    }
    RECT c = client_rect_in_window(*w);
    int x = w->rect.left + c.left, y = w->rect.top + c.top;
    int width = std::max(1, int(c.right - c.left)), height = std::max(1, int(c.bottom - c.top));
    std::string title = utf8_of_ansi(w->title);

    if (it == m_windows.end()) {
        Uint32 flags = SDL_WINDOW_HIDDEN;
        if (w->style & WS_THICKFRAME)
            flags |= SDL_WINDOW_RESIZABLE;
        if ((w->style & WS_CAPTION) != WS_CAPTION)
            flags |= SDL_WINDOW_BORDERLESS;
        SDL_Window* window = SDL_CreateWindow(title.c_str(), x, y, width, height, flags);
        if (!window) {
            fprintf(stderr, "wintest: cannot open a window: %s\n", SDL_GetError());
            return;
        }
        it = m_windows.emplace(hwnd, ShownWindow{window, {}, {}}).first;
        remember(it->second.pending_moves, {x, y});
        SDL_ShowWindow(window);
        SDL_RaiseWindow(window); // a window being shown is activated
    }
    ShownWindow& shown = it->second;
    if (title != SDL_GetWindowTitle(shown.window))
        SDL_SetWindowTitle(shown.window, title.c_str());
    int now_w = 0, now_h = 0, now_x = 0, now_y = 0;
    SDL_GetWindowSize(shown.window, &now_w, &now_h);
    if (now_w != width || now_h != height) {
        remember(shown.pending_sizes, {width, height});
        SDL_SetWindowSize(shown.window, width, height);
    }
    SDL_GetWindowPosition(shown.window, &now_x, &now_y);
    if (now_x != x || now_y != y) {
        remember(shown.pending_moves, {x, y});
        SDL_SetWindowPosition(shown.window, x, y);
    }
    if (SDL_GetWindowFlags(shown.window) & SDL_WINDOW_HIDDEN)
        SDL_ShowWindow(shown.window);
    present(hwnd);
}

void SdlDisplay::present(HWND hwnd) {
    auto it = m_windows.find(hwnd);
    platform::Image* surface = window_surface(hwnd);
    if (it == m_windows.end() || !surface)
        return;
    present_image(it->second.window, *surface);
}

void SdlDisplay::cursor_changed(HCURSOR cursor) {
    std::string name = harness::cursor_name(cursor);
    if (name.empty()) {
        SDL_ShowCursor(SDL_DISABLE); // SetCursor(NULL) hides the pointer
        return;
    }
    SDL_SetCursor(name == "wait" ? m_wait : m_arrow);
    SDL_ShowCursor(SDL_ENABLE);
}

HWND SdlDisplay::program_window(Uint32 window_id) const {
    SDL_Window* window = SDL_GetWindowFromID(window_id);
    for (const auto& [hwnd, shown] : m_windows)
        if (shown.window == window)
            return hwnd;
    return nullptr;
}

// The window manager moved the window (the user dragged it): the same path as SetWindowPos,
// so the program hears WM_MOVE and the board can refuse.
void SdlDisplay::user_moved(HWND hwnd, int x, int y) {
    auto it = m_windows.find(hwnd);
    if (it == m_windows.end() || confirm(it->second.pending_moves, x, y))
        return;
    Window* w = User::the().window(hwnd);
    if (!w)
        return;
    RECT c = client_rect_in_window(*w);
    if (w->rect.left + c.left == x && w->rect.top + c.top == y)
        return;
    SetWindowPos(hwnd, nullptr, x - c.left, y - c.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The user sized the window: the client area is the SDL window, the frame is added around it.
void SdlDisplay::user_sized(HWND hwnd, int width, int height) {
    auto it = m_windows.find(hwnd);
    if (it == m_windows.end() || confirm(it->second.pending_sizes, width, height))
        return;
    Window* w = User::the().window(hwnd);
    if (!w)
        return;
    RECT c = client_rect_in_window(*w);
    int extra_w = (w->rect.right - w->rect.left) - (c.right - c.left);
    int extra_h = (w->rect.bottom - w->rect.top) - (c.bottom - c.top);
    if (c.right - c.left == width && c.bottom - c.top == height)
        return;
    SetWindowPos(hwnd, nullptr, 0, 0, width + extra_w, height + extra_h,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- input --------------------------------------------------------------------------------

void SdlDisplay::poll() {
    if (m_polling || m_modal)
        return; // re-entered from a handler, or a message box's loop is reading the events
    m_polling = true;
    SDL_Event e;
    while (SDL_PollEvent(&e))
        handle(e);
    show_tv_field();
    m_polling = false;
}

void SdlDisplay::handle(const SDL_Event& e) {
    switch (e.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        handle_key(e.key);
        break;
    case SDL_WINDOWEVENT:
        if (HWND hwnd = program_window(e.window.windowID))
            handle_window_event(hwnd, e.window);
        break;
    case SDL_MOUSEMOTION:
        // Windows asks the window under the pointer for its cursor at every move.
        if (HWND hwnd = program_window(e.motion.windowID))
            SendMessageA(hwnd, WM_SETCURSOR, WPARAM(hwnd), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        break;
    default:
        break;
    }
}

void SdlDisplay::handle_window_event(HWND hwnd, const SDL_WindowEvent& e) {
    switch (e.event) {
    case SDL_WINDOWEVENT_CLOSE:
        PostMessageA(hwnd, WM_CLOSE, 0, 0); // the close button
        break;
    case SDL_WINDOWEVENT_MOVED:
        user_moved(hwnd, e.data1, e.data2);
        break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        user_sized(hwnd, e.data1, e.data2);
        break;
    case SDL_WINDOWEVENT_EXPOSED:
        present(hwnd); // at once from the surface, then the program repaints it
        InvalidateRect(hwnd, nullptr, TRUE);
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        if (GetFocus() != hwnd)
            SetFocus(hwnd);
        break;
    default:
        break;
    }
}

// Keys typed into a program window go to that window; keys typed into the board's monitor
// or TV view go to the focus window, as on a machine whose board owns the second screen.
void SdlDisplay::handle_key(const SDL_KeyboardEvent& e) {
    bool num_lock = (e.keysym.mod & KMOD_NUM) != 0; // as it was at this key, not at the last
    UINT vk = sdl::virtual_key(e.keysym.scancode, e.keysym.sym, num_lock);
    if (!vk)
        return;
    harness::inject_key(vk, e.type == SDL_KEYDOWN, program_window(e.windowID));
}

// ---- the board's monitor and TV view -------------------------------------------------------

// The program's windows and the board's windows that are on the screen, frames included.
std::vector<SDL_Rect> SdlDisplay::windows_on_screen() const {
    std::vector<SDL_Window*> windows;
    for (const auto& [hwnd, shown] : m_windows)
        windows.push_back(shown.window);
    windows.push_back(m_board.window);
    windows.push_back(m_tv.window);
    std::vector<SDL_Rect> taken;
    for (SDL_Window* window : windows) {
        if (!window || (SDL_GetWindowFlags(window) & SDL_WINDOW_HIDDEN))
            continue;
        SDL_Rect r{};
        int top = 0, left = 0, bottom = 0, right = 0;
        SDL_GetWindowPosition(window, &r.x, &r.y);
        SDL_GetWindowSize(window, &r.w, &r.h);
        SDL_GetWindowBordersSize(window, &top, &left, &bottom, &right); // 0s without a manager
        taken.push_back({r.x - left, r.y - top, r.w + left + right, r.h + top + bottom});
    }
    return taken;
}

bool SdlDisplay::open_view(BoardView& view, const platform::Image& image, int slot) {
    int x = int(SDL_WINDOWPOS_UNDEFINED), y = int(SDL_WINDOWPOS_UNDEFINED);
    SDL_Rect usable{};
    if (SDL_GetDisplayUsableBounds(0, &usable) == 0) {
        SDL_Point at = place_board_window(usable, image.width, image.height, windows_on_screen());
        x = at.x;
        y = at.y;
    }
    // Hidden until the renderer is made: making it may recreate the window.
    Uint32 flags = SDL_WINDOW_HIDDEN;
    if (m_fullscreen && slot == 0)
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    view.window = SDL_CreateWindow(view.title, x, y, image.width, image.height, flags);
    if (view.window)
        view.renderer = SDL_CreateRenderer(view.window, -1, 0);
    if (view.renderer) {
        SDL_RenderSetLogicalSize(view.renderer, image.width, image.height); // letterboxed
        view.texture = SDL_CreateTexture(view.renderer, SDL_PIXELFORMAT_RGB888,
                                         SDL_TEXTUREACCESS_STREAMING, image.width, image.height);
    }
    if (!view.texture) {
        fprintf(stderr, "wintest: cannot open the %s window: %s\n", view.title, SDL_GetError());
        close_view(view);
        return false;
    }
    view.width = image.width;
    view.height = image.height;
    SDL_ShowWindow(view.window);
    return true;
}

// The TV view's field of this moment, when it is not already up: the fields alternate at the
// set's field rate from the first TV picture after the board opened.
void SdlDisplay::show_tv_field() {
    if (!m_tv_fields)
        return;
    std::chrono::duration<double> since = std::chrono::steady_clock::now() - m_tv_epoch;
    auto field = int64_t(since.count() * m_tv_field_rate);
    if (field == m_tv_shown)
        return;
    m_tv_shown = field;
    show_view(m_tv, m_tv_fields(field), 1);
}

void SdlDisplay::show_view(BoardView& view, const platform::Image& image, int slot) {
    if (image.empty())
        return;
    if (view.window && (view.width != image.width || view.height != image.height))
        close_view(view);
    if (!view.window && !open_view(view, image, slot))
        return;
    SDL_UpdateTexture(view.texture, nullptr, image.pixels.data(), image.width * 4);
    SDL_RenderClear(view.renderer);
    SDL_RenderCopy(view.renderer, view.texture, nullptr, nullptr);
    SDL_RenderPresent(view.renderer);
}

// ---- message boxes --------------------------------------------------------------------------

int SdlDisplay::message_box(HWND owner, const std::string& text, const std::string& caption,
                            UINT type) {
    MessageBoxView view(text, type);
    auto owner_it = m_windows.find(owner);
    SDL_Window* parent = owner_it == m_windows.end() ? nullptr : owner_it->second.window;
    int x = int(SDL_WINDOWPOS_CENTERED), y = int(SDL_WINDOWPOS_CENTERED);
    if (parent) { // centred over the owner, kept on the screen
        int px, py, pw, ph;
        SDL_GetWindowPosition(parent, &px, &py);
        SDL_GetWindowSize(parent, &pw, &ph);
        x = std::max(0, px + (pw - view.width()) / 2);
        y = std::max(0, py + (ph - view.height()) / 2);
    }
    std::string title = utf8_of_ansi(caption);
    SDL_Window* box = SDL_CreateWindow(title.c_str(), x, y, view.width(), view.height(),
                                       SDL_WINDOW_ALWAYS_ON_TOP);
    if (!box) { // nowhere to show it: answered as a headless box would be
        fprintf(stderr, "wintest: message box \"%s\": %s\n", caption.c_str(), text.c_str());
        return default_button(type);
    }
    if (parent)
        SDL_SetWindowModalFor(box, parent);
    SDL_RaiseWindow(box);
    SDL_SetWindowInputFocus(box);
    Uint32 box_id = SDL_GetWindowID(box);
    ++m_modal;

    int answer = 0;
    BoxInput input;
    while (!answer) {
        SDL_Event e;
        while (!answer && SDL_PollEvent(&e))
            answer = box_event(view, box_id, e, input);
        if (answer)
            break;
        if (input.dirty) {
            present_image(box, view.render());
            input.dirty = false;
        }
        // A modal loop: the program's messages are dispatched while the box is up.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        // A plain sleep, not SDL_WaitEventTimeout: that one leaves a wake-up aimed at the box's
        // window, which a wake-up sent after the box is gone turns into an X error that ends
        // the program.
        SDL_Delay(5);
    }
    --m_modal;
    SDL_DestroyWindow(box);
    if (parent)
        SDL_RaiseWindow(parent);
    return answer;
}

// One event while a message box is up: the box's own input moves its selection or answers
// it (the answer, else 0); the owner, disabled meanwhile, still repaints and follows the
// window manager.
int SdlDisplay::box_event(MessageBoxView& view, Uint32 box_id, const SDL_Event& e,
                          BoxInput& input) {
    // Key presses belong to the box whichever window of the program has the focus: the owner
    // is disabled, and over a full-screen board the box is the only thing that can take them.
    bool for_box = (e.type == SDL_WINDOWEVENT && e.window.windowID == box_id) ||
                   e.type == SDL_KEYDOWN ||
                   ((e.type == SDL_MOUSEBUTTONDOWN || e.type == SDL_MOUSEBUTTONUP) &&
                    e.button.windowID == box_id);
    if (!for_box) {
        // No keys, clicks or closing for the owner.
        if (e.type == SDL_WINDOWEVENT && e.window.event != SDL_WINDOWEVENT_CLOSE) {
            if (HWND hwnd = program_window(e.window.windowID))
                handle_window_event(hwnd, e.window);
        } else if (e.type == SDL_KEYUP) {
            handle_key(e.key); // keys held before the box came up are released
        }
        return 0;
    }
    if (e.type == SDL_WINDOWEVENT) {
        if (e.window.event == SDL_WINDOWEVENT_CLOSE)
            return view.close_answer();
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED)
            input.dirty = true;
    } else if (e.type == SDL_KEYDOWN) {
        SDL_Keycode k = e.key.keysym.sym;
        if (k == SDLK_RETURN || k == SDLK_KP_ENTER || k == SDLK_SPACE)
            return view.selected();
        if (k == SDLK_ESCAPE)
            return view.escape_answer();
        if (k == SDLK_TAB || k == SDLK_RIGHT || k == SDLK_LEFT) {
            view.move_selection(k == SDLK_LEFT || (e.key.keysym.mod & KMOD_SHIFT) ? -1 : 1);
            input.dirty = true;
        } else if (k >= SDLK_a && k <= SDLK_z) {
            return view.button_of_letter(char('a' + (k - SDLK_a)));
        }
    } else if (e.type == SDL_MOUSEBUTTONDOWN && e.button.button == SDL_BUTTON_LEFT) {
        input.pressed = view.button_at(e.button.x, e.button.y);
    } else if (e.type == SDL_MOUSEBUTTONUP && e.button.button == SDL_BUTTON_LEFT) {
        int answer = input.pressed && view.button_at(e.button.x, e.button.y) == input.pressed
                         ? input.pressed
                         : 0;
        input.pressed = 0;
        return answer;
    }
    return 0;
}

// ---- sound ------------------------------------------------------------------------------------

bool SdlDisplay::open_audio() {
    if (m_audio || m_audio_failed)
        return m_audio != 0;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        SDL_AudioSpec want{};
        want.freq = k_beep_rate;
        want.format = AUDIO_S16SYS;
        want.channels = 1;
        want.samples = 512;
        m_audio = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    }
    m_audio_failed = m_audio == 0; // no sound here: beeps stay silent from now on
    if (m_audio)
        SDL_PauseAudioDevice(m_audio, 0);
    return m_audio != 0;
}

// A short tone; beeps that come faster than they play do not pile up beyond a second.
void SdlDisplay::beep(UINT) {
    if (!open_audio())
        return;
    if (SDL_GetQueuedAudioSize(m_audio) > Uint32(k_beep_rate * 2))
        return;
    constexpr int count = k_beep_rate * k_beep_milliseconds / 1000;
    constexpr int fade = k_beep_rate / 200; // 5 ms in and out, so the tone does not click
    std::vector<Sint16> samples(count);
    for (int i = 0; i < count; ++i) {
        double envelope = std::min({1.0, double(i) / fade, double(count - 1 - i) / fade});
        samples[size_t(i)] = Sint16(8000.0 * envelope *
                                    std::sin(2.0 * std::numbers::pi * k_beep_hz * i / k_beep_rate));
    }
    SDL_QueueAudio(m_audio, samples.data(), Uint32(samples.size() * sizeof(Sint16)));
}

} // namespace

platform::Result<std::unique_ptr<DisplayBackend>> make_sdl_display() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1"); // Ctrl+C and kill end the program as usual
    SDL_SetHint("SDL_QUIT_ON_LAST_WINDOW_CLOSE", "0");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    SDL_SetHint(SDL_HINT_RENDER_VSYNC, "0"); // the board keeps its own 60 Hz
    // Program windows and message boxes draw into the window system's own buffers: a
    // renderer behind them would recreate each window at its first picture, so that the
    // window seen a moment ago is gone.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "0"); // whole pixels when scaled
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return platform::fail(std::string("cannot open the display: ") + SDL_GetError());
    // Without a display SDL falls back to drivers that show nothing; only one asked for by
    // name (SDL_VIDEODRIVER) is taken.
    std::string driver = SDL_GetCurrentVideoDriver();
    if ((driver == "offscreen" || driver == "dummy") &&
        platform::env_string("SDL_VIDEODRIVER") != driver) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return platform::fail("no display to open, only SDL's " + driver + " driver");
    }
    return std::unique_ptr<DisplayBackend>(std::make_unique<SdlDisplay>());
}

} // namespace win32

#endif
