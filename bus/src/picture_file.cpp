#include "picture_file.h"

#include "platform/prefix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bus {

namespace {

// A descriptor closed when it goes out of scope, unless released.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (m_fd >= 0)
            close(m_fd);
    }
    void reset(int fd) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = fd;
    }
    [[nodiscard]] int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool may_write(const struct stat& dir, const Requester& who) {
    if (who.uid == 0)
        return true;
    if (dir.st_uid == who.uid)
        return dir.st_mode & S_IWUSR;
    if (dir.st_gid == who.gid)
        return dir.st_mode & S_IWGRP;
    return dir.st_mode & S_IWOTH;
}

// Opens the folder of a picture one name at a time from the root, following only the
// symbolic links that belong to the requester or to root.
platform::Result<int> open_folder(const std::string& folder, const Requester& who) {
    Fd dir(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    size_t pos = 0;
    while (pos < folder.size()) {
        size_t end = folder.find('/', pos);
        if (end == std::string::npos)
            end = folder.size();
        std::string name = folder.substr(pos, end - pos);
        pos = end + 1;
        if (name.empty() || name == ".")
            continue;
        struct stat st {};
        if (fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return platform::fail(folder + ": " + strerror(errno));
        if (S_ISLNK(st.st_mode) && st.st_uid != who.uid && st.st_uid != 0)
            return platform::fail(folder + ": a symbolic link of another user on the way");
        int next = openat(dir.get(), name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (next < 0)
            return platform::fail(folder + ": " + strerror(errno));
        dir.reset(next);
    }
    return dir.release();
}

// The prefix's own files, wherever a link to one is.
bool is_own_file(int dir, const std::string& name, const struct stat& file) {
    std::string prefix = platform::prefix_dir();
    struct stat folder {
    }, own{};
    if (fstat(dir, &folder) != 0)
        return true;
    if (stat((prefix + "/desktop").c_str(), &own) == 0 && same_file(folder, own))
        return true;
    if (stat(prefix.c_str(), &own) == 0 && same_file(folder, own) &&
        (name.starts_with("registry.reg") || name.ends_with(".lock")))
        return true;
    for (const char* f : {"registry.reg", "registry.reg.lock", "board.lock"})
        if (stat((prefix + "/" + f).c_str(), &own) == 0 && same_file(file, own))
            return true;
    return false;
}

} // namespace

platform::Result<int> open_picture_file(const std::string& path, const Requester& who) {
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos)
        return platform::fail(path + ": not an absolute path");
    size_t slash = path.rfind('/');
    std::string folder = path.substr(0, slash), name = path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return platform::fail(path + ": not a file name");
    auto dir_fd = open_folder(folder.empty() ? "/" : folder, who);
    if (!dir_fd)
        return dir_fd.error();
    Fd dir(*dir_fd);
    struct stat st {};
    if (fstat(dir.get(), &st) != 0 || !may_write(st, who))
        return platform::fail(path + ": the requester may not write into its folder");
    const int flags = O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    bool created = true;
    Fd file(openat(dir.get(), name.c_str(), flags | O_CREAT | O_EXCL, 0644));
    if (file.get() < 0 && errno == EEXIST) {
        created = false;
        file.reset(openat(dir.get(), name.c_str(), flags));
    }
    if (file.get() < 0)
        return platform::fail(
            path + ": " +
            (errno == ELOOP ? std::string("a symbolic link") : std::string(strerror(errno))));
    if (fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return platform::fail(path + ": not a regular file");
    if ((!created && st.st_uid != who.uid) || is_own_file(dir.get(), name, st)) {
        if (created)
            unlinkat(dir.get(), name.c_str(), 0);
        return platform::fail(path + ": a file the requester may not write");
    }
    if (ftruncate(file.get(), 0) != 0)
        return platform::fail(path + ": " + strerror(errno));
    return file.release();
}

} // namespace bus
