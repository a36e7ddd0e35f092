// The registry tree in memory and the file that keeps it.
#include "registry_store.h"

#include "platform/text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <tuple>

namespace win32::registry {

std::string fold(std::string_view text) {
    return platform::ascii_lower(text);
}

std::optional<std::string> join_path(std::string_view base, std::string_view sub) {
    if (!sub.empty() && sub.back() == '\\')
        sub.remove_suffix(1);
    if (sub.empty())
        return std::string(base);
    std::string out(base);
    size_t pos = 0;
    while (pos <= sub.size()) {
        size_t end = sub.find('\\', pos);
        if (end == std::string_view::npos)
            end = sub.size();
        std::string_view part = sub.substr(pos, end - pos);
        if (part.empty() || part.find_first_of("\r\n") != std::string_view::npos)
            return std::nullopt;
        if (!out.empty())
            out += '\\';
        out += part;
        pos = end + 1;
    }
    return out;
}

// ---- Key ------------------------------------------------------------------------------------

const Value* Key::find_value(std::string_view name) const {
    std::string folded = fold(name);
    for (const Value& v : values)
        if (fold(v.name) == folded)
            return &v;
    return nullptr;
}

void Key::set_value(std::string_view name, DWORD type, std::vector<uint8_t> data) {
    for (Value& v : values) {
        if (fold(v.name) == fold(name)) {
            v.type = type; // the name keeps the case it was first set with
            v.data = std::move(data);
            return;
        }
    }
    values.push_back({std::string(name), type, std::move(data)});
}

bool Key::delete_value(std::string_view name) {
    std::string folded = fold(name);
    return std::erase_if(values, [&](const Value& v) { return fold(v.name) == folded; }) > 0;
}

// ---- Tree -----------------------------------------------------------------------------------

Tree::Tree() {
    m_keys.emplace("", Key{});
}

const Key* Tree::find(std::string_view path) const {
    auto it = m_keys.find(fold(path));
    return it == m_keys.end() ? nullptr : &it->second;
}

Key* Tree::find(std::string_view path) {
    auto it = m_keys.find(fold(path));
    return it == m_keys.end() ? nullptr : &it->second;
}

Key& Tree::create(std::string_view path, bool* created) {
    if (created)
        *created = false;
    if (Key* key = find(path))
        return *key;
    // Ancestors first, so that every key's parent exists.
    size_t cut = path.rfind('\\');
    if (cut != std::string_view::npos)
        create(path.substr(0, cut));
    if (created)
        *created = true;
    Key& key = m_keys[fold(path)];
    key.path = std::string(path);
    return key;
}

// True when `path` (folded) lies strictly below `parent` (folded).
static bool is_below(const std::string& path, const std::string& parent) {
    if (parent.empty())
        return !path.empty();
    return path.size() > parent.size() && path.compare(0, parent.size(), parent) == 0 &&
           path[parent.size()] == '\\';
}

bool Tree::remove(std::string_view path) {
    std::string folded = fold(path);
    if (folded.empty() || !m_keys.contains(folded))
        return false;
    std::erase_if(m_keys, [&](const auto& entry) {
        return entry.first == folded || is_below(entry.first, folded);
    });
    return true;
}

std::vector<const Key*> Tree::children(std::string_view path) const {
    std::string folded = fold(path);
    std::vector<const Key*> out;
    for (const auto& [name, key] : m_keys) {
        if (!is_below(name, folded))
            continue;
        size_t start = folded.empty() ? 0 : folded.size() + 1;
        if (name.find('\\', start) == std::string::npos)
            out.push_back(&key);
    }
    return out;
}

std::vector<const Key*> Tree::subtree(std::string_view path) const {
    std::string folded = fold(path);
    std::vector<const Key*> out;
    // Depth-first through children(), so a parent always precedes its subkeys whatever
    // characters the names hold.
    const Key* top = find(path);
    if (!top)
        return out;
    std::vector<const Key*> stack{top};
    while (!stack.empty()) {
        const Key* key = stack.back();
        stack.pop_back();
        out.push_back(key);
        auto kids = children(key->path);
        for (auto it = kids.rbegin(); it != kids.rend(); ++it)
            stack.push_back(*it);
    }
    return out;
}

// ---- FileStore ------------------------------------------------------------------------------

namespace {

// Closes a descriptor on every path.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    [[nodiscard]] int get() const { return m_fd; }
    [[nodiscard]] bool ok() const { return m_fd >= 0; }
    int release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd{-1};
};

// Holds the exclusive advisory lock of the store from construction to destruction. The lock
// sits on a file of its own, which the rename of the store never replaces.
class ExclusiveLock {
public:
    explicit ExclusiveLock(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
        if (!m_fd.ok())
            return;
        while (::flock(m_fd.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(m_fd.release());
                return;
            }
        }
        m_locked = true;
    }
    [[nodiscard]] bool locked() const { return m_locked; }

private:
    Fd m_fd;
    bool m_locked{false};
};

LONG error_of_errno(int err, LONG fallback) {
    if (err == EACCES || err == EPERM || err == EROFS)
        return ERROR_ACCESS_DENIED;
    return fallback;
}

bool write_all(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// Reads the whole file; ENOENT leaves *missing set.
LONG read_file(const std::string& path, std::string& text, bool& missing) {
    missing = false;
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.ok()) {
        if (errno == ENOENT) {
            missing = true;
            return ERROR_SUCCESS;
        }
        return error_of_errno(errno, ERROR_CANTREAD);
    }
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ERROR_CANTREAD;
        if (n == 0)
            break;
        text.append(buffer, size_t(n));
    }
    return ERROR_SUCCESS;
}

