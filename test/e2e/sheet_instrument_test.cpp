// propsheet as a test instrument, end to end against the real wintest: messages with every
// bit of their parameters, frame waits, window facts, a second program, pids and time stamps,
// output that reaches a file as it happens, scripts that end before the test, a fresh prefix,
// and two sheets sharing one prefix.
#include "e2e_support.h"

#include <cctype>
#include <cstring>
#include <optional>
#include <set>

using namespace e2e;

namespace {

class Instrument : public testing::Test {
protected:
    void SetUp() override {
        std::error_code ec;
        fs::remove(platform::prefix_dir() + "/registry.reg", ec);
    }
};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The number after `"name":` in a JSON line, or -1.
long long json_number(const std::string& line, const std::string& name) {
    size_t at = line.find("\"" + name + "\":");
    return at == std::string::npos ? -1 : atoll(line.c_str() + at + name.size() + 3);
}

// A strict check that a line is one JSON object (strings, numbers, true/false, arrays and
// nested objects), nothing before or after it.
class JsonLine {
public:
    explicit JsonLine(const std::string& text) : m_text(text) {}
    bool valid() {
        skip();
        if (peek() != '{' || !value())
            return false;
        skip();
        return m_at == m_text.size();
    }

private:
    char peek() const { return m_at < m_text.size() ? m_text[m_at] : '\0'; }
    void skip() {
        while (isspace(static_cast<unsigned char>(peek())))
            ++m_at;
    }
    bool literal(const char* word) {
        size_t n = strlen(word);
        if (m_text.compare(m_at, n, word) != 0)
            return false;
        return m_at += n, true;
    }
    bool string() {
        if (peek() != '"')
            return false;
        for (++m_at; m_at < m_text.size(); ++m_at) {
            char c = m_text[m_at];
            if (c == '"')
                return ++m_at, true;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c == '\\' && ++m_at >= m_text.size())
                return false;
        }
        return false;
    }
    bool number() {
        size_t start = m_at;
        if (peek() == '-')
            ++m_at;
        while (isdigit(static_cast<unsigned char>(peek())) || peek() == '.' || peek() == 'e' ||
               peek() == 'E' || peek() == '+' || peek() == '-')
            ++m_at;
        return m_at > start && isdigit(static_cast<unsigned char>(m_text[m_at - 1]));
    }
    bool sequence(char close, bool keyed) {
        ++m_at;
        skip();
        if (peek() == close)
            return ++m_at, true;
        for (;;) {
            skip();
            if (keyed && (!string() || (skip(), peek() != ':')))
                return false;
            if (keyed)
                ++m_at;
            if (!value())
                return false;
            skip();
            if (peek() == close)
                return ++m_at, true;
            if (peek() != ',')
                return false;
            ++m_at;
        }
    }
    bool value() {
        skip();
        switch (peek()) {
        case '{':
            return sequence('}', true);
        case '[':
            return sequence(']', false);
        case '"':
            return string();
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        default:
            return number();
        }
    }

    const std::string& m_text;
    size_t m_at{0};
};

// ---- what a script can send and wait for ---------------------------------------------------

// The gamma test reads only bits 0 to 23 of the sheet's gamma message, and treats any enable
// wParam but 1 as "off": both can only be tried with the full 32 bits.
TEST_F(Instrument, SendCarriesEveryBitOfBothParameters) {
    RUN_SHEET(s, 0, test_args("gamma"), R"(
expect window KVXMyWindow
send "KVXPS Property Sheet Gamma Correction Changed" 0xFF131211 0xFFFFFFFF
expect broadcast "KVXPS Property Sheet Gamma Correction Changed" wparam=4279439889 lparam=-1
expect gamma 1.70 1.80 1.90
send "KVXPS Property Sheet Gamma Correction Enable" 2 0
expect gamma 1.70 1.70 1.70
key r
expect-no broadcast "KVXPS Glide Gamma Correction Changed" 300ms
send "KVXPS Property Sheet Gamma Correction Enable" 1 -1
key r
expect broadcast "KVXPS Glide Gamma Correction Changed"
key esc
expect exit 0
)");
    RUN_SHEET(bad, 3, test_args("gamma"), "send \"KVXPS Test\" 0x100000000 0\n");
    EXPECT_NE(bad.err.find("32-bit"), std::string::npos) << bad.err;
}

