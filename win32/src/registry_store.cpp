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
#include <map>
#include <memory>
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
    auto it = m_index.find(fold(name));
    return it == m_index.end() ? nullptr : &values[it->second];
}

void Key::set_value(std::string_view name, DWORD type, std::vector<uint8_t> data) {
    auto [it, added] = m_index.try_emplace(fold(name), values.size());
    if (!added) {
        Value& v = values[it->second];
        v.type = type; // the name keeps the case it was first set with
        v.data = std::move(data);
        return;
    }
    values.push_back({std::string(name), type, std::move(data)});
}

bool Key::delete_value(std::string_view name) {
    auto it = m_index.find(fold(name));
    if (it == m_index.end())
        return false;
    size_t gone = it->second;
    m_index.erase(it);
    values.erase(values.begin() + std::ptrdiff_t(gone));
    for (auto& [folded, position] : m_index)
        if (position > gone)
            --position;
    return true;
}

// ---- Tree -----------------------------------------------------------------------------------

namespace {

// Calls `visit` with each '\'-separated component of a key path, in order; stops early when
// it returns false. "" has no components.
template <typename Visit> bool each_component(std::string_view path, Visit visit) {
    size_t pos = 0;
    while (pos < path.size()) {
        size_t end = path.find('\\', pos);
        if (end == std::string_view::npos)
            end = path.size();
        if (!visit(path.substr(pos, end - pos), end))
            return false;
        pos = end + 1;
    }
    return true;
}

} // namespace

Tree::Tree() {
    m_nodes.emplace_back();
}

std::optional<Tree::NodeId> Tree::find_node(std::string_view path) const {
    NodeId id = 0;
    bool found = each_component(path, [&](std::string_view part, size_t) {
        const auto& kids = m_nodes[id].children;
        auto it = kids.find(fold(part));
        if (it == kids.end())
            return false;
        id = it->second;
        return true;
    });
    if (!found)
        return std::nullopt;
    return id;
}

const Key* Tree::find(std::string_view path) const {
    auto id = find_node(path);
    return id ? &m_nodes[*id].key : nullptr;
}

Key* Tree::find(std::string_view path) {
    auto id = find_node(path);
    return id ? &m_nodes[*id].key : nullptr;
}

Key& Tree::create(std::string_view path, bool* created) {
    bool made = false;
    NodeId id = 0;
    each_component(path, [&](std::string_view part, size_t end) {
        auto [it, added] = m_nodes[id].children.try_emplace(fold(part), NodeId(m_nodes.size()));
        if (added) {
            m_nodes.emplace_back().key.path = std::string(path.substr(0, end));
            made = true;
        }
        id = it->second;
        return true;
    });
    if (created)
        *created = made;
    return m_nodes[id].key;
}

bool Tree::remove(std::string_view path) {
    size_t cut = path.rfind('\\');
    std::string_view parent_path = cut == std::string_view::npos ? "" : path.substr(0, cut);
    auto parent = path.empty() ? std::nullopt : find_node(parent_path);
    if (!parent)
        return false;
    auto& siblings = m_nodes[*parent].children;
    auto it = siblings.find(fold(path.substr(cut == std::string_view::npos ? 0 : cut + 1)));
    if (it == siblings.end())
        return false;
    // The nodes stay in the deque, emptied, so other keys keep their places.
    std::vector<NodeId> stack{it->second};
    siblings.erase(it);
    while (!stack.empty()) {
        Node& node = m_nodes[stack.back()];
        stack.pop_back();
        for (const auto& [name, child] : node.children)
            stack.push_back(child);
        node = Node{};
    }
    return true;
}

std::vector<const Key*> Tree::children(std::string_view path) const {
    std::vector<const Key*> out;
    if (auto id = find_node(path))
        for (const auto& [name, child] : m_nodes[*id].children)
            out.push_back(&m_nodes[child].key);
    return out;
}

