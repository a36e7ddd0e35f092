// The desktop bus: links the processes of one prefix, so that a broadcast reaches every
// top-level window on the desktop and a controller can drive and watch a program.
//
// Each process that joins binds one Unix datagram socket in <prefix>/desktop/, named after
// its pid ("<pid>.sock", or "<pid>.watch.sock" for an observer, which receives the events of
// every other process). A receiver thread reads the socket; everything that touches windows
// runs on the GUI thread through User::send_from_outside. Replies are sent by the GUI thread;
// the receiver thread never sends, so it never blocks and always drains its socket.
//
// A process waiting for answers (its own broadcast, a controller's request) keeps running the
// calls sent to it, so two processes that broadcast to each other at once both go on. A peer
// whose socket refuses datagrams has died: it is dropped and its endpoint removed. A peer
// that does not answer within the bound is skipped.
#include "bus.h"

#include "bus_board.h"
#include "bus_packet.h"
#include "user.h"

#include "platform/events.h"
#include "platform/prefix.h"
#include "win32/desktop.h"
#include "win32/harness.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace win32::bus {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kProbeInterval = 20ms; // how often a waiting process checks that peers live

enum class SendResult { Ok, Dead, Busy };

struct Endpoint {
    int pid{0};
    bool observer{false};
    [[nodiscard]] std::string name() const {
        return std::to_string(pid) + (observer ? ".watch.sock" : ".sock");
    }
};

// Parses "<pid>.sock" and "<pid>.watch.sock".
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

// What a waiting call expects: the endpoints that have not answered yet, and for a request
// the reply.
struct Pending {
    std::set<std::string> waiting;
    bool replied{false};
    uint8_t status{0};
    std::string error;
    std::vector<uint8_t> payload;
};

// A broadcast from another process that the GUI thread is handling now.
struct Handling {
    Endpoint sender;
    uint32_t sequence;
};

std::string short_program_name() {
    char name[64] = {};
    FILE* f = fopen("/proc/self/comm", "r");
    if (f) {
        if (!fgets(name, sizeof name, f))
            name[0] = '\0';
        fclose(f);
    }
    std::string s(name);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s.empty() ? std::string("process") : s;
}

void write_event(PacketWriter& w, const desktop::ProcessEvent& pe) {
    const platform::Event& e = pe.event;
    w.u8(uint8_t(e.kind)).text(e.name).text(e.text).text(e.caption);
    w.u64(e.wparam).i64(e.lparam).i32(e.code);
    for (float g : e.gamma)
        w.f32(g);
    for (int32_t t : e.tv)
        w.i32(t);
    w.i32(pe.signal).text(pe.program);
}

std::optional<desktop::ProcessEvent> read_event(PacketReader& r, int pid) {
    desktop::ProcessEvent pe;
    pe.pid = pid;
    platform::Event& e = pe.event;
    uint8_t kind = r.u8();
    e.name = r.text();
    e.text = r.text();
    e.caption = r.text();
    e.wparam = r.u64();
    e.lparam = r.i64();
    e.code = r.i32();
    for (float& g : e.gamma)
        g = r.f32();
    for (int32_t& t : e.tv)
        t = r.i32();
    pe.signal = r.i32();
    pe.program = r.text();
    if (!r.at_end() || kind > uint8_t(platform::EventKind::Registry))
        return std::nullopt;
    e.kind = platform::EventKind(kind);
    return pe;
}

