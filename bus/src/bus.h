// The desktop bus of one process: its endpoint, its peers, the calls it waits for and the
// serving of other processes' calls. Split by thread and by concern:
//   transport.cpp  endpoints, joining and leaving, the peer list, sending
//   inbox.cpp      reading the socket (receiver thread, or the GUI thread while it sleeps)
//   calls.cpp      broadcasts and requests this process makes, and the waiting for answers
//   receive.cpp    decoding of each datagram (whichever thread read it)
//   serve.cpp      broadcasts and requests of other processes (GUI thread)
//   events.cpp     events to observers
//   process.cpp    programs a controller starts, and their reaping
//   desktop.cpp    the controller's API (win32/desktop.h) and the window manager's seam
//
// Each process that joins binds one Unix datagram socket in <prefix>/desktop/, named after
// its pid ("<pid>.sock", or "<pid>.watch.sock" for an observer, which receives the events of
// every other process). The GUI thread reads the socket while it sleeps on it, a receiver
// thread at other times; everything that touches windows runs on the GUI thread through the
// window system's run_on_gui_thread. Replies are sent by the GUI thread; the receiver thread
// never sends, so it never blocks and always drains the socket.
#pragma once

#include "crossing.h"
#include "packet.h"
#include "picture_file.h"

#include "bus/seams.h"
#include "platform/result.h"
#include "win32/desktop.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <sys/un.h>
#include <thread>
#include <vector>

namespace bus {

using Clock = std::chrono::steady_clock;

enum class SendResult { Ok, Dead, Busy };

struct Endpoint {
    int pid{0};
    bool observer{false};
    [[nodiscard]] std::string name() const {
        return std::to_string(pid) + (observer ? ".watch.sock" : ".sock");
    }
};

// Parses "<pid>.sock" and "<pid>.watch.sock".
std::optional<Endpoint> endpoint_from_name(std::string_view name);

// What a waiting call expects: the endpoints that have not answered yet, and for a request
// the reply.
struct Pending {
    std::set<std::string> waiting;
    bool replied{false};
    uint8_t status{0};
    std::string error;
    std::vector<uint8_t> payload;
};

// A broadcast from another process as it arrived.
struct Broadcast {
    bool registered{false};
    UINT number{0};
    std::string name;
    uint64_t wparam{0};
    int64_t lparam{0};
    Crossing crossing{Crossing::Number};
    std::optional<std::string> text; // the text of a text message; none for a null lParam
};

// A datagram read on the GUI thread for the receiver thread, with who sent it.
struct Datagram {
    std::vector<uint8_t> bytes;
    Requester sender;
};

// A broadcast from another process that the GUI thread is handling now.
struct Handling {
    Endpoint sender;
    uint32_t sequence;
};

// The first line of /proc/<pid>/comm ("self" for this process); "" when unreadable.
std::string program_name(const std::string& pid);

class Bus {
public:
    static Bus& the();

    platform::Status join(bool observer);
    // A child forked from a joined process (a death test, say) shares the parent's endpoint
    // without its receiver thread: it is not on the desktop until it joins itself.
    [[nodiscard]] bool joined() const;
    [[nodiscard]] int timeout_ms() const { return m_timeout_ms; }

    void broadcast(UINT message, WPARAM wParam, LPARAM lParam);
    platform::Result<Pending> request(int pid, RequestKind kind,
                                      const std::function<void(PacketWriter&)>& fill);
    std::vector<Endpoint> peers();
    void set_event_handler(std::function<void(const platform::Event&)> handler);
    void wait(int ms);
    void wake() { note_activity(); }
    platform::Result<int> start_program(const std::string& path, const std::string& command_line,
                                        const std::vector<std::string>& extra_env);
    void replay_window_created(const std::string& class_name, const std::string& title);
    [[nodiscard]] win32::desktop::Stats stats() const;

    // Decodes one datagram and acts on it: the receiver thread's whole handling of what
    // arrives (the GUI thread decodes and acts the same way: parse_packet, then on_packet),
    // usable on its own by whatever feeds datagrams in.
    void on_datagram(std::span<const uint8_t> datagram, const Requester& sender);

    // inbox.cpp: the GUI thread's sleep until `ready` holds, something is sent to this
    // process or wake_gui_thread() is called (from any thread); datagrams that arrive
    // meanwhile are read and filed on the GUI thread itself. With `spin`, the thread first
    // polls the socket for that long without sleeping (for an answer due in microseconds).
    void gui_wait(Clock::time_point until, const std::function<bool()>& ready,
                  Clock::duration spin = Clock::duration::zero());
    void wake_gui_thread();

private:
    Bus() = default;

    // transport.cpp
    std::string address_of(const std::string& name, sockaddr_un& addr) const;
    platform::Status bind_endpoint();
    SendResult send(const Endpoint& to, const std::vector<uint8_t>& bytes, Clock::time_point until);
    void drop_peer(const Endpoint& e);
    void leave();
    void forget_parent();

