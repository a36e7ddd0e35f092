// The sheet's commands over a controller that only records: what they ask of the program, what
// they print, and how they fail. The end-to-end cases run the same commands against wintest.
#include <gtest/gtest.h>

#include "session.h"

#include "platform/events.h"

#include <cstdio>
#include <deque>
#include <sstream>

namespace propsheet {
namespace {

class FakeController final : public Controller {
public:
    platform::Result<int> start(const std::string&, const std::string& command_line) override {
        command_lines.push_back(command_line);
        return next_pid++;
    }
    void kill_program() override {}
    int program_pid() const override { return 100; }
    platform::Status key(unsigned vk, bool down, int) override {
        single.push_back({vk, down});
        return {};
    }
    platform::Status keys(const std::vector<KeyStroke>& strokes, int) override {
        batches.push_back(strokes);
        return {};
    }
    platform::Status window(WindowAction, int, int, int) override { return {}; }
    platform::Status screenshot(Shot, const std::string&, int) override { return {}; }
    platform::Result<uint64_t> frame_count(int) override {
        if (frames.empty())
            return platform::fail("the program has ended");
        uint64_t f = frames.front();
        if (frames.size() > 1)
            frames.pop_front();
        return f;
    }
    platform::Result<std::vector<WindowFacts>> windows(int) override { return window_list; }
    std::optional<SheetEvent> next_event() override {
        if (events.empty())
            return std::nullopt;
        SheetEvent e = events.front();
        events.pop_front();
        return e;
    }
    void wait(int) override {}
    void wake() override {}

    int next_pid{100};
    std::vector<std::string> command_lines;
    std::vector<KeyStroke> single;
    std::vector<std::vector<KeyStroke>> batches;
    std::deque<uint64_t> frames;
    std::vector<WindowFacts> window_list;
    std::deque<SheetEvent> events;
};

std::string command_line_for(int mode, const std::string& words) {
    return std::to_string(mode) + (words.empty() ? " defaults" : " " + words);
}

// A session over the fake controller whose output goes to a temporary file.
class Commands : public testing::Test {
protected:
    void SetUp() override {
        auto fake = std::make_unique<FakeController>();
        m_fake = fake.get();
        s.controller = std::move(fake);
        s.self_pid = 42;
        s.timeout_ms = 200;
        s.command_line = command_line_for;
        s.out = tmpfile();
        ASSERT_NE(s.out, nullptr);
        auto started = start_program(s, "0 first");
        ASSERT_TRUE(started.ok()) << started.message();
    }
    void TearDown() override { fclose(s.out); }

    std::string output() {
        std::string text;
        rewind(s.out);
        for (int c; (c = fgetc(s.out)) != EOF;)
            text += char(c);
        return text;
    }

    // Runs a line; its reason, when it fails, in `error`.
    bool run(const std::string& line) {
        auto done = run_command(s, line);
        error = done.ok() ? std::string() : done.message();
        return done.ok();
    }

    SheetEvent event(int pid, SheetEvent::Kind kind, int code = 0) {
        SheetEvent e;
        e.pid = pid;
        e.program = "wintest";
        e.kind = kind;
        e.code = code;
        return e;
    }

