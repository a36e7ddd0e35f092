#include "child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

extern char** environ;

namespace wt_test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kChildVariable = "WINTEST_TEST_CHILD";

std::map<std::string, ChildMain>& registry() {
    static std::map<std::string, ChildMain> procedures;
    return procedures;
}

std::string arg_variable(int n) {
    return std::string(kChildVariable) + "_ARG" + std::to_string(n);
}

int remaining_ms(Clock::time_point end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

} // namespace

ChildRegistration::ChildRegistration(const char* name, ChildMain main) {
    registry()[name] = main;
}

int run_child_if_asked() {
    const char* name = std::getenv(kChildVariable);
    if (!name)
        return -1;
    auto it = registry().find(name);
    if (it == registry().end())
        return 127;
    unsetenv(kChildVariable); // what the child starts in turn runs as usual
    return it->second();
}

std::string child_arg(int n) {
    const char* value = std::getenv(arg_variable(n).c_str());
    return value ? value : "";
}

Child::Child(const std::string& name, const std::vector<std::string>& args,
             const std::vector<std::string>& env_changes) {
    std::vector<std::string> env_strings{std::string(kChildVariable) + "=" + name};
    for (size_t i = 0; i < args.size(); ++i)
        env_strings.push_back(arg_variable(int(i)) + "=" + args[i]);
    env_strings.insert(env_strings.end(), env_changes.begin(), env_changes.end());
    auto changed = [&](const char* entry) {
        for (const std::string& s : env_strings) {
            std::string key = s.substr(0, s.find('='));
            if (std::strncmp(entry, key.c_str(), key.size()) == 0 && entry[key.size()] == '=')
                return true;
        }
        return std::strncmp(entry, kChildVariable, std::strlen(kChildVariable)) == 0;
    };
    std::vector<char*> env;
    for (auto& s : env_strings)
        if (s.find('=') != std::string::npos)
            env.push_back(s.data());
    for (char** e = environ; *e; ++e)
        if (!changed(*e))
            env.push_back(*e);
    env.push_back(nullptr);

    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    char self[] = "/proc/self/exe";
    char* argv[] = {self, nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, self, &actions, nullptr, argv, env.data()) == 0)
        m_pid = pid;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    m_in = in[1];
    m_out = out[0];
}

Child::~Child() {
    close_input();
    wait(std::chrono::seconds(10)); // kills a child that does not end at its input's end
    if (m_out >= 0)
        close(m_out);
}

std::string Child::read_line(std::chrono::milliseconds limit) {
    auto end = Clock::now() + limit;
    for (;;) {
        size_t newline = m_buffer.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            return line;
        }
        if (m_out < 0)
            return "";
        pollfd p{m_out, POLLIN, 0};
        if (poll(&p, 1, remaining_ms(end)) <= 0)
            return "";
        char chunk[256];
        ssize_t n = read(m_out, chunk, sizeof chunk);
        if (n <= 0)
            return "";
        m_buffer.append(chunk, size_t(n));
    }
}

bool Child::write_line(const std::string& line) {
    std::string text = line + "\n";
    return m_in >= 0 && write(m_in, text.data(), text.size()) == ssize_t(text.size());
}

void Child::close_input() {
    if (m_in >= 0)
        close(m_in);
    m_in = -1;
}

int wait_for_exit(pid_t pid, std::chrono::milliseconds limit) {
    auto end = Clock::now() + limit;
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0 || Clock::now() > end) {
            ::kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2)); // polls the child's end
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Child::wait(std::chrono::milliseconds limit) {
    if (m_pid <= 0)
        return -1;
    const int code = wait_for_exit(m_pid, limit);
    m_pid = -1;
    return code;
}

void Child::kill() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

} // namespace wt_test