RECT offset_rect(RECT r, int dx, int dy) {
    return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

class Bus {
public:
    static Bus& the();

    bool join(bool observer);
    // A child forked from a joined process (a death test, say) shares the parent's endpoint
    // without its receiver thread: it is not on the desktop until it joins itself.
    [[nodiscard]] bool joined() const { return m_socket >= 0 && getpid() == m_self.pid; }
    [[nodiscard]] bool joined_as_observer() const { return m_self.observer; }
    [[nodiscard]] int timeout_ms() const { return m_timeout_ms; }

    void broadcast(UINT message, WPARAM wParam, LPARAM lParam);
    std::optional<Pending> request(int pid, RequestKind kind,
                                   const std::function<void(PacketWriter&)>& fill,
                                   std::string* error);
    std::vector<Endpoint> peers();
    void set_event_handler(std::function<void(const desktop::ProcessEvent&)> handler);
    void wait(int ms);
    void wake() { note_activity(); }
    int start_program(const std::string& path, const std::string& command_line,
                      const std::vector<std::string>& extra_env, std::string* error);
    void replay_window_created(HWND hwnd);
    desktop::Stats stats() const;

private:
    Bus() = default;

    std::string address_of(const std::string& name, sockaddr_un& addr) const;
    SendResult send(const Endpoint& to, const std::vector<uint8_t>& bytes, Clock::time_point until);
    void drop_peer(const Endpoint& e);
    uint32_t add_pending(const std::vector<Endpoint>& waiting);
    bool wait_pending(uint32_t sequence, Clock::time_point until);
    void note_activity();
    bool on_gui_thread() const { return std::this_thread::get_id() == m_gui_thread; }

    void receive_loop();
    void on_datagram(std::span<const uint8_t> datagram);
    void on_broadcast(const Endpoint& from, uint32_t sequence, PacketReader r);
    void on_request(const Endpoint& from, uint32_t sequence, PacketReader r);
    void on_done(const Endpoint& from, uint32_t sequence, PacketReader r);
    void on_event_packet(int pid, PacketReader r);
    void on_reaped(PacketReader r);
    void deliver_event(const desktop::ProcessEvent& event);

    void handle_broadcast(const Endpoint& from, uint32_t sequence, bool registered, UINT number,
                          const std::string& name, uint64_t wparam, int64_t lparam);
    void handle_request(const Endpoint& from, uint32_t sequence, RequestKind kind,
                        std::vector<uint8_t> body);
    void reply(const Endpoint& to, uint32_t sequence, bool ok, const std::string& error,
               const std::function<void(PacketWriter&)>& fill = {});
    void forward_event(const platform::Event& event);
    void reap(int pid);
    void leave();
    void forget_parent();

    Endpoint m_self;
    std::string m_dir;
    int m_dir_fd{-1};
    int m_socket{-1};
    int m_wake_fd{-1};
    std::string m_program;
    int m_timeout_ms{2000};
    std::thread::id m_gui_thread;
    std::thread* m_receiver{nullptr}; // never destroyed: a forked child only forgets it
    std::vector<uint8_t> m_buffer;    // the receiver's datagram buffer
    std::atomic<bool> m_closing{false};
    std::atomic<bool> m_left{false};

    mutable std::mutex m_mutex; // guards everything below
    std::condition_variable m_cv;
    uint64_t m_activity{0};
    uint32_t m_next_sequence{1};
    std::map<uint32_t, Pending> m_pending;
    std::set<std::string> m_hung; // peers that let a broadcast's bound run out
    std::mutex m_handler_mutex;   // held while the event handler runs
    std::function<void(const desktop::ProcessEvent&)> m_event_handler;
    struct timespec m_peers_stamp {};
    std::vector<Endpoint> m_peers_cache;

    std::vector<Handling> m_handling; // GUI thread only

    std::atomic<uint64_t> m_malformed{0};
    std::atomic<uint64_t> m_broadcasts_in{0};
    std::atomic<uint64_t> m_broadcasts_out{0};
    std::atomic<uint64_t> m_skipped{0};
    std::atomic<uint64_t> m_dropped{0};
};

Bus& Bus::the() {
    // Never destroyed: the receiver thread may still run while the process exits.
    static Bus* s_bus = new Bus;
    return *s_bus;
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

bool Bus::join(bool observer) {
    if (m_socket >= 0 && !joined())
        forget_parent();
    if (joined()) {
        if (observer && !m_self.observer) {
            fprintf(stderr, "desktop bus: already joined as a plain process\n");
            return false;
        }
        return true;
    }
    m_timeout_ms = int(platform::env_number("WINTEST_BUS_TIMEOUT_MS", 2000));
    m_dir = platform::prefix_dir() + "/desktop";
    mkdir(m_dir.c_str(), 0700);
    m_dir_fd = open(m_dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_dir_fd < 0) {
        fprintf(stderr, "desktop bus: cannot open %s: %s\n", m_dir.c_str(), strerror(errno));
        return false;
    }
    m_self = {int(getpid()), observer};
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr;
    std::string path = address_of(m_self.name(), addr);
    unlinkat(m_dir_fd, m_self.name().c_str(), 0); // left by a dead process with our pid
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        fprintf(stderr, "desktop bus: cannot bind %s: %s\n", path.c_str(), strerror(errno));
        if (fd >= 0)
            close(fd);
        return false;
    }
    int buffer = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    m_wake_fd = eventfd(0, EFD_CLOEXEC);
    if (m_wake_fd < 0) { // without it the receiver could not be stopped at exit
        fprintf(stderr, "desktop bus: no event descriptor: %s\n", strerror(errno));
        close(fd);
        unlinkat(m_dir_fd, m_self.name().c_str(), 0);
        return false;
    }
    m_program = short_program_name();
    m_gui_thread = std::this_thread::get_id();
    m_socket = fd;
    static int s_sink = platform::add_event_sink([this](const platform::Event& e) {
        if (joined())
            forward_event(e);
    });
    (void)s_sink;
    m_buffer.assign(kMaxPacket + 1, 0);
    m_receiver = new std::thread([this] { receive_loop(); });
    static bool s_registered = (atexit([] { Bus::the().leave(); }), true);
    (void)s_registered;
    return true;
}

// Runs at exit: broadcasts being handled count as answered (this process has done with them
// all it ever will), then the endpoint goes away.
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
    close(m_socket);
    unlinkat(m_dir_fd, m_self.name().c_str(), 0);
}

