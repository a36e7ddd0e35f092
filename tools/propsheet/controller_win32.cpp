// The controller on Windows, over the desktop of win/desktop_win32.h: the program runs under
// this process as its debugger, its broadcasts reach a hidden window, the board answers
// requests at its screen window and tells this process of its gamma and TV calls. Beeps leave
// no trace that another process can see on Windows, so none are reported.
#include "controller.h"
#include "sheet_messages.h"

#include "desktop_win32.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace propsheet {

namespace {

namespace win = propsheet::win;
using Clock = std::chrono::steady_clock;

constexpr char kTestWindowClass[] = "WinGlideClass";

const char* const kMessageNames[] = {
    KVXPS_TV_UNDERSCAN_OVERSCAN, KVXPS_TV_APPLICATION_CLOSED, KVXPS_GAMMA_APPLICATION_CLOSED,
    KVXPS_SHEET_CLOSED,          KVXPS_GLIDE_GAMMA_CHANGED,   KVXPS_GLIDE_GAMMA_ENABLE,
    KVXPS_GLIDE_GAMMA_DEFAULT,   KVXPS_SHEET_GAMMA_CHANGED,   KVXPS_SHEET_GAMMA_ENABLE,
};

// The facts of a window of another process: its styles from the window itself, the focus
// from the GUI state of the thread that owns it.
WindowFacts facts_of(const win::WindowInfo& w) {
    WindowFacts f = window_facts(w);
    f.style = uint32_t(GetWindowLongA(w.hwnd, GWL_STYLE));
    f.ex_style = uint32_t(GetWindowLongA(w.hwnd, GWL_EXSTYLE));
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    DWORD thread = GetWindowThreadProcessId(w.hwnd, nullptr);
    if (GetGUIThreadInfo(thread, &gui) && gui.hwndFocus)
        f.focus = gui.hwndFocus == w.hwnd || IsChild(w.hwnd, gui.hwndFocus);
    return f;
}

// The program's file: the path as given, else with ".exe" added.
std::string program_file(const std::string& path) {
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return path;
    return path + ".exe";
}

class WindowsController final : public Controller {
public:
    WindowsController() : m_wake(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

    ~WindowsController() override {
        kill_program();
        if (m_wake)
            CloseHandle(m_wake);
    }

    platform::Status listen() {
        return m_desktop.listen({std::begin(kMessageNames), std::end(kMessageNames)});
    }

    platform::Result<int> start(const std::string& program,
                                const std::string& command_line) override {
        auto started = m_desktop.start_program(program_file(program), command_line, {});
        if (!started)
            return started.error();
        DWORD pid = *started;
        if (!m_pid)
            m_pid = pid;
        m_started.push_back(pid);
        return int(pid);
    }

    void kill_program() override {
        for (DWORD pid : m_started)
            if (!m_desktop.wait_exit(pid, 0))
                m_desktop.kill(pid);
    }

    int program_pid() const override { return int(m_pid); }

    platform::Status key(unsigned vk, bool down, int wait_ms) override {
        auto w = test_window(wait_ms);
        if (!w)
            return w.error();
        return m_desktop.inject_key(*w, vk, down);
    }

    platform::Status keys(const std::vector<KeyStroke>& strokes, int wait_ms) override {
        auto w = test_window(wait_ms);
        if (!w)
            return w.error();
        return m_desktop.inject_keys(*w, key_pairs(strokes));
    }

    platform::Status window(WindowAction action, int x, int y, int wait_ms) override {
        auto w = test_window(wait_ms);
        if (!w)
            return w.error();
        static const win::WindowCommand commands[] = {
            win::WindowCommand::Close, win::WindowCommand::Move, win::WindowCommand::Resize,
            win::WindowCommand::DisplayChange};
        return m_desktop.window_command(*w, commands[int(action)], x, y);
    }

    platform::Status screenshot(Shot shot, const std::string& png_path, int wait_ms) override {
        auto w = test_window(wait_ms);
        if (!w)
            return w.error();
        if (shot == Shot::Window)
            return m_desktop.window_picture(*w, png_path);
        const char* what = shot == Shot::Board      ? "screen"
                           : shot == Shot::TvField0 ? "tv0"
                           : shot == Shot::TvField1 ? "tv1"
                                                    : "tv";
        return m_desktop.board_request(what, png_path);
    }

    // Asks again while the program runs and the bound allows: the board's screen window
    // exists only once the program has opened the board.
    platform::Result<uint64_t> frame_count(int wait_ms) override {
        auto until = Clock::now() + std::chrono::milliseconds(wait_ms);
        for (;;) {
            auto frames = board_frames();
            if (frames)
                return *frames;
            const std::string& why = frames.message();
            bool ended = !m_pid || m_desktop.wait_exit(m_pid, 0).has_value();
            if (ended || Clock::now() >= until)
                return platform::fail(ended ? "the program has ended" : why);
            m_desktop.pump(10);
        }
    }

    platform::Result<std::vector<WindowFacts>> windows(int wait_ms) override {
        std::vector<WindowFacts> all;
        auto until = Clock::now() + std::chrono::milliseconds(wait_ms);
        for (;;) {
            for (DWORD pid : m_started)
                for (const win::WindowInfo& w : m_desktop.windows(pid))
                    all.push_back(facts_of(w));
            bool ended = !m_pid || m_desktop.wait_exit(m_pid, 0).has_value();
            if (!all.empty())
                return all;
            if (ended || Clock::now() >= until)
                return platform::fail(ended ? "the program has ended"
                                            : "the program has no window yet");
            m_desktop.pump(10);
        }
    }

    std::optional<SheetEvent> next_event() override {
        std::vector<win::Event> all = m_desktop.events();
        if (m_next >= all.size())
            return std::nullopt;
        const win::Event& heard = all[m_next++];
        SheetEvent e(heard);
        e.time_us = heard.time_us;
        bool started =
            std::find(m_started.begin(), m_started.end(), DWORD(e.pid)) != m_started.end();
        if (e.kind == SheetEvent::Kind::Window && started)
            for (const win::WindowInfo& info : m_desktop.windows(DWORD(e.pid)))
                if (info.class_name == e.name && info.title == e.text)
                    e.window = facts_of(info);
        // A box, once reported, is answered with its default button, as the headless display
        // answers it on Linux; else the program would wait for a user who is not there.
        if (e.kind == SheetEvent::Kind::Box && started)
            m_desktop.answer_message_boxes(DWORD(e.pid));
        return e;
    }

    // Serves this process's messages and watches the desktop until something arrives, wake()
    // is called or `ms` passed.
    void wait(int ms) override {
        size_t seen = m_desktop.events().size();
        auto until = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            m_desktop.pump(0);
            if (m_desktop.events().size() != seen)
                return;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            if (left.count() <= 0)
                return;
            DWORD step = DWORD(std::min<long long>(left.count(), 10));
            if (MsgWaitForMultipleObjects(1, &m_wake, FALSE, step, QS_ALLINPUT) == WAIT_OBJECT_0)
                return;
        }
    }

