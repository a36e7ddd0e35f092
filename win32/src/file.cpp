// KERNEL file access of the 16-bit style: OpenFile, _lread, _llseek, _lclose over host files.
// Names are Windows paths mapped through the prefix (platform::map_path); a bare name is looked
// for the way OpenFile looks: the program's folder, the current folder, then the Windows
// folders of drive C.
#include <windows.h>

#include "platform/prefix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace win32 {

namespace {

// Open files by HFILE. Handles start high enough that no small integer (stdin, a stray 0) is
// ever a valid file.
class FileTable {
public:
    static FileTable& the() {
        static FileTable s_table;
        return s_table;
    }

    [[nodiscard]] HFILE add(int fd) {
        std::lock_guard lock(m_mutex);
        HFILE handle = m_next++;
        m_files.emplace(handle, fd);
        return handle;
    }

    // The host descriptor of a handle, or -1.
    [[nodiscard]] int fd_of(HFILE handle) {
        std::lock_guard lock(m_mutex);
        auto it = m_files.find(handle);
        return it == m_files.end() ? -1 : it->second;
    }

    [[nodiscard]] int remove(HFILE handle) {
        std::lock_guard lock(m_mutex);
        auto it = m_files.find(handle);
        if (it == m_files.end())
            return -1;
        int fd = it->second;
        m_files.erase(it);
        return fd;
    }

private:
    std::mutex m_mutex;
    std::unordered_map<HFILE, int> m_files;
    HFILE m_next{0x100};
};

bool is_bare_name(const std::string& name) {
    return name.find_first_of("\\/:") == std::string::npos;
}

std::string program_folder() {
    std::vector<char> buffer(PATH_MAX + 1);
    ssize_t n = readlink("/proc/self/exe", buffer.data(), PATH_MAX);
    if (n <= 0)
        return ".";
    std::string path(buffer.data(), size_t(n));
    auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool is_regular_file(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The host path of the file that OpenFile would open, or empty when there is none.
std::string find_file(const std::string& name) {
    if (!is_bare_name(name)) {
        std::string path = platform::map_path(name);
        return is_regular_file(path) ? path : std::string();
    }
    const std::string folders[] = {
        program_folder(),
        ".",
        platform::map_path("C:\\Windows\\System32"),
        platform::map_path("C:\\Windows\\System"),
        platform::map_path("C:\\Windows"),
    };
    for (const std::string& folder : folders) {
        std::string path = platform::map_path(folder + "/" + name);
        if (is_regular_file(path))
            return path;
    }
    return {};
}

void fill_ofstruct(LPOFSTRUCT of, const std::string& path, WORD error) {
    if (!of)
        return;
    of->cBytes = BYTE(sizeof(OFSTRUCT));
    of->fFixedDisk = 1;
    of->nErrCode = error;
    std::memset(of->szPathName, 0, sizeof of->szPathName);
    std::strncpy(of->szPathName, path.c_str(), sizeof of->szPathName - 1);
}

} // namespace

} // namespace win32

using win32::FileTable;

extern "C" {

/* Opens an existing file for reading (OF_READ) or checks that it exists (OF_EXIST: opened
 * and closed again, the result is positive). Fills the OFSTRUCT with the path found, or with
 * the error code on failure. Writing is not part of this subset: it is refused with
 * ERROR_ACCESS_DENIED. */
HFILE WINAPI OpenFile(LPCSTR fileName, LPOFSTRUCT reOpenBuff, UINT style) {
    if (!fileName || !*fileName) {
        win32::fill_ofstruct(reOpenBuff, "", ERROR_FILE_NOT_FOUND);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return HFILE_ERROR;
    }
    if (style & (OF_WRITE | OF_READWRITE)) {
        win32::fill_ofstruct(reOpenBuff, fileName, ERROR_ACCESS_DENIED);
        SetLastError(ERROR_ACCESS_DENIED);
        return HFILE_ERROR;
    }
    std::string path = win32::find_file(fileName);
    int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        DWORD error =
            (path.empty() || errno == ENOENT) ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
        win32::fill_ofstruct(reOpenBuff, fileName, WORD(error));
        SetLastError(error);
        return HFILE_ERROR;
    }
    win32::fill_ofstruct(reOpenBuff, path, 0);
    if (style & OF_EXIST) {
        ::close(fd);
        return 1;
    }
    return FileTable::the().add(fd);
}

/* Reads up to `bytes` bytes; returns the count read (short at the end of the file), or
 * HFILE_ERROR for a bad handle or a failed read. */
UINT WINAPI _lread(HFILE file, LPVOID buffer, UINT bytes) {
    int fd = FileTable::the().fd_of(file);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return UINT(HFILE_ERROR);
    }
    if (bytes && !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return UINT(HFILE_ERROR);
    }
    UINT total = 0;
    while (total < bytes) {
        ssize_t n = ::read(fd, static_cast<char*>(buffer) + total, bytes - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return UINT(HFILE_ERROR);
        }
        if (n == 0)
            break;
        total += UINT(n);
    }
    return total;
}

/* Moves the file position (FILE_BEGIN, FILE_CURRENT, FILE_END) and returns the new one; a seek
 * of 0 from FILE_CURRENT tells the position. A position before the start, past 2 GB or a bad
 * origin gives HFILE_ERROR and leaves the position as it was. */
LONG WINAPI _llseek(HFILE file, LONG offset, int origin) {
    int fd = FileTable::the().fd_of(file);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return HFILE_ERROR;
    }
    int whence = origin == FILE_BEGIN     ? SEEK_SET
                 : origin == FILE_CURRENT ? SEEK_CUR
                 : origin == FILE_END     ? SEEK_END
                                          : -1;
    if (whence < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return HFILE_ERROR;
    }
    off_t base = whence == SEEK_SET ? 0 : ::lseek(fd, 0, whence);
    if (base < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return HFILE_ERROR;
    }
    long long target = (long long)base + offset;
    if (target < 0 || target > LONG_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return HFILE_ERROR;
    }
    if (::lseek(fd, off_t(target), SEEK_SET) < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return HFILE_ERROR;
    }
    return LONG(target);
}

/* Closes the file: 0 on success, HFILE_ERROR for a handle that is not open. */
HFILE WINAPI _lclose(HFILE file) {
    int fd = FileTable::the().remove(file);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return HFILE_ERROR;
    }
    ::close(fd);
    return 0;
}
}
