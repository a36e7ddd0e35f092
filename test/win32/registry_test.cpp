// The registry calls against documented Win32 results, and the file that keeps them.
#include <windows.h>

#include "child.h"
#include "platform/prefix.h"
#include "win32/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

// Each test process has a prefix of its own (test/support/test_main.cpp).
std::string prefix() {
    return platform::prefix_dir();
}

std::string registry_file() {
    return prefix() + "/registry.reg";
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const std::string& s, bool zero = true) {
    Bytes b(s.begin(), s.end());
    if (zero)
        b.push_back(0);
    return b;
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        std::error_code ec;
        std::filesystem::remove(registry_file(), ec);
        std::filesystem::remove(registry_file() + ".new", ec);
    }

    HKEY create(const char* path, DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        DWORD d = 0;
        LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 &key, &d);
        EXPECT_EQ(r, ERROR_SUCCESS) << path;
        if (disposition)
            *disposition = d;
        return key;
    }

    static LONG set(HKEY key, const char* name, DWORD type, const Bytes& data) {
        return RegSetValueExA(key, name, 0, type, data.data(), DWORD(data.size()));
    }

    // Type and bytes of a value, read with a buffer of exactly the size asked for first.
    static LONG query(HKEY key, const char* name, DWORD& type, Bytes& data) {
        DWORD size = 0;
        LONG r = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
        if (r != ERROR_SUCCESS)
            return r;
        data.assign(size, 0xEE);
        return RegQueryValueExA(key, name, nullptr, &type, data.data(), &size);
    }
};

TEST_F(Registry, EveryTypeSurvivesTheFileByteForByte) {
    struct Case {
        const char* name;
        DWORD type;
        Bytes data;
    };
    Bytes big(300);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 7);
    const std::vector<Case> cases = {
        {"Text", REG_SZ, bytes_of("plain")},
        {"Quotes \"and\" \\slashes\\", REG_SZ, bytes_of("C:\\dir\\\"x\"\\")},
        {"", REG_SZ, bytes_of("default value")},
        {"Empty", REG_SZ, bytes_of("")},
        {"NoZero", REG_SZ, bytes_of("abc", false)},
        {"TwoZeros", REG_SZ, {'a', 0, 'b', 0}},
        {"LineBreak", REG_SZ, bytes_of("one\ntwo\r\n")},
        {"Expand", REG_EXPAND_SZ, bytes_of("%PATH%")},
        {"Binary", REG_BINARY, {0x00, 0xff, 0x10, 0x80}},
        {"Big", REG_BINARY, big},
        {"NoBytes", REG_BINARY, {}},
        {"Dword", REG_DWORD, {0x0a, 0, 0, 0x80}},
        {"ShortDword", REG_DWORD, {1, 2, 3}},
        {"BigEndian", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1}},
        {"Multi", REG_MULTI_SZ, {'a', 0, 'b', 'c', 0, 0}},
        {"Qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"None", REG_NONE, {}},
        {"OddType", 0x1234, {9}},
    };
    HKEY key = create("Software\\RoundTrip");
    for (const Case& c : cases)
        ASSERT_EQ(set(key, c.name, c.type, c.data), ERROR_SUCCESS) << c.name;
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    // The file is what regedit reads.
    std::string text = read_text(registry_file());
    EXPECT_EQ(text.rfind("REGEDIT4\n", 0), 0u) << text;
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\RoundTrip]\n"), std::string::npos);
    EXPECT_NE(text.find("\"Text\"=\"plain\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("@=\"default value\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Dword\"=dword:8000000a\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Binary\"=hex:00,ff,10,80\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Multi\"=hex(7):61,00,62,63,00,00\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Quotes \\\"and\\\" \\\\slashes\\\\\"=\"C:\\\\dir\\\\\\\"x\\\"\\\\\""),
              std::string::npos)
        << text;

    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\RoundTrip", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    for (const Case& c : cases) {
        DWORD type = 0;
        Bytes data;
        ASSERT_EQ(query(key, c.name, type, data), ERROR_SUCCESS) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
        EXPECT_EQ(data, c.data) << c.name;
    }
    RegCloseKey(key);
}