// In a child forked from a joined process: drops the parent's endpoint (without touching it)
// so that the child can join as itself.
void Bus::forget_parent() {
    close(m_socket);
    close(m_wake_fd);
    m_socket = m_wake_fd = -1;
    m_receiver = nullptr; // the parent's thread does not exist here
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

uint32_t Bus::add_pending(const std::vector<Endpoint>& waiting) {
    std::lock_guard lock(m_mutex);
    uint32_t seq = m_next_sequence++;
    if (m_next_sequence == 0)
        m_next_sequence = 1;
    Pending& p = m_pending[seq];
    for (auto& e : waiting)
        p.waiting.insert(e.name());
    return seq;
}

void Bus::note_activity() {
    {
        std::lock_guard lock(m_mutex);
        ++m_activity;
    }
    m_cv.notify_all();
}

// Waits until every peer of the call has answered, serving the calls sent to this process
// meanwhile. Peers found dead stop being waited for; false when the bound ran out first.
bool Bus::wait_pending(uint32_t sequence, Clock::time_point until) {
    auto next_probe = Clock::now() + kProbeInterval;
    for (;;) {
        if (on_gui_thread())
            User::the().run_incoming_sends();
        std::unique_lock lock(m_mutex);
        Pending& p = m_pending[sequence];
        if (p.waiting.empty())
            return true;
        auto now = Clock::now();
        if (now >= until) {
            for (auto& name : p.waiting)
                fprintf(stderr, "desktop bus: %s did not answer within %d ms; skipped\n",
                        name.c_str(), m_timeout_ms);
            m_skipped += p.waiting.size();
            m_hung.insert(p.waiting.begin(), p.waiting.end());
            p.waiting.clear();
            return false;
        }
        if (now >= next_probe) {
            std::vector<std::string> names(p.waiting.begin(), p.waiting.end());
            lock.unlock();
            static const std::vector<uint8_t> ping =
                PacketWriter(PacketKind::Ping, 0, m_self.pid, 0).bytes();
            for (auto& name : names)
                if (auto e = endpoint_from_name(name))
                    send(*e, ping, now); // a refused ping drops the peer
            next_probe = Clock::now() + kProbeInterval;
            continue;
        }
        uint64_t seen = m_activity;
        m_cv.wait_until(lock, std::min(until, next_probe),
                        [&] { return m_activity != seen || m_closing; });
    }
}

// A peer that let an earlier broadcast's bound run out still receives the message, but is not
// waited for until it answers something again; so one hung process costs the desktop one
// bound, not one per broadcast.
void Bus::broadcast(UINT message, WPARAM wParam, LPARAM lParam) {
    auto targets = peers();
    if (targets.empty())
        return;
    std::string name = User::the().message_name(message);
    std::vector<Endpoint> awaited;
    {
        std::lock_guard lock(m_mutex);
        for (auto& t : targets)
            if (!m_hung.count(t.name()))
                awaited.push_back(t);
    }
    uint32_t seq = add_pending(awaited);
    PacketWriter packet(PacketKind::Broadcast, seq, m_self.pid,
                        m_self.observer ? kFlagObserver : 0);
    packet.u8(name.empty() ? 0 : 1).u32(message).text(name).u64(uint64_t(wParam)).i64(lParam);
    auto until = Clock::now() + std::chrono::milliseconds(m_timeout_ms);
    ++m_broadcasts_out;
    for (auto& peer : targets) {
        if (send(peer, packet.bytes(), until) == SendResult::Busy) {
            ++m_skipped;
            std::lock_guard lock(m_mutex);
            m_pending[seq].waiting.erase(peer.name());
        }
    }
    wait_pending(seq, until);
    std::lock_guard lock(m_mutex);
    m_pending.erase(seq);
}

std::optional<Pending> Bus::request(int pid, RequestKind kind,
                                    const std::function<void(PacketWriter&)>& fill,
                                    std::string* error) {
    auto fail = [error](const std::string& why) -> std::optional<Pending> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (!joined())
        return fail("not on the desktop");
    std::optional<Endpoint> target;
    for (auto& e : peers())
        if (e.pid == pid)
            target = e;
    if (!target)
        return fail("no process " + std::to_string(pid) + " on the desktop");
    uint32_t seq = add_pending({*target});
    PacketWriter packet(PacketKind::Request, seq, m_self.pid, m_self.observer ? kFlagObserver : 0);
    packet.u16(uint16_t(kind));
    if (fill)
        fill(packet);
    auto until = Clock::now() + std::chrono::milliseconds(m_timeout_ms);
    SendResult sent = send(*target, packet.bytes(), until);
    bool in_time = sent == SendResult::Ok && wait_pending(seq, until);
    std::lock_guard lock(m_mutex);
    Pending p = std::move(m_pending[seq]);
    m_pending.erase(seq);
    if (!p.replied)
        return fail("process " + std::to_string(pid) +
                    (in_time || sent == SendResult::Dead ? " has ended" : " did not answer"));
    if (p.status != 0)
        return fail(p.error);
    return p;
}

// Waits for a handler call in progress, so that the old handler is never called afterwards.
void Bus::set_event_handler(std::function<void(const desktop::ProcessEvent&)> handler) {
    std::lock_guard lock(m_handler_mutex);
    m_event_handler = std::move(handler);
}

void Bus::wait(int ms) {
    std::unique_lock lock(m_mutex);
    uint64_t seen = m_activity;
    m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_activity != seen; });
}