TEST_F(Instrument, WaitFramesCountsTheBoardsFramesAndFailsOnceTheProgramHasEnded) {
    RUN_SHEET(s, 0, test_args("glide"), R"(
frames
wait-frames 20
frames
key esc
expect exit 0
try wait-frames 5 2s
)");
    std::vector<long long> counts;
    for (auto& line : lines_of(s.out))
        if (line.starts_with("frames "))
            counts.push_back(atoll(line.c_str() + 7));
    ASSERT_EQ(counts.size(), 2u) << diagnostics(s);
    EXPECT_GE(counts[1] - counts[0], 20);
    EXPECT_NE(s.out.find("(went on) the program has ended"), std::string::npos) << diagnostics(s);
}

// A batch goes in as one request: at the board's real 60 Hz all twenty presses are waiting
// within a few frames (one at a time, each would wait for the program's next retrieval).
TEST_F(Instrument, KeysBatchQueuesEveryPressBeforeTheNextFrames) {
    std::string twenty;
    for (int i = 0; i < 20; ++i)
        twenty += " right";
    Sheet s(test_args("tv"),
            "expect window WinGlideClass\nframes\nkeys --batch" + twenty +
                "\nframes\nexpect tv * xshift=20 * 20s\nkey esc\nexpect exit 0\n",
            {"WINTEST_VSYNC=1"});
    ASSERT_EQ(s.finish(), 0) << diagnostics(s);
    std::vector<long long> counts;
    for (auto& line : lines_of(s.out))
        if (line.starts_with("frames "))
            counts.push_back(atoll(line.c_str() + 7));
    ASSERT_EQ(counts.size(), 2u) << diagnostics(s);
    EXPECT_LT(counts[1] - counts[0], 10) << "the batch waited for the program's frames";
    EXPECT_EQ(s.count("debug \"right\\n\""), 20);
}

// Commands that need the program, as the first lines of a script, wait for it to join.
TEST_F(Instrument, CommandsRightAfterTheStartWaitForTheProgram) {
    std::string shot = platform::prefix_dir() + "/first.png";
    RUN_SHEET(s, 0, test_args("tv"),
              "frames\nwindows\nscreenshot board " + shot + "\nkey esc\nexpect exit 0\n");
    EXPECT_NE(s.out.find("\nframes "), std::string::npos) << diagnostics(s);
    EXPECT_EQ(platform::read_png(shot).width, 640);
}

TEST_F(Instrument, WindowsReportsFactsAndAnEmptyClientAreaAsSuch) {
    RUN_SHEET(s, 0, test_args("glide"), R"(
expect window WinGlideClass "Kavix Glide Test" rect=* client=255x127 visible=1 style=*
windows
window-resize 0 0
wait-frames 2
windows
key esc
expect exit 0
)");
    std::vector<std::string> facts;
    for (auto& line : lines_of(s.out))
        if (line.starts_with("window-facts "))
            facts.push_back(line);
    ASSERT_EQ(facts.size(), 2u) << diagnostics(s);
    EXPECT_NE(facts[0].find(" WinGlideClass \"Kavix Glide Test\" rect="), std::string::npos);
    EXPECT_NE(facts[0].find(" visible=1 "), std::string::npos) << facts[0];
    EXPECT_EQ(facts[0].find(" style=0x00000000 "), std::string::npos) << "styles are known";
    EXPECT_NE(facts[0].find(" focus=1"), std::string::npos) << "the test window has the focus";
    EXPECT_EQ(facts[0].find(" client=0x0 "), std::string::npos) << facts[0];
    EXPECT_NE(facts[1].find(" client=0x0 "), std::string::npos) << facts[1];
}

// The logo's header block (its header and 256 palette entries) is one GlobalAlloc of 1064
// bytes: a limit one byte below it leaves the window unfitted, the limit itself lets it fit.
TEST_F(Instrument, SingleRequestLimitFailsExactlyTheRequestsAboveIt) {
    std::string client[2];
    for (int i = 0; i < 2; ++i) {
        std::string limit = std::to_string(1063 + i);
        Sheet s(test_args("glide"),
                "expect window WinGlideClass\nwindows\nkey esc\nexpect exit 0\n",
                {"WINTEST_GLOBAL_ALLOC_LIMIT=" + limit});
        ASSERT_EQ(s.finish(), 0) << diagnostics(s);
        size_t at = s.out.find(" client=");
        ASSERT_NE(at, std::string::npos) << diagnostics(s);
        client[i] = s.out.substr(at + 8, s.out.find(' ', at + 8) - at - 8);
    }
    EXPECT_EQ(client[1], "255x127") << "fitted to the 256 x 128 logo";
    EXPECT_NE(client[0], client[1]) << "the header block was refused";
}

