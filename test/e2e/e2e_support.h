// What the end-to-end cases share: a propsheet run in the background with a script, the
// registry of the case's prefix, and a fresh registry per case.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include "platform/image.h"
#include "platform/prefix.h"
#include "win32/desktop.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The program frees nothing at its end on purpose (the process ends instead): in the sanitizer
// build the binaries started here run without the leak check, which the unit suites keep.
inline const bool kNoLeakCheckInChildren = setenv("ASAN_OPTIONS", "detect_leaks=0", 0) == 0;

inline const std::string kBin = WINTEST_BIN_DIR;
inline const std::string kData = WINTEST_SOURCE_DIR "/data";
inline const std::string kKey = "SOFTWARE\\Kavix\\Board";
inline const std::string kDefaultKey = "SOFTWARE\\Kavix\\Default";

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A propsheet run started in the background; finish() waits for it while serving the bus
// (this process may have joined the desktop, and then it must answer broadcasts).
class Sheet {
public:
    Sheet(const std::vector<std::string>& args, const std::string& script,
          const std::vector<std::string>& env = {}) {
        static int s_runs = 0;
        std::string base = platform::prefix_dir() + "/run" + std::to_string(++s_runs);
        m_out = base + ".out";
        m_err = base + ".err";
        std::string script_path = base + ".script";
        std::ofstream(script_path) << script;
        std::vector<std::string> argv = {kBin + "/propsheet"};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back(script_path);
        m_pid = fork();
        if (m_pid == 0) {
            int out_fd = open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err_fd = open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out_fd, 1);
            dup2(err_fd, 2);
            for (auto& e : env)
                putenv(strdup(e.c_str()));
            std::vector<char*> cargv;
            for (auto& a : argv)
                cargv.push_back(a.data());
            cargv.push_back(nullptr);
            execv(cargv[0], cargv.data());
            _exit(127);
        }
    }

    ~Sheet() {
        if (m_pid > 0 && !m_done)
            kill(m_pid, SIGKILL), waitpid(m_pid, nullptr, 0);
    }

    int pid() const { return m_pid; }

    // Waits for propsheet to end; its exit code, or -1 when it had to be killed.
    int finish(std::chrono::seconds limit = 60s) {
        auto until = Clock::now() + limit;
        for (;;) {
            int status;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_done = true;
                m_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (Clock::now() >= until) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, nullptr, 0);
                m_done = true;
                m_code = -1;
                break;
            }
            serve_bus();
        }
        out = read_file(m_out);
        err = read_file(m_err);
        return m_code;
    }

    static void serve_bus() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (win32::desktop::joined())
            win32::desktop::wait(5);
        else
            std::this_thread::sleep_for(5ms);
    }

    // Event lines of the program, without the process tag.
    std::vector<std::string> program_lines() const {
        std::vector<std::string> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);)
            if (line.starts_with("wintest[") && line.find("] ") != std::string::npos)
                lines.push_back(line.substr(line.find("] ") + 2));
        return lines;
    }

    bool heard(const std::string& line) const {
        for (auto& l : program_lines())
            if (l == line)
                return true;
        return false;
    }

    // The pids of the programs the run started, from its "started" lines, in order.
    std::vector<int> started_pids() const { return started_in(out); }

    static std::vector<int> started_in(const std::string& text) {
        std::vector<int> pids;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            size_t at = line.find("] started ");
            size_t open = at == std::string::npos ? at : line.find('[', at);
            if (open != std::string::npos)
                pids.push_back(atoi(line.c_str() + open + 1));
        }
        return pids;
    }

    // Waits (serving the bus) until the run has printed its first program's pid; 0 if never.
    int wait_for_program(std::chrono::seconds limit = 20s) {
        auto until = Clock::now() + limit;
        while (Clock::now() < until) {
            auto pids = started_in(read_file(m_out));
            if (!pids.empty())
                return pids[0];
            serve_bus();
        }
        return 0;
    }

    // Waits (serving the bus) until the run's output so far holds `text`.
    bool wait_for_output(const std::string& text, std::chrono::seconds limit = 20s) {
        auto until = Clock::now() + limit;
        while (Clock::now() < until) {
            if (read_file(m_out).find(text) != std::string::npos)
                return true;
            serve_bus();
        }
        return false;
    }

    int count(const std::string& prefix) const {
        int n = 0;
        for (auto& l : program_lines())
            n += l.starts_with(prefix);
        return n;
    }

    std::string out, err;

private:
    pid_t m_pid{-1};
    bool m_done{false};
    int m_code{-1};
    std::string m_out, m_err;
};

inline std::string reg_get(const std::string& value, const std::string& key = kKey) {
    std::string cmd = kBin + "/propsheet reg get '" + key + "' '" + value + "' 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    std::string text;
    char buf[256];
    while (p && fgets(buf, sizeof buf, p))
        text += buf;
    int status = p ? pclose(p) : -1;
    if (status != 0)
        return "<none>";
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

inline void reg_set(const std::string& value, const std::string& text,
                    const std::string& key = kKey) {
    std::string cmd = kBin + "/propsheet reg set '" + key + "' '" + value + "' '" + text + "'";
    ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
}

inline std::vector<std::string> test_args(const std::string& test) {
    return {"--data", kData, test};
}

inline std::string diagnostics(const Sheet& s) {
    return "\n--- stdout\n" + s.out + "--- stderr\n" + s.err;
}

// Every case starts from an empty registry, also when several run in one process (each
// process has a prefix of its own; CTest runs one case a process).
class FreshRegistry : public testing::Test {
protected:
    void SetUp() override {
        std::error_code ec;
        fs::remove(platform::prefix_dir() + "/registry.reg", ec);
    }
};
class TvTest : public FreshRegistry {};
class Propsheet : public FreshRegistry {};
class Desktop : public FreshRegistry {};
class GammaTest : public FreshRegistry {};
class GlideTest : public FreshRegistry {};

#define RUN_SHEET(var, code, args, script)                                                         \
    Sheet var(args, script);                                                                       \
    ASSERT_EQ(var.finish(), code) << diagnostics(var)

} // namespace e2e