    // inbox.cpp
    enum class Read { None, Dropped, Ok }; // nothing waiting, a datagram refused, one read
    int gui_wake_fd();
    platform::Status make_wait_sets();
    void close_wait_sets();
    Read read_one(size_t& size, Requester& sender);
    void receive_loop();
    void receive_pending();
    void read_on_gui_thread();

    // calls.cpp
    uint32_t add_pending(const std::vector<Endpoint>& waiting);
    bool wait_pending(uint32_t sequence, Clock::time_point until);
    void await_activity(std::unique_lock<std::mutex> lock, Clock::time_point until,
                        Clock::duration spin);
    void ping(const std::vector<std::string>& names, Clock::time_point now);
    void note_activity();
    [[nodiscard]] bool on_gui_thread() const { return std::this_thread::get_id() == m_gui_thread; }
    [[nodiscard]] uint32_t flags() const { return m_self.observer ? kFlagObserver : 0; }

    // receive.cpp (receiver thread)
    void on_broadcast(const Endpoint& from, uint32_t sequence, PacketReader r);
    void on_request(const Endpoint& from, const Requester& sender, uint32_t sequence,
                    PacketReader r);
    void on_done(const Endpoint& from, uint32_t sequence, PacketReader r);
    void on_packet(const Packet& packet, const Requester& sender);
    void on_event_packet(int pid, PacketReader r);
    void on_reaped(PacketReader r);
    void to_gui_thread(std::function<void()> work);
    void run_gui_work();

    // serve.cpp (GUI thread)
    void handle_broadcast(const Endpoint& from, uint32_t sequence, const Broadcast& b);
    void handle_request(const Endpoint& from, const Requester& sender, uint32_t sequence,
                        RequestKind kind, const std::vector<uint8_t>& body);
    void reply(const Endpoint& to, uint32_t sequence, bool ok, const std::string& error,
               const std::function<void(PacketWriter&)>& fill = {});
    platform::Status on_list_windows(PacketReader& r, PacketWriter& out);
    platform::Status on_inject_key(PacketReader& r, PacketWriter& out);
    platform::Status on_inject_keys(PacketReader& r, PacketWriter& out);
    platform::Status on_window_command(PacketReader& r, PacketWriter& out);
    platform::Status on_picture(PacketReader& r, PacketWriter& out, const Requester& who);
    platform::Status on_frame_count(PacketReader& r, PacketWriter& out);
    platform::Status on_stats(PacketReader& r, PacketWriter& out);

    // events.cpp
    void forward_event(const platform::Event& event);
    void deliver_event(const platform::Event& event);

    // process.cpp
    void reap(int pid);

    Endpoint m_self;
    std::string m_dir;
    int m_dir_fd{-1};
    int m_socket{-1};
    int m_wake_fd{-1};       // wakes the receiver thread: to stop, or for m_backlog
    int m_receiver_poll{-1}; // the receiver thread's wait: the socket and m_wake_fd
    int m_gui_poll{-1};      // the GUI thread's wait: the socket and m_gui_wake_fd
    std::atomic<int> m_gui_wake_fd{-1};
    std::atomic<int> m_gui_wake_forks{-1}; // the fork count m_gui_wake_fd was made at; -1: none
    std::mutex m_gui_wake_mutex;           // held while m_gui_wake_fd is made
    std::atomic<int> m_gui_sleepers{0};    // threads in gui_wait now
    std::string m_program;
    int m_timeout_ms{2000};
    std::thread::id m_gui_thread;
    std::thread* m_receiver{nullptr};         // never destroyed: a forked child only forgets it
    std::mutex m_read_mutex;                  // held by the thread that reads the socket now
    std::vector<uint8_t> m_buffer;            // the datagram being read (under m_read_mutex)
    std::vector<Datagram> m_backlog;          // for the receiver thread, in order (m_read_mutex)
    std::atomic<bool> m_receiver_owns{false}; // the receiver thread alone reads for now
    std::atomic<bool> m_closing{false};
    std::atomic<bool> m_left{false};

    mutable std::mutex m_mutex; // guards everything below
    std::condition_variable m_cv;
    uint64_t m_activity{0};
    uint32_t m_next_sequence{1};
    std::map<uint32_t, Pending> m_pending;
    std::set<std::string> m_hung; // peers that let a broadcast's bound run out
    std::mutex m_handler_mutex;   // held while the event handler runs
    std::function<void(const platform::Event&)> m_event_handler;
    struct timespec m_peers_stamp {};
    std::vector<Endpoint> m_peers_cache;
    // Work for the GUI thread of a process without a window system (a controller with no
    // windows): run while it waits for answers.
    std::vector<std::function<void()>> m_gui_work;

    std::vector<Handling> m_handling; // GUI thread only

    std::atomic<uint64_t> m_malformed{0};
    std::atomic<uint64_t> m_broadcasts_in{0};
    std::atomic<uint64_t> m_broadcasts_out{0};
    std::atomic<uint64_t> m_skipped{0};
    std::atomic<uint64_t> m_dropped{0};
};

} // namespace bus
