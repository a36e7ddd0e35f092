#include "desktop_win32.h"
#include "sheet_messages.h"

#include <chrono>

#include "platform/image.h"
#include "screen_protocol.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace propsheet::win {

namespace {

constexpr const char* k_listener_class = board::k_observer_class;
constexpr char k_dialog_class[] = "#32770"; // the class of message boxes and dialogs
constexpr char k_ime_class[] = "IME";
constexpr int k_show_wait_ms = 2000; // how long keys wait for a window that is not shown yet
constexpr char k_sheet_prefix[] = KVXPS_SHEET_PREFIX; // the messages the sheet sends

// Serves the desktop's messages until find() gives a value that tests true or `ms` passed;
// that value, or an empty one.
template <class Find> auto pump_until(Desktop& desktop, int ms, Find find) -> decltype(find()) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (auto found = find())
            return found;
        if (LONG(GetTickCount() - start) >= ms)
            return {};
        desktop.pump(10);
    }
}

std::string class_of(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

std::string text_of(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

BOOL CALLBACK collect_window(HWND window, LPARAM out) {
    reinterpret_cast<std::vector<HWND>*>(out)->push_back(window);
    return TRUE;
}

// The text of a message box: its static control that has text (the icon's has none).
std::string message_box_text(HWND box) {
    std::vector<HWND> children;
    EnumChildWindows(box, collect_window, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children)
        if (_stricmp(class_of(child).c_str(), "Static") == 0 && !text_of(child).empty())
            return text_of(child);
    return {};
}

// The environment of this process with the extra entries added or replaced, as a block of
// NUL-terminated entries closed by an empty one.
std::string environment_block(const std::vector<std::string>& extra_env) {
    std::vector<std::string> entries;
    if (char* block = GetEnvironmentStringsA()) {
        for (const char* p = block; *p; p += std::strlen(p) + 1)
            entries.emplace_back(p);
        FreeEnvironmentStringsA(block);
    }
    for (const std::string& extra : extra_env) {
        std::string name = extra.substr(0, extra.find('=') + 1);
        std::erase_if(entries, [&](const std::string& e) {
            return _strnicmp(e.c_str(), name.c_str(), name.size()) == 0;
        });
        entries.push_back(extra);
    }
    std::string out;
    for (const std::string& e : entries)
        out += e + '\0';
    return out + '\0';
}

// The debug string of an OUTPUT_DEBUG_STRING_EVENT, read from the program's memory.
std::string read_debug_string(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
    size_t length = info.nDebugStringLength;
    if (length == 0 || length > 65536)
        return {};
    if (info.fUnicode) {
        std::wstring wide(length, L'\0');
        SIZE_T got = 0;
        ReadProcessMemory(process, info.lpDebugStringData, wide.data(), length * 2, &got);
        wide.resize(got / 2);
        wide = wide.c_str();
        std::string out;
        for (wchar_t c : wide)
            out += c < 0x80 ? char(c) : '?';
        return out;
    }
    std::string text(length, '\0');
    SIZE_T got = 0;
    ReadProcessMemory(process, info.lpDebugStringData, text.data(), length, &got);
    text.resize(got);
    return text.c_str(); // up to the terminating NUL
}

} // namespace

// A started program: its debugging thread creates it and receives its debug events.
struct Desktop::Program {
    Desktop* desktop{nullptr};
    std::string path;
    std::string command_line;
    std::string environment; // empty: this process's
    HANDLE started{nullptr}; // set once CreateProcessA has returned
    HANDLE thread{nullptr};
    DWORD pid{0};
    DWORD create_error{0};
    bool ended{false}; // guarded by the desktop's mutex
    int exit_code{0};

    static DWORD WINAPI debug_loop(void* self);
    void run();
};

DWORD WINAPI Desktop::Program::debug_loop(void* self) {
    static_cast<Program*>(self)->run();
    return 0;
}

// Runs the program as its debugger: debug strings and the exit code arrive as debug events.
// The first breakpoint (the loader's) is passed over; every other exception is left to the
// program, as if no debugger were there.
void Desktop::Program::run() {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    BOOL ok = CreateProcessA(
        path.c_str(), command_line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
        environment.empty() ? nullptr : environment.data(), nullptr, &startup, &info);
    create_error = ok ? 0 : GetLastError();
    pid = ok ? info.dwProcessId : 0;
    SetEvent(started);
    if (!ok)
        return;
    CloseHandle(info.hThread);
    bool first_breakpoint = true;
    DEBUG_EVENT event;
    while (WaitForDebugEvent(&event, INFINITE)) {
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile)
                CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile)
                CloseHandle(event.u.LoadDll.hFile);
            break;
        case OUTPUT_DEBUG_STRING_EVENT: {
            Event e;
            e.kind = EventKind::Debug;
            e.pid = int(pid);
            e.text = read_debug_string(info.hProcess, event.u.DebugString);
            desktop->record(std::move(e));
            break;
        }
        case EXCEPTION_DEBUG_EVENT:
            if (first_breakpoint &&
                event.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT)
                first_breakpoint = false;
            else
                status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case EXIT_PROCESS_DEBUG_EVENT: {
            Event e;
            e.kind = EventKind::Exit;
            e.pid = int(pid);
            e.code = int(event.u.ExitProcess.dwExitCode & 0xFF); // as on Linux
            desktop->record(e);
            ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
            CloseHandle(info.hProcess);
            std::lock_guard guard(desktop->m_mutex);
            ended = true;
            exit_code = e.code;
            return;
        }
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
}