desktop::Stats Bus::stats() const {
    return {m_malformed, m_broadcasts_in, m_broadcasts_out, m_skipped, m_dropped};
}

// ---- receiving ---------------------------------------------------------------------------

void Bus::receive_loop() {
    std::vector<uint8_t>& buffer = m_buffer;
    pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_wake_fd, POLLIN, 0}};
    while (!m_closing) {
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        if (m_closing || (fds[1].revents & POLLIN))
            break;
        for (;;) {
            ssize_t n = recv(m_socket, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
            if (n < 0)
                break;
            if (size_t(n) > kMaxPacket) {
                ++m_malformed;
                continue;
            }
            on_datagram({buffer.data(), size_t(n)});
        }
    }
}

void Bus::on_datagram(std::span<const uint8_t> datagram) {
    auto packet = parse_packet(datagram);
    if (!packet) {
        ++m_malformed;
        return;
    }
    Endpoint from{packet->header.pid, (packet->header.flags & kFlagObserver) != 0};
    PacketReader r(packet->payload);
    switch (packet->kind()) {
    case PacketKind::Broadcast:
        return on_broadcast(from, packet->header.sequence, r);
    case PacketKind::Request:
        return on_request(from, packet->header.sequence, r);
    case PacketKind::Done:
        return on_done(from, packet->header.sequence, r);
    case PacketKind::Event:
        return on_event_packet(from.pid, r);
    case PacketKind::Reaped:
        if (from.pid == m_self.pid)
            return on_reaped(r);
        ++m_malformed;
        return;
    case PacketKind::Ping:
        return;
    }
}