    Session s;
    FakeController* m_fake{nullptr};
    std::string error;
};

// Blank lines of any kind of blank, bare or after "try", are skipped, never read as a word.
TEST_F(Commands, LinesOfOtherBlanksAreBlankLines) {
    for (const char* line : {"\v", "\f", " \v\t", "try \v", "try"})
        EXPECT_TRUE(run(line)) << error;
    EXPECT_TRUE(m_fake->single.empty() && m_fake->batches.empty());
}

TEST_F(Commands, KeysBatchPutsEveryPressInOneStepModifiersFirst) {
    ASSERT_TRUE(run("keys --batch shift+r esc")) << error;
    ASSERT_EQ(m_fake->batches.size(), 1u);
    EXPECT_TRUE(m_fake->single.empty()) << "nothing went in key by key";
    std::vector<std::pair<unsigned, bool>> got;
    for (auto& k : m_fake->batches[0])
        got.emplace_back(k.vk, k.down);
    std::vector<std::pair<unsigned, bool>> want = {{0x10, true},  {0x52, true}, {0x52, false},
                                                   {0x10, false}, {0x1B, true}, {0x1B, false}};
    EXPECT_EQ(got, want);
    EXPECT_FALSE(run("keys --batch"));
    EXPECT_FALSE(run("keys --batch right nosuchkey"));
    EXPECT_NE(error.find("nosuchkey"), std::string::npos) << error;
    EXPECT_EQ(m_fake->batches.size(), 1u) << "a bad name sends nothing";
}

// A slip of the finger (found by the fuzzer: "repeat 5999999999") must not hold a key down
// for years.
TEST_F(Commands, RepeatHoldsAKeyForABoundedCount) {
    ASSERT_TRUE(run("key ctrl+a repeat 3")) << error;
    EXPECT_EQ(m_fake->single.size(), 1u + 3u + 2u) << "ctrl down, three downs of a, both up";
    m_fake->single.clear();
    EXPECT_FALSE(run("key ctrl+alt+delete repeat 5999999999"));
    EXPECT_EQ(error, "repeat needs a count of 10000 or less");
    EXPECT_FALSE(run("key a repeat 0"));
    EXPECT_EQ(error, "repeat needs a count of 1 or more");
    EXPECT_TRUE(m_fake->single.empty()) << "a refused count presses nothing";
}

TEST_F(Commands, SendTakesEveryBitOfBothParametersAndRefusesWhatDoesNotFit) {
    std::vector<platform::Event> heard;
    int sink = platform::add_event_sink([&](const platform::Event& e) {
        if (e.kind == platform::EventKind::Broadcast && e.name == "Commands Test Message")
            heard.push_back(e);
    });
    EXPECT_TRUE(run("send \"Commands Test Message\" 0xFF131211 0xFFFFFFFF")) << error;
    EXPECT_TRUE(run("send \"Commands Test Message\" 4294967295 -2147483648")) << error;
    EXPECT_FALSE(run("send \"Commands Test Message\" 0x100000000 0"));
    EXPECT_FALSE(run("send \"Commands Test Message\" 1 -2147483649"));
    EXPECT_FALSE(run("send \"Commands Test Message\" 12abc 0"));
    EXPECT_FALSE(run("send \"Commands Test Message 1 2"));
    EXPECT_FALSE(run("send \"Commands Test Message\" 1"));
    platform::remove_event_sink(sink);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].wparam, 0xFF131211u);
    EXPECT_EQ(heard[0].lparam, -1) << "lParam is a signed 32-bit value";
    EXPECT_EQ(heard[1].wparam, 0xFFFFFFFFu);
    EXPECT_EQ(heard[1].lparam, INT32_MIN);
}

TEST_F(Commands, WaitFramesCountsFromNowAndFailsWhenTheProgramStopsAnswering) {
    m_fake->frames = {10, 12, 15, 30};
    EXPECT_TRUE(run("wait-frames 5")) << error;
    m_fake->frames = {40, 41, 42};
    EXPECT_FALSE(run("wait-frames 5 100ms"));
    EXPECT_NE(error.find("showed 2 of 5 frames within 100 ms"), std::string::npos) << error;
    m_fake->frames.clear();
    EXPECT_FALSE(run("wait-frames 1"));
    EXPECT_NE(error.find("ended"), std::string::npos) << error;
    EXPECT_FALSE(run("wait-frames -1"));
    EXPECT_FALSE(run("wait-frames 1 soon"));
    // Bounds past the int range were wrapped to negative ones, which ended the wait at once.
    EXPECT_FALSE(run("wait-frames 1 2147484s"));
    EXPECT_FALSE(run("wait-frames 1 2147483648ms"));
    EXPECT_FALSE(run("wait 4294967296"));
    EXPECT_NE(error.find("at most"), std::string::npos) << error;
}

