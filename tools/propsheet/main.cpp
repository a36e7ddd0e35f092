// propsheet: stands in for the board's display property sheet. It prepares the settings keys
// of a test, starts the test program with that test's command line, answers and sends the
// sheet's registered messages, prints every event it hears, and runs commands typed in or read
// from a script. It ends with the program's exit code.
#include "locate.h"
#include "platform/version.h"
#include "session.h"
#include "settings.h"

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>
#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using namespace propsheet;

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitScriptFailed = 3;
constexpr int kExitScriptEndedFirst = 4; // the script ended and the test did not

const char* kHelp = R"(propsheet - the display property sheet's stand-in for WinTest

Usage:
  propsheet [options] <test> [<script>]     run a test (tv|0, gamma|1, glide|2)
  propsheet reg get <key> [<value>]         print a value's text (or the key as REGEDIT4)
  propsheet reg set <key> <value> <text>    store a text value (REG_SZ)
  propsheet reg export [<key> [<file>]]     REGEDIT4 text of a key (all of HKLM without one)
  propsheet reg import <file>|-             apply REGEDIT4 text as one change

Running a test prepares its settings keys (factory values written where missing), starts
wintest with the test's command line, and then behaves as the property sheet: a hidden window
hears the test's broadcasts and answers its gamma enable request at once. Every event of the
program and of the sheet is printed as one line, e.g.
  wintest[4711] broadcast "KVXPS Test TV Underscan Overscan" wparam=1 lparam=0