Desktop::Desktop() = default;

Desktop::~Desktop() {
    for (auto& program : m_programs) {
        if (program->thread)
            CloseHandle(program->thread);
        if (program->started)
            CloseHandle(program->started);
    }
    if (m_listener)
        DestroyWindow(m_listener);
}

LRESULT CALLBACK Desktop::listener_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<Desktop*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && message == WM_COPYDATA)
        return self->board_event(reinterpret_cast<const COPYDATASTRUCT*>(lparam)) ? TRUE : FALSE;
    if (self && message >= 0xC000 && message != self->m_own_message) {
        for (const auto& [number, name] : self->m_names) {
            if (number != message)
                continue;
            Event e;
            e.kind = EventKind::Broadcast;
            // A broadcast does not say who sent it. The property sheet's messages come from
            // the sheet of this process (also when it answers from inside a program's
            // broadcast); any other is taken for the last program started that still runs.
            if (name.rfind(k_sheet_prefix, 0) == 0)
                e.pid = int(GetCurrentProcessId());
            for (auto it = self->m_programs.rbegin(); !e.pid && it != self->m_programs.rend();
                 ++it) {
                std::lock_guard guard(self->m_mutex);
                if (!(*it)->ended) {
                    e.pid = int((*it)->pid);
                    break;
                }
            }
            e.name = name;
            e.wparam = wparam;
            e.lparam = int64_t(lparam);
            self->record(std::move(e));
            return 0;
        }
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// A call of the board's extensions, told by the board of the program (screen_protocol.h).
bool Desktop::board_event(const COPYDATASTRUCT* data) {
    if (!data || data->dwData != board::k_board_event || !data->lpData)
        return false;
    std::istringstream in(std::string(static_cast<const char*>(data->lpData), data->cbData));
    std::string what;
    in >> what;
    Event e;
    e.pid = int(m_programs.empty() ? 0 : m_programs.back()->pid);
    if (what == "gamma") {
        e.kind = EventKind::Gamma;
        in >> e.gamma[0] >> e.gamma[1] >> e.gamma[2];
    } else if (what == "tv") {
        e.kind = EventKind::Tv;
        for (int32_t& field : e.tv)
            in >> field;
    } else {
        return false;
    }
    record(std::move(e));
    return true;
}

platform::Status Desktop::listen(const std::vector<std::string>& names) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = listener_proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = k_listener_class;
    RegisterClassA(&wc);
    m_listener = CreateWindowExA(0, k_listener_class, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 wc.hInstance, nullptr);
    if (!m_listener)
        return platform::fail("cannot create the listening window (error " +
                              std::to_string(GetLastError()) + ")");
    SetWindowLongPtrA(m_listener, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    for (const std::string& name : names)
        m_names.emplace_back(RegisterWindowMessageA(name.c_str()), name);
    m_seen_windows.clear();
    std::vector<HWND> existing;
    EnumWindows(collect_window, reinterpret_cast<LPARAM>(&existing));
    m_seen_windows = existing;
    return {};
}

platform::Result<DWORD> Desktop::start_program(const std::string& path, const std::string& tail,
                                               const std::vector<std::string>& extra_env) {
    auto program = std::make_unique<Program>();
    program->desktop = this;
    program->path = path;
    program->command_line = "\"" + path + "\" " + tail;
    if (!extra_env.empty())
        program->environment = environment_block(extra_env);
    program->started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    program->thread = CreateThread(nullptr, 0, Program::debug_loop, program.get(), 0, nullptr);
    if (!program->started || !program->thread)
        return platform::fail("cannot start the debugging thread");
    WaitForSingleObject(program->started, INFINITE);
    DWORD pid = program->pid;
    std::string why = "CreateProcess failed for " + path + " (error " +
                      std::to_string(program->create_error) + ")";
    m_programs.push_back(std::move(program));
    if (!pid)
        return platform::fail(why);
    return pid;
}

void Desktop::record(Event event) {
    event.program = DWORD(event.pid) == GetCurrentProcessId() ? "propsheet" : "wintest";
    event.time_us = uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count());
    std::lock_guard guard(m_mutex);
    m_events.push_back(std::move(event));
}

