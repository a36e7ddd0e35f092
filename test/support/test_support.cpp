#include "test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace test_support {

EventRecorder::EventRecorder()
    : m_id(platform::add_event_sink([this](const platform::Event& e) { m_events.push_back(e); })) {}

EventRecorder::~EventRecorder() {
    platform::remove_event_sink(m_id);
}

std::vector<platform::Event> EventRecorder::of(platform::EventKind kind) const {
    std::vector<platform::Event> found;
    for (const auto& e : m_events)
        if (e.kind == kind)
            found.push_back(e);
    return found;
}

size_t EventRecorder::count(platform::EventKind kind) const {
    size_t n = 0;
    for (const auto& e : m_events)
        n += e.kind == kind;
    return n;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name))
        m_old = old;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (m_old)
        setenv(m_name.c_str(), m_old->c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

std::string prefix_path(const std::string& name) {
    const char* dir = std::getenv("WINTEST_PREFIX");
    return std::string(dir ? dir : "/tmp") + "/" + name;
}

std::string fresh_dir(const std::string& stem) {
    std::string pattern = prefix_path(stem + "XXXXXX");
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

ProcessRun run_program(const std::string& path, const std::vector<std::string>& words,
                       const EnvList& env) {
    std::string err_path = fresh_dir() + "/stderr.txt";
    std::string name = path.substr(path.find_last_of('/') + 1);
    pid_t pid = fork();
    if (pid == 0) {
        for (const auto& [key, value] : env)
            setenv(key.c_str(), value.c_str(), 1);
        int fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 2);
        std::vector<char*> argv{name.data()};
        for (const auto& w : words)
            argv.push_back(const_cast<char*>(w.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    ProcessRun run;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.exit_code = WEXITSTATUS(status);
    run.err = read_text(err_path);
    return run;
}

} // namespace test_support
