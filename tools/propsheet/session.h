// One run of the sheet: the controller, the sheet's window state, the options, and the log of
// events heard. Created by main and passed to every command.
#pragma once

#include "controller.h"
#include "sheet.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace propsheet {

struct Session {
    std::unique_ptr<Controller> controller;
    SheetState sheet;
    bool json{false};             // events as JSON lines
    int timeout_ms{5000};         // default bound of expect and of waiting for the test window
    FILE* out{stdout};            // where events and command output go
    std::vector<SheetEvent> log;  // every event heard, in order
    size_t cursor{0};             // expect looks at the log from here on
    std::optional<int> exit_code; // the program's, once it has ended
    int self_pid{0};
    bool pressing{false};     // inside a key press whose first key-down has gone in
    bool all_events{false};   // print the events of every process on the desktop
    std::vector<int> started; // the programs this run started, the first one's exit ends it
    // The command line of a test (0, 1, 2) for `start`; empty words: the test's defaults.
    std::string (*command_line)(int mode, const std::string& words){nullptr};
    std::string program_path;             // the program that `start` starts
    void (*on_started)(int pid){nullptr}; // told of every program started
};

// Whether an event belongs to this run: the sheet's own or one of its programs'.
bool own_event(const Session& s, const SheetEvent& e);
// Whether the run prints the event and expect looks at it: its own, or any with --all-events.
bool shown(const Session& s, const SheetEvent& e);

// Monotonic microseconds (the clock of the events' time stamps).
uint64_t now_us();
// Writes one line to s.out and flushes it at once.
void print_line(Session& s, const std::string& line);
// A line of the sheet's own: the plain text, or in --json mode one JSON object of `kind` with
// `fields` (",\"name\":value..." already encoded) and the sheet's pid and time stamp.
void report(Session& s, const std::string& plain, const char* kind, const std::string& fields);
std::string json_string(const std::string& s);
std::string quote_text(const std::string& s); // as the plain event lines quote texts
// A window's facts as " rect=... focus=1" and as JSON fields; empty when not known.
std::string window_facts_text(const WindowFacts& f);
std::string window_facts_json(const WindowFacts& f);

// tv|0, gamma|1, glide|2; -1 for anything else.
int test_mode(const std::string& word);

// Runs the window messages of the sheet and takes in the events heard (printing each).
void pump(Session& s);

// Pumps until `done` holds or `ms` milliseconds have passed; returns whether it held.
template <class Pred> bool pump_until(Session& s, int ms, Pred done) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        pump(s);
        if (done())
            return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        s.controller->wait(int(std::min<long long>(left.count(), 20)));
    }
}

// One event as a line ("broadcast \"KVXPS ...\" wparam=1 lparam=0"), without the process.
std::string describe(const SheetEvent& e);
std::string describe_json(const SheetEvent& e);

// Glob match ('*' any run, '?' one character); a pattern without '*' matches a prefix.
bool pattern_matches(const std::string& pattern, const std::string& line);

// Starts a program of the run (`start`); prints the started line. Its pid, or why it did not
// start.
platform::Result<int> start_program(Session& s, const std::string& tail);

// Runs one command line; an error with the reason when it fails (a failed expect among them).
platform::Status run_command(Session& s, const std::string& line);

// `propsheet reg ...` (also usable inside scripts); prints to `out`. A failure's code is the
// exit code: 1 for a request that failed, 2 for a command line it cannot take.
platform::Status run_reg_command(FILE* out, const std::vector<std::string>& args);

// The virtual-key code of a key name ("a", "esc", "f10", "0x5b"), 0 when unknown.
unsigned key_code(const std::string& name);

} // namespace propsheet
