// The program and the property sheet stand-in, end to end: each case runs build/bin/propsheet
// (which starts build/bin/wintest) with a script, in the case's own prefix, and checks the
// events it printed, its exit code and the registry afterwards.
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
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// The program frees nothing at its end on purpose (the process ends instead): in the sanitizer
// build the binaries started here run without the leak check, which the unit suites keep.
const bool kNoLeakCheckInChildren = setenv("ASAN_OPTIONS", "detect_leaks=0", 0) == 0;

const std::string kBin = WINTEST_BIN_DIR;
const std::string kData = WINTEST_SOURCE_DIR "/data";
const std::string kKey = "SOFTWARE\\Kavix\\Board";
const std::string kDefaultKey = "SOFTWARE\\Kavix\\Default";

std::string read_file(const std::string& path) {
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

std::string reg_get(const std::string& value, const std::string& key = kKey) {
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

void reg_set(const std::string& value, const std::string& text, const std::string& key = kKey) {
    std::string cmd = kBin + "/propsheet reg set '" + key + "' '" + value + "' '" + text + "'";
    ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
}

std::vector<std::string> test_args(const std::string& test) {
    return {"--data", kData, test};
}

std::string diagnostics(const Sheet& s) {
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

// ---- mode 0: TV adjustment -------------------------------------------------------------------

TEST_F(TvTest, KeysBroadcastsAndSavedTextsThenEscapeEndsThroughWinMain) {
    RUN_SHEET(s, 0, test_args("tv"), R"(
expect window WinGlideClass "Kavix TV Adjustment"
keys right right right up shift+b t d
expect broadcast "KVXPS Test TV Underscan Overscan" wparam=1 lparam=0
keys d f s
expect broadcast "KVXPS Test TV Underscan Overscan" wparam=0 lparam=0
expect debug "sss\n"
key enter
expect debug "return\n"
key esc
expect broadcast "KVXPS Test TV Application Closed" wparam=1 lparam=0
expect exit 0
)");
    EXPECT_EQ(s.count("debug \"right\\n\""), 3);
    EXPECT_EQ(reg_get("SST_TV_XSHIFT_KVX"), "3");
    EXPECT_EQ(reg_get("SST_TV_YSHIFT_KVX"), "1");
    EXPECT_EQ(reg_get("SST_TV_BRIGHTNESS_KVX"), "69") << "factory 66, Shift+B steps up by 3";
    EXPECT_EQ(reg_get("SST_TV_TUNING_KVX"), "6");
    EXPECT_EQ(reg_get("SST_TV_SCAN_KVX"), "0");
    EXPECT_EQ(reg_get("SST_TV_FFILTER_KVX"), "0");
    EXPECT_EQ(reg_get("SST_TV_SHARPNESS_KVX"), "1");
    EXPECT_EQ(reg_get("SST_TV_OUTPUT_KVX"), "0");
    EXPECT_EQ(reg_get("SST_TV_BRIGHTNESS_KVX", kDefaultKey), "66")
        << "the default key is only read";
}

TEST_F(TvTest, LimitsBeepAndEscapeSavesNothing) {
    reg_set("SST_TV_XSHIFT_KVX", "128");
    reg_set("SST_TV_TUNING_KVX", "0");
    RUN_SHEET(s, 0, test_args("tv"), R"(
key right
expect beep 0
key t
expect beep 0
key esc
expect exit 0
)");
    EXPECT_EQ(reg_get("SST_TV_XSHIFT_KVX"), "128");
    EXPECT_EQ(reg_get("SST_TV_TUNING_KVX"), "0");
    EXPECT_EQ(reg_get("SST_TV_SCAN_KVX"), "<none>") << "Escape saves nothing";
}

TEST_F(TvTest, ClosingTheWindowBroadcastsWithWParam0AndSavesNothing) {
    RUN_SHEET(s, 0, test_args("tv"), R"(
keys left left
expect debug "left\n"
window-close
expect broadcast "KVXPS Test TV Application Closed" wparam=0 lparam=0
expect exit 0
)");
    EXPECT_EQ(reg_get("SST_TV_XSHIFT_KVX"), "<none>");
}

TEST_F(TvTest, SheetClosingEndsTheTestWithoutSaving) {
    RUN_SHEET(s, 0, test_args("tv"), R"(
keys right d
expect broadcast "KVXPS Test TV Underscan Overscan" wparam=1
close
expect exit 0
)");
    EXPECT_EQ(s.count("broadcast \"KVXPS Test TV Application Closed\""), 0);
    EXPECT_EQ(reg_get("SST_TV_XSHIFT_KVX"), "<none>");
}

TEST_F(TvTest, WrongWordCountEndsWithCode1) {
    auto args = test_args("tv");
    args.insert(args.begin(), {"--command-line", "0 x.bmp data only-one-key"});
    RUN_SHEET(s, 1, args, "expect exit 1\n");
    EXPECT_EQ(s.count("broadcast"), 0);
}

TEST_F(TvTest, RecordReachesTheBoardAndSpaceRestartsTheOutput) {
    reg_set("SST_TV_ENABLE_KVX", "0");
    std::string tv = platform::prefix_dir() + "/tv.png";
    std::string field = platform::prefix_dir() + "/field.png";
    RUN_SHEET(s, 0, test_args("tv"), R"(
key right
expect tv enable=0 output=0 scan=0 format=0 xshift=1 yshift=0 brightness=66 tuning=7
key space
expect tv enable=0 * xshift=1 *
expect tv enable=1 * xshift=1 *
screenshot tv )" + tv + R"(
screenshot tv --field 1 )" + field + R"(
try screenshot tv --field 2 )" + field + R"(
frames
key esc
expect exit 0
)");
    EXPECT_EQ(s.count("tv "), 3) << "no record is sent on Escape";
    platform::Image image = platform::read_png(tv);
    EXPECT_EQ(image.width, 640);
    EXPECT_NE((s.out + s.err).find("usage: screenshot"), std::string::npos) << "field 2 is refused";
    platform::Image odd = platform::read_png(field);
    ASSERT_EQ(odd.height, 480);
    uint32_t even_light = 0, odd_light = 0;
    for (int y = 0; y < odd.height; ++y)
        for (int x = 0; x < odd.width; ++x)
            (y & 1 ? odd_light : even_light) |= odd.at(x, y);
    EXPECT_EQ(even_light, 0u) << "field 1 alone leaves the even lines black";
    EXPECT_NE(odd_light, 0u);
    EXPECT_NE(s.out.find("frames "), std::string::npos);
}

TEST_F(Propsheet, FailedExpectationStopsTheProgramAndSaysWhy) {
    RUN_SHEET(s, 3, test_args("tv"), "# nothing comes\nexpect broadcast \"never\" 300ms\n");
    EXPECT_NE(s.err.find("expected \"broadcast \"never\"\" within 300 ms"), std::string::npos)
        << s.err;
    EXPECT_NE(s.err.find(":2:"), std::string::npos) << "the script line is named: " << s.err;
}

// ---- the desktop around the test: dying, hanging and noisy neighbours ----------------------

// Starts a bus_peer on the desktop and waits for its endpoint.
pid_t start_peer(const std::string& command_line, const std::vector<std::string>& env = {}) {
    pid_t pid = fork();
    if (pid == 0) {
        setenv("WINTEST_COMMAND_LINE", command_line.c_str(), 1);
        for (auto& e : env)
            putenv(strdup(e.c_str()));
        execl((kBin + "/bus_peer").c_str(), "bus_peer", nullptr);
        _exit(127);
    }
    std::string endpoint = platform::prefix_dir() + "/desktop/" + std::to_string(pid) + ".sock";
    for (int i = 0; i < 500 && !fs::exists(endpoint); ++i)
        std::this_thread::sleep_for(10ms);
    return pid;
}

TEST_F(Desktop, SheetDyingInTheMiddleOfABroadcastDoesNotHoldTheTestUp) {
    pid_t peer = start_peer("die-on KVXPS Test TV Underscan Overscan");
    Sheet s(test_args("tv"), R"(
key d
expect broadcast "KVXPS Test TV Underscan Overscan" wparam=1
keys right esc
expect debug "right\n" 1500ms
expect exit 0 1500ms
)",
            {"WINTEST_BUS_TIMEOUT_MS=20000"});
    ASSERT_EQ(s.finish(), 0) << diagnostics(s);
    int status = 0;
    ASSERT_EQ(waitpid(peer, &status, 0), peer);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the peer died inside the broadcast";
}

TEST_F(Desktop, PeerThatNeverAnswersCostsOneBound) {
    pid_t peer = start_peer("deaf hung");
    auto t0 = Clock::now();
    Sheet s(test_args("tv"), R"(
keys d d d
expect broadcast "KVXPS Test TV Underscan Overscan" wparam=0
key esc
expect exit 0
)",
            {"WINTEST_BUS_TIMEOUT_MS=600"});
    int code = s.finish();
    auto took = Clock::now() - t0;
    kill(peer, SIGKILL);
    waitpid(peer, nullptr, 0);
    ASSERT_EQ(code, 0) << diagnostics(s);
    EXPECT_GE(took, 600ms) << "the first broadcast waited for the bound";
    EXPECT_LT(took, 4s) << "later broadcasts did not wait again";
    EXPECT_NE(s.err.find("did not answer within 600 ms"), std::string::npos) << s.err;
}

void send_garbage(const std::string& endpoint, const std::vector<uint8_t>& bytes) {
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, endpoint.c_str(), sizeof addr.sun_path - 1);
    for (int i = 0; i < 200; ++i) {
        if (sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&addr),
                   sizeof addr) >= 0)
            break;
        std::this_thread::sleep_for(1ms);
    }
    close(fd);
}

