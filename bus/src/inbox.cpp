// ---- reading the socket, and the GUI thread's sleep ------------------------------------------
//
// Two threads read this process's socket: the GUI thread while it sleeps with nothing to do
// (in GetMessage, or waiting for the answers to its own broadcast), and the receiver thread
// at any other time. A datagram wakes the GUI thread first when it sleeps on the socket, so
// the thread that acts on a broadcast or an answer reads it itself, without a hop through
// the receiver thread; both hold the socket with EPOLLEXCLUSIVE, the GUI thread's first, so
// one datagram wakes one of them.
//
// Order is kept: a thread reads under m_read_mutex and files what it read (into the GUI
// thread's queue, into the pending answers) before it lets go. Events and exit reports run
// the event handler, which runs on the receiver thread only; the GUI thread hands such a
// datagram to it, and from then until the receiver thread has caught up (m_receiver_owns)
// the receiver thread reads alone, so nothing overtakes what was handed over.
#include "bus.h"

#include "bus/bus.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bus {

namespace {

// The most datagrams one thread reads in a row before it acts on them: a process that floods
// the socket neither starves the GUI thread's queue nor fills the receiver's memory.
constexpr int kReadBatch = 64;

// How many times this process's line was forked (counted in each child), so that a wait can
// tell a descriptor made in a parent without asking the kernel for its pid each time.
constinit std::atomic<int> g_forks{0};

// Handled on the receiver thread only: their handler is the user's.
bool for_receiver(PacketKind kind) {
    return kind == PacketKind::Event || kind == PacketKind::Reaped;
}

void signal_fd(int fd) {
    uint64_t one = 1;
    if (fd >= 0 && write(fd, &one, sizeof one) < 0) {
        // a full counter already wakes the reader
    }
}

void drain_fd(int fd) {
    uint64_t count;
    if (read(fd, &count, sizeof count) < 0) {
        // nothing was signalled
    }
}

// Milliseconds from now until `until`, rounded up so that a wait never ends early.
int ms_until(Clock::time_point until) {
    auto left = until - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    return int(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// Adds `fd` to the epoll set, exclusively for a socket two threads wait on.
bool watch(int poll_fd, int fd, bool exclusive) {
    epoll_event ev{};
    ev.events = EPOLLIN | (exclusive ? uint32_t(EPOLLEXCLUSIVE) : 0u);
    ev.data.fd = fd;
    return epoll_ctl(poll_fd, EPOLL_CTL_ADD, fd, &ev) == 0;
}

} // namespace

// The GUI thread's wake descriptor, made again in a forked child (the parent's is shared).
int Bus::gui_wake_fd() {
    int forks = g_forks.load(std::memory_order_acquire);
    if (m_gui_wake_forks == forks)
        return m_gui_wake_fd;
    std::lock_guard lock(m_gui_wake_mutex);
    if (m_gui_wake_forks != forks) {
        if (m_gui_wake_forks >= 0) { // the parent's: a child only closes its copies
            close(m_gui_wake_fd.exchange(-1));
            if (m_gui_poll >= 0)
                close(m_gui_poll);
            m_gui_poll = -1;
        }
        static const bool s_counted = (pthread_atfork(nullptr, nullptr, [] { ++g_forks; }), true);
        (void)s_counted;
        m_gui_wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_gui_wake_forks = forks;
    }
    return m_gui_wake_fd;
}

// Both threads' wait sets, the GUI thread's first so that it is the one a datagram wakes
// while it sleeps.
platform::Status Bus::make_wait_sets() {
    int wake = gui_wake_fd();
    m_gui_poll = epoll_create1(EPOLL_CLOEXEC);
    m_receiver_poll = epoll_create1(EPOLL_CLOEXEC);
    if (wake < 0 || m_gui_poll < 0 || m_receiver_poll < 0 || !watch(m_gui_poll, wake, false) ||
        !watch(m_gui_poll, m_socket, true) || !watch(m_receiver_poll, m_socket, true) ||
        !watch(m_receiver_poll, m_wake_fd, false))
        return platform::fail(std::string("cannot wait on the endpoint: ") + strerror(errno));
    return {};
}

// Only where no receiver thread runs: before it started, or in a forked child, where a
// parent's thread may have held the lock at the fork (so it is made afresh).
void Bus::close_wait_sets() {
    for (int* fd : {&m_gui_poll, &m_receiver_poll}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    new (&m_read_mutex) std::mutex;
    m_backlog.clear();
    m_receiver_owns = false;
}

// Reads one datagram into m_buffer with the credentials the kernel attaches: who sent it is
// known for sure, whatever the packet says. Caller holds m_read_mutex.
Bus::Read Bus::read_one(size_t& size, Requester& sender) {
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    iovec io{m_buffer.data(), m_buffer.size()};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = recvmsg(m_socket, &msg, MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0)
        return Read::None;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    if (size_t(n) > kMaxPacket || !c || c->cmsg_level != SOL_SOCKET ||
        c->cmsg_type != SCM_CREDENTIALS || c->cmsg_len != CMSG_LEN(sizeof(ucred))) {
        ++m_malformed;
        return Read::Dropped;
    }
    ucred cred;
    memcpy(&cred, CMSG_DATA(c), sizeof cred);
    size = size_t(n);
    sender = {cred.uid, cred.gid};
    return Read::Ok;
}

void Bus::receive_loop() {
    epoll_event events[2];
    while (!m_closing) {
        if (epoll_wait(m_receiver_poll, events, 2, -1) < 0 && errno != EINTR)
            break;
        if (m_closing)
            break;
        drain_fd(m_wake_fd);
        receive_pending();
    }
}

// Receiver thread: what the GUI thread handed over, then everything in the socket, in the
// order it arrived; handled outside the lock, so the GUI thread never waits for a handler.
void Bus::receive_pending() {
    std::vector<Datagram> work;
    for (;;) {
        {
            std::lock_guard lock(m_read_mutex);
            work.swap(m_backlog);
            size_t n = 0;
            Requester who;
            Read r = Read::Ok;
            for (int i = 0; i < kReadBatch && (r = read_one(n, who)) != Read::None; ++i)
                if (r == Read::Ok)
                    work.push_back({{m_buffer.begin(), m_buffer.begin() + ptrdiff_t(n)}, who});
            m_receiver_owns = !work.empty();
            if (work.empty())
                return;
        }
        for (auto& d : work)
            on_datagram(d.bytes, d.sender);
        work.clear();
    }
}

// GUI thread: handles what waits in the socket, up to the first event, which goes to the
// receiver thread with everything after it.
void Bus::read_on_gui_thread() {
    std::lock_guard lock(m_read_mutex);
    if (m_receiver_owns)
        return; // the receiver thread reads until it has caught up, and queues this thread's work
    size_t n = 0;
    Requester who;
    Read r = Read::Ok;
    for (int i = 0; i < kReadBatch && (r = read_one(n, who)) != Read::None; ++i) {
        if (r != Read::Ok)
            continue;
        std::span<const uint8_t> datagram{m_buffer.data(), n};
        auto packet = parse_packet(datagram);
        if (!packet) {
            ++m_malformed;
            continue;
        }
        if (for_receiver(packet->kind())) {
            m_backlog.push_back({{datagram.begin(), datagram.end()}, who});
            m_receiver_owns = true;
            signal_fd(m_wake_fd);
            return;
        }
        on_packet(*packet, who);
    }
}

// The GUI thread sleeps on its wake descriptor and, when it is on the desktop, on the socket,
// which it then reads itself. Returns at once when `ready` holds.
void Bus::gui_wait(Clock::time_point until, const std::function<bool()>& ready,
                   Clock::duration spin) {
    int wake = gui_wake_fd();
    // Read-modify-writes on both sides: either this one comes after a waker's, and sees what
    // the waker made ready, or the waker's comes after it, and sees a sleeper to wake.
    m_gui_sleepers.fetch_add(1, std::memory_order_acq_rel);
    bool readable = false, woken = false;
    if (!ready()) {
        if (m_gui_poll >= 0 && on_gui_thread() && !m_receiver_owns) {
            epoll_event events[2];
            int n = 0;
            // Yielding between polls leaves the core to a peer that waits for it.
            for (auto end = std::min(until, Clock::now() + spin); n == 0 && Clock::now() < end;
                 sched_yield())
                n = epoll_wait(m_gui_poll, events, 2, 0);
            if (n == 0)
                n = epoll_wait(m_gui_poll, events, 2, ms_until(until));
            for (int i = 0; i < n; ++i) {
                readable |= events[i].data.fd == m_socket;
                woken |= events[i].data.fd == wake;
            }
        } else {
            pollfd p{wake, POLLIN, 0};
            woken = poll(&p, 1, ms_until(until)) > 0;
        }
    }
    m_gui_sleepers.fetch_sub(1);
    if (woken)
        drain_fd(wake);
    if (readable)
        read_on_gui_thread();
}

void Bus::wake_gui_thread() {
    if (m_gui_sleepers.fetch_add(0, std::memory_order_acq_rel) > 0) // see gui_wait
        signal_fd(m_gui_wake_fd);
}

void wait_on_gui_thread(std::chrono::milliseconds bound, const std::function<bool()>& ready) {
    Bus::the().gui_wait(Clock::now() + bound, ready);
}

void wake_gui_thread() {
    Bus::the().wake_gui_thread();
}

} // namespace bus