TEST_F(Registry, NamesMatchInAnyCaseAndKeepTheirFirstCase) {
    HKEY key = create("Software\\Kavix\\Board0");
    ASSERT_EQ(set(key, "Mixed_Name", REG_SZ, bytes_of("1")), ERROR_SUCCESS);
    ASSERT_EQ(set(key, "MIXED_NAME", REG_SZ, bytes_of("2")), ERROR_SUCCESS);
    RegCloseKey(key);

    HKEY other = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\kavix\\BOARD0", 0, KEY_READ, &other),
              ERROR_SUCCESS);
    DWORD type = 0;
    Bytes data;
    ASSERT_EQ(query(other, "mixed_name", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, bytes_of("2"));

    char name[64];
    DWORD nameSize = sizeof name;
    ASSERT_EQ(RegEnumValueA(other, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "Mixed_Name");
    EXPECT_EQ(nameSize, 10u);
    nameSize = sizeof name;
    EXPECT_EQ(RegEnumValueA(other, 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    RegCloseKey(other);

    // Creating the key again in other case opens the one that exists, named as first created.
    DWORD disposition = 0;
    HKEY again = create("software\\KAVIX", &disposition);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    nameSize = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(again, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "Board0");
    RegCloseKey(again);
}

TEST_F(Registry, QueryReportsShortBuffersAndMissingValues) {
    HKEY key = create("Software\\Sizes");
    std::string text(199, 'x'); // 200 bytes with the zero
    ASSERT_EQ(set(key, "Fits", REG_SZ, bytes_of(text)), ERROR_SUCCESS);
    ASSERT_EQ(set(key, "TooBig", REG_SZ, bytes_of(text + "y")), ERROR_SUCCESS);

    char buffer[200];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Fits", nullptr, &type, (LPBYTE)buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 200u);
    EXPECT_EQ(type, DWORD(REG_SZ));

    std::memset(buffer, '#', sizeof buffer);
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(key, "TooBig", nullptr, &type, (LPBYTE)buffer, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 201u) << "the size needed comes back";
    EXPECT_EQ(buffer[0], '#') << "a short buffer is left alone";

    size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "TooBig", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 201u);

    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, (LPBYTE)buffer, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key, "Fits", nullptr, &type, (LPBYTE)buffer, nullptr),
              ERROR_INVALID_PARAMETER);

    EXPECT_EQ(RegDeleteValueA(key, "fits"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(key, "Fits"), ERROR_FILE_NOT_FOUND);
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(key, "Fits", nullptr, &type, (LPBYTE)buffer, &size),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(Registry, OpenFailsOnMissingKeysWhereCreateMakesThem) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Nothing", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(std::filesystem::exists(registry_file())) << "opening wrote the file";

    DWORD disposition = 0;
    key = create("Software\\A\\B\\C", &disposition);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    RegCloseKey(key);
    key = create("Software\\A\\B\\C\\", &disposition);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\A\\B", 0, KEY_READ, &key), ERROR_SUCCESS)
        << "parents are created too";
    // A subkey relative to an open key.
    HKEY sub = nullptr;
    EXPECT_EQ(RegOpenKeyExA(key, "c", 0, KEY_READ, &sub), ERROR_SUCCESS);
    RegCloseKey(sub);

    // A read-only handle cannot write.
    EXPECT_EQ(set(key, "x", REG_SZ, bytes_of("1")), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(set(key, "x", REG_SZ, bytes_of("1")), ERROR_INVALID_HANDLE);

    for (const char* bad : {"\\Lead", "Two\\\\Slashes", "Line\nBreak"})
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, bad, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_BAD_PATHNAME)
            << bad;
    EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software", &key), ERROR_INVALID_HANDLE);

    // RegCreateKeyA with no subkey gives back the handle passed in.
    EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "", &key), ERROR_SUCCESS);
    EXPECT_EQ(key, HKEY_LOCAL_MACHINE);
}

