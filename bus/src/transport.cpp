// ---- transport and peers -------------------------------------------------------------------
//
// One Unix datagram socket per process in <prefix>/desktop/. Peers are the endpoints in the
// folder; a peer whose socket refuses datagrams has died: it is dropped and its endpoint
// removed.
#include "bus.h"

#include "platform/prefix.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bus {

using namespace std::chrono_literals;

std::optional<Endpoint> endpoint_from_name(std::string_view name) {
    Endpoint e;
    size_t digits = 0;
    while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9')
        ++digits;
    if (digits == 0 || digits > 9)
        return std::nullopt;
    std::string_view rest = name.substr(digits);
    if (rest == ".watch.sock")
        e.observer = true;
    else if (rest != ".sock")
        return std::nullopt;
    e.pid = std::stoi(std::string(name.substr(0, digits)));
    if (e.pid <= 0)
        return std::nullopt;
    return e;
}

std::string program_name(const std::string& pid) {
    std::string name;
    int fd = open(("/proc/" + pid + "/comm").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char line[64];
        ssize_t n = read(fd, line, sizeof line);
        if (n > 0)
            name.assign(line, size_t(n));
        close(fd);
    }
    if (auto end = name.find_first_of("\r\n"); end != std::string::npos)
        name.resize(end);
    return name;
}

Bus& Bus::the() {
    // Never destroyed: the receiver thread may still run while the process exits.
    static Bus* s_bus = new Bus;
    return *s_bus;
}

bool Bus::joined() const {
    return m_socket >= 0 && getpid() == m_self.pid;
}

std::string Bus::address_of(const std::string& name, sockaddr_un& addr) const {
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::string path = m_dir + "/" + name;
    if (path.size() >= sizeof addr.sun_path) // too long for an address: go through the folder
        path = "/proc/self/fd/" + std::to_string(m_dir_fd) + "/" + name;
    memcpy(addr.sun_path, path.c_str(), std::min(path.size(), sizeof addr.sun_path - 1));
    return path;
}

platform::Status Bus::join(bool observer) {
    if (m_socket >= 0 && !joined())
        forget_parent();
    if (joined()) {
        if (observer && !m_self.observer)
            return platform::fail("already joined as a plain process");
        return {};
    }
    m_timeout_ms = int(platform::env_number("WINTEST_BUS_TIMEOUT_MS", 2000));
    m_dir = platform::prefix_dir() + "/desktop";
    mkdir(m_dir.c_str(), 0700);
    if (m_dir_fd >= 0)
        close(m_dir_fd);
    m_dir_fd = open(m_dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_dir_fd < 0)
        return platform::fail("cannot open " + m_dir + ": " + strerror(errno));
    m_self = {int(getpid()), observer};
    if (auto bound = bind_endpoint(); !bound)
        return bound;
    std::string program = program_name("self");
    m_program = program.empty() ? std::string("process") : program;
    m_gui_thread = std::this_thread::get_id();
    static int s_sink = platform::add_event_sink([this](const platform::Event& e) {
        if (joined())
            forward_event(e);
    });
    (void)s_sink;
    m_buffer.assign(kMaxPacket + 1, 0);
    m_receiver = new std::thread([this] { receive_loop(); });
    static bool s_registered = (atexit([] { Bus::the().leave(); }), true);
    (void)s_registered;
    return {};
}

// The socket of this process's endpoint, the descriptor that wakes its receiver, and what
// each of the two reading threads waits on.
platform::Status Bus::bind_endpoint() {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr;
    std::string path = address_of(m_self.name(), addr);
    unlinkat(m_dir_fd, m_self.name().c_str(), 0); // left by a dead process with our pid
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::string why = strerror(errno);
        if (fd >= 0)
            close(fd);
        return platform::fail("cannot bind " + path + ": " + why);
    }
    int buffer = 1 << 20, on = 1;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on); // who sent each datagram
    m_wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wake_fd < 0) { // without it the receiver could not be stopped at exit
        std::string why = strerror(errno);
        close(fd);
        unlinkat(m_dir_fd, m_self.name().c_str(), 0);
        return platform::fail("no event descriptor: " + why);
    }
    m_socket = fd;
    if (auto ready = make_wait_sets(); !ready) {
        close_wait_sets();
        close(m_socket);
        close(m_wake_fd);
        m_socket = m_wake_fd = -1;
        unlinkat(m_dir_fd, m_self.name().c_str(), 0);
        return ready;
    }
    return {};
}

