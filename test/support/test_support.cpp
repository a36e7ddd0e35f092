#include "test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

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

// Started with posix_spawn, never a bare fork(): the test process has threads (the bus's
// receiver among them), and only exec is safe in the child of a threaded process.
pid_t spawn_program(const std::string& path, const std::vector<std::string>& words,
                    const EnvList& env, const std::string& err_path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    std::vector<std::string> env_strings;
    for (const auto& [key, value] : env)
        env_strings.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (auto& s : env_strings)
        envp.push_back(s.data());
    for (char** e = environ; *e; ++e)
        envp.push_back(*e); // the first of a name counts: the run's own come first
    envp.push_back(nullptr);
    std::vector<char*> argv{name.data()};
    for (const auto& w : words)
        argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!err_path.empty())
        posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

ProcessRun run_program(const std::string& path, const std::vector<std::string>& words,
                       const EnvList& env) {
    std::string err_path = fresh_dir() + "/stderr.txt";
    pid_t pid = spawn_program(path, words, env, err_path);
    ProcessRun run;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.exit_code = WEXITSTATUS(status);
    run.err = read_text(err_path);
    return run;
}

} // namespace test_support