    void wake() override { SetEvent(m_wake); }

private:
    // The board's frame count from its state file; a state without one is an error with an
    // empty message.
    platform::Result<uint64_t> board_frames() {
        char dir[MAX_PATH] = {}, file[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, dir);
        GetTempFileNameA(dir, "wts", 0, file);
        std::optional<uint64_t> frames;
        auto asked = m_desktop.board_request("state", file);
        if (asked) {
            std::ifstream in(file);
            for (std::string line; std::getline(in, line);)
                if (line.rfind("frames ", 0) == 0)
                    frames = std::strtoull(line.c_str() + 7, nullptr, 10);
        }
        DeleteFileA(file);
        if (!asked)
            return asked.error();
        if (!frames)
            return platform::fail("");
        return *frames;
    }

    // The program's test window, waiting for it to appear.
    platform::Result<HWND> test_window(int wait_ms) {
        if (!m_pid)
            return platform::fail("no program started");
        auto until = Clock::now() + std::chrono::milliseconds(wait_ms);
        for (;;) {
            for (const win::WindowInfo& w : m_desktop.windows(m_pid))
                if (w.class_name == kTestWindowClass)
                    return w.hwnd;
            bool ended = m_desktop.wait_exit(m_pid, 0).has_value();
            if (ended || Clock::now() >= until)
                return platform::fail(ended ? "the program has ended"
                                            : "the program has no test window");
            m_desktop.pump(10);
        }
    }