TEST_F(Commands, ExpectNamesAProgramByTheOrderStartedOrByItsPid) {
    ASSERT_TRUE(run("start glide")) << error;
    ASSERT_TRUE(run("start glide x.bmp  two  spaces")) << error;
    EXPECT_EQ(m_fake->command_lines.back(), "2 x.bmp  two  spaces") << "the words byte for byte";
    EXPECT_EQ(m_fake->command_lines[1], "2 defaults");
    ASSERT_EQ(s.started, (std::vector<int>{100, 101, 102}));
    m_fake->events = {event(101, SheetEvent::Kind::Exit, 1), event(102, SheetEvent::Kind::Exit, 7),
                      event(100, SheetEvent::Kind::Exit, 0)};
    EXPECT_TRUE(run("expect @3 exit 7 50ms")) << error;
    s.cursor = 0;
    EXPECT_TRUE(run("expect @101 exit 1 50ms")) << error;
    EXPECT_TRUE(run("expect @1 exit 0 50ms")) << error;
    EXPECT_FALSE(run("expect @4000 exit 0 50ms"));
    EXPECT_NE(error.find("no program @4000"), std::string::npos) << error;
    EXPECT_FALSE(run("expect @x exit 0"));
    EXPECT_EQ(s.exit_code, 0) << "only the first program's exit ends the run";
}

TEST_F(Commands, OtherProcessesEventsShowOnlyWithAllEvents) {
    m_fake->events = {event(300, SheetEvent::Kind::Beep), event(100, SheetEvent::Kind::Beep, 1)};
    pump(s);
    EXPECT_EQ(output().find("[300]"), std::string::npos) << output();
    EXPECT_NE(output().find("wintest[100] beep 1"), std::string::npos) << output();
    EXPECT_FALSE(run("expect beep 0 20ms")) << "expect does not see them either";
    s.all_events = true;
    s.cursor = 0;
    EXPECT_TRUE(run("expect beep 0 20ms")) << error;
    m_fake->events = {event(301, SheetEvent::Kind::Beep, 2)};
    pump(s);
    EXPECT_NE(output().find("wintest[301] beep 2"), std::string::npos) << output();
}

// In --json mode a driver can parse every line, whatever the command.
TEST_F(Commands, JsonModePrintsOnlyObjectsWithTimeStamps) {
    s.json = true;
    m_fake->frames = {5};
    WindowFacts none;
    none.pid = 100;
    none.class_name = "WinGlideClass";
    none.title = "T \"q\"";
    none.complete = true; // a window without client area
    m_fake->window_list = {none};
    m_fake->events = {event(100, SheetEvent::Kind::Debug)};
    for (const char* line : {"frames", "windows", "sheet", "echo a \"b\" \\c",
                             "screenshot tv x.png", "try expect nothing 1ms", "start tv"})
        ASSERT_TRUE(run(line)) << line << ": " << error;
    pump(s);
    std::istringstream in(output());
    std::string started; // printed by SetUp, before --json was on
    std::getline(in, started);
    int lines = 0;
    for (std::string line; std::getline(in, line); ++lines) {
        EXPECT_TRUE(line.starts_with("{\"pid\":") && line.ends_with("}")) << line;
        EXPECT_NE(line.find(",\"time_us\":"), std::string::npos) << line;
    }
    EXPECT_EQ(lines, 9) << output();
    EXPECT_NE(output().find("\"client\":[0,0]"), std::string::npos) << "an empty client area";
    EXPECT_NE(output().find("\"text\":\"a \\\"b\\\" \\\\c\""), std::string::npos) << output();
}

// A controller that answers without an error but with nothing to show (no window, no process)
// still makes the command fail with a reason of its own, never an empty or earlier one.
TEST_F(Commands, FailuresWithoutAnAnswerCarryTheirOwnReason) {
    EXPECT_FALSE(run("windows"));
    EXPECT_EQ(error, "the program has no window");
    m_fake->next_pid = 0;
    EXPECT_FALSE(run("start gamma"));
    EXPECT_EQ(error, "the program did not start");
    EXPECT_EQ(s.started.size(), 1u) << "only the program of SetUp counts as started";
}

TEST(WindowFactsText, EmptyClientAreaIsReportedAsZeroByZero) {
    WindowFacts f;
    EXPECT_EQ(window_facts_text(f), "") << "nothing when the facts are not known";
    f.complete = true;
    f.left = -8;
    f.right = 0;
    f.style = 0x14CF0000;
    f.visible = true;
    EXPECT_EQ(window_facts_text(f), " rect=-8,0,0,0 client=0x0 visible=1 style=0x14cf0000 "
                                    "exstyle=0x00000000 focus=0");
}

} // namespace
} // namespace propsheet