TEST_F(Desktop, GarbageWrittenToTheProgramsEndpointIsCountedAndTheTestGoesOn) {
    ASSERT_TRUE(win32::desktop::join(false));
    Sheet s(test_args("tv"), R"(
expect window WinGlideClass
wait 600
key d
expect broadcast "KVXPS Test TV Underscan Overscan" wparam=1
key esc
expect exit 0
)");
    // Find the program among the endpoints on the desktop.
    int program = 0;
    auto until = Clock::now() + 5s;
    while (!program && Clock::now() < until) {
        for (auto& p : win32::desktop::processes())
            if (read_file("/proc/" + std::to_string(p.pid) + "/comm") == "wintest\n")
                program = p.pid;
        Sheet::serve_bus();
    }
    ASSERT_GT(program, 0) << "the program never joined the desktop";
    std::string endpoint = platform::prefix_dir() + "/desktop/" + std::to_string(program) + ".sock";
    std::vector<std::vector<uint8_t>> garbage = {
        {1, 2, 3}, std::vector<uint8_t>(300, 0xFF), {'W', 'T', 'B', 'S', 9, 0, 1, 0}};
    for (auto& g : garbage)
        send_garbage(endpoint, g);
    std::optional<win32::desktop::Stats> stats;
    for (int i = 0; i < 100 && !(stats && stats->malformed >= garbage.size()); ++i) {
        stats = win32::desktop::stats(program);
        Sheet::serve_bus();
    }
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->malformed, garbage.size());
    ASSERT_EQ(s.finish(), 0) << diagnostics(s);
}

