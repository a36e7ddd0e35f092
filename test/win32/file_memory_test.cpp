// KERNEL files and global memory, checked against documented Win32 results.
#include <windows.h>

#include "win32/faults.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// A fresh folder with one file "Data.bin" of bytes 0..99, made current for the test.
class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("wt_file_" + std::to_string(getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir / "Sub");
        std::ofstream out(m_dir / "Sub" / "Data.bin", std::ios::binary);
        for (int i = 0; i < 100; ++i)
            out.put(char(i));
        out.close();
        m_old = fs::current_path();
        fs::current_path(m_dir);
    }
    void TearDown() override {
        fs::current_path(m_old);
        fs::remove_all(m_dir);
    }
    fs::path m_dir, m_old;
};

TEST_F(FileTest, ReadsSeeksAndCloses) {
    OFSTRUCT of{};
    HFILE f = OpenFile("sub\\DATA.BIN", &of, OF_READ);
    ASSERT_NE(f, HFILE_ERROR) << "last error " << GetLastError();
    EXPECT_EQ(of.cBytes, sizeof(OFSTRUCT));
    EXPECT_EQ(of.nErrCode, 0);
    EXPECT_NE(std::string(of.szPathName).find("Data.bin"), std::string::npos) << of.szPathName;

    BYTE buffer[200];
    EXPECT_EQ(_lread(f, buffer, 10), 10u);
    EXPECT_EQ(buffer[9], 9);
    EXPECT_EQ(_llseek(f, 0, FILE_CURRENT), 10) << "a seek of 0 from here tells the position";
    EXPECT_EQ(_llseek(f, 5, FILE_CURRENT), 15);
    EXPECT_EQ(_lread(f, buffer, 1), 1u);
    EXPECT_EQ(buffer[0], 15);
    EXPECT_EQ(_llseek(f, -4, FILE_END), 96);
    EXPECT_EQ(_lread(f, buffer, 200), 4u) << "a read at the end comes back short";
    EXPECT_EQ(_lread(f, buffer, 200), 0u);

    EXPECT_EQ(_llseek(f, -1, FILE_BEGIN), HFILE_ERROR);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(_llseek(f, 0, FILE_CURRENT), 100) << "a refused seek keeps the position";
    EXPECT_EQ(_llseek(f, 3, 7), HFILE_ERROR);

    EXPECT_EQ(_lclose(f), 0);
    EXPECT_EQ(_lread(f, buffer, 1), UINT(HFILE_ERROR));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(_lclose(f), HFILE_ERROR);
    EXPECT_EQ(_lread(0, buffer, 1), UINT(HFILE_ERROR)) << "no small integer is a file";
}

TEST_F(FileTest, MissingNamesDirectoriesAndWritesAreRefused) {
    OFSTRUCT of{};
    EXPECT_EQ(OpenFile("nothing.bmp", &of, OF_READ), HFILE_ERROR);
    EXPECT_EQ(of.nErrCode, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(OpenFile("Sub", &of, OF_READ), HFILE_ERROR) << "a folder is no file";
    EXPECT_EQ(OpenFile("", &of, OF_READ), HFILE_ERROR);
    EXPECT_EQ(OpenFile("Sub\\Data.bin", &of, OF_WRITE), HFILE_ERROR);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_GT(OpenFile("Sub\\Data.bin", &of, OF_EXIST), 0);
}

TEST_F(FileTest, BareNameIsFoundInTheCurrentFolder) {
    fs::copy_file(m_dir / "Sub" / "Data.bin", m_dir / "here.bin");
    OFSTRUCT of{};
    HFILE f = OpenFile("HERE.BIN", &of, OF_READ);
    ASSERT_NE(f, HFILE_ERROR);
    BYTE b = 0xFF;
    EXPECT_EQ(_lread(f, &b, 1), 1u);
    EXPECT_EQ(b, 0);
    _lclose(f);
}

// Undoes a memory limit whatever the test's outcome.
struct LimitGuard {
    ~LimitGuard() { win32::faults::set_global_memory_limit(std::nullopt); }
};

TEST(GlobalMemory, MoveableBlocksCountLocks) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 64);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GlobalSize(h), 64u);
    auto* p = static_cast<BYTE*>(GlobalLock(h));
    ASSERT_NE(p, nullptr);
    EXPECT_NE(static_cast<void*>(p), h) << "a moveable handle is not the pointer";
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(p[i], 0) << "byte " << i;
    EXPECT_EQ(GlobalLock(h), p);
    EXPECT_TRUE(GlobalUnlock(h)) << "still locked once";
    SetLastError(12345);
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS)) << "unlocked now: not a failure";
    EXPECT_FALSE(GlobalUnlock(h));
    EXPECT_EQ(GetLastError(), 158u) << "ERROR_NOT_LOCKED";
    EXPECT_EQ(GlobalFree(h), nullptr);
    EXPECT_EQ(GlobalFree(h), h) << "a freed handle is given back";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GlobalLock(h), nullptr);
}

