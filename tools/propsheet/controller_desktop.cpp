// The controller over this platform's desktop bus.
#include "controller.h"
#include "session.h"

#include "win32/desktop.h"
#include "win32/registry.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <deque>
#include <mutex>
#include <unistd.h>

namespace propsheet {

namespace {

namespace desktop = win32::desktop;
using Clock = std::chrono::steady_clock;

constexpr const char* kTestWindowClass = "WinGlideClass";

WindowFacts facts_of(const desktop::WindowInfo& w) {
    WindowFacts f = window_facts(w);
    f.style = w.style;
    f.ex_style = w.ex_style;
    f.focus = w.focus;
    return f;
}

class DesktopController final : public Controller {
public:
    DesktopController() {
        desktop::on_event([this](const platform::Event& e) {
            // The sheet's own registry writes (factory values, reg set) are its commands,
            // not news.
            if (e.kind == platform::EventKind::Registry && e.pid == m_self)
                return;
            SheetEvent heard(e);
            heard.time_us = now_us();
            std::lock_guard lock(m_mutex);
            m_events.push_back(std::move(heard));
            if (e.kind == platform::EventKind::Exit)
                std::erase(m_running, e.pid);
        });
    }

    ~DesktopController() override {
        desktop::on_event(nullptr);
        kill_program();
    }

    platform::Result<int> start(const std::string& program,
                                const std::string& command_line) override {
        auto started = desktop::start_program(program, command_line, {});
        if (!started)
            return started;
        int pid = *started;
        std::lock_guard lock(m_mutex);
        if (pid > 0) {
            if (!m_pid)
                m_pid = pid;
            m_running.push_back(pid);
            m_started.push_back(pid);
        }
        return pid;
    }

    void kill_program() override {
        std::lock_guard lock(m_mutex);
        for (int pid : m_running)
            ::kill(pid, SIGKILL);
    }

    int program_pid() const override {
        std::lock_guard lock(m_mutex);
        return m_pid;
    }

    platform::Status key(unsigned vk, bool down, int wait_ms) override {
        auto w = test_window(wait_ms);
        if (!w)
            return w.error();
        return desktop::inject_key(*w, vk, down);
    }

    platform::Status keys(const std::vector<KeyStroke>& strokes, int wait_ms) override {
        auto w = test_window(wait_ms);
        if (!w)
            return w.error();
        return desktop::inject_keys(*w, key_pairs(strokes));
    }

    platform::Status window(WindowAction action, int x, int y, int wait_ms) override {
        auto w = test_window(wait_ms);
        if (!w)
            return w.error();
        static const desktop::WindowCommand commands[] = {
            desktop::WindowCommand::Close, desktop::WindowCommand::Move,
            desktop::WindowCommand::Resize, desktop::WindowCommand::DisplayChange};
        return desktop::window_command(*w, commands[int(action)], x, y);
    }

    platform::Status screenshot(Shot shot, const std::string& png_path, int wait_ms) override {
        auto w = test_window(wait_ms);
        if (!w)
            return w.error();
        desktop::Picture which = shot == Shot::Board      ? desktop::Picture::Screen
                                 : shot == Shot::Tv       ? desktop::Picture::Tv
                                 : shot == Shot::TvField0 ? desktop::Picture::TvField0
                                 : shot == Shot::TvField1 ? desktop::Picture::TvField1
                                                          : desktop::Picture::Window;
        return desktop::picture(w->pid, which, w->hwnd, png_path);
    }

    // Asks again while the program runs and the bound allows: before it has joined the
    // desktop and opened the board it cannot answer yet.
    platform::Result<uint64_t> frame_count(int wait_ms) override {
        auto until = Clock::now() + std::chrono::milliseconds(wait_ms);
        for (;;) {
            auto frames = desktop::frame_count(program_pid());
            if (frames)
                return *frames;
            const std::string& why = frames.message();
            if (!running() || Clock::now() >= until)
                return platform::fail(running() ? why : "the program has ended");
            desktop::wait(5);
        }
    }

    platform::Result<std::vector<WindowFacts>> windows(int wait_ms) override {
        std::vector<WindowFacts> all;
        auto until = Clock::now() + std::chrono::milliseconds(wait_ms);
        for (;;) {
            std::string why;
            for (int pid : started())
                if (auto found = desktop::windows(pid); !found)
                    why = found.message();
                else
                    for (auto& w : *found)
                        all.push_back(facts_of(w));
            if (!all.empty())
                return all;
            if (!running() || Clock::now() >= until)
                return platform::fail(running()
                                          ? "the program has no window yet" +
                                                (why.empty() ? std::string() : " (" + why + ")")
                                          : "the program has ended");
            desktop::wait(10);
        }
    }

    std::optional<SheetEvent> next_event() override {
        std::optional<SheetEvent> e;
        {
            std::lock_guard lock(m_mutex);
            if (m_events.empty())
                return std::nullopt;
            e = std::move(m_events.front());
            m_events.pop_front();
        }
        if (e->kind == SheetEvent::Kind::Window && is_started(e->pid))
            if (auto found = desktop::windows(e->pid))
                for (auto& w : *found)
                    if (w.class_name == e->name && w.title == e->text)
                        e->window = facts_of(w);
        return e;
    }

    void wait(int ms) override { desktop::wait(ms); }
    void wake() override { desktop::wake(); }

private:
    // The program's test window, waiting for it to appear; the window of the program is
    // looked up again each time, so a request never goes to a window that has gone.
    platform::Result<desktop::WindowInfo> test_window(int wait_ms) {
        int pid = program_pid();
        if (pid <= 0)
            return platform::fail("no program started");
        auto until = Clock::now() + std::chrono::milliseconds(wait_ms);
        for (;;) {
            auto found = desktop::windows(pid);
            if (found)
                for (auto& w : *found)
                    if (w.class_name == kTestWindowClass)
                        return w;
            std::string why = found ? std::string() : found.message();
            if (!running() || Clock::now() >= until)
                return platform::fail(!running()
                                          ? "the program has ended"
                                          : "the program has no test window" +
                                                (why.empty() ? std::string() : " (" + why + ")"));
            desktop::wait(10);
        }
    }

    bool is_started(int pid) const {
        std::lock_guard lock(m_mutex);
        return std::find(m_started.begin(), m_started.end(), pid) != m_started.end();
    }

    std::vector<int> started() const {
        std::lock_guard lock(m_mutex);
        return m_started;
    }

    bool running() const {
        std::lock_guard lock(m_mutex);
        return std::find(m_running.begin(), m_running.end(), m_pid) != m_running.end();
    }

    mutable std::mutex m_mutex;
    std::deque<SheetEvent> m_events;
    const int m_self{int(::getpid())};
    int m_pid{0};               // the first program started
    std::vector<int> m_started; // every program started
    std::vector<int> m_running; // started programs that have not ended
};

} // namespace

platform::Result<std::unique_ptr<Controller>> Controller::create() {
    if (!desktop::join(true))
        return platform::fail("cannot join the desktop");
    return std::unique_ptr<Controller>(std::make_unique<DesktopController>());
}

platform::Result<std::string> export_registry_text(const std::string& key_path) {
    return win32::export_registry(key_path);
}

platform::Status import_registry_text(const std::string& text) {
    return win32::import_registry(text);
}

} // namespace propsheet
