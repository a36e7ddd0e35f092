// Helpers of the bitmap display tests: small BMP files built in memory, temporary files.
#pragma once

#include <windows.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace dibtest {

// What to put in a BMP file; rows are given as stored (bottom row first unless height < 0).
struct Bmp {
    int width{1};
    int height{1};
    int bits{8};
    DWORD compression{BI_RGB};
    DWORD clr_used{0};
    DWORD size_image{0};
    bool file_header{true};
    bool core{false};           // 12-byte header with 3-byte table entries
    long off_bits{-1};          // -1: right behind the table; else as given
    std::vector<RGBQUAD> table; // written as given (count decides nothing)
    std::vector<BYTE> rows;
    std::vector<BYTE> gap; // bytes between the table and the rows
};

inline void put16(std::vector<BYTE>& out, unsigned v) {
    out.push_back(BYTE(v));
    out.push_back(BYTE(v >> 8));
}
inline void put32(std::vector<BYTE>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

inline std::vector<BYTE> build(const Bmp& b) {
    std::vector<BYTE> info;
    if (b.core) {
        put32(info, 12);
        put16(info, unsigned(b.width));
        put16(info, unsigned(b.height));
        put16(info, 1);
        put16(info, unsigned(b.bits));
        for (const RGBQUAD& q : b.table) {
            info.push_back(q.rgbBlue);
            info.push_back(q.rgbGreen);
            info.push_back(q.rgbRed);
        }
    } else {
        put32(info, 40);
        put32(info, uint32_t(b.width));
        put32(info, uint32_t(b.height));
        put16(info, 1);
        put16(info, unsigned(b.bits));
        put32(info, b.compression);
        put32(info, b.size_image);
        put32(info, 2835);
        put32(info, 2835);
        put32(info, b.clr_used);
        put32(info, 0);
        for (const RGBQUAD& q : b.table) {
            info.push_back(q.rgbBlue);
            info.push_back(q.rgbGreen);
            info.push_back(q.rgbRed);
            info.push_back(q.rgbReserved);
        }
    }
    info.insert(info.end(), b.gap.begin(), b.gap.end());
    std::vector<BYTE> out;
    if (b.file_header) {
        size_t offset = b.off_bits >= 0 ? size_t(b.off_bits) : 14 + info.size();
        out.push_back('B');
        out.push_back('M');
        put32(out, uint32_t(14 + info.size() + b.rows.size()));
        put32(out, 0);
        put32(out, uint32_t(offset));
    }
    out.insert(out.end(), info.begin(), info.end());
    out.insert(out.end(), b.rows.begin(), b.rows.end());
    return out;
}

// A folder of its own for each test, removed at the end.
class TempDir {
public:
    TempDir() {
        static int s_count = 0;
        m_path = std::filesystem::temp_directory_path() /
                 ("wt_dib_" + std::to_string(getpid()) + "_" + std::to_string(s_count++));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() { std::filesystem::remove_all(m_path); }
    std::string file(const std::string& name, const std::vector<BYTE>& bytes) const {
        std::string path = (m_path / name).string();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    std::string path(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// A grey ramp table of n entries: entry i is (i, i, i) with reserved 0.
inline std::vector<RGBQUAD> ramp(int n) {
    std::vector<RGBQUAD> t;
    for (int i = 0; i < n; ++i)
        t.push_back(RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0});
    return t;
}

// The corpus folder of the BMP Suite files.
inline std::string corpus_dir() {
    return std::string(WINTEST_SOURCE_DIR) + "/test/data/bmpsuite";
}

// Locks a block for a test's look at it.
struct Locked {
    HGLOBAL block;
    BYTE* p;
    explicit Locked(HGLOBAL b) : block(b), p(static_cast<BYTE*>(GlobalLock(b))) {}
    ~Locked() { GlobalUnlock(block); }
    const BITMAPINFOHEADER& header() const { return *reinterpret_cast<BITMAPINFOHEADER*>(p); }
    const RGBQUAD* table() const { return reinterpret_cast<RGBQUAD*>(p + 40); }
};

} // namespace dibtest