TEST(GlobalMemory, ReAllocKeepsContentsAndZeroesGrowth) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 4);
    auto* p = static_cast<BYTE*>(GlobalLock(h));
    std::memcpy(p, "\x11\x22\x33\x44", 4);
    EXPECT_EQ(GlobalReAlloc(h, 4096, GMEM_ZEROINIT), nullptr) << "locked and not allowed to move";
    GlobalUnlock(h);
    ASSERT_EQ(GlobalReAlloc(h, 4096, GMEM_MOVEABLE | GMEM_ZEROINIT), h) << "same handle";
    p = static_cast<BYTE*>(GlobalLock(h));
    EXPECT_EQ(std::memcmp(p, "\x11\x22\x33\x44", 4), 0);
    for (int i = 4; i < 4096; ++i)
        ASSERT_EQ(p[i], 0) << "byte " << i;
    GlobalUnlock(h);
    EXPECT_EQ(GlobalSize(h), 4096u);
    GlobalFree(h);

    HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 8);
    EXPECT_EQ(GlobalLock(fixed), fixed) << "a fixed block is its own pointer";
    EXPECT_TRUE(GlobalUnlock(fixed));
    std::memset(fixed, 7, 8);
    EXPECT_EQ(GlobalReAlloc(fixed, 64, 0), nullptr) << "a fixed block may not move";
    HGLOBAL moved = GlobalReAlloc(fixed, 64, GMEM_MOVEABLE | GMEM_ZEROINIT);
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(static_cast<BYTE*>(moved)[7], 7);
    EXPECT_EQ(static_cast<BYTE*>(moved)[8], 0);
    EXPECT_EQ(GlobalFree(moved), nullptr);
}

TEST(GlobalMemory, LimitRefusesAndRecovers) {
    LimitGuard guard;
    size_t base = win32::faults::global_memory_in_use();
    win32::faults::set_global_memory_limit(base + 1000);
    HGLOBAL a = GlobalAlloc(GMEM_MOVEABLE, 600);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(GlobalAlloc(GMEM_FIXED, 600), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(LocalAlloc(LMEM_ZEROINIT, 600), nullptr) << "local memory shares the heap";
    auto* p = static_cast<BYTE*>(GlobalLock(a));
    p[0] = 42;
    GlobalUnlock(a);
    EXPECT_EQ(GlobalReAlloc(a, 2000, GMEM_MOVEABLE), nullptr);
    EXPECT_EQ(GlobalSize(a), 600u) << "a refused growth keeps the block";
    EXPECT_EQ(static_cast<BYTE*>(GlobalLock(a))[0], 42);
    GlobalUnlock(a);
    GlobalFree(a);
    HLOCAL l = LocalAlloc(LMEM_ZEROINIT, 900);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(static_cast<BYTE*>(l)[899], 0);
    EXPECT_EQ(LocalFree(l), nullptr);
    EXPECT_EQ(win32::faults::global_memory_in_use(), base);
}

// The single-request switch: a request of exactly the limit passes, one byte more fails, held
// bytes do not matter, a refused growth keeps the block, and local memory is not limited.
TEST(GlobalMemory, RequestLimitRefusesOnlyLargerRequests) {
    struct Guard {
        ~Guard() { win32::faults::set_global_alloc_limit(std::nullopt); }
    } guard;
    win32::faults::set_global_alloc_limit(256);
    HGLOBAL a = GlobalAlloc(GMEM_MOVEABLE, 256);
    HGLOBAL b = GlobalAlloc(GMEM_MOVEABLE, 256);
    ASSERT_NE(a, nullptr);
    EXPECT_NE(b, nullptr) << "the bytes held are not limited";
    SetLastError(0);
    EXPECT_EQ(GlobalAlloc(GMEM_FIXED, 257), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ENOUGH_MEMORY));
    static_cast<BYTE*>(GlobalLock(a))[0] = 9;
    GlobalUnlock(a);
    EXPECT_EQ(GlobalReAlloc(a, 257, GMEM_MOVEABLE), nullptr);
    EXPECT_EQ(GlobalSize(a), 256u) << "a refused request keeps the block";
    EXPECT_EQ(static_cast<BYTE*>(GlobalLock(a))[0], 9);
    GlobalUnlock(a);
    EXPECT_EQ(GlobalReAlloc(a, 100, GMEM_MOVEABLE), a) << "shrinking stays within the limit";
    HLOCAL l = LocalAlloc(LMEM_FIXED, 1000);
    EXPECT_NE(l, nullptr) << "only global requests are limited";
    LocalFree(l);
    GlobalFree(a);
    GlobalFree(b);
    win32::faults::set_global_alloc_limit(std::nullopt);
    HGLOBAL big = GlobalAlloc(GMEM_FIXED, 4096);
    EXPECT_NE(big, nullptr) << "no limit once removed";
    GlobalFree(big);
}

} // namespace