// ---- mode 1: gamma correction adjustment ---------------------------------------------------

TEST_F(GammaTest, StepsBroadcastPackedTenthsAndEnterSaves) {
    RUN_SHEET(s, 0, test_args("gamma"), R"(
expect window KVXMyWindow "Kavix Gamma Correction Adjustment"
key shift+r
expect broadcast "KVXPS Glide Gamma Correction Changed" wparam=18 lparam=0
keys g g
expect broadcast "KVXPS Glide Gamma Correction Changed" wparam=3858 lparam=1
key enter
wait 200
key esc
expect broadcast "KVXPS Test Gamma Application Closed" wparam=0 lparam=0
expect exit 0
)");
    EXPECT_EQ(reg_get("SST_RGAMMA"), "1.8");
    EXPECT_EQ(reg_get("SST_GGAMMA"), "1.5");
    EXPECT_EQ(reg_get("=CurrGammaColor"), "Green");
    EXPECT_EQ(reg_get("=CurrGammaEnable"), "1");
}

TEST_F(GammaTest, EnableRequestIsAnsweredInsideTheBroadcast) {
    reg_set("=CurrGammaEnable", "0");
    RUN_SHEET(s, 0, test_args("gamma"), R"(
expect window KVXMyWindow
key e
expect broadcast "KVXPS Glide Gamma Correction Enable" wparam=1
expect broadcast "KVXPS Property Sheet Gamma Correction Enable" wparam=1
key r
expect broadcast "KVXPS Glide Gamma Correction Changed" wparam=16 lparam=0
key esc
expect exit 0
)");
}

