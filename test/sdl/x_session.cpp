#include "x_session.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sdltest {

namespace {

// The test process's connection to the server of the running case.
Display* s_display = nullptr;

Display* x_display() {
    return s_display;
}

// A child dies with the test, so no server or program outlives a crashed case.
void die_with_parent() {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
}

uint32_t read_be32(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The bit position and width of a colour mask, to scale its value to 8 bits.
int mask_shift(uint32_t mask) {
    int s = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++s;
    }
    return s;
}

uint32_t channel(uint32_t pixel, uint32_t mask) {
    uint32_t v = (pixel & mask) >> mask_shift(mask);
    uint32_t max = mask >> mask_shift(mask);
    return max ? v * 255 / max : 0;
}

// An XWD file of a true-colour window (32 bits a pixel, the usual depth 24 layout).
platform::Image decode_xwd(const std::vector<unsigned char>& data) {
    if (data.size() < 100)
        return {};
    uint32_t field[25];
    for (int i = 0; i < 25; ++i)
        field[i] = read_be32(&data[size_t(i) * 4]);
    uint32_t header_size = field[0], width = field[4], height = field[5], byte_order = field[7];
    uint32_t bpp = field[11], bytes_per_line = field[12];
    uint32_t red = field[14], green = field[15], blue = field[16], ncolors = field[19];
    size_t start = header_size + size_t(ncolors) * 12;
    if (bpp != 32 || start + size_t(bytes_per_line) * height > data.size())
        return {};
    platform::Image image{int(width), int(height)};
    for (uint32_t y = 0; y < height; ++y) {
        const unsigned char* row = &data[start + size_t(y) * bytes_per_line];
        for (uint32_t x = 0; x < width; ++x) {
            const unsigned char* p = row + x * 4;
            uint32_t v = byte_order == 0 // LSBFirst
                             ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                   uint32_t(p[3]) << 24
                             : read_be32(p);
            image.at(int(x), int(y)) =
                channel(v, red) << 16 | channel(v, green) << 8 | channel(v, blue);
        }
    }
    return image;
}

} // namespace

// ---- the X server ----------------------------------------------------------------------------

VirtualDisplay::~VirtualDisplay() {
    if (s_display) {
        XCloseDisplay(s_display);
        s_display = nullptr;
    }
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

bool VirtualDisplay::start(std::string& why, const std::string& screen) {
    std::string missing;
    if (!have_tools({"Xvfb"}, missing)) {
        why = "Xvfb is not installed";
        return false;
    }
    int fds[2];
    if (pipe(fds) != 0) {
        why = strerror(errno);
        return false;
    }
    std::string fd = std::to_string(fds[1]);
    m_pid = fork();
    if (m_pid == 0) {
        die_with_parent();
        close(fds[0]);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
               "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    auto end = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < end && poll(&p, 1, 200) >= 0) {
        char c;
        if (!(p.revents & (POLLIN | POLLHUP)))
            continue;
        if (read(fds[0], &c, 1) != 1 || c == '\n')
            break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        why = "Xvfb did not start";
        return false;
    }
    m_name = ":" + number;
    setenv("DISPLAY", m_name.c_str(), 1);
    s_display = XOpenDisplay(m_name.c_str());
    // A window that went away between a lookup and a request is an answer, not a reason to
    // end the test process (Xlib's default).
    XSetErrorHandler([](Display*, XErrorEvent* e) {
        fprintf(stderr, "test: X error %d on resource 0x%lx (request %d)\n", e->error_code,
                e->resourceid, e->request_code);
        return 0;
    });
    if (!s_display)
        why = "cannot connect to " + m_name;
    return s_display != nullptr;
}

bool have_tools(const std::vector<std::string>& names, std::string& missing) {
    for (const auto& name : names) {
        int status = 0;
        shell("command -v " + name + " >/dev/null 2>&1", &status);
        if (status != 0) {
            missing = name;
            return false;
        }
    }
    return true;
}

// ---- the program -----------------------------------------------------------------------------

Program::~Program() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_stdin >= 0)
        close(m_stdin);
    if (m_reader.joinable())
        m_reader.join();
    if (!m_prefix.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_prefix, ec);
    }
}

void Program::start(const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env) {
    char dir[] = "/tmp/wintest-sdl-XXXXXX";
    m_prefix = mkdtemp(dir) ? dir : "";
    // Everything the child needs is made here: between fork and exec the child of a process
    // with threads (the readers of other programs) may only make system calls.
    std::map<std::string, std::string> vars{{"WINTEST_PREFIX", m_prefix},
                                            {"SDL_AUDIODRIVER", "dummy"}}; // beeps go nowhere
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        size_t equals = entry.find('=');
        if (equals != std::string::npos)
            vars.emplace(entry.substr(0, equals), entry.substr(equals + 1));
    }
    // The program frees nothing at its end on purpose: the process ends instead.
    vars.emplace("ASAN_OPTIONS", "detect_leaks=0");
    for (const auto& [k, v] : env)
        vars[k] = v;
    std::vector<std::string> entries;
    for (const auto& [k, v] : vars)
        entries.push_back(k + "=" + v);
    std::vector<char*> envp, argv;
    for (auto& e : entries)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        die_with_parent();
        dup2(in[0], 0);
        dup2(out[1], 1);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    m_stdin = in[1];
    m_reader = std::thread([this, fd = out[0]] { read_output(fd); });
}