std::vector<const Key*> Tree::subtree(std::string_view path) const {
    std::vector<const Key*> out;
    auto top = find_node(path);
    if (!top)
        return out;
    // Depth first, a parent before its subkeys, the subkeys in folded-name order.
    std::vector<NodeId> stack{*top};
    while (!stack.empty()) {
        const Node& node = m_nodes[stack.back()];
        stack.pop_back();
        out.push_back(&node.key);
        for (auto it = node.children.rbegin(); it != node.children.rend(); ++it)
            stack.push_back(it->second);
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

// An error naming the file, what could not be done and the system's reason.
platform::Error file_error(const std::string& path, const char* what, int err, LONG fallback) {
    return platform::fail(path + ": " + what + ": " + std::strerror(err),
                          error_of_errno(err, fallback));
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

// Reads the whole file; none when it does not exist.
platform::Result<std::optional<std::string>> read_store(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.ok()) {
        if (errno == ENOENT)
            return std::optional<std::string>();
        return file_error(path, "cannot be read", errno, ERROR_CANTREAD);
    }
    std::string text;
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && st.st_size > 0)
        text.reserve(size_t(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return file_error(path, "cannot be read", errno, ERROR_CANTREAD);
        if (n == 0)
            break;
        text.append(buffer, size_t(n));
    }
    return std::optional<std::string>(std::move(text));
}

// One stderr line per damaged or unwritable file version (device, inode, size, time), so a
// program that reads twenty settings does not repeat it twenty times.
void report_once(const std::string& path, const std::string& message) {
    static std::mutex s_mutex;
    static std::set<std::tuple<dev_t, ino_t, off_t, long, long, std::string>> s_reported;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        std::lock_guard guard(s_mutex);
        auto id = std::make_tuple(st.st_dev, st.st_ino, st.st_size, long(st.st_mtim.tv_sec),
                                  long(st.st_mtim.tv_nsec), message);
        if (!s_reported.insert(id).second)
            return;
    }
    std::fprintf(stderr, "registry: %s\n", message.c_str());
}

// Parses the store's text into `tree`; a text that does not parse leaves the tree empty and
// is reported once.
platform::Status parse_store(const std::string& path, std::string_view text, Tree& tree) {
    if (auto failure = parse_regedit(text, tree)) {
        tree = Tree();
        auto error = platform::fail(path + " is damaged (line " + std::to_string(failure->line) +
                                        ": " + failure->message + ")",
                                    ERROR_REGISTRY_CORRUPT);
        report_once(path, error.message + "; it is left as it is and not used");
        return error;
    }
    return {};
}

} // namespace

platform::Status FileStore::load(Tree& tree) const {
    tree = Tree();
    auto version = read_store(m_path);
    if (!version)
        return version.error();
    if (!*version)
        return {};
    return parse_store(m_path, **version, tree);
}

platform::Result<std::shared_ptr<const Tree>> FileStore::snapshot() const {
    // The last text read of each store file, parsed. The text itself is the key: comparing it
    // costs far less than parsing it, and no file identity (inode, times) can go stale.
    struct Cached {
        std::string text;
        std::shared_ptr<const Tree> tree;
    };
    static std::mutex s_mutex;
    static std::map<std::string, Cached> s_cache;

    auto text = read_store(m_path);
    if (!text)
        return text.error();
    if (!*text)
        return std::make_shared<const Tree>();
    {
        std::lock_guard guard(s_mutex);
        auto it = s_cache.find(m_path);
        if (it != s_cache.end() && it->second.text == **text)
            return it->second.tree;
    }
    auto tree = std::make_shared<Tree>();
    if (auto parsed = parse_store(m_path, **text, *tree); !parsed)
        return parsed.error();
    std::lock_guard guard(s_mutex);
    s_cache[m_path] = {std::move(**text), tree};
    return std::shared_ptr<const Tree>(tree);
}

platform::Result<LONG> FileStore::update(const std::function<Change(Tree&)>& change) const {
    std::string lock_path = m_path + ".lock";
    ExclusiveLock lock(lock_path);
    if (!lock.locked())
        return file_error(lock_path, "cannot be locked", errno, ERROR_CANTWRITE);
    Tree tree;
    if (auto loaded = load(tree); !loaded)
        return loaded.error();
    Change result = change(tree);
    if (result.code != ERROR_SUCCESS || !result.modified)
        return result.code;
    if (auto written = write(tree); !written) {
        report_once(m_path, written.message() + "; the file is left as it was");
        return written.error();
    }
    return LONG(ERROR_SUCCESS);
}

platform::Status FileStore::write(const Tree& tree) const {
    std::string text = format_regedit(tree);
    std::string temp = m_path + ".new";
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.ok())
        return file_error(m_path, "cannot be written", errno, ERROR_CANTWRITE);
    if (!write_all(fd.get(), text) || ::fsync(fd.get()) != 0 || ::close(fd.release()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return file_error(m_path, "cannot be written", err, ERROR_CANTWRITE);
    }
    if (::rename(temp.c_str(), m_path.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return file_error(m_path, "cannot be replaced", err, ERROR_CANTWRITE);
    }
    // Make the rename itself durable.
    std::string dir = m_path.substr(0, m_path.find_last_of('/') + 1);
    Fd dir_fd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir_fd.ok())
        ::fsync(dir_fd.get());
    return {};
}

} // namespace win32::registry