TEST_F(GammaTest, UnansweredEnableRequestLeavesCorrectionOff) {
    reg_set("=CurrGammaEnable", "0");
    auto args = test_args("gamma");
    args.insert(args.begin(), "--no-answer");
    RUN_SHEET(s, 0, args, R"(
expect window KVXMyWindow
key e
expect broadcast "KVXPS Glide Gamma Correction Enable" wparam=1
key r
expect-no broadcast "KVXPS Glide Gamma Correction Changed" 700ms
key enter
wait 200
key esc
expect exit 0
)");
    EXPECT_EQ(reg_get("=CurrGammaEnable"), "0");
}

TEST_F(GammaTest, SheetGammaChangesAreFollowedAndSaved) {
    RUN_SHEET(s, 0, test_args("gamma"), R"(
expect window KVXMyWindow
gamma 1.9 1.8 1.7
wait 200
key enter
wait 200
key esc
expect exit 0
)");
    EXPECT_EQ(reg_get("SST_RGAMMA"), "1.9");
    EXPECT_EQ(reg_get("SST_GGAMMA"), "1.8");
    EXPECT_EQ(reg_get("SST_BGAMMA"), "1.7");
}

TEST_F(GammaTest, ClosingTheWindowOrTheSheetEndsWithoutSaving) {
    RUN_SHEET(s, 0, test_args("gamma"), R"(
expect window KVXMyWindow
key shift+r
expect broadcast "KVXPS Glide Gamma Correction Changed"
window-close
expect broadcast "KVXPS Test Gamma Application Closed" wparam=0
expect exit 0
)");
    RUN_SHEET(t, 0, test_args("gamma"), R"(
expect window KVXMyWindow
key shift+r
expect broadcast "KVXPS Glide Gamma Correction Changed"
close
expect exit 0
)");
    EXPECT_EQ(t.count("broadcast \"KVXPS Test Gamma Application Closed\""), 0);
    EXPECT_EQ(reg_get("SST_RGAMMA"), "1.7") << "only the factory value the sheet wrote";
}

TEST_F(GammaTest, SheetGammaChangeShowsOnTheBoardsScreen) {
    std::string before = platform::prefix_dir() + "/before.png";
    std::string after = platform::prefix_dir() + "/after.png";
    RUN_SHEET(s, 0, test_args("gamma"), R"(
expect window KVXMyWindow
wait 300
screenshot board )" + before + R"(
gamma 3.0 3.0 3.0
expect gamma 3.00 3.00 3.00
wait 300
screenshot board )" + after + R"(
key esc
expect exit 0
)");
    platform::Image a = platform::read_png(before), b = platform::read_png(after);
    ASSERT_FALSE(a.empty());
    ASSERT_EQ(a.width, b.width);
    EXPECT_NE(a.pixels, b.pixels) << "the new curve shows on the screen";
}

// ---- mode 2: Glide test, and two programs on one board -------------------------------------

TEST_F(GlideTest, EscapeBroadcastsTheGammaClosingMessage) {
    RUN_SHEET(s, 0, test_args("glide"), R"(
expect window WinGlideClass "Kavix Glide Test"
keys a enter shift
key esc
expect broadcast "KVXPS Test Gamma Application Closed" wparam=0
expect exit 0
)");
}

TEST_F(GlideTest, WindowClosedAndSheetClosed) {
    RUN_SHEET(s, 0, test_args("glide"), R"(
expect window WinGlideClass
window-close
expect broadcast "KVXPS Test Gamma Application Closed" wparam=0
expect exit 0
)");
    RUN_SHEET(t, 0, test_args("glide"), "expect window WinGlideClass\nclose\nexpect exit 0\n");
}

TEST_F(GlideTest, SecondProgramFindsTheBoardBusy) {
    Sheet first(test_args("glide"), "expect window WinGlideClass\nwait 3000\nkey esc\n"
                                    "expect exit 0\n");
    std::this_thread::sleep_for(1000ms);
    RUN_SHEET(second, 1, test_args("glide"), R"(
expect messagebox "Error" "Display property test cannot run due to presence of another running D3D or glide application.  Please exit or close D3D or glide application and restart the Display Properties."
expect exit 1
)");
    EXPECT_EQ(first.finish(), 0) << diagnostics(first);
}

} // namespace