// ---- what a script sees --------------------------------------------------------------------

TEST_F(Instrument, JsonRunIsOneObjectPerLineWithPidsAndTimeStamps) {
    std::string shot = platform::prefix_dir() + "/json.png";
    RUN_SHEET(s, 0, std::vector<std::string>({"--json", "--data", kData, "tv"}), R"(
expect window WinGlideClass
frames
windows
screenshot window )" + shot + R"(
sheet
echo a "quoted" text
reg get SOFTWARE\Kavix\Default SST_TV_TUNING_KVX
try expect nothing-comes 50ms
key esc
expect exit 0
)");
    auto lines = lines_of(s.out);
    ASSERT_FALSE(lines.empty());
    long long program = json_number(lines[0], "pid"), last_event = 0;
    EXPECT_NE(lines[0].find("\"kind\":\"started\""), std::string::npos) << lines[0];
    std::set<std::string> kinds;
    for (auto& line : lines) {
        EXPECT_TRUE(JsonLine(line).valid()) << line;
        EXPECT_GT(json_number(line, "time_us"), 0) << line;
        size_t kind = line.find("\"kind\":\"");
        ASSERT_NE(kind, std::string::npos) << line;
        kinds.insert(line.substr(kind + 8, line.find('"', kind + 8) - kind - 8));
        if (json_number(line, "pid") == program) { // the program's events come in order
            EXPECT_GE(json_number(line, "time_us"), last_event) << line;
            last_event = json_number(line, "time_us");
        }
    }
    for (const char* k : {"started", "window", "frames", "windows", "window-facts", "screenshot",
                          "sheet", "echo", "reg", "went-on", "debug", "exit"})
        EXPECT_TRUE(kinds.count(k)) << "no \"" << k << "\" line" << diagnostics(s);
    EXPECT_NE(s.out.find("\"text\":\"a \\\"quoted\\\" text\""), std::string::npos);
}

// A driver polling the output sees each line while the run goes on.
TEST_F(Instrument, LinesReachAFileAsTheyHappen) {
    ASSERT_TRUE(win32::desktop::join(false));
    Sheet s({"--all-events", "--data", kData, "glide"}, R"(
frames
expect broadcast "E2E Frames Read" 20s
key esc
expect exit 0
)");
    ASSERT_TRUE(s.wait_for_output("\nframes ")) << "the frames line stayed in a buffer";
    SendMessageA(HWND_BROADCAST, RegisterWindowMessageA("E2E Frames Read"), 0, 0);
    ASSERT_EQ(s.finish(), 0) << diagnostics(s);
}

// The program's saving is heard as it happens: a script reads the store right after the last
// value came, with no wait in between, and the sheet's own writes are not reported.
TEST_F(Instrument, RegistryEventsNameEveryValueTheProgramSaves) {
    RUN_SHEET(s, 0, test_args("tv"), R"(
key right
key enter
expect registry "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kavix\\Board" "SST_TV_FFILTER_KVX"
expect-reg SOFTWARE\Kavix\Board SST_TV_XSHIFT_KVX 1
key esc
expect exit 0
)");
    EXPECT_EQ(s.count("registry \"HKEY_LOCAL_MACHINE\\\\SOFTWARE\\\\Kavix\\\\Board\" "), 10)
        << "Enter saves ten values" << diagnostics(s);
    EXPECT_EQ(s.out.find("propsheet[" + std::to_string(s.pid()) + "] registry"), std::string::npos)
        << "the factory values the sheet wrote are not reported";
}

// ---- how a run ends, and where it keeps its state --------------------------------------------

TEST_F(Instrument, ScriptThatDoesNotEndTheTestClosesTheSheetAndSaysSo) {
    auto args = test_args("tv");
    args.insert(args.begin(), {"--timeout", "300"});
    RUN_SHEET(s, 4, args, "expect window WinGlideClass\n");
    EXPECT_NE(s.err.find("ended while the test still ran"), std::string::npos) << s.err;
    EXPECT_NE(s.out.find("] broadcast \"KVXPS Property Sheet Closed\""), std::string::npos);
    EXPECT_TRUE(s.heard("exit 0")) << diagnostics(s);

    // A script whose last key ends the test in time gets the program's own exit code.
    RUN_SHEET(t, 0, test_args("tv"), "expect window WinGlideClass\nkey esc\n");
}

