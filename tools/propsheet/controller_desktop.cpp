// The controller over this platform's desktop bus.
#include "controller.h"

#include "win32/desktop.h"
#include "win32/registry.h"

#include <chrono>
#include <csignal>
#include <deque>
#include <mutex>

namespace propsheet {

namespace {

namespace desktop = win32::desktop;
using Clock = std::chrono::steady_clock;

constexpr const char* kTestWindowClass = "WinGlideClass";

class DesktopController final : public Controller {
public:
    DesktopController() {
        desktop::on_event([this](const platform::Event& e) {
            std::lock_guard lock(m_mutex);
            m_events.push_back(e);
            if (e.kind == platform::EventKind::Exit && e.pid == m_pid)
                m_running = false;
        });
    }

    ~DesktopController() override {
        desktop::on_event(nullptr);
        kill_program();
    }

    int start(const std::string& program, const std::string& command_line,
              std::string* error) override {
        int pid = desktop::start_program(program, command_line, {}, error);
        std::lock_guard lock(m_mutex);
        m_pid = pid;
        m_running = pid > 0;
        return pid;
    }

    void kill_program() override {
        std::lock_guard lock(m_mutex);
        if (m_running && m_pid > 0)
            ::kill(m_pid, SIGKILL);
    }

    int program_pid() const override {
        std::lock_guard lock(m_mutex);
        return m_pid;
    }

    bool key(unsigned vk, bool down, int wait_ms, std::string* error) override {
        auto w = test_window(wait_ms, error);
        return w && desktop::inject_key(*w, vk, down, error);
    }

    bool window(WindowAction action, int x, int y, int wait_ms, std::string* error) override {
        auto w = test_window(wait_ms, error);
        if (!w)
            return false;
        static const desktop::WindowCommand commands[] = {
            desktop::WindowCommand::Close, desktop::WindowCommand::Move,
            desktop::WindowCommand::Resize, desktop::WindowCommand::DisplayChange};
        return desktop::window_command(*w, commands[int(action)], x, y, error);
    }

    bool screenshot(Shot shot, const std::string& png_path, int wait_ms,
                    std::string* error) override {
        auto w = test_window(wait_ms, error);
        if (!w)
            return false;
        desktop::Picture which = shot == Shot::Board ? desktop::Picture::Screen
                                 : shot == Shot::Tv  ? desktop::Picture::Tv
                                                     : desktop::Picture::Window;
        return desktop::picture(w->pid, which, w->hwnd, png_path, error);
    }

    std::optional<uint64_t> frame_count(std::string* error) override {
        return desktop::frame_count(program_pid(), error);
    }

    std::optional<SheetEvent> next_event() override {
        std::lock_guard lock(m_mutex);
        if (m_events.empty())
            return std::nullopt;
        SheetEvent e = std::move(m_events.front());
        m_events.pop_front();
        return e;
    }

    void wait(int ms) override { desktop::wait(ms); }
    void wake() override { desktop::wake(); }

private:
    // The program's test window, waiting for it to appear; the window of the program is
    // looked up again each time, so a request never goes to a window that has gone.
    std::optional<desktop::WindowInfo> test_window(int wait_ms, std::string* error) {
        int pid = program_pid();
        if (pid <= 0) {
            if (error)
                *error = "no program started";
            return std::nullopt;
        }
        auto until = Clock::now() + std::chrono::milliseconds(wait_ms);
        for (;;) {
            std::string why;
            for (auto& w : desktop::windows(pid, &why))
                if (w.class_name == kTestWindowClass)
                    return w;
            bool running;
            {
                std::lock_guard lock(m_mutex);
                running = m_running;
            }
            if (!running || Clock::now() >= until) {
                if (error)
                    *error = !running ? "the program has ended"
                                      : "the program has no test window" +
                                            (why.empty() ? std::string() : " (" + why + ")");
                return std::nullopt;
            }
            desktop::wait(10);
        }
    }

    mutable std::mutex m_mutex;
    std::deque<SheetEvent> m_events;
    int m_pid{0};
    bool m_running{false};
};

} // namespace

std::unique_ptr<Controller> Controller::create(std::string* error) {
    if (!desktop::join(true)) {
        if (error)
            *error = "cannot join the desktop";
        return nullptr;
    }
    return std::make_unique<DesktopController>();
}

bool export_registry_text(const std::string& key_path, std::string& text, std::string* error) {
    auto r = win32::export_registry(key_path);
    if (!r) {
        if (error)
            *error = r.message();
        return false;
    }
    text = std::move(*r);
    return true;
}

bool import_registry_text(const std::string& text, std::string* error) {
    auto r = win32::import_registry(text);
    if (!r && error)
        *error = r.message();
    return bool(r);
}

} // namespace propsheet