void Program::read_output(int fd) {
    FILE* f = fdopen(fd, "r");
    char buffer[4096];
    while (f && fgets(buffer, sizeof buffer, f)) {
        std::string line(buffer);
        while (!line.empty() && line.back() == '\n')
            line.pop_back();
        std::lock_guard lock(m_mutex);
        m_lines.push_back(line);
        m_changed.notify_all();
    }
    if (f)
        fclose(f);
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_changed.notify_all();
}

std::string Program::wait_line(const std::string& prefix, std::chrono::milliseconds timeout,
                               size_t from) {
    std::unique_lock lock(m_mutex);
    std::string found;
    m_changed.wait_for(lock, timeout, [&] {
        for (size_t i = from; i < m_lines.size(); ++i)
            if (m_lines[i].rfind(prefix, 0) == 0) {
                found = m_lines[i];
                return true;
            }
        return m_closed;
    });
    return found;
}

std::vector<std::string> Program::lines() {
    std::lock_guard lock(m_mutex);
    return m_lines;
}

void Program::send(const std::string& command) {
    std::string line = command + "\n";
    if (m_stdin >= 0 && write(m_stdin, line.data(), line.size()) != ssize_t(line.size()))
        perror("send");
}

int Program::wait_exit(std::chrono::milliseconds timeout, bool keep) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (m_pid > 0) {
        int status = 0;
        pid_t r = waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() > end) {
            if (keep)
                return -1;
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            return -1;
        }
        std::this_thread::sleep_for(10ms);
    }
    return -1;
}

// ---- the X tools -----------------------------------------------------------------------------

std::string shell(const std::string& command, int* status) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        if (status)
            *status = -1;
        return out;
    }
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), p)) > 0)
        out.append(buffer.data(), n);
    int s = pclose(p);
    if (status)
        *status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    return out;
}

unsigned long find_window(const std::string& title, std::chrono::milliseconds timeout) {
    unsigned long id = 0;
    eventually(
        [&] {
            std::string out = shell("xdotool search --name '^" + title + "$' 2>/dev/null");
            id = strtoul(out.c_str(), nullptr, 10);
            return id != 0;
        },
        timeout);
    return id;
}

Geometry window_geometry(unsigned long window) {
    Display* d = x_display();
    Window root, child;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    Geometry g;
    if (!d || !XGetGeometry(d, window, &root, &x, &y, &w, &h, &border, &depth))
        return g;
    XTranslateCoordinates(d, window, root, 0, 0, &g.x, &g.y, &child);
    g.width = int(w);
    g.height = int(h);
    return g;
}

platform::Image capture(unsigned long window) {
    TempDir dir;
    std::string file = dir.path() + "/capture.xwd";
    int status = 0;
    std::string errors =
        shell("xwd -silent -id " + std::to_string(window) + " -out " + file + " 2>&1", &status);
    if (status != 0) {
        fprintf(stderr, "xwd of window %lu: %s", window, errors.c_str());
        return {};
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    return decode_xwd(data);
}

void click_close_button(unsigned long window) {
    Display* d = x_display();
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, window, False, NoEventMask, &e);
    XFlush(d);
}

void focus(unsigned long window) {
    // A window that is not mapped yet cannot take the focus: try again until it has it.
    std::string id = std::to_string(window);
    eventually([&] {
        shell("xdotool windowfocus " + id + " 2>/dev/null");
        return strtoul(shell("xdotool getwindowfocus 2>/dev/null").c_str(), nullptr, 10) == window;
    });
}

// ---- files and pictures ----------------------------------------------------------------------

TempDir::TempDir() {
    char dir[] = "/tmp/wintest-sdltest-XXXXXX";
    m_path = mkdtemp(dir) ? dir : "/tmp";
}

TempDir::~TempDir() {
    std::error_code ec;
    if (m_path != "/tmp")
        std::filesystem::remove_all(m_path, ec);
}

Difference compare(const platform::Image& expected, const platform::Image& actual) {
    Difference d;
    if (expected.width != actual.width || expected.height != actual.height) {
        d.count = -1;
        return d;
    }
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x)
            if (expected.at(x, y) != actual.at(x, y)) {
                if (d.count++ == 0) {
                    d.x = x;
                    d.y = y;
                    d.expected = expected.at(x, y);
                    d.actual = actual.at(x, y);
                }
            }
    return d;
}

} // namespace sdltest