void Bus::on_broadcast(const Endpoint& from, uint32_t sequence, PacketReader r) {
    bool registered = r.u8() != 0;
    UINT number = r.u32();
    std::string name = r.text();
    uint64_t wparam = r.u64();
    int64_t lparam = r.i64();
    if (!r.at_end() || (registered && name.empty())) {
        ++m_malformed;
        return;
    }
    ++m_broadcasts_in;
    User::the().send_from_outside(
        [=, this] { handle_broadcast(from, sequence, registered, number, name, wparam, lparam); });
    note_activity();
}

void Bus::on_request(const Endpoint& from, uint32_t sequence, PacketReader r) {
    uint16_t kind = r.u16();
    if (!r.ok() || kind < uint16_t(RequestKind::ListWindows) ||
        kind > uint16_t(RequestKind::Stats)) {
        ++m_malformed;
        return;
    }
    std::vector<uint8_t> body(r.rest().begin(), r.rest().end());
    User::the().send_from_outside([=, this, body = std::move(body)]() mutable {
        handle_request(from, sequence, RequestKind(kind), std::move(body));
    });
    note_activity();
}

void Bus::on_done(const Endpoint& from, uint32_t sequence, PacketReader r) {
    uint8_t status = r.u8();
    std::string error = r.text();
    if (!r.ok()) {
        ++m_malformed;
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_hung.erase(from.name()); // it answers again
        auto it = m_pending.find(sequence);
        if (it == m_pending.end() || !it->second.waiting.erase(from.name()))
            return; // an answer that came after the bound: nobody waits for it any more
        it->second.replied = true;
        it->second.status = status;
        it->second.error = error;
        it->second.payload.assign(r.rest().begin(), r.rest().end());
        ++m_activity;
    }
    m_cv.notify_all();
}

void Bus::on_event_packet(int pid, PacketReader r) {
    auto event = read_event(r, pid);
    if (!event) {
        ++m_malformed;
        return;
    }
    deliver_event(*event);
}

void Bus::on_reaped(PacketReader r) {
    desktop::ProcessEvent pe;
    pe.pid = r.i32();
    int status = r.i32();
    pe.program = r.text();
    if (!r.at_end()) {
        ++m_malformed;
        return;
    }
    pe.event.kind = platform::EventKind::Exit;
    if (WIFSIGNALED(status)) {
        pe.signal = WTERMSIG(status);
        pe.event.code = 128 + pe.signal;
    } else {
        pe.event.code = WEXITSTATUS(status);
    }
    deliver_event(pe);
}

void Bus::deliver_event(const desktop::ProcessEvent& event) {
    {
        std::lock_guard lock(m_handler_mutex);
        if (m_event_handler)
            m_event_handler(event);
    }
    note_activity();
}

// ---- serving other processes (GUI thread) ------------------------------------------------

void Bus::handle_broadcast(const Endpoint& from, uint32_t sequence, bool registered, UINT number,
                           const std::string& name, uint64_t wparam, int64_t lparam) {
    // A registered message crosses by its name: here it has this process's number.
    UINT message = registered ? User::the().register_message(name.c_str()) : number;
    m_handling.push_back({from, sequence});
    if (message != 0)
        for (HWND h : User::the().top_level_windows())
            call_window(h, message, WPARAM(wparam), LPARAM(lparam));
    m_handling.pop_back();
    reply(from, sequence, true, "");
}