TEST_F(Registry, ImportReadsRegeditTextAndExportWritesIt) {
    const std::string text = "REGEDIT4\r\n"
                             "\r\n"
                             "; written by hand\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Import]\r\n"
                             "\"Name\"=\"say \\\"hi\\\" C:\\\\x\"\r\n"
                             "@=dword:0000000A\r\n"
                             "\"Long\"=hex:01,02,\\\r\n"
                             "  03,04\r\n"
                             "\"Kind\"=hex(2):41,00\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Import\\Gone]\r\n"
                             "[-HKEY_LOCAL_MACHINE\\Software\\Import\\Gone]\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Import]\r\n"
                             "\"Kind\"=-\r\n";
    auto result = win32::import_registry(text);
    ASSERT_TRUE(result) << result.message();

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Import", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD type = 0;
    Bytes data;
    ASSERT_EQ(query(key, "Name", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, bytes_of("say \"hi\" C:\\x"));
    ASSERT_EQ(query(key, nullptr, type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(data, (Bytes{10, 0, 0, 0}));
    ASSERT_EQ(query(key, "Long", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(query(key, "Kind", type, data), ERROR_FILE_NOT_FOUND);
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyExA(key, "Gone", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);

    auto exported = win32::export_registry("software\\import");
    ASSERT_TRUE(exported);
    EXPECT_EQ(*exported, "REGEDIT4\n\n"
                         "[HKEY_LOCAL_MACHINE\\Software\\Import]\n"
                         "\"Name\"=\"say \\\"hi\\\" C:\\\\x\"\n"
                         "@=dword:0000000a\n"
                         "\"Long\"=hex:01,02,03,04\n\n");
    EXPECT_EQ(win32::export_registry("Software\\Nope").error().code, ERROR_FILE_NOT_FOUND);

    // A faulty text changes nothing and names its line.
    std::string before = read_text(registry_file());
    result =
        win32::import_registry("REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\"1\"\n\"b\"=hex:zz\n");
    EXPECT_EQ(result.error().code, ERROR_BADDB);
    EXPECT_NE(result.message().find("line 4"), std::string::npos) << result.message();
    result = win32::import_registry("REGEDIT4\n[HKEY_CURRENT_USER\\X]\n");
    EXPECT_EQ(result.error().code, ERROR_BADDB);
    EXPECT_EQ(read_text(registry_file()), before);
}

TEST_F(Registry, DamagedFileIsRefusedAndLeftAlone) {
    const std::vector<std::string> damaged = {
        "",
        "REGEDIT5\n",
        "REGEDIT4\n\"a\"=\"value before any key\"\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"no closing quote\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:1,2,345\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=dword:123456789\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01,\\\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\ngarbage\n",
        "\x01\x02\x03 binary junk",
    };
    for (const std::string& text : damaged) {
        write_text(registry_file(), text);
        ::testing::internal::CaptureStderr();
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_REGISTRY_CORRUPT)
            << text;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A", 0, KEY_READ, &key),
                  ERROR_REGISTRY_CORRUPT);
        EXPECT_EQ(set(HKEY_LOCAL_MACHINE, "x", REG_SZ, bytes_of("1")), ERROR_REGISTRY_CORRUPT);
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(HKEY_LOCAL_MACHINE, "x", nullptr, nullptr, nullptr, &size),
                  ERROR_REGISTRY_CORRUPT);
        EXPECT_FALSE(win32::import_registry("REGEDIT4\n[HKEY_LOCAL_MACHINE\\B]\n"));
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(registry_file()), std::string::npos) << err;
        EXPECT_EQ(read_text(registry_file()), text) << "the damaged file was changed";
    }
}

// Stores far larger than any program's settings: tens of thousands of sibling keys and of
// values, and a key thousands of levels deep, all read back whole and in order.
TEST_F(Registry, LargeStoresKeepEveryKeyValueAndLevel) {
    const int wide = 20000, deep = 2000;
    std::string text = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Wide]\n";
    for (int i = 0; i < wide; ++i)
        text += "\"v" + std::to_string(i) + "\"=dword:" + std::to_string(i % 10) + "\n";
    for (int i = wide - 1; i >= 0; --i)
        text += "[HKEY_LOCAL_MACHINE\\Wide\\K" + std::to_string(i) + "]\n";
    std::string path = "HKEY_LOCAL_MACHINE\\Deep";
    for (int i = 0; i < deep; ++i)
        text += "[" + (path += "\\d") + "]\n";
    text += "\"leaf\"=\"bottom\"\n";
    auto imported = win32::import_registry(text);
    ASSERT_TRUE(imported) << imported.message();

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "wide", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    char name[32];
    DWORD size = sizeof name;
    ASSERT_EQ(RegEnumValueA(key, wide - 1, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "v19999");
    // Subkeys come in folded-name order whatever order they were made in.
    size = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(key, 1, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "K1");
    // Deleting a value keeps the order of the others and their lookup by name.
    ASSERT_EQ(RegDeleteValueA(key, "V5"), ERROR_SUCCESS);
    size = sizeof name;
    ASSERT_EQ(RegEnumValueA(key, 5, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "v6");
    DWORD type = 0;
    Bytes data;
    ASSERT_EQ(query(key, "V19999", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, (Bytes{9, 0, 0, 0}));
    RegCloseKey(key);

    std::string deep_path = "Deep";
    for (int i = 0; i < deep; ++i)
        deep_path += "\\D";
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, deep_path.c_str(), 0, KEY_READ, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(query(key, "leaf", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, bytes_of("bottom"));
    RegCloseKey(key);

    // A removed subtree leaves nothing behind: made again, its keys are empty.
    ASSERT_TRUE(win32::import_registry("REGEDIT4\n[-HKEY_LOCAL_MACHINE\\Deep\\d\\d]\n"));
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, deep_path.c_str(), 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, deep_path.c_str(), &key), ERROR_SUCCESS);
    EXPECT_EQ(query(key, "leaf", type, data), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    auto exported = win32::export_registry("Deep");
    ASSERT_TRUE(exported);
    EXPECT_EQ(std::count(exported->begin(), exported->end(), '['), deep + 1);
}

TEST_F(Registry, ContinuedLineWithNothingOnItIsRefusedByLine) {
    for (const char* text : {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\\\n\n",
                             "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n  \\\n\\\n   \n"}) {
        auto result = win32::import_registry(text);
        ASSERT_FALSE(result) << text;
        EXPECT_EQ(result.error().code, ERROR_BADDB);
        EXPECT_EQ(result.message(), "line 3: a continued line with nothing on it");
    }
}

// A store that cannot be written says what happened and which file, and keeps the last good
// file. (A file-size limit stands in for a full disk: the write fails part way through.)
TEST_F(Registry, WriteFailureNamesTheFileAndTheCauseAndKeepsTheOldFile) {
    HKEY key = create("Software\\Kept");
    ASSERT_EQ(set(key, "a", REG_SZ, bytes_of("1")), ERROR_SUCCESS);
    std::string before = read_text(registry_file());

    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = {before.size() + 16, old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    ::testing::internal::CaptureStderr();
    LONG r = set(key, "b", REG_BINARY, Bytes(4096, 7));
    std::string err = ::testing::internal::GetCapturedStderr();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(r, ERROR_CANTWRITE);
    EXPECT_NE(err.find(registry_file() + ": cannot be written: File too large"), std::string::npos)
        << err;
    EXPECT_EQ(read_text(registry_file()), before);
    EXPECT_FALSE(std::filesystem::exists(registry_file() + ".new"));

    // A temporary file that cannot be made (here: a folder is in its way) is named too.
    std::filesystem::create_directory(registry_file() + ".new");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(set(key, "c", REG_SZ, bytes_of("3")), ERROR_CANTWRITE);
    err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(registry_file() + ": cannot be written: Is a directory"), std::string::npos)
        << err;
    std::filesystem::remove(registry_file() + ".new");
    EXPECT_EQ(read_text(registry_file()), before);
    RegCloseKey(key);
}

// A writer sets `count` values named "<tag><i>" in the same key, one call each, and says
// "started" once the first is written.
WT_TEST_CHILD(registry_writer) {
    std::string tag = wt_test::child_arg(0);
    int count = std::stoi(wt_test::child_arg(1));
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Shared", &key) != ERROR_SUCCESS)
        return 2;
    for (int i = 0; i < count; ++i) {
        std::string name = tag + std::to_string(i);
        if (RegSetValueExA(key, name.c_str(), 0, REG_SZ, (const BYTE*)name.c_str(),
                           DWORD(name.size() + 1)) != ERROR_SUCCESS)
            return 3;
        if (i == 0) {
            std::printf("started\n");
            std::fflush(stdout);
        }
    }
    return 0;
}

// The number of values under a key; 0 while the key does not exist (a writer killed before
// its first change has created nothing).
int value_count(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    int n = 0;
    char name[64];
    DWORD size = sizeof name;
    while (RegEnumValueA(key, DWORD(n), name, &size, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS) {
        ++n;
        size = sizeof name;
    }
    RegCloseKey(key);
    return n;
}

TEST_F(Registry, TwoProcessesWritingAtOnceLoseNothing) {
    const int count = 60; // each write waits for the disk: enough to interleave, not more
    wt_test::Child a("registry_writer", {"a", std::to_string(count)});
    wt_test::Child b("registry_writer", {"b", std::to_string(count)});
    EXPECT_EQ(a.wait(), 0);
    EXPECT_EQ(b.wait(), 0);
    EXPECT_EQ(value_count("Software\\Shared"), 2 * count);
}

// Each writer is killed at a random moment after its first value, in the middle of a write
// or between two.
TEST_F(Registry, WriterKilledAtAnyMomentLeavesTheLastGoodFile) {
    std::mt19937 random(12345);
    int previous = 0;
    for (int round = 0; round < 25; ++round) {
        wt_test::Child writer("registry_writer", {"r" + std::to_string(round) + "_", "1000000"});
        ASSERT_EQ(writer.read_line(), "started") << "round " << round;
        ::usleep(useconds_t(random() % 20000));
        writer.kill();
        int now = value_count("Software\\Shared");
        ASSERT_GT(now, previous) << "round " << round << ": values were lost";
        previous = now;
    }
}

} // namespace
