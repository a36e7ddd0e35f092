// ---- programs a controller starts --------------------------------------------------------------
//
// A controller starts a program with an exact command-line tail and reaps it; the report of
// its end travels through the controller's own socket, so that it comes after every event the
// program sent before it ended.
#include "bus.h"

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bus {

namespace {

using namespace std::chrono_literals;

// This process's environment with `extra` added; an entry of `extra` replaces the inherited
// one of the same name.
std::vector<char*> environment_with(std::vector<std::string>& extra) {
    auto overridden = [&](const char* entry) {
        std::string_view s(entry);
        for (auto& e : extra)
            if (s.substr(0, s.find('=') + 1) == std::string_view(e).substr(0, e.find('=') + 1))
                return true;
        return false;
    };
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e)
        if (!overridden(*e))
            envp.push_back(*e);
    for (auto& e : extra)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    return envp;
}

} // namespace

platform::Result<int> Bus::start_program(const std::string& path, const std::string& command_line,
                                         const std::vector<std::string>& extra_env) {
    if (!joined())
        return platform::fail("not on the desktop");
    std::vector<std::string> env_strings = extra_env;
    env_strings.push_back("WINTEST_COMMAND_LINE=" + command_line);
    std::vector<char*> envp = environment_with(env_strings);
    std::string program = path;
    char* argv[] = {program.data(), nullptr};
    pid_t pid = 0;
    int rc = posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, envp.data());
    if (rc != 0)
        return platform::fail("cannot start " + path + ": " + strerror(rc));
    std::thread([this, pid] { reap(pid); }).detach();
    return int(pid);
}

// Waits for a started program to end, then tells this process's own receiver, so that the
// Exit event comes after every event the program sent before it ended.
void Bus::reap(int pid) {
    siginfo_t info{};
    while (waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    std::string program = program_name(std::to_string(pid)); // readable until reaped
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    PacketWriter w(PacketKind::Reaped, 0, m_self.pid, flags());
    w.i32(pid).i32(status).text(program);
    send(m_self, w.bytes(), Clock::now() + 10s);
}

} // namespace bus