// One stderr line per damaged file version (device, inode, size, time), so a program that
// reads twenty settings does not repeat it twenty times.
void report_damaged(const std::string& path, const ParseError& error) {
    static std::mutex s_mutex;
    static std::set<std::tuple<dev_t, ino_t, off_t, long, long>> s_reported;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        std::lock_guard guard(s_mutex);
        auto id = std::make_tuple(st.st_dev, st.st_ino, st.st_size, long(st.st_mtim.tv_sec),
                                  long(st.st_mtim.tv_nsec));
        if (!s_reported.insert(id).second)
            return;
    }
    std::fprintf(stderr,
                 "registry: %s is damaged (line %d: %s); it is left as it is and not used\n",
                 path.c_str(), error.line, error.message.c_str());
}

} // namespace

LONG FileStore::load(Tree& tree, std::string* error) const {
    tree = Tree();
    std::string text;
    bool missing = false;
    if (LONG code = read_file(m_path, text, missing); code != ERROR_SUCCESS) {
        if (error)
            *error = m_path + ": cannot be read: " + std::strerror(errno);
        return code;
    }
    if (missing)
        return ERROR_SUCCESS;
    if (auto failure = parse_regedit(text, tree)) {
        report_damaged(m_path, *failure);
        if (error)
            *error = m_path + " is damaged (line " + std::to_string(failure->line) + ": " +
                     failure->message + ")";
        tree = Tree();
        return ERROR_REGISTRY_CORRUPT;
    }
    return ERROR_SUCCESS;
}

LONG FileStore::update(const std::function<Change(Tree&)>& change, std::string* error) const {
    ExclusiveLock lock(m_path + ".lock");
    if (!lock.locked()) {
        if (error)
            *error = m_path + ".lock: cannot be locked: " + std::strerror(errno);
        return error_of_errno(errno, ERROR_CANTWRITE);
    }
    Tree tree;
    if (LONG code = load(tree, error); code != ERROR_SUCCESS)
        return code;
    Change result = change(tree);
    if (result.code != ERROR_SUCCESS || !result.modified)
        return result.code;
    LONG code = write(tree);
    if (code != ERROR_SUCCESS && error)
        *error = m_path + ": cannot be written";
    return code;
}

LONG FileStore::write(const Tree& tree) const {
    std::string text = format_regedit(tree);
    std::string temp = m_path + ".new";
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.ok())
        return error_of_errno(errno, ERROR_CANTWRITE);
    if (!write_all(fd.get(), text) || ::fsync(fd.get()) != 0 || ::close(fd.release()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return error_of_errno(err, ERROR_CANTWRITE);
    }
    if (::rename(temp.c_str(), m_path.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return error_of_errno(err, ERROR_CANTWRITE);
    }
    // Make the rename itself durable.
    std::string dir = m_path.substr(0, m_path.find_last_of('/') + 1);
    Fd dir_fd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir_fd.ok())
        ::fsync(dir_fd.get());
    return ERROR_SUCCESS;
}

} // namespace win32::registry