void Bus::reply(const Endpoint& to, uint32_t sequence, bool ok, const std::string& error,
                const std::function<void(PacketWriter&)>& fill) {
    PacketWriter w(PacketKind::Done, sequence, m_self.pid, m_self.observer ? kFlagObserver : 0);
    w.u8(ok ? 0 : 1).text(error);
    if (fill)
        fill(w);
    send(to, w.bytes(), Clock::now() + std::chrono::milliseconds(m_timeout_ms));
}

void Bus::handle_request(const Endpoint& from, uint32_t sequence, RequestKind kind,
                         std::vector<uint8_t> body) {
    PacketReader r(body);
    auto bad = [&] {
        ++m_malformed;
        reply(from, sequence, false, "malformed request");
    };
    switch (kind) {
    case RequestKind::ListWindows: {
        if (!r.at_end())
            return bad();
        auto all = User::the().top_level_windows();
        reply(from, sequence, true, "", [&](PacketWriter& w) {
            w.u32(uint32_t(all.size()));
            for (HWND h : all) {
                Window* win = User::the().window(h);
                RECT c = client_rect_in_window(*win);
                RECT client = offset_rect(c, win->rect.left, win->rect.top);
                w.u64(uint64_t(reinterpret_cast<uintptr_t>(h))).text(win->cls->name);
                w.text(win->title).u8((win->style & WS_VISIBLE) ? 1 : 0);
                for (const RECT& rc : {win->rect, client})
                    w.i32(rc.left).i32(rc.top).i32(rc.right).i32(rc.bottom);
            }
        });
        return;
    }
    case RequestKind::InjectKey: {
        HWND hwnd = reinterpret_cast<HWND>(uintptr_t(r.u64()));
        UINT vk = r.u32();
        bool down = r.u8() != 0;
        if (!r.at_end())
            return bad();
        bool ok = harness::inject_key(vk, down, hwnd);
        reply(from, sequence, ok, ok ? "" : "no such window");
        return;
    }
    case RequestKind::WindowCommand: {
        HWND hwnd = reinterpret_cast<HWND>(uintptr_t(r.u64()));
        auto command = desktop::WindowCommand(r.u8());
        int x = r.i32(), y = r.i32();
        if (!r.at_end())
            return bad();
        if (!User::the().window(hwnd))
            return reply(from, sequence, false, "no such window");
        const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
        switch (command) {
        case desktop::WindowCommand::Close:
            PostMessageA(hwnd, WM_CLOSE, 0, 0);
            break;
        case desktop::WindowCommand::Move:
            SetWindowPos(hwnd, nullptr, x, y, 0, 0, flags | SWP_NOSIZE);
            break;
        case desktop::WindowCommand::Resize:
            SetWindowPos(hwnd, nullptr, 0, 0, x, y, flags | SWP_NOMOVE);
            break;
        case desktop::WindowCommand::DisplayChange:
            // The system tells every top-level window of the new mode.
            for (HWND h : User::the().top_level_windows())
                SendMessageA(h, WM_DISPLAYCHANGE, 32, MAKELPARAM(x, y));
            break;
        default:
            return bad();
        }
        reply(from, sequence, true, "");
        return;
    }
    case RequestKind::Picture: {
        auto which = desktop::Picture(r.u8());
        HWND hwnd = reinterpret_cast<HWND>(uintptr_t(r.u64()));
        std::string path = r.text();
        if (!r.at_end() || path.empty())
            return bad();
        platform::Image image;
        if (which == desktop::Picture::Window)
            image = harness::window_image(hwnd);
        else if (which == desktop::Picture::Screen || which == desktop::Picture::Tv)
            image = board_picture(which == desktop::Picture::Tv);
        else
            return bad();
        if (image.empty())
            return reply(from, sequence, false,
                         which == desktop::Picture::Window ? "no such window or an empty one"
                                                           : "the board shows no picture");
        if (!platform::write_png(path, image))
            return reply(from, sequence, false, "cannot write " + path);
        reply(from, sequence, true, "",
              [&](PacketWriter& w) { w.i32(image.width).i32(image.height); });
        return;
    }
    case RequestKind::FrameCount: {
        if (!r.at_end())
            return bad();
        auto frames = board_frame_count();
        if (!frames)
            return reply(from, sequence, false, "no board in this process");
        reply(from, sequence, true, "", [&](PacketWriter& w) { w.u64(*frames); });
        return;
    }
    case RequestKind::Stats: {
        if (!r.at_end())
            return bad();
        auto s = stats();
        reply(from, sequence, true, "", [&](PacketWriter& w) {
            w.u64(s.malformed).u64(s.broadcasts_in).u64(s.broadcasts_out);
            w.u64(s.peers_skipped).u64(s.peers_dropped);
        });
        return;
    }
    }
}

