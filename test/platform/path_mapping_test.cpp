// The mapping of the program's Windows paths to host paths, and the guarantee that every file
// the program opens goes through it: this file includes <cstdio> after <windows.h>, the order
// that once made the C runtime's fopen skip the mapping.
#include <windows.h>

#include <cstdio>

#include "platform/prefix.h"
#include "tv/tv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

// Writes `text` at prefix/relative (folders made as needed) and returns the host path.
std::string put(const std::string& relative, const std::string& text) {
    fs::path path = fs::path(platform::prefix_dir()) / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return path.string();
}

// The first line of an open file, or "<not opened>".
std::string first_line(FILE* file) {
    if (!file)
        return "<not opened>";
    char line[64] = "";
    if (!std::fgets(line, sizeof line, file))
        line[0] = '\0';
    std::fclose(file);
    return line;
}

TEST(PathMapping, DriveLettersBackslashesAndCaseReachThePrefixFiles) {
    std::string host = put("drive_c/Kavix/Data/TestTV.3DF", "x");
    EXPECT_EQ(platform::map_path("C:\\Kavix\\Data\\TestTV.3DF"), host);
    EXPECT_EQ(platform::map_path("c:\\KAVIX\\data\\testtv.3df"), host) << "case-insensitive";
    EXPECT_EQ(platform::map_path("C:/kavix//data/TESTTV.3df"), host) << "slashes and runs";
    EXPECT_EQ(platform::map_path("C:\\kavix\\data\\missing.3df"),
              platform::prefix_dir() + "/drive_c/Kavix/Data/missing.3df")
        << "a missing name keeps its spelling below the folders that were found";
    put("drive_d/x.bmp", "d");
    EXPECT_EQ(platform::map_path("D:X.BMP"), platform::prefix_dir() + "/drive_d/x.bmp");
}

TEST(PathMapping, HostPathsThatExistAndRelativePathsStayAsTheyAre) {
    std::string host = put("Host File.txt", "h");
    EXPECT_EQ(platform::map_path(host), host);
    EXPECT_EQ(platform::map_path("relative\\name.txt"), "relative/name.txt");
    EXPECT_EQ(platform::map_path(""), "");
}

TEST(PathMapping, TheProgramsFopenMapsWhateverHeadersCameBefore) {
    put("drive_c/Kavix/Notes.TXT", "mapped\n");
    EXPECT_EQ(first_line(fopen("C:\\kavix\\notes.txt", "rb")), "mapped\n");
    EXPECT_EQ(first_line(std::fopen("c:\\KAVIX\\NOTES.txt", "rb")), "mapped\n");
    EXPECT_EQ(first_line(fopen(nullptr, "rb")), "<not opened>");
    EXPECT_EQ(first_line(fopen("C:\\kavix\\absent.txt", "rb")), "<not opened>");

    // A host path, as the platform's own writers use, is opened as written.
    std::string host = put("plain.txt", "host\n");
    EXPECT_EQ(first_line(fopen(host.c_str(), "rb")), "host\n");
}

// The program itself is linked as these tests are: its symbol table holds the wrapper that
// every fopen of its objects was bound to.
TEST(PathMapping, TheProgramIsLinkedWithTheMappedFopen) {
    std::ifstream in(std::string(WINTEST_BIN_DIR) + "/wintest", std::ios::binary);
    std::string program((std::istreambuf_iterator<char>(in)), {});
    ASSERT_FALSE(program.empty()) << WINTEST_BIN_DIR "/wintest";
    EXPECT_NE(program.find("__wrap_fopen"), std::string::npos)
        << "the program's fopen calls would skip the path mapping";
}

TEST(PathMapping, TheTvImageReaderOpensThroughTheMapping) {
    put("drive_c/Tv Data/TESTTV.3df", "3df v1.0\ni8\nlod range: 1 1\naspect ratio: 1 1\n\x7f");
    int width = 0, height = 0;
    DWORD* pixels = ReadTvTestImage("C:\\tv data\\testtv.3df", &width, &height);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(width, 1);
    EXPECT_EQ(height, 1);
    EXPECT_EQ(pixels[0], 0x007F7F7Fu);
    std::free(pixels);
}

} // namespace