// Runs at exit: broadcasts being handled count as answered (this process has done with them
// all it ever will), then the endpoint's name goes away.
void Bus::leave() {
    if (!joined() || m_left.exchange(true))
        return; // a forked child leaves the parent's endpoint alone
    for (auto& h : m_handling)
        reply(h.sender, h.sequence, true, "");
    m_closing = true;
    uint64_t one = 1;
    if (write(m_wake_fd, &one, sizeof one) < 0) {
    }
    if (m_receiver->joinable() && m_receiver->get_id() != std::this_thread::get_id())
        m_receiver->join();
    // The socket stays open until the process ends: a thread reaping a started program may
    // still send its report through it, and a descriptor closed under it could be reused by
    // another file before that send.
    unlinkat(m_dir_fd, m_self.name().c_str(), 0);
}

// In a child forked from a joined process: drops the parent's endpoint (without touching it)
// so that the child can join as itself.
void Bus::forget_parent() {
    close(m_socket);
    close(m_wake_fd);
    m_socket = m_wake_fd = -1;
    m_receiver = nullptr; // the parent's thread does not exist here
    close_wait_sets();
    m_closing = false;
    m_left = false;
    m_handling.clear();
    std::lock_guard lock(m_mutex);
    m_pending.clear();
    m_hung.clear();
    m_peers_stamp = {};
}

std::vector<Endpoint> Bus::peers() {
    struct stat st {};
    if (fstat(m_dir_fd, &st) != 0)
        return {};
    {
        std::lock_guard lock(m_mutex);
        if (st.st_mtim.tv_sec == m_peers_stamp.tv_sec &&
            st.st_mtim.tv_nsec == m_peers_stamp.tv_nsec)
            return m_peers_cache;
    }
    std::vector<Endpoint> found;
    int fd = openat(AT_FDCWD, m_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            close(fd);
        return {};
    }
    while (dirent* d = readdir(dir)) {
        auto e = endpoint_from_name(d->d_name);
        if (e && e->pid != m_self.pid)
            found.push_back(*e);
    }
    closedir(dir);
    std::sort(found.begin(), found.end(),
              [](const Endpoint& a, const Endpoint& b) { return a.pid < b.pid; });
    // Folder times move in coarse ticks: a listing made within a tick of the last change may
    // miss an endpoint made in the same tick, so it is not kept.
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    bool settled =
        now.tv_sec - st.st_mtim.tv_sec > 1 ||
        (now.tv_sec - st.st_mtim.tv_sec) * 1000000000L + (now.tv_nsec - st.st_mtim.tv_nsec) >
            50000000L;
    std::lock_guard lock(m_mutex);
    m_peers_stamp = settled ? st.st_mtim : timespec{};
    m_peers_cache = found;
    return found;
}

SendResult Bus::send(const Endpoint& to, const std::vector<uint8_t>& bytes,
                     Clock::time_point until) {
    if (m_socket < 0)
        return SendResult::Dead; // not on the desktop: a datagram fed in is not answered
    sockaddr_un addr;
    address_of(to.name(), addr);
    for (;;) {
        ssize_t n = sendto(m_socket, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                           reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        if (n >= 0)
            return SendResult::Ok;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS) {
            drop_peer(to);
            return SendResult::Dead;
        }
        if (Clock::now() >= until)
            return SendResult::Busy;
        // The peer's queue is full; its receiver drains it without waiting for anyone.
        std::this_thread::sleep_for(100us);
    }
}

// A socket that refuses datagrams belongs to a process that has ended: remove its endpoint.
void Bus::drop_peer(const Endpoint& e) {
    if (errno == ECONNREFUSED)
        unlinkat(m_dir_fd, e.name().c_str(), 0);
    ++m_dropped;
    std::lock_guard lock(m_mutex);
    for (auto& [seq, p] : m_pending)
        p.waiting.erase(e.name());
    m_peers_stamp = {}; // list the folder again next time
}

} // namespace bus
