// The sheet's own pieces that scripts rely on: event lines, patterns, key names and the keys
// it prepares in the registry.
#include <gtest/gtest.h>

#include "session.h"
#include "settings.h"

namespace propsheet {
namespace {

SheetEvent broadcast(const char* name, uint64_t wparam, int64_t lparam) {
    SheetEvent e;
    e.kind = SheetEvent::Kind::Broadcast;
    e.name = name;
    e.wparam = wparam;
    e.lparam = lparam;
    return e;
}

TEST(EventLine, BroadcastsAndMessageBoxesReadAsWritten) {
    EXPECT_EQ(describe(broadcast("KVXPS Test TV Underscan Overscan", 1, 0)),
              "broadcast \"KVXPS Test TV Underscan Overscan\" wparam=1 lparam=0");
    SheetEvent box;
    box.kind = SheetEvent::Kind::Box;
    box.caption = "Allocation Failure";
    box.text = "Resize failed \"now\".\n";
    EXPECT_EQ(describe(box), R"(messagebox "Allocation Failure" "Resize failed \"now\".\n")");
    SheetEvent exit;
    exit.kind = SheetEvent::Kind::Exit;
    exit.code = 137;
    exit.signal = 9;
    EXPECT_EQ(describe(exit), "exit 137 signal 9");
}

TEST(EventLine, TvRecordNamesEveryField) {
    SheetEvent tv;
    tv.kind = SheetEvent::Kind::Tv;
    int32_t record[10] = {1, 0, 1, 0, -128, 3, 66, 7, 3, 0};
    std::copy(record, record + 10, tv.tv);
    EXPECT_EQ(describe(tv), "tv enable=1 output=0 scan=1 format=0 xshift=-128 yshift=3 "
                            "brightness=66 tuning=7 sharpness=3 ffilter=0");
}

TEST(EventLine, JsonEscapesControlCharacters) {
    SheetEvent d;
    d.kind = SheetEvent::Kind::Debug;
    d.pid = 12;
    d.program = "wintest";
    d.text = std::string("a\x01\"b\\\n", 6);
    d.time_us = 1234567;
    EXPECT_EQ(describe_json(d), R"({"pid":12,"program":"wintest","kind":"debug",)"
                                R"("text":"a\u0001\"b\\\n","time_us":1234567})");
}

TEST(Pattern, WithoutStarMatchesTheStart) {
    std::string line = "broadcast \"KVXPS Test TV Application Closed\" wparam=1 lparam=0";
    EXPECT_TRUE(pattern_matches("broadcast \"KVXPS Test TV Application Closed\"", line));
    EXPECT_TRUE(pattern_matches(line, line));
    EXPECT_FALSE(pattern_matches(line + " ", line)) << "a longer pattern never matches";
    EXPECT_FALSE(pattern_matches("Closed", line)) << "not a substring search";
    EXPECT_TRUE(pattern_matches("broadcast \"KVXPS Test ?? Application", line));
}

TEST(Pattern, StarMatchesAnyRunAndTheWholeLineMustMatch) {
    std::string line = "broadcast \"KVXPS Glide Gamma Correction Changed\" wparam=18 lparam=0";
    EXPECT_TRUE(pattern_matches("broadcast * lparam=0", line));
    EXPECT_TRUE(pattern_matches("*wparam=18*", line));
    EXPECT_FALSE(pattern_matches("*wparam=1 *", line));
    EXPECT_FALSE(pattern_matches("broadcast * lparam=1", line));
    EXPECT_TRUE(pattern_matches("*Changed*18*0", line)) << "backtracks past an early match";
    EXPECT_TRUE(pattern_matches("**", ""));
}

TEST(KeyNames, NamesLettersAndCodes) {
    EXPECT_EQ(key_code("r"), 0x52u);
    EXPECT_EQ(key_code("R"), 0x52u);
    EXPECT_EQ(key_code("1"), 0x31u);
    EXPECT_EQ(key_code("Esc"), 0x1Bu);
    EXPECT_EQ(key_code("enter"), 0x0Du);
    EXPECT_EQ(key_code("f10"), 0x79u);
    EXPECT_EQ(key_code("numpad7"), 0x67u);
    EXPECT_EQ(key_code("0xe5"), 0xE5u);
    EXPECT_EQ(key_code("0x100"), 0u);
    EXPECT_EQ(key_code("f25"), 0u);
    EXPECT_EQ(key_code("rr"), 0u);
    EXPECT_EQ(key_code(""), 0u);
}

TEST(Keys, RootsOtherThanLocalMachineAreRefused) {
    std::string rel;
    ASSERT_TRUE(key_below_local_machine("HKEY_LOCAL_MACHINE\\SOFTWARE\\Kavix", rel));
    EXPECT_EQ(rel, "SOFTWARE\\Kavix");
    ASSERT_TRUE(key_below_local_machine("hklm\\A", rel));
    EXPECT_EQ(rel, "A");
    ASSERT_TRUE(key_below_local_machine("SOFTWARE\\Kavix", rel));
    EXPECT_EQ(rel, "SOFTWARE\\Kavix");
    EXPECT_FALSE(key_below_local_machine("HKEY_CURRENT_USER\\Software", rel));
}

TEST(FactoryValues, OnlyMissingValuesAreWritten) {
    auto written = write_setting("SOFTWARE\\T\\Default", "SST_TV_TUNING_KVX", "12");
    ASSERT_TRUE(written) << written.message();
    written = write_missing("SOFTWARE\\T\\Default", kTvFactoryDefaults);
    ASSERT_TRUE(written) << written.message();
    std::string text;
    ASSERT_TRUE(read_setting("SOFTWARE\\T\\Default", "SST_TV_TUNING_KVX", text));
    EXPECT_EQ(text, "12") << "a value already there is the user's";
    ASSERT_TRUE(read_setting("SOFTWARE\\T\\Default", "SST_TV_BRIGHTNESS_KVX", text));
    EXPECT_EQ(text, "66");
    EXPECT_EQ(kTvFactoryDefaults.size(), 10u);
    EXPECT_FALSE(read_setting("SOFTWARE\\T\\Nothing", "SST_TV_TUNING_KVX", text));
}

} // namespace
} // namespace propsheet