// ---- events and started programs ---------------------------------------------------------

void Bus::forward_event(const platform::Event& event) {
    if (m_closing)
        return;
    desktop::ProcessEvent pe{m_self.pid, m_program, event, 0};
    std::vector<Endpoint> observers;
    for (auto& e : peers())
        if (e.observer)
            observers.push_back(e);
    if (!observers.empty()) {
        PacketWriter w(PacketKind::Event, 0, m_self.pid, m_self.observer ? kFlagObserver : 0);
        write_event(w, pe);
        auto until = Clock::now() + std::chrono::milliseconds(std::min(m_timeout_ms, 500));
        for (auto& o : observers)
            send(o, w.bytes(), until);
    }
    deliver_event(pe);
}

void Bus::replay_window_created(HWND hwnd) {
    Window* w = User::the().window(hwnd);
    if (!w)
        return;
    platform::Event e;
    e.kind = platform::EventKind::WindowCreated;
    e.name = w->cls->name;
    e.text = w->title;
    forward_event(e);
}

int Bus::start_program(const std::string& path, const std::string& command_line,
                       const std::vector<std::string>& extra_env, std::string* error) {
    if (!joined()) {
        if (error)
            *error = "not on the desktop";
        return 0;
    }
    std::vector<std::string> env_strings = extra_env;
    env_strings.push_back("WINTEST_COMMAND_LINE=" + command_line);
    auto overridden = [&](const char* entry) {
        std::string_view s(entry);
        for (auto& e : env_strings)
            if (s.substr(0, s.find('=') + 1) == std::string_view(e).substr(0, e.find('=') + 1))
                return true;
        return false;
    };
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e)
        if (!overridden(*e))
            envp.push_back(*e);
    for (auto& e : env_strings)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = path;
    char* argv[] = {program.data(), nullptr};
    pid_t pid = 0;
    int rc = posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, envp.data());
    if (rc != 0) {
        if (error)
            *error = "cannot start " + path + ": " + strerror(rc);
        return 0;
    }
    std::thread([this, pid] { reap(pid); }).detach();
    return pid;
}

// Waits for a started program to end, then tells this process's own receiver, so that the
// Exit event comes after every event the program sent before it ended.
void Bus::reap(int pid) {
    siginfo_t info{};
    while (waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    std::string program; // the name is readable until the process is reaped
    if (FILE* f = fopen(("/proc/" + std::to_string(pid) + "/comm").c_str(), "r")) {
        char name[64] = {};
        if (fgets(name, sizeof name, f))
            program = name;
        fclose(f);
        while (!program.empty() && program.back() == '\n')
            program.pop_back();
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    PacketWriter w(PacketKind::Reaped, 0, m_self.pid, m_self.observer ? kFlagObserver : 0);
    w.i32(pid).i32(status).text(program);
    send(m_self, w.bytes(), Clock::now() + 10s);
}

} // namespace

// ---- the seam of the window manager ------------------------------------------------------

void broadcast_to_peers(UINT message, WPARAM wParam, LPARAM lParam) {
    if (Bus::the().joined())
        Bus::the().broadcast(message, wParam, lParam);
}

void window_created(HWND hwnd) {
    if (Bus::the().joined() || !platform::env_flag("WINTEST_BUS", true))
        return;
    if (Bus::the().join(false))
        Bus::the().replay_window_created(hwnd); // its event came before the bus listened
}

} // namespace win32::bus

