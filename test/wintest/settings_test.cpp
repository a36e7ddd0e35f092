// The board settings store and the TV settings over the registry of a fresh prefix.
#include "settings/board_settings.h"
#include "tv/tv.h"

#include "platform/prefix.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// Each test process has a prefix of its own (test/support/test_main.cpp).
std::string prefix() {
    return platform::prefix_dir();
}

const char k_current[] = "Software\\Kavix\\Board0\\Current";
const char k_default[] = "Software\\Kavix\\Board0\\Default";

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        std::error_code ec;
        std::filesystem::remove(prefix() + "/registry.reg", ec);
        std::memset(&TvSettings, 0, sizeof TvSettings);
        std::strcpy(CurrentKeyPath, k_current);
        std::strcpy(DefaultKeyPath, k_default);
    }

    // Sets raw bytes under a key, creating it.
    static void put(const char* path, const char* name, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path, &key), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    static void put_text(const char* path, const char* name, const char* text) {
        put(path, name, REG_SZ, text, DWORD(std::strlen(text) + 1));
    }

    // The raw bytes and type of a value; empty with type REG_NONE when missing.
    static std::vector<uint8_t> get(const char* path, const char* name, DWORD* type = nullptr) {
        HKEY key = nullptr;
        std::vector<uint8_t> data(512);
        DWORD size = DWORD(data.size());
        DWORD t = REG_NONE;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return {};
        if (RegQueryValueExA(key, name, nullptr, &t, data.data(), &size) != ERROR_SUCCESS)
            size = 0;
        RegCloseKey(key);
        data.resize(size);
        if (type)
            *type = t;
        return data;
    }

    static std::vector<uint8_t> text_bytes(const char* text) {
        return std::vector<uint8_t>(text, text + std::strlen(text) + 1);
    }
};

TEST_F(Settings, ReadingFromAMissingKeyCreatesItAndGivesNothing) {
    char text[BOARD_SETTING_AREA_SIZE];
    std::memset(text, 'x', sizeof text);
    EXPECT_FALSE(ReadBoardSetting(HKEY_LOCAL_MACHINE, "Software\\New\\Key", "Value", text));
    EXPECT_EQ(text[0], '\0');
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\New\\Key", 0, KEY_READ, &key),
              ERROR_SUCCESS)
        << "the read creates the key";
    RegCloseKey(key);
}

TEST_F(Settings, ReadOffersTwoHundredBytesAndNeverRunsPastTheArea) {
    // The area sits inside a larger buffer; the bytes behind it must stay untouched.
    struct {
        char area[BOARD_SETTING_AREA_SIZE];
        char guard[16];
    } buffer;
    std::string full(199, 'a');
    put_text(k_current, "Fits", full.c_str());
    std::string exact(200, 'b'); // 200 bytes, no terminator
    put(k_current, "Exact", REG_SZ, exact.data(), 200);
    std::string over(200, 'c'); // 201 bytes with the terminator
    put_text(k_current, "Over", over.c_str());

    std::memset(&buffer, '#', sizeof buffer);
    ASSERT_TRUE(ReadBoardSetting(HKEY_LOCAL_MACHINE, k_current, "Fits", buffer.area));
    EXPECT_EQ(std::string(buffer.area), full);

    std::memset(&buffer, '#', sizeof buffer);
    ASSERT_TRUE(ReadBoardSetting(HKEY_LOCAL_MACHINE, k_current, "Exact", buffer.area));
    EXPECT_EQ(std::string(buffer.area), exact) << "the text ends at the end of the data";
    EXPECT_EQ(std::string(buffer.guard, sizeof buffer.guard), std::string(16, '#'));

    std::memset(&buffer, '#', sizeof buffer);
    EXPECT_FALSE(ReadBoardSetting(HKEY_LOCAL_MACHINE, k_current, "Over", buffer.area));
    EXPECT_EQ(buffer.area[0], '\0') << "a value over 200 bytes reads as empty";
    EXPECT_EQ(std::string(buffer.guard, sizeof buffer.guard), std::string(16, '#'));
}

TEST_F(Settings, ReadTakesTheBytesOfAnyTypeAsText) {
    const uint8_t dword[4] = {10, 0, 0, 0};
    put(k_current, "Dword", REG_DWORD, dword, 4);
    const char inner[] = "12\0ab";
    put(k_current, "Inner", REG_BINARY, inner, 5);

    char text[BOARD_SETTING_AREA_SIZE];
    ASSERT_TRUE(ReadBoardSetting(HKEY_LOCAL_MACHINE, k_current, "Dword", text));
    EXPECT_STREQ(text, "\n");
    ASSERT_TRUE(ReadBoardSetting(HKEY_LOCAL_MACHINE, k_current, "Inner", text));
    EXPECT_STREQ(text, "12") << "the text ends at the first zero byte";

    // A TV setting held as a DWORD gives no number: the field keeps its value.
    put(k_current, "SST_TV_TUNING_KVX", REG_DWORD, dword, 4);
    put_text(k_default, "SST_TV_TUNING_KVX", "9");
    TvSettings.TUNING = 4;
    LoadTvSettings();
    EXPECT_EQ(TvSettings.TUNING, 4u);
}