    win::Desktop m_desktop;
    HANDLE m_wake{nullptr};
    DWORD m_pid{0};               // the first program started
    std::vector<DWORD> m_started; // every program started
    size_t m_next{0};             // events handed out so far
};

// "name"="text" with the REGEDIT4 escapes.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// One key and its subkeys as REGEDIT4 sections.
void export_key(HKEY key, const std::string& path, std::string& text) {
    text += "[HKEY_LOCAL_MACHINE" + (path.empty() ? std::string() : "\\" + path) + "]\r\n";
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD name_size = sizeof(name), type = 0, size = 0;
        if (RegEnumValueA(key, i, name, &name_size, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            break;
        std::string data(size, '\0');
        name_size = sizeof(name);
        RegEnumValueA(key, i, name, &name_size, nullptr, &type,
                      reinterpret_cast<BYTE*>(data.data()), &size);
        data.resize(size);
        std::string line = name_size ? quoted(name) : "@";
        if (type == REG_SZ) {
            line += "=" + quoted(data.substr(0, data.find('\0')));
        } else if (type == REG_DWORD && data.size() == 4) {
            char hex[16];
            DWORD v;
            memcpy(&v, data.data(), 4);
            snprintf(hex, sizeof(hex), "%08lx", static_cast<unsigned long>(v));
            line += std::string("=dword:") + hex;
        } else {
            char head[32];
            snprintf(head, sizeof(head), "=hex(%lx):", static_cast<unsigned long>(type));
            line += head;
            for (size_t b = 0; b < data.size(); ++b) {
                char byte[4];
                snprintf(byte, sizeof(byte), "%s%02x", b ? "," : "", unsigned(uint8_t(data[b])));
                line += byte;
            }
        }
        text += line + "\r\n";
    }
    text += "\r\n";
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD name_size = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &name_size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        HKEY sub;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            export_key(sub, path.empty() ? name : path + "\\" + name, text);
            RegCloseKey(sub);
        }
    }
}

} // namespace

platform::Result<std::unique_ptr<Controller>> Controller::create() {
    auto controller = std::make_unique<WindowsController>();
    if (auto heard = controller->listen(); !heard)
        return heard.error();
    return std::unique_ptr<Controller>(std::move(controller));
}

platform::Result<std::string> export_registry_text(const std::string& key_path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return platform::fail("no such key: " + key_path);
    std::string text = "REGEDIT4\r\n\r\n";
    export_key(key, key_path, text);
    RegCloseKey(key);
    return text;
}

// The system's own importer (reg.exe) reads the REGEDIT4 text from a temporary file.
platform::Status import_registry_text(const std::string& text) {
    char dir[MAX_PATH] = {}, file[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "wtr", 0, file);
    {
        std::ofstream out(file, std::ios::binary);
        out << text;
    }
    std::string command = "reg.exe import \"" + std::string(file) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    DWORD code = 1;
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &info)) {
        WaitForSingleObject(info.hProcess, 60000);
        GetExitCodeProcess(info.hProcess, &code);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    DeleteFileA(file);
    if (code != 0)
        return platform::fail("reg import failed (exit code " + std::to_string(code) + ")");
    return {};
}

} // namespace propsheet