Events: window (class, title and the window's facts), broadcast, messagebox, beep, debug,
gamma and tv (what the board received), registry (a value the program set: key, value), exit.
Commands come from <script>, else from standard input. propsheet ends with the program's exit
code (128 + n when signal n ended it), 2 for a usage error, 3 when a script command failed
(the program is then stopped), 4 when a script ended while the test still ran (see below).

At the end of a script (not at a terminal) the sheet waits up to --timeout for the program
to end; if it does not, the sheet closes ("KVXPS Property Sheet Closed") as the real one does,
waits once more, stops the program if it is still there, and exits with 4.

Command lines of the tests:
  tv     0 <bitmap> <data dir> <key> <default key>
  gamma  1 <bitmap> <data dir> <key>
  glide  2 <bitmap> <texture>

Options:
  --program <file>        the program (default: wintest beside propsheet)
  --data <dir>            the bundled data (default: $WINTEST_DATA, else the data beside
                          the installed or built propsheet, else in the XDG data folders)
  --bitmap <file>         the test window's bitmap (default: <data>/kvxlogo.bmp)
  --texture <file>        the glide test's texture (default: <data>/sample256.3df)
  --key <key>             settings key (default: SOFTWARE\Kavix\Board)
  --default-key <key>     TV default settings key (default: SOFTWARE\Kavix\Default)
  --command-line <tail>   pass exactly this command-line tail instead
  --no-prepare            leave the registry as it is
  --no-answer             do not answer the gamma enable request
  --timeout <ms>          bound of expect, of waiting for the program and its windows,
                          and of waiting for its end after the script (5000)
  --json                  every line one JSON object (events, started, frames, sheet,
                          echo, screenshot, windows, reg), each with "time_us", a
                          monotonic time stamp in microseconds
  --all-events            print the events of every process on the desktop (each line names
                          its process); by default only this run's programs and sheet
  --fresh                 run in a new temporary prefix (WINTEST_PREFIX), removed at the end
  --keep                  with --fresh: keep the prefix and name it on standard error
  -h, --help              this text
  --version               print the version and end

Factory values written where missing:
  default key (tv): SST_TV_ENABLE_KVX 1, OUTPUT 0, SCAN 0, FORMAT 0, XSHIFT 0, YSHIFT 0,
                    BRIGHTNESS 66, TUNING 7, SHARPNESS 3, FFILTER 3 (all SST_TV_<name>_KVX)
  key (gamma):      SST_RGAMMA, SST_GGAMMA, SST_BGAMMA 1.7, =CurrGammaColor RGB,
                    =CurrGammaEnable 1

Commands:
  key <k>[+<k>...] [down|up|repeat <n>]   press a key (modifiers first), or only its down or
                                          up, or hold it for n auto-repeated downs
  keys <k> <k> ...                        press each key in turn
  keys --batch <k> <k> ...                put every press into the program's queue at once,
                                          so all wait before its next frame
                                          keys: a-z 0-9 esc enter space tab backspace left
                                          right up down shift ctrl alt f1-f24 numpad0-9
                                          home end pageup pagedown insert delete 0x<vk>
  gamma <r> <g> <b>                       send gamma values (0.0 to 25.5, sent in tenths)
  enable on|off                           switch gamma correction on or off
  answer on|off                           answer the enable request or not
  close                                   the sheet closes: "KVXPS Property Sheet Closed"
  send "<name>" <wparam> <lparam>         broadcast any registered message with 32-bit
                                          parameters (decimal or 0x hex, lParam signed);
                                          returns when the broadcast has returned
  window-close                            close the test window as its close button does
  window-move <x> <y> | window-resize <w> <h> | display-change <w> <h>
  screenshot board|tv|window <file.png>   picture of the board's screen, its TV view or the
                                          test window's client area; the TV view at its own
                                          size (640x480 NTSC, 768x576 PAL), both fields
  screenshot tv --field 0|1 <file.png>    one field of the TV view alone (other lines black)
  frames                                  print the board's frame count
  wait-frames <n> [<n>ms|<n>s]            wait until the board has shown n more frames
  windows                                 every top-level window of the programs: class,
                                          title, rect, client size, visibility, styles, focus
  start <test> [<word> ...]               start another program in this run (its events
                                          show its pid; the words replace the test's own)
  wait <ms>                               keep listening for a while
  expect [@<p>] <pattern> [<n>ms|<n>s]    wait for the next matching event of the programs or
                                          sheet (default bound 5 s); fail when none comes.
                                          '*' matches any run, '?' one character; a pattern
                                          without '*' matches the start of the event line.
                                          @1, @2 ...: only the first, second ... program
                                          started; @<pid>: the program with that pid
  expect-no [@<p>] <pattern> [<n>ms|<n>s] fail if a matching event comes (default 500 ms)
  expect-reg <key> <value> <text>|-       the value holds exactly this text (- : no value)
  reg ...                                 as on the command line
  sheet                                   print what the sheet knows (gamma, correction)
  echo <text>                             print a line
  try <command>                           run a command; if it fails, say why and go on
  # ...                                   a comment

Example:
  propsheet --fresh tv <<'EOF'
  keys right right d
  expect broadcast "KVXPS Test TV Underscan Overscan" wparam=1
  key enter
  key esc
  expect exit 0
  expect-reg SOFTWARE\Kavix\Board SST_TV_XSHIFT_KVX 2
  EOF
)";

struct Options {
    int mode{-1};
    std::string program, data, bitmap, texture, script;
    std::string key{"SOFTWARE\\Kavix\\Board"};
    std::string default_key{"SOFTWARE\\Kavix\\Default"};
    std::optional<std::string> command_line;
    bool prepare{true}, answer{true}, json{false}, all_events{false}, fresh{false}, keep{false};
    int timeout_ms{5000};
};

// The options of this run; `start` builds command lines from them.
Options s_options;

// The programs started, for the signal handler (the first 16; more are not stopped by it).
std::atomic<int> s_children[16];
std::atomic<int> s_child_count{0};

void remember_child(int pid) {
    int at = s_child_count.fetch_add(1);
    if (at < 16)
        s_children[at] = pid;
}

// Ends the programs with the tool. On Windows they run under this process as its debugger and
// die with it.
void on_signal(int sig) {
#ifndef _WIN32
    for (auto& child : s_children)
        if (int pid = child.load(); pid > 0)
            kill(pid, SIGKILL);
#endif
    _exit(128 + sig);
}

fs::path executable_dir() {
#ifdef _WIN32
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    return (n == 0 || n >= sizeof self) ? fs::current_path() : fs::path(self).parent_path();
#else
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : self.parent_path();
#endif
}

// --timeout: whole milliseconds, 1 to INT_MAX; "5s" or a value past the range is refused
// (atoi took "5s" as 5 ms and wrapped large values).
bool parse_timeout(const std::string& text, int& ms) {
    char* end = nullptr;
    errno = 0;
    long long v = strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v <= 0 || v > INT_MAX)
        return false;
    ms = int(v);
    return true;
}

