// The fault switches of the README, set in the environment as a user sets them, against the
// default logo (256 x 128, 8 bits): each one does what its row says.
#include "dib/dib.h"
#include "shell.h"

#include "win32/faults.h"
#include "win32/harness.h"
#include "win32/testing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace {

// The logo's colour at (x, y), decoded from the committed file by hand.
class Logo {
public:
    Logo() {
        std::ifstream in(std::string(WINTEST_SOURCE_DIR) + "/data/kvxlogo.bmp", std::ios::binary);
        m_bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    [[nodiscard]] bool read() const { return m_bytes.size() == 14u + 40 + 1024 + 256 * 128; }
    [[nodiscard]] uint32_t at(int x, int y) const {
        BYTE index = m_bytes[1078 + size_t(127 - y) * 256 + size_t(x)];
        const BYTE* q = &m_bytes[54 + index * 4];
        return (uint32_t(q[2]) << 16) | (uint32_t(q[1]) << 8) | q[0];
    }

private:
    std::vector<BYTE> m_bytes;
};

class FaultSwitch : public ::testing::Test {
protected:
    void TearDown() override {
        unsetenv("WINTEST_GLOBAL_MEMORY_LIMIT");
        unsetenv("WINTEST_FAIL_BITMAP");
        win32::faults::reset();
        FreeBitmap();
    }

    // Opens the test window on the logo with the switch set, as start-up does, and paints it.
    void open_with(const char* name, const char* value) {
        win32::testing::reset();
        FreeBitmap();
        BitmapState = BitmapStateRecord{};
        unsetenv("WINTEST_GLOBAL_MEMORY_LIMIT"); // one switch at a time
        unsetenv("WINTEST_FAIL_BITMAP");
        setenv(name, value, 1);
        win32::faults::reset();
        ASSERT_TRUE(CreateTestWindow("Kavix Glide Test", nullptr, "kvxlogo.bmp"));
        InvalidateRect(TestWindow, nullptr, TRUE);
        UpdateWindow(TestWindow);
    }

    // Whether the client area (fitted to the logo, less a line of it) shows the logo; else
    // whether it is all black.
    [[nodiscard]] bool shows_logo() const {
        platform::Image shot = win32::harness::window_image(TestWindow);
        if (shot.width < 200 || shot.height < 100)
            return false;
        for (int y = 0; y < std::min(128, shot.height); ++y)
            for (int x = 0; x < std::min(256, shot.width); ++x)
                if (shot.at(x, y) != m_logo.at(x, y))
                    return false;
        return true;
    }
    [[nodiscard]] bool all_black() const {
        platform::Image shot = win32::harness::window_image(TestWindow);
        for (uint32_t pixel : shot.pixels)
            if (pixel != 0)
                return false;
        return true;
    }

    Logo m_logo;
};

// WINTEST_GLOBAL_MEMORY_LIMIT: the logo's header block takes 1,064 bytes and its rows 32 KB;
// the whole image is read into a second block while the first is held (34,896 bytes in all).
// A limit that holds the header block and a band but not the whole image paints the logo from
// the file in bands. Bands shrink from 128 rows by 20 and stop above 50, so the smallest band
// tried has 68 rows (17,408 bytes): from 18,472 bytes up to 34,895 the logo shows in bands;
// with less, nothing shows.
TEST_F(FaultSwitch, MemoryLimitPaintsTheLogoInBands) {
    ASSERT_TRUE(m_logo.read());
    struct Case {
        const char* limit;
        bool loaded, banded, logo;
    } cases[] = {{"20000", true, true, true},  {"18472", true, true, true},
                 {"34895", true, true, true},  {"34896", true, false, true},
                 {"18471", true, true, false}, {"4096", true, true, false},
                 {"1063", false, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        open_with("WINTEST_GLOBAL_MEMORY_LIMIT", c.limit);
        ASSERT_EQ(BitmapState.BitmapValid, c.loaded);
        EXPECT_EQ(c.loaded && BitmapState.BitmapDeviceBitmap == nullptr, c.banded);
        EXPECT_EQ(c.logo ? shows_logo() : all_black(), true);
    }
}

// WINTEST_FAIL_BITMAP: taller:N fails bitmaps of more than N rows, next:N the next N, all every
// one. The logo's device bitmap has 128 rows; without it the load fails and the window shows
// its black background.
TEST_F(FaultSwitch, FailBitmapCountsRowsAndCreations) {
    ASSERT_TRUE(m_logo.read());
    struct Case {
        const char* value;
        bool logo;
    } cases[] = {{"taller:128", true}, {"taller:127", false}, {"taller:0", false},
                 {"next:1", false},    {"next:0", true},      {"all", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        open_with("WINTEST_FAIL_BITMAP", c.value);
        EXPECT_EQ(BitmapState.BitmapValid, c.logo);
        EXPECT_EQ(c.logo ? shows_logo() : all_black(), true);
    }
}

// The README's row of a switch, or "" when it has none.
std::string readme_row(const std::string& name) {
    std::ifstream in(std::string(WINTEST_SOURCE_DIR) + "/README.md");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("| `" + name + "`", 0) == 0)
            return line;
    return "";
}

// The numbers the README's rows give as examples do what the rows say of them.
TEST_F(FaultSwitch, TheReadmesExamplesDoWhatTheirRowsSay) {
    ASSERT_TRUE(m_logo.read());
    std::smatch m;
    std::string memory = readme_row("WINTEST_GLOBAL_MEMORY_LIMIT");
    ASSERT_TRUE(std::regex_search(memory, m, std::regex("`(\\d+)` makes the test window paint")))
        << memory;
    open_with("WINTEST_GLOBAL_MEMORY_LIMIT", m[1].str().c_str());
    EXPECT_EQ(BitmapState.BitmapDeviceBitmap, nullptr) << m[1];
    EXPECT_TRUE(shows_logo()) << "painted in bands with " << m[1];

    std::string bitmap = readme_row("WINTEST_FAIL_BITMAP");
    ASSERT_TRUE(std::regex_search(
        bitmap, m, std::regex("`(taller:\\d+)` shows it and `(taller:\\d+)` does not")))
        << bitmap;
    std::string shows = m[1], hides = m[2];
    open_with("WINTEST_FAIL_BITMAP", shows.c_str());
    EXPECT_TRUE(shows_logo()) << shows;
    open_with("WINTEST_FAIL_BITMAP", hides.c_str());
    EXPECT_TRUE(all_black()) << hides;
}

} // namespace
