// propsheet: stands in for the board's display property sheet. It prepares the settings keys
// of a test, starts the test program with that test's command line, answers and sends the
// sheet's registered messages, prints every event it hears, and runs commands typed in or read
// from a script. It ends with the program's exit code.
#include "session.h"
#include "settings.h"

#include <windows.h>

#include <atomic>
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
Commands come from <script>, else from standard input. propsheet ends with the program's exit
code (128 + n when signal n ended it), 2 for a usage error, 3 when a script command failed
(the program is then stopped).

Command lines of the tests:
  tv     0 <bitmap> <data dir> <key> <default key>
  gamma  1 <bitmap> <data dir> <key>
  glide  2 <bitmap> <texture>

Options:
  --program <file>        the program (default: wintest beside propsheet)
  --data <dir>            the bundled data (default: $WINTEST_DATA, else data/ of the tree)
  --bitmap <file>         the test window's bitmap (default: <data>/kvxlogo.bmp)
  --texture <file>        the glide test's texture (default: <data>/sample256.3df)
  --key <key>             settings key (default: SOFTWARE\Kavix\Board)
  --default-key <key>     TV default settings key (default: SOFTWARE\Kavix\Default)
  --command-line <tail>   pass exactly this command-line tail instead
  --no-prepare            leave the registry as it is
  --no-answer             do not answer the gamma enable request
  --timeout <ms>          bound of expect and of waiting for the test window (5000)
  --json                  print events as JSON lines
  -h, --help              this text

Factory values written where missing:
  default key (tv): SST_TV_ENABLE_KVX 1, OUTPUT 0, SCAN 0, FORMAT 0, XSHIFT 0, YSHIFT 0,
                    BRIGHTNESS 66, TUNING 7, SHARPNESS 3, FFILTER 3 (all SST_TV_<name>_KVX)
  key (gamma):      SST_RGAMMA, SST_GGAMMA, SST_BGAMMA 1.7, =CurrGammaColor RGB,
                    =CurrGammaEnable 1

Commands:
  key <k>[+<k>...] [down|up|repeat <n>]   press a key (modifiers first), or only its down or
                                          up, or hold it for n auto-repeated downs
  keys <k> <k> ...                        press each key in turn
                                          keys: a-z 0-9 esc enter space tab backspace left
                                          right up down shift ctrl alt f1-f24 numpad0-9
                                          home end pageup pagedown insert delete 0x<vk>
  gamma <r> <g> <b>                       send gamma values (0.0 to 25.5, sent in tenths)
  enable on|off                           switch gamma correction on or off
  answer on|off                           answer the enable request or not
  close                                   the sheet closes: "KVXPS Property Sheet Closed"
  window-close                            close the test window as its close button does
  window-move <x> <y> | window-resize <w> <h> | display-change <w> <h>
  screenshot board|tv|window <file.png>   picture of the board's screen, its TV view or the
                                          test window's client area; the TV view at its own
                                          size (640x480 NTSC, 768x576 PAL), both fields
  screenshot tv --field 0|1 <file.png>    one field of the TV view alone (other lines black)
  frames                                  print the board's frame count
  wait <ms>                               keep listening for a while
  expect <pattern> [<n>ms|<n>s]           wait for the next matching event of the program or
                                          sheet (default bound 5 s); fail when none comes.
                                          '*' matches any run, '?' one character; a pattern
                                          without '*' matches the start of the event line
  expect-no <pattern> [<n>ms|<n>s]        fail if a matching event comes (default 500 ms)
  expect-reg <key> <value> <text>|-       the value holds exactly this text (- : no value)
  reg ...                                 as on the command line
  sheet                                   print what the sheet knows (gamma, correction)
  echo <text>                             print a line
  try <command>                           run a command; if it fails, say why and go on
  # ...                                   a comment

Example:
  propsheet tv <<'EOF'
  keys right right d
  expect broadcast "KVXPS Test TV Underscan Overscan" wparam=1
  key enter
  key esc
  expect exit 0
  EOF
  propsheet reg get 'SOFTWARE\Kavix\Board' SST_TV_XSHIFT_KVX     # prints 2
)";

struct Options {
    int mode{-1};
    std::string program, data, bitmap, texture, script;
    std::string key{"SOFTWARE\\Kavix\\Board"};
    std::string default_key{"SOFTWARE\\Kavix\\Default"};
    std::optional<std::string> command_line;
    bool prepare{true}, answer{true}, json{false};
    int timeout_ms{5000};
};

std::atomic<int> s_child{0};