// Returns -1 to go on, else the exit code.
int parse_options(int argc, char** argv, Options& o) {
    std::vector<std::string> positional; // <test> [<script>]
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc)
                return false;
            into = argv[++i];
            return true;
        };
        std::string v;
        if (a == "-h" || a == "--help") {
            fputs(kHelp, stdout);
            return 0;
        }
        bool ok = true;
        if (a == "--program")
            ok = value(o.program);
        else if (a == "--data")
            ok = value(o.data);
        else if (a == "--bitmap")
            ok = value(o.bitmap);
        else if (a == "--texture")
            ok = value(o.texture);
        else if (a == "--key")
            ok = value(o.key);
        else if (a == "--default-key")
            ok = value(o.default_key);
        else if (a == "--command-line")
            ok = value(v), o.command_line = v;
        else if (a == "--timeout") {
            if (value(v) && !parse_timeout(v, o.timeout_ms))
                return fprintf(stderr, "propsheet: --timeout takes milliseconds, 1 to %d\n",
                               INT_MAX),
                       kExitUsage;
            ok = !v.empty();
        } else if (a == "--no-prepare")
            o.prepare = false;
        else if (a == "--no-answer")
            o.answer = false;
        else if (a == "--json")
            o.json = true;
        else if (a == "--all-events")
            o.all_events = true;
        else if (a == "--fresh")
            o.fresh = true;
        else if (a == "--keep")
            o.keep = true;
        else if (!a.empty() && a[0] == '-' && a != "-")
            return fprintf(stderr, "propsheet: unknown option %s (see --help)\n", a.c_str()),
                   kExitUsage;
        else
            positional.push_back(a);
        if (!ok)
            return fprintf(stderr, "propsheet: %s needs a value (see --help)\n", a.c_str()),
                   kExitUsage;
    }
    if (positional.empty() || positional.size() > 2) {
        fputs("propsheet: name a test (tv, gamma or glide) and at most one script; see --help\n",
              stderr);
        return kExitUsage;
    }
#ifdef _WIN32
    if (o.fresh) // the settings are the system registry's, which no prefix holds
        return fputs("propsheet: --fresh is not available on Windows: the settings live in the "
                     "system registry, not in the prefix (see docs/wine.md)\n",
                     stderr),
               kExitUsage;
#endif
    if (o.keep && !o.fresh)
        return fputs("propsheet: --keep goes with --fresh\n", stderr), kExitUsage;
    if ((o.mode = test_mode(positional[0])) < 0) {
        fprintf(stderr, "propsheet: unknown test \"%s\" (tv, gamma or glide)\n",
                positional[0].c_str());
        return kExitUsage;
    }
    if (positional.size() == 2)
        o.script = positional[1];
    return -1;
}

// The command line of a test: `words` after the mode when given, else the test's own words.
std::string test_command_line(int mode, const std::string& words) {
    const Options& o = s_options;
    if (!words.empty())
        return std::to_string(mode) + " " + words;
    std::string data = o.data.empty() ? default_data_dir(executable_dir()) : o.data;
    std::string bitmap = o.bitmap.empty() ? data + "/kvxlogo.bmp" : o.bitmap;
    switch (mode) {
    case 0:
        return "0 " + bitmap + " " + data + " " + o.key + " " + o.default_key;
    case 1:
        return "1 " + bitmap + " " + data + " " + o.key;
    default:
        return "2 " + bitmap + " " + (o.texture.empty() ? data + "/sample256.3df" : o.texture);
    }
}

