// What the display tests need of a desktop: a virtual X server of their own, the program run
// on it as a child process, and the X tools a user's actions go through (xdotool for keys,
// moves and sizes, xwd for pictures of windows).
#pragma once

#include "platform/image.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace sdltest {

using namespace std::chrono_literals;

// An Xvfb server on a free display, killed with this object. DISPLAY is set to it.
class VirtualDisplay {
public:
    VirtualDisplay() = default;
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;
    ~VirtualDisplay();

    // Starts the server with one screen of this size; false with the reason when there is
    // none to start.
    bool start(std::string& why, const std::string& screen = "1920x1200x24");
    [[nodiscard]] const std::string& name() const { return m_name; }

private:
    pid_t m_pid{-1};
    std::string m_name;
};

// True when every named program is on the PATH.
bool have_tools(const std::vector<std::string>& names, std::string& missing);

// A child process with its stdin and stdout piped to the test; stderr goes to the test's.
class Program {
public:
    Program() = default;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program();

    // Starts `args` with the given environment added (WINTEST_PREFIX is a fresh folder).
    void start(const std::vector<std::string>& args, const std::map<std::string, std::string>& env);

    // Waits for a line starting with `prefix`; returns it, or "" when none came in time.
    // Lines already seen count from `from` (an index into lines()).
    std::string wait_line(const std::string& prefix, std::chrono::milliseconds timeout = 10s,
                          size_t from = 0);
    [[nodiscard]] std::vector<std::string> lines();
    void send(const std::string& command);
    // The exit code, -1 when the process did not end in time (it is killed then unless
    // `keep` is set), 128 + N for a death by signal N.
    int wait_exit(std::chrono::milliseconds timeout = 10s, bool keep = false);
    [[nodiscard]] const std::string& prefix() const { return m_prefix; }

private:
    void read_output(int fd);

    pid_t m_pid{-1};
    int m_stdin{-1};
    std::string m_prefix;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_lines;
    bool m_closed{false};
};

// Runs a shell command with the test's DISPLAY; returns its stdout. Status in `status`.
std::string shell(const std::string& command, int* status = nullptr);

// The X window with exactly this title, waiting for it to appear; 0 when none did.
unsigned long find_window(const std::string& title, std::chrono::milliseconds timeout = 10s);

// The window's position on the screen and its size.
struct Geometry {
    int x{0}, y{0}, width{0}, height{0};
};
Geometry window_geometry(unsigned long window);

// The window's pixels as the X server holds them (xwd), 0x00RRGGBB.
platform::Image capture(unsigned long window);

// What the window manager sends when the user clicks the close button.
void click_close_button(unsigned long window);

// Gives the window the keyboard focus and waits until the server reports it.
void focus(unsigned long window);

// Polls `ready` until it holds or the time runs out.
template <typename F> bool eventually(F ready, std::chrono::milliseconds timeout = 5s) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// A fresh temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    [[nodiscard]] const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

// Number of pixels that differ, and the first one that does (for the failure message).
struct Difference {
    long count{0};
    int x{-1}, y{-1};
    uint32_t expected{0}, actual{0};
};
Difference compare(const platform::Image& expected, const platform::Image& actual);

} // namespace sdltest