std::vector<Event> Desktop::events() {
    std::lock_guard guard(m_mutex);
    return m_events;
}

Desktop::Program* Desktop::find_program(DWORD pid) {
    for (auto& program : m_programs)
        if (program->pid == pid)
            return program.get();
    return nullptr;
}

// Records the windows and message boxes of the started programs that appeared since the last
// look.
void Desktop::look_at_windows() {
    std::vector<HWND> now;
    EnumWindows(collect_window, reinterpret_cast<LPARAM>(&now));
    for (HWND window : now) {
        if (std::find(m_seen_windows.begin(), m_seen_windows.end(), window) != m_seen_windows.end())
            continue;
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (!find_program(pid))
            continue; // a window of Wine's or of another program: looked at again later
        if (class_of(window) == k_dialog_class && !IsWindowVisible(window))
            continue; // a message box gets its caption and text before it is shown
        m_seen_windows.push_back(window);
        if (class_of(window) == k_ime_class)
            continue; // the system's input method window of each thread with windows
        Event e;
        e.pid = int(pid);
        e.name = class_of(window);
        e.text = text_of(window);
        if (e.name == k_dialog_class) {
            e.kind = EventKind::Box;
            e.caption = e.text;
            e.text = message_box_text(window);
            e.name.clear();
        } else {
            e.kind = EventKind::Window;
        }
        record(std::move(e));
    }
}

void Desktop::pump(int ms) {
    DWORD deadline = GetTickCount() + DWORD(std::max(ms, 0));
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        look_at_windows();
        LONG left = LONG(deadline - GetTickCount());
        if (left <= 0)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(std::min<LONG>(left, 10)), QS_ALLINPUT);
    }
}

std::optional<int> Desktop::wait_exit(DWORD pid, int ms) {
    return pump_until(*this, ms, [&]() -> std::optional<int> {
        std::lock_guard guard(m_mutex);
        for (const Event& e : m_events)
            if (e.kind == EventKind::Exit && DWORD(e.pid) == pid)
                return e.code;
        return std::nullopt;
    });
}

std::vector<WindowInfo> Desktop::windows(DWORD pid) {
    std::vector<HWND> all;
    EnumWindows(collect_window, reinterpret_cast<LPARAM>(&all));
    std::vector<WindowInfo> out;
    for (HWND window : all) {
        WindowInfo info;
        GetWindowThreadProcessId(window, &info.pid);
        if (pid ? info.pid != pid : info.pid == GetCurrentProcessId())
            continue;
        info.hwnd = window;
        info.class_name = class_of(window);
        info.title = text_of(window);
        info.visible = IsWindowVisible(window) != FALSE;
        GetWindowRect(window, &info.window);
        GetClientRect(window, &info.client);
        MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&info.client), 2);
        out.push_back(info);
    }
    return out;
}

std::optional<WindowInfo> Desktop::wait_window(DWORD pid, const std::string& class_name, int ms) {
    return pump_until(*this, ms, [&]() -> std::optional<WindowInfo> {
        for (const WindowInfo& info : windows(pid))
            if (info.class_name == class_name)
                return info;
        return std::nullopt;
    });
}

// Keys go in as real input when the window can be brought to the foreground: SendInput then
// updates the key state that GetKeyState reads, and the system makes WM_SYSKEYDOWN of Alt and
// F10. Otherwise the key messages are posted to the window, with the lParam that real input
// would carry. A program's window is found as soon as it is made and shown a moment later, and
// a hidden window cannot take the foreground: keys for it wait until it is shown, for at most
// k_show_wait_ms, so that keys sent right after a program started are real input too.
platform::Status Desktop::inject_key(HWND window, UINT vk, bool down) {
    return inject_keys(window, {{vk, down}});
}

// A key message as the system posts it: repeat count 1, the scan code, and for a key-up the
// previous state and the transition bits.
static bool post_key(HWND window, UINT vk, bool down) {
    UINT scan = MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    bool sys = vk == VK_MENU || vk == VK_F10;
    UINT message = down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
    LPARAM lparam = 1 | LPARAM(scan & 0xFF) << 16;
    if (!down)
        lparam |= LPARAM(3) << 30; // previous state down, transition up
    return PostMessageA(window, message, vk, lparam) != 0;
}