// Ends the program with the tool. On Windows the program runs under this process as its
// debugger and dies with it.
void on_signal(int sig) {
#ifndef _WIN32
    if (int pid = s_child.load())
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

std::string default_data_dir() {
    if (const char* env = getenv("WINTEST_DATA"); env && *env)
        return env;
    fs::path tree = executable_dir() / ".." / ".." / "data";
    std::error_code ec;
    if (fs::is_directory(tree, ec))
        return fs::weakly_canonical(tree, ec).string();
    return "data";
}

int parse_mode(const std::string& word) {
    if (word == "tv" || word == "0")
        return 0;
    if (word == "gamma" || word == "1")
        return 1;
    if (word == "glide" || word == "2")
        return 2;
    return -1;
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
        else if (a == "--timeout")
            ok = value(v) && (o.timeout_ms = atoi(v.c_str())) > 0;
        else if (a == "--no-prepare")
            o.prepare = false;
        else if (a == "--no-answer")
            o.answer = false;
        else if (a == "--json")
            o.json = true;
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
    if ((o.mode = parse_mode(positional[0])) < 0) {
        fprintf(stderr, "propsheet: unknown test \"%s\" (tv, gamma or glide)\n",
                positional[0].c_str());
        return kExitUsage;
    }
    if (positional.size() == 2)
        o.script = positional[1];
    return -1;
}

std::string build_command_line(const Options& o) {
    if (o.command_line)
        return *o.command_line;
    std::string data = o.data.empty() ? default_data_dir() : o.data;
    std::string bitmap = o.bitmap.empty() ? data + "/kvxlogo.bmp" : o.bitmap;
    switch (o.mode) {
    case 0:
        return "0 " + bitmap + " " + data + " " + o.key + " " + o.default_key;
    case 1:
        return "1 " + bitmap + " " + data + " " + o.key;
    default:
        return "2 " + bitmap + " " + (o.texture.empty() ? data + "/sample256.3df" : o.texture);
    }
}

bool prepare_keys(const Options& o, std::string& error) {
    if (!o.prepare || o.mode == 2)
        return true;
    std::string key, default_key;
    if (!key_below_local_machine(o.key, key) ||
        !key_below_local_machine(o.default_key, default_key))
        return error = "settings keys must lie under HKEY_LOCAL_MACHINE", false;
    if (o.mode == 0)
        return write_missing(default_key, kTvFactoryDefaults, &error);
    return write_missing(key, kGammaFactoryDefaults, &error);
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

int run_test(const Options& o) {
    Session s;
    s.json = o.json;
    s.timeout_ms = o.timeout_ms;
    s.self_pid = int(getpid());
    std::string error;
    s.controller = Controller::create(&error);
    if (!s.controller)
        return fprintf(stderr, "propsheet: %s\n", error.c_str()), 1;
    s.sheet.answer_enable = o.answer;
    if (!create_sheet_window(s.sheet))
        return fputs("propsheet: cannot create the sheet's window\n", stderr), 1;
    if (!prepare_keys(o, error))
        return fprintf(stderr, "propsheet: %s\n", error.c_str()), 1;

    Input input(o.script, *s.controller);
    if (!input.ok())
        return fprintf(stderr, "propsheet: cannot read %s\n", o.script.c_str()), kExitUsage;
    std::string program = o.program.empty() ? (executable_dir() / "wintest").string() : o.program;
    std::string tail = build_command_line(o);
    int pid = s.controller->start(program, tail, &error);
    if (!pid)
        return fprintf(stderr, "propsheet: %s\n", error.c_str()), 1;
    s_child = pid;
    if (!o.json)
        fprintf(s.out, "propsheet[%d] started %s[%d] with \"%s\"\n", s.self_pid,
                fs::path(program).filename().string().c_str(), pid, tail.c_str());

    for (;;) {
        pump(s);
        bool ended = false;
        if (auto line = input.next(ended)) {
            if (!run_command(s, *line, error)) {
                fprintf(stderr, "propsheet: %s:%d: %s\n", input.name().c_str(), input.line_number(),
                        error.c_str());
                if (!input.interactive()) {
                    s.controller->kill_program();
                    return kExitScriptFailed;
                }
            }
            continue;
        }
        // Without more commands the sheet stays until the program ends; at a terminal it
        // also leaves as soon as the program has ended.
        if (s.exit_code && (ended || input.interactive()))
            break;
        s.controller->wait(50);
    }
    s_child = 0;
    return *s.exit_code;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "reg") == 0) {
        std::vector<std::string> args(argv + 2, argv + argc);
        std::string error;
        int rc = run_reg_command(stdout, args, error);
        if (rc != 0)
            fprintf(stderr, "propsheet: %s\n", error.c_str());
        return rc;
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
    return run_test(o);
}