platform::Status prepare_keys(const Options& o) {
    if (!o.prepare || o.mode == 2)
        return {};
    std::string key, default_key;
    if (!key_below_local_machine(o.key, key) ||
        !key_below_local_machine(o.default_key, default_key))
        return platform::fail("settings keys must lie under HKEY_LOCAL_MACHINE");
    return o.mode == 0 ? write_missing(default_key, kTvFactoryDefaults)
                       : write_missing(key, kGammaFactoryDefaults);
}

// Lines to run: a script read whole, or standard input read by a thread as it comes.
class Input {
public:
    Input(const std::string& script, Controller& controller) : m_controller(controller) {
        if (!script.empty() && script != "-") {
            std::ifstream in(script);
            m_ok = bool(in);
            for (std::string line; std::getline(in, line);)
                m_lines.push_back(line);
            m_ended = true;
            m_name = script;
            return;
        }
        m_interactive = isatty(0);
        std::thread([this] {
            for (std::string line; std::getline(std::cin, line);)
                push(line, false);
            push("", true);
        }).detach();
    }

    [[nodiscard]] bool ok() const { return m_ok; }
    [[nodiscard]] bool interactive() const { return m_interactive; }
    [[nodiscard]] const std::string& name() const { return m_name; }

    // The next line, if one is there; `ended` once no more will come.
    std::optional<std::string> next(bool& ended) {
        std::lock_guard lock(m_mutex);
        ended = m_ended && m_lines.empty();
        if (m_lines.empty())
            return std::nullopt;
        std::string line = std::move(m_lines.front());
        m_lines.pop_front();
        ++m_number;
        return line;
    }
    [[nodiscard]] int line_number() const { return m_number; }

private:
    void push(const std::string& line, bool end) {
        {
            std::lock_guard lock(m_mutex);
            if (end)
                m_ended = true;
            else
                m_lines.push_back(line);
        }
        m_controller.wake();
    }

    Controller& m_controller;
    std::mutex m_mutex;
    std::deque<std::string> m_lines;
    bool m_ended{false};
    bool m_ok{true};
    bool m_interactive{false};
    std::string m_name{"stdin"};
    int m_number{0};
};

// The script has ended and the test has not: wait for its end within the bound, then close
// the sheet as the real one closes, wait once more, and stop the program if it still runs.
int finish_after_script(Session& s, const std::string& script) {
    if (pump_until(s, s.timeout_ms, [&] { return s.exit_code.has_value(); }))
        return *s.exit_code;
    send_closed(s.sheet);
    bool ended = pump_until(s, s.timeout_ms, [&] { return s.exit_code.has_value(); });
    if (!ended) { // the program's death still shows as its exit event
        s.controller->kill_program();
        pump_until(s, s.timeout_ms, [&] { return s.exit_code.has_value(); });
    }
    fprintf(stderr,
            "propsheet: %s ended while the test still ran after %d ms; the sheet closed%s "
            "(exit code %d)\n",
            script.c_str(), s.timeout_ms,
            ended ? " and the test ended" : ", and the test was stopped as it did not end",
            kExitScriptEndedFirst);
    return kExitScriptEndedFirst;
}

