// A procedure a test runs in a process of its own. The child is this test binary started
// again (fork straight into exec) with WINTEST_TEST_CHILD naming the procedure: main() then
// runs that procedure instead of the tests. A plain fork() of a test process would copy a
// process that may have threads (the desktop bus's receiver, a death test's pipes), and the
// child could wait forever on a lock another thread held at the fork.
//
// A procedure is registered by name at static initialisation:
//
//     WT_TEST_CHILD(hold_board) { ...; return 0; }
//
// It talks to the test through its standard input and output; stderr is the test's.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace wt_test {

using ChildMain = int (*)();

struct ChildRegistration {
    ChildRegistration(const char* name, ChildMain main);
};

#define WT_TEST_CHILD(name)                                                                        \
    int wt_test_child_##name();                                                                    \
    static const ::wt_test::ChildRegistration wt_test_child_registration_##name{                   \
        #name, &wt_test_child_##name};                                                             \
    int wt_test_child_##name()

// Runs the procedure WINTEST_TEST_CHILD names; -1 when it names none (main runs the tests).
int run_child_if_asked();

// Waits for the end of a child process: its exit code, 128 + N for a death by signal N, -1
// when it did not end within `limit` (it is killed and reaped then).
int wait_for_exit(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(60));

// A running child procedure with its stdin and stdout piped to the test.
class Child {
public:
    // Starts the procedure `name` with `args` (child_arg(n) in the child) and the test's
    // environment, in which `env` ("NAME=value" each) takes the place of what it names
    // ("NAME" alone: unset).
    explicit Child(const std::string& name, const std::vector<std::string>& args = {},
                   const std::vector<std::string>& env = {});
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // Closes the child's input, then kills it if it has not ended, and reaps it.
    ~Child();

    [[nodiscard]] bool started() const { return m_pid > 0; }
    // The next line the child writes (without its newline), or "" when the child's output
    // ended or nothing came within `limit`: a bound for a child that broke, not a wait.
    std::string read_line(std::chrono::milliseconds limit = std::chrono::seconds(60));
    // Writes one line to the child's input.
    bool write_line(const std::string& line);
    // The child sees the end of its input.
    void close_input();
    // Waits for the end of the child: its exit code, 128 + N for a death by signal N, -1
    // when it did not end within `limit` (it is killed then).
    int wait(std::chrono::milliseconds limit = std::chrono::seconds(60));
    void kill();

private:
    pid_t m_pid{-1};
    int m_in{-1};  // the child's stdin
    int m_out{-1}; // the child's stdout
    std::string m_buffer;
};

// The n-th argument (from 0) the test gave the running child procedure.
std::string child_arg(int n);

} // namespace wt_test