TEST_F(Settings, WriteStoresTheTextWithItsZeroAndReplaces) {
    ASSERT_TRUE(WriteBoardSetting(HKEY_LOCAL_MACHINE, "Software\\Made\\Here", "X", "-128"));
    DWORD type = 0;
    EXPECT_EQ(get("Software\\Made\\Here", "X", &type), text_bytes("-128"));
    EXPECT_EQ(get("Software\\Made\\Here", "X").size(), 5u);
    EXPECT_EQ(type, DWORD(REG_SZ));
    ASSERT_TRUE(WriteBoardSetting(HKEY_LOCAL_MACHINE, "Software\\Made\\Here", "x", "7"));
    EXPECT_EQ(get("Software\\Made\\Here", "X"), text_bytes("7"));
}

TEST_F(Settings, LoadFallsBackOnlyWhenTheCurrentReadFails) {
    put_text(k_default, "SST_TV_TUNING_KVX", "7");
    LoadTvSettings();
    EXPECT_EQ(TvSettings.TUNING, 7u) << "missing in the current key: the default key's value";

    put_text(k_current, "SST_TV_TUNING_KVX", "letters");
    TvSettings.TUNING = 2;
    LoadTvSettings();
    EXPECT_EQ(TvSettings.TUNING, 2u) << "present without a number: unchanged, no fallback";

    put_text(k_current, "SST_TV_XSHIFT_KVX", "  -12abc");
    put_text(k_current, "SST_TV_YSHIFT_KVX", "");
    put_text(k_default, "SST_TV_YSHIFT_KVX", "40");
    put_text(k_current, "SST_TV_BRIGHTNESS_KVX", "99999999999");
    TvSettings.YSHIFT = 5;
    LoadTvSettings();
    EXPECT_EQ(TvSettings.XSHIFT, -12);
    EXPECT_EQ(TvSettings.YSHIFT, 5);
    EXPECT_EQ(TvSettings.BRIGHTNESS, 2147483647u) << "held at the 32-bit end";
}

TEST_F(Settings, BothKeysEmptyLeaveEveryFieldZero) {
    LoadTvSettings();
    const uint8_t zero[sizeof TvSettings] = {};
    EXPECT_EQ(std::memcmp(&TvSettings, zero, sizeof zero), 0);
}

TEST_F(Settings, SaveWritesAllTenAndTheyLoadBack) {
    TvSettingsRecord saved = {1, 2, 1, 4, -128, 128, 80, 15, 3, 3};
    TvSettings = saved;
    SaveTvSettings();
    EXPECT_EQ(get(k_current, "SST_TV_XSHIFT_KVX"), text_bytes("-128"));
    EXPECT_EQ(get(k_current, "SST_TV_OUTPUT_KVX"), text_bytes("2"));
    EXPECT_EQ(get(k_current, "SST_TV_FORMAT_KVX"), text_bytes("4"));
    EXPECT_TRUE(get(k_default, "SST_TV_XSHIFT_KVX").empty()) << "the default key is never written";

    std::memset(&TvSettings, 0, sizeof TvSettings);
    LoadTvSettings();
    EXPECT_EQ(std::memcmp(&TvSettings, &saved, sizeof saved), 0);

    // An unsigned value past 2^31 is written with a minus sign and loads back the same.
    TvSettings.BRIGHTNESS = 3000000000u;
    SaveTvSettings();
    EXPECT_EQ(get(k_current, "SST_TV_BRIGHTNESS_KVX"), text_bytes("-1294967296"));
    TvSettings.BRIGHTNESS = 0;
    LoadTvSettings();
    EXPECT_EQ(TvSettings.BRIGHTNESS, 3000000000u);
}

TEST_F(Settings, RestoreTakesOnlyItsFieldsFromTheDefaultKey) {
    const char* names[10] = {"SST_TV_ENABLE_KVX",     "SST_TV_OUTPUT_KVX", "SST_TV_SCAN_KVX",
                             "SST_TV_FORMAT_KVX",     "SST_TV_XSHIFT_KVX", "SST_TV_YSHIFT_KVX",
                             "SST_TV_BRIGHTNESS_KVX", "SST_TV_TUNING_KVX", "SST_TV_SHARPNESS_KVX",
                             "SST_TV_FFILTER_KVX"};
    for (int i = 0; i < 10; ++i)
        put_text(k_default, names[i], std::to_string(100 + i).c_str());
    TvSettings = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    RestoreTvSetting("SST_TV_TUNING_KVX");
    EXPECT_EQ(TvSettings.TUNING, 107u);
    EXPECT_EQ(TvSettings.BRIGHTNESS, 1u);

    RestoreTvDefaults();
    TvSettingsRecord expected = {1, 1, 102, 1, 104, 105, 106, 107, 108, 109};
    EXPECT_EQ(std::memcmp(&TvSettings, &expected, sizeof expected), 0)
        << "ENABLE, OUTPUT and FORMAT stay as they were";

    // A default key without the value leaves the field alone.
    TvSettings.TUNING = 3;
    RestoreTvSetting("SST_TV_TUNING_KVX");
    EXPECT_EQ(TvSettings.TUNING, 107u);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, k_default, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    RegDeleteValueA(key, "SST_TV_TUNING_KVX");
    RegCloseKey(key);
    TvSettings.TUNING = 3;
    RestoreTvSetting("SST_TV_TUNING_KVX");
    EXPECT_EQ(TvSettings.TUNING, 3u);
}

} // namespace