// ---- the controller's side ---------------------------------------------------------------

namespace win32::desktop {

using bus::Bus;
using bus::PacketReader;
using bus::PacketWriter;
using bus::RequestKind;

bool join(bool observer) {
    return Bus::the().join(observer);
}

bool joined() {
    return Bus::the().joined();
}

int timeout_ms() {
    return Bus::the().timeout_ms();
}

void on_event(std::function<void(const ProcessEvent&)> handler) {
    Bus::the().set_event_handler(std::move(handler));
}

void wait(int ms) {
    Bus::the().wait(ms);
}

void wake() {
    Bus::the().wake();
}

std::vector<Process> processes() {
    std::vector<Process> out;
    if (Bus::the().joined())
        for (auto& e : Bus::the().peers())
            out.push_back({e.pid, e.observer});
    return out;
}

std::vector<WindowInfo> windows(int pid, std::string* error) {
    std::vector<WindowInfo> out;
    std::vector<int> pids;
    if (pid != 0)
        pids.push_back(pid);
    else
        for (auto& p : processes())
            pids.push_back(p.pid);
    for (int p : pids) {
        auto reply = Bus::the().request(p, RequestKind::ListWindows, {}, error);
        if (!reply)
            continue;
        PacketReader r(reply->payload);
        uint32_t count = r.u32();
        for (uint32_t i = 0; i < count && r.ok(); ++i) {
            WindowInfo w;
            w.pid = p;
            w.hwnd = r.u64();
            w.class_name = r.text();
            w.title = r.text();
            w.visible = r.u8() != 0;
            for (RECT* rc : {&w.window, &w.client}) {
                rc->left = r.i32();
                rc->top = r.i32();
                rc->right = r.i32();
                rc->bottom = r.i32();
            }
            if (r.ok())
                out.push_back(std::move(w));
        }
    }
    return out;
}

bool inject_key(const WindowInfo& window, UINT vk, bool down, std::string* error) {
    return Bus::the()
        .request(
            window.pid, RequestKind::InjectKey,
            [&](PacketWriter& w) { w.u64(window.hwnd).u32(vk).u8(down ? 1 : 0); }, error)
        .has_value();
}

bool window_command(const WindowInfo& window, WindowCommand command, int x, int y,
                    std::string* error) {
    return Bus::the()
        .request(
            window.pid, RequestKind::WindowCommand,
            [&](PacketWriter& w) { w.u64(window.hwnd).u8(uint8_t(command)).i32(x).i32(y); }, error)
        .has_value();
}

bool picture(int pid, Picture which, WindowId window, const std::string& png_path,
             std::string* error) {
    return Bus::the()
        .request(
            pid, RequestKind::Picture,
            [&](PacketWriter& w) { w.u8(uint8_t(which)).u64(window).text(png_path); }, error)
        .has_value();
}

std::optional<uint64_t> frame_count(int pid, std::string* error) {
    auto reply = Bus::the().request(pid, RequestKind::FrameCount, {}, error);
    if (!reply)
        return std::nullopt;
    PacketReader r(reply->payload);
    uint64_t frames = r.u64();
    return r.ok() ? std::optional(frames) : std::nullopt;
}

std::optional<Stats> stats(int pid, std::string* error) {
    auto reply = Bus::the().request(pid, RequestKind::Stats, {}, error);
    if (!reply)
        return std::nullopt;
    PacketReader r(reply->payload);
    Stats s{r.u64(), r.u64(), r.u64(), r.u64(), r.u64()};
    return r.ok() ? std::optional(s) : std::nullopt;
}

int start_program(const std::string& path, const std::string& command_line,
                  const std::vector<std::string>& extra_env, std::string* error) {
    return Bus::the().start_program(path, command_line, extra_env, error);
}

} // namespace win32::desktop