TEST_F(Instrument, ProgramThatIgnoresTheSheetIsStoppedAfterTheScript) {
    Sheet s({"--timeout", "300", "--program", kBin + "/bus_peer", "--command-line", "deaf x", "tv"},
            "", {"WINTEST_BUS_TIMEOUT_MS=200"});
    ASSERT_EQ(s.finish(), 4) << diagnostics(s);
    EXPECT_NE(s.err.find("was stopped"), std::string::npos) << s.err;
    EXPECT_NE(s.out.find("] exit 137 signal 9"), std::string::npos) << diagnostics(s);
}

TEST_F(Instrument, FreshPrefixLeavesTheUsualOneAloneAndIsRemovedUnlessKept) {
    std::string script = "key right\nkey enter\nkey esc\nexpect exit 0\n";
    auto args = test_args("tv");
    args.insert(args.begin(), {"--fresh", "--keep"});
    RUN_SHEET(kept, 0, args, script);
    size_t at = kept.err.find("kept the prefix ");
    ASSERT_NE(at, std::string::npos) << kept.err;
    std::string dir = kept.err.substr(at + 16, kept.err.find('\n', at) - at - 16);
    EXPECT_NE(read_file(dir + "/registry.reg").find("SST_TV_XSHIFT_KVX"), std::string::npos);
    EXPECT_EQ(reg_get("SST_TV_XSHIFT_KVX"), "<none>") << "the usual prefix was not touched";
    fs::remove_all(dir);

    args.erase(args.begin() + 1); // --fresh alone
    RUN_SHEET(gone, 0, args, script);
    fs::path temp = fs::temp_directory_path() / ("propsheet-" + std::to_string(gone.pid()) + "-0");
    EXPECT_FALSE(fs::exists(temp)) << temp;
    EXPECT_EQ(reg_get("SST_TV_XSHIFT_KVX"), "<none>");
}

// Two sheets in one prefix: each prints its own program's events; --all-events shows the
// other's too, each line naming its process.
TEST_F(Instrument, TwoSheetsInOnePrefixKeepTheirLogsApart) {
    ASSERT_TRUE(win32::desktop::join(false));
    Sheet first(test_args("tv"), "expect window WinGlideClass\nexpect exit 0 30s\n");
    int holder = first.wait_for_program();
    ASSERT_GT(holder, 0);
    ASSERT_TRUE(first.wait_for_output("window WinGlideClass")) << diagnostics(first);
    Sheet second({"--all-events", "--data", kData, "glide"}, "expect @1 exit 1\nexpect @" +
                                                                 std::to_string(holder) +
                                                                 " debug \"right\\n\" 20s\n");
    ASSERT_TRUE(second.wait_for_output("] exit 1")) << diagnostics(second);
    std::optional<win32::desktop::WindowInfo> window;
    auto found = win32::desktop::windows(holder);
    ASSERT_TRUE(found) << found.message();
    for (auto& w : *found)
        if (w.class_name == "WinGlideClass")
            window = w;
    ASSERT_TRUE(window);
    ASSERT_TRUE(win32::desktop::inject_key(*window, VK_RIGHT, true));
    ASSERT_TRUE(win32::desktop::inject_key(*window, VK_RIGHT, false));
    ASSERT_EQ(second.finish(), 1) << diagnostics(second);
    ASSERT_TRUE(win32::desktop::inject_key(*window, VK_ESCAPE, true));
    ASSERT_EQ(first.finish(), 0) << diagnostics(first);

    int busy = second.started_pids().at(0);
    EXPECT_EQ(first.out.find("[" + std::to_string(busy) + "]"), std::string::npos)
        << "the first sheet printed the second program's events" << diagnostics(first);
    EXPECT_EQ(first.out.find("[" + std::to_string(second.pid()) + "]"), std::string::npos)
        << "the first sheet printed the second sheet's events" << diagnostics(first);
    EXPECT_NE(second.out.find("wintest[" + std::to_string(holder) + "] debug \"right\\n\""),
              std::string::npos)
        << diagnostics(second);
}

} // namespace