platform::Status Desktop::inject_keys(HWND window,
                                      const std::vector<std::pair<UINT, bool>>& strokes) {
    pump_until(*this, k_show_wait_ms, [&] { return !IsWindow(window) || IsWindowVisible(window); });
    if (!IsWindow(window))
        return platform::fail("no such window");
    SetForegroundWindow(window);
    if (GetForegroundWindow() == window) {
        std::vector<INPUT> inputs(strokes.size());
        for (size_t i = 0; i < strokes.size(); ++i) {
            inputs[i].type = INPUT_KEYBOARD;
            inputs[i].ki.wVk = WORD(strokes[i].first);
            inputs[i].ki.wScan = WORD(MapVirtualKeyA(strokes[i].first, MAPVK_VK_TO_VSC));
            inputs[i].ki.dwFlags = strokes[i].second ? 0 : KEYEVENTF_KEYUP;
        }
        if (SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size())
            return {};
    }
    for (const auto& [vk, down] : strokes)
        if (!post_key(window, vk, down))
            return platform::fail("PostMessage failed (error " + std::to_string(GetLastError()) +
                                  ")");
    return {};
}

platform::Status Desktop::window_command(HWND window, WindowCommand command, int x, int y) {
    BOOL ok = FALSE;
    switch (command) {
    case WindowCommand::Close:
        ok = PostMessageA(window, WM_CLOSE, 0, 0);
        break;
    case WindowCommand::Move:
        ok = SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        break;
    case WindowCommand::Resize:
        ok = SetWindowPos(window, nullptr, 0, 0, x, y,
                          SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
        break;
    case WindowCommand::DisplayChange: {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        ok = TRUE;
        for (const WindowInfo& info : windows(pid))
            if (!SendNotifyMessageA(info.hwnd, WM_DISPLAYCHANGE, 32, MAKELPARAM(x, y)))
                ok = FALSE;
        break;
    }
    }
    if (!ok)
        return platform::fail("window command failed (error " + std::to_string(GetLastError()) +
                              ")");
    return {};
}

platform::Status Desktop::window_picture(HWND window, const std::string& png_path) {
    RECT client;
    if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0)
        return platform::fail("the window has no client area");
    int width = client.right, height = client.bottom;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (dib && bits) {
        HGDIOBJ old = SelectObject(memory, dib);
        ok = PrintWindow(window, memory, PW_CLIENTONLY) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
    }
    platform::Image image(width, height);
    if (ok)
        for (size_t i = 0; i < image.pixels.size(); ++i)
            image.pixels[i] = static_cast<const uint32_t*>(bits)[i] & 0x00FFFFFFu;
    if (dib)
        DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!ok)
        return platform::fail("PrintWindow failed");
    return platform::write_png(png_path, image);
}

platform::Status Desktop::board_request(const std::string& what, const std::string& path) {
    HWND screen = FindWindowA(board::k_screen_class, nullptr);
    if (!screen)
        return platform::fail("no board screen window (the board was never opened)");
    std::string text = what + " " + path;
    COPYDATASTRUCT data{};
    data.dwData = board::k_screen_request;
    data.cbData = DWORD(text.size() + 1);
    data.lpData = text.data();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(screen, WM_COPYDATA, reinterpret_cast<WPARAM>(m_listener),
                             reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 5000, &result) ||
        !result)
        return platform::fail("the board did not write " + path);
    return {};
}

bool Desktop::broadcast(const std::string& name, WPARAM wparam, LPARAM lparam) {
    Event e;
    e.kind = EventKind::Broadcast;
    e.pid = int(GetCurrentProcessId());
    e.name = name;
    e.wparam = wparam;
    e.lparam = int64_t(lparam);
    record(e);
    // The hidden window of this process hears this broadcast too; it is recorded once, above.
    // What the programs broadcast while they answer is still heard.
    m_own_message = RegisterWindowMessageA(name.c_str());
    DWORD_PTR result = 0;
    LRESULT ok = SendMessageTimeoutA(HWND_BROADCAST, m_own_message, wparam, lparam,
                                     SMTO_ABORTIFHUNG, 5000, &result);
    m_own_message = 0;
    return ok != 0;
}

void Desktop::kill(DWORD pid) {
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid)) {
        TerminateProcess(process, 137);
        CloseHandle(process);
    }
}

void Desktop::answer_message_boxes(DWORD pid) {
    for (const WindowInfo& info : windows(pid))
        if (info.class_name == k_dialog_class)
            PostMessageA(info.hwnd, WM_COMMAND, IDOK, 0);
}

} // namespace propsheet::win
