// The program and the property sheet stand-in, end to end: each case runs build/bin/propsheet
// (which starts build/bin/wintest) with a script, in the case's own prefix, and checks the
// events it printed, its exit code and the registry afterwards.
#include "e2e_support.h"
#include "child.h"
#include "test_support.h"

#include <sys/socket.h>
#include <sys/un.h>

using namespace e2e;

namespace {

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
pid_t start_peer(const std::string& command_line) {
    pid_t pid = test_support::spawn_program(kBin + "/bus_peer", {},
                                            {{"WINTEST_COMMAND_LINE", command_line}});
    std::string endpoint = platform::prefix_dir() + "/desktop/" + std::to_string(pid) + ".sock";
    for (int i = 0; i < 2000 && pid > 0 && !fs::exists(endpoint); ++i)
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
    EXPECT_GT(wt_test::wait_for_exit(peer, 20s), 128) << "the peer died inside the broadcast";
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
    // The script goes on once this process has sent its garbage and said so in a broadcast.
    Sheet s({"--all-events", "--data", kData, "tv"}, R"(
expect window WinGlideClass
expect broadcast "E2E Garbage Sent" 20s
key d
expect broadcast "KVXPS Test TV Underscan Overscan" wparam=1
key esc
expect exit 0
)");
    int program = s.wait_for_program();
    ASSERT_GT(program, 0) << "the program never started";
    std::string endpoint = platform::prefix_dir() + "/desktop/" + std::to_string(program) + ".sock";
    std::vector<std::vector<uint8_t>> garbage = {
        {1, 2, 3}, std::vector<uint8_t>(300, 0xFF), {'W', 'T', 'B', 'S', 9, 0, 1, 0}};
    std::optional<win32::desktop::Stats> stats;
    for (int i = 0; i < 500 && !stats; ++i) { // until the program has joined the desktop
        auto got = win32::desktop::stats(program);
        stats = got ? std::optional(*got) : std::nullopt;
        Sheet::serve_bus();
    }
    ASSERT_TRUE(stats) << "the program never joined the desktop";
    for (auto& g : garbage)
        send_garbage(endpoint, g);
    for (int i = 0; i < 100 && !(stats && stats->malformed >= garbage.size()); ++i) {
        auto got = win32::desktop::stats(program);
        stats = got ? std::optional(*got) : std::nullopt;
        Sheet::serve_bus();
    }
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->malformed, garbage.size());
    SendMessageA(HWND_BROADCAST, RegisterWindowMessageA("E2E Garbage Sent"), 0, 0);
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
expect registry *"=CurrGammaEnable"
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
expect registry *"=CurrGammaEnable"
key esc
expect exit 0
)");
    EXPECT_EQ(reg_get("=CurrGammaEnable"), "0");
}

TEST_F(GammaTest, SheetGammaChangesAreFollowedAndSaved) {
    RUN_SHEET(s, 0, test_args("gamma"), R"(
expect window KVXMyWindow
gamma 1.9 1.8 1.7
expect gamma 1.90 1.80 1.70
key enter
expect registry *"=CurrGammaEnable"
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
wait-frames 2
screenshot board )" + before + R"(
gamma 3.0 3.0 3.0
expect gamma 3.00 3.00 3.00
wait-frames 2
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

// The second program runs in the same sheet while the first holds the board: its events carry
// its own pid, and the first one goes on.
TEST_F(GlideTest, SecondProgramFindsTheBoardBusy) {
    RUN_SHEET(s, 0, test_args("glide"), R"(
expect window WinGlideClass
wait-frames 1
start glide
expect @2 messagebox "Error" "Display property test cannot run due to presence of another running D3D or glide application.  Please exit or close D3D or glide application and restart the Display Properties."
expect @2 exit 1
wait-frames 2
key esc
expect @1 exit 0
)");
    auto pids = s.started_pids();
    ASSERT_EQ(pids.size(), 2u) << diagnostics(s);
    std::string second = "wintest[" + std::to_string(pids[1]) + "] ";
    EXPECT_NE(s.out.find(second + "messagebox \"Error\""), std::string::npos) << diagnostics(s);
    EXPECT_NE(s.out.find(second + "exit 1"), std::string::npos) << diagnostics(s);
    EXPECT_NE(s.out.find("wintest[" + std::to_string(pids[0]) + "] exit 0"), std::string::npos);
}

} // namespace