int run_test(const Options& o) {
    Session s;
    s.json = o.json;
    s.all_events = o.all_events;
    s.timeout_ms = o.timeout_ms;
    s.self_pid = int(getpid());
    s.command_line = test_command_line;
    s.on_started = remember_child;
    s.program_path = o.program.empty() ? (executable_dir() / "wintest").string() : o.program;
    auto controller = Controller::create();
    if (!controller)
        return fprintf(stderr, "propsheet: %s\n", controller.message().c_str()), 1;
    s.controller = std::move(*controller);
    s.sheet.answer_enable = o.answer;
    if (!create_sheet_window(s.sheet))
        return fputs("propsheet: cannot create the sheet's window\n", stderr), 1;
    if (auto prepared = prepare_keys(o); !prepared)
        return fprintf(stderr, "propsheet: %s\n", prepared.message().c_str()), 1;

    Input input(o.script, *s.controller);
    if (!input.ok())
        return fprintf(stderr, "propsheet: cannot read %s\n", o.script.c_str()), kExitUsage;
    auto started =
        start_program(s, o.command_line ? *o.command_line : test_command_line(o.mode, ""));
    if (!started)
        return fprintf(stderr, "propsheet: %s\n", started.message().c_str()), 1;

    for (;;) {
        pump(s);
        bool ended = false;
        if (auto line = input.next(ended)) {
            if (auto done = run_command(s, *line); !done) {
                fprintf(stderr, "propsheet: %s:%d: %s\n", input.name().c_str(), input.line_number(),
                        done.message().c_str());
                if (!input.interactive()) {
                    s.controller->kill_program();
                    return kExitScriptFailed;
                }
            }
            continue;
        }
        if (ended && !input.interactive() && !s.exit_code) {
            int code = finish_after_script(s, input.name());
            s.controller->kill_program();
            return code;
        }
        // At a terminal the sheet stays until the program ends.
        if (s.exit_code && (ended || input.interactive()))
            break;
        s.controller->wait(50);
    }
    s.controller->kill_program();  // programs started later that still run
    for (auto& child : s_children) // ended and reaped: their pids may be reused
        child = 0;
    return *s.exit_code;
}

// --fresh: a new folder under the temporary folder becomes the prefix of this run and of the
// programs it starts; removed at the end unless --keep.
class FreshPrefix {
public:
    bool make() {
        std::error_code ec;
        fs::path base = fs::temp_directory_path(ec);
        if (ec)
            return false;
        for (int attempt = 0; attempt < 100; ++attempt) {
            fs::path dir =
                base / ("propsheet-" + std::to_string(getpid()) + "-" + std::to_string(attempt));
            if (fs::create_directory(dir, ec)) {
                m_dir = dir.string();
                break;
            }
        }
#ifdef _WIN32
        return false; // refused with the options
#else
        return !m_dir.empty() && setenv("WINTEST_PREFIX", m_dir.c_str(), 1) == 0;
#endif
    }
    void finish(bool keep) {
        std::error_code ec;
        if (keep)
            fprintf(stderr, "propsheet: kept the prefix %s\n", m_dir.c_str());
        else if (!m_dir.empty())
            fs::remove_all(m_dir, ec);
    }

private:
    std::string m_dir;
};

} // namespace

int main(int argc, char** argv) {
    if (platform::print_version_if_asked(argc, argv, "propsheet"))
        return 0;
    if (argc >= 2 && strcmp(argv[1], "reg") == 0) {
        std::vector<std::string> args(argv + 2, argv + argc);
        auto done = run_reg_command(stdout, args);
        if (!done)
            return fprintf(stderr, "propsheet: %s\n", done.message().c_str()),
                   int(done.error().code);
        return 0;
    }
    Options o;
    int rc = parse_options(argc, argv, o);
    if (rc >= 0)
        return rc;
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
#ifndef _WIN32
    signal(SIGHUP, on_signal);
    signal(SIGPIPE, on_signal); // the reader of our output went away
#endif
    s_options = o;
    FreshPrefix fresh;
    if (o.fresh && !fresh.make())
        return fputs("propsheet: cannot make a temporary prefix\n", stderr), 1;
    rc = run_test(o);
    if (o.fresh)
        fresh.finish(o.keep);
    return rc;
}
