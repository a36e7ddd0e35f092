// Where the sheet finds the bundled data without --data: beside its installed, unpacked or
// built self, through WINTEST_DATA, through the XDG data folders; and how a folder with a
// blank in its path still reaches the program, which splits its command line at spaces.
#include <gtest/gtest.h>

#include "locate.h"

#include <cstdlib>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace propsheet {
namespace {

class DataLookup : public testing::Test {
protected:
    void SetUp() override {
        m_root = fs::path(std::getenv("WINTEST_PREFIX")) / "locate";
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        m_root = fs::canonical(m_root);
    }

    // A folder holding a copy of the data (its marker, the default bitmap).
    fs::path data_at(const std::string& relative) {
        fs::path dir = m_root / relative;
        fs::create_directories(dir);
        std::ofstream(dir / "kvxlogo.bmp") << "BM";
        return dir;
    }
    fs::path folder(const std::string& relative) {
        fs::create_directories(m_root / relative);
        return m_root / relative;
    }
    std::string find(const std::string& exe_dir) {
        return find_data_dir(folder(exe_dir), [this](const char* name) {
            auto it = m_env.find(name);
            return it == m_env.end() ? std::string() : it->second;
        });
    }

    fs::path m_root;
    std::map<std::string, std::string> m_env{{"HOME", "/nonexistent-home"},
                                             {"XDG_DATA_DIRS", "/nonexistent-share"}};
};

TEST_F(DataLookup, EachLayoutFindsTheDataBesideTheSheet) {
    data_at("usr/share/wintest");
    EXPECT_EQ(find("usr/bin"), (m_root / "usr/share/wintest").string()) << "installed";
    data_at("unpacked/data");
    EXPECT_EQ(find("unpacked"), (m_root / "unpacked/data").string()) << "Windows folder";
    data_at("src/data");
    EXPECT_EQ(find("src/build/bin"), (m_root / "src/data").string()) << "build tree";
}

TEST_F(DataLookup, InstalledDataComesBeforeOtherFoldersAndTheEnvironmentBeforeAll) {
    data_at("tree/usr/share/wintest");
    data_at("tree/usr/bin/data");
    data_at("tree/data");
    m_env["XDG_DATA_HOME"] = data_at("home/wintest").parent_path().string();
    EXPECT_EQ(find("tree/usr/bin"), (m_root / "tree/usr/share/wintest").string());
    m_env["WINTEST_DATA"] = "my data";
    EXPECT_EQ(find("tree/usr/bin"), "my data") << "WINTEST_DATA is taken as given";
}

TEST_F(DataLookup, FoldersWithoutTheDataArePassedOver) {
    // /usr/bin/../../data is /data: only a folder holding the data counts.
    folder("usr/share/wintest");
    folder("usr/bin/data");
    folder("data");
    data_at("src/data");
    EXPECT_EQ(find("usr/bin"), "data") << "nothing found: the working folder's data/";
    m_env["XDG_DATA_DIRS"] = "/nonexistent-share:" + (m_root / "src").string();
    EXPECT_EQ(find("usr/bin"), "data") << "XDG_DATA_DIRS entries hold a wintest folder";
    data_at("local/share/wintest");
    m_env["XDG_DATA_DIRS"] = "/nonexistent-share::" + (m_root / "local/share").string();
    EXPECT_EQ(find("usr/bin"), (m_root / "local/share/wintest").string());
}

TEST_F(DataLookup, XdgDataHomeFallsBackToHomeAndRelativeEntriesAreIgnored) {
    m_env["HOME"] = folder("home").string();
    data_at("home/.local/share/wintest");
    EXPECT_EQ(find("bin"), (m_root / "home/.local/share/wintest").string());

    m_env = {{"HOME", "relative-home"},
             {"XDG_DATA_HOME", "relative"},
             {"XDG_DATA_DIRS", "share:/abs/share"}};
    auto env = [this](const char* name) { return m_env[name]; };
    std::vector<fs::path> candidates = data_dir_candidates("/opt/wt/bin", env);
    ASSERT_EQ(candidates.size(), 4u);
    EXPECT_EQ(candidates[3], fs::path("/abs/share/wintest"));

    m_env = {};
    candidates = data_dir_candidates("/opt/wt/bin", env);
    ASSERT_EQ(candidates.size(), 5u) << "no HOME: only the default data folders";
    EXPECT_EQ(candidates[3], fs::path("/usr/local/share/wintest"));
    EXPECT_EQ(candidates[4], fs::path("/usr/share/wintest"));
}

TEST(CommandLinePath, BlanksAreAvoidedThroughARelativePath) {
    EXPECT_EQ(without_blanks("/opt/wintest/data", "/home/a b"), "/opt/wintest/data");
    EXPECT_EQ(without_blanks("/home/John Doe/wintest/data", "/home/John Doe/work"),
              "../wintest/data");
    EXPECT_EQ(without_blanks("/home/John Doe/data", "/home/John Doe"), "data");
    EXPECT_EQ(without_blanks("/home/John Doe/data", "/tmp"), "/home/John Doe/data")
        << "no path without a blank: left as it is";
    EXPECT_EQ(without_blanks("a b", "/tmp"), "a b") << "relative already";
}

} // namespace
} // namespace propsheet
