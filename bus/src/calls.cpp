// ---- calls this process makes, and the waiting for their answers -------------------------
//
// A process waiting for answers (its own broadcast, a controller's request) keeps running the
// calls sent to it, so two processes that broadcast to each other at once both go on. A peer
// that does not answer within the bound is skipped.
#include "bus.h"

#include "crossing.h"

#include <cstdio>
#include <cstring>

namespace bus {

namespace {

using namespace std::chrono_literals;

constexpr auto kProbeInterval = 20ms; // how often a waiting process checks that peers live
// How long the GUI thread polls for the answers to its call before it sleeps: a peer on
// another core answers within tens of microseconds, and waking from sleep costs as much again.
constexpr auto kAnswerSpin = 50us;

} // namespace

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
    wake_gui_thread();
}

// Pings the peers still awaited; a refused ping drops the peer.
void Bus::ping(const std::vector<std::string>& names, Clock::time_point now) {
    static const std::vector<uint8_t> s_ping =
        PacketWriter(PacketKind::Ping, 0, m_self.pid, 0).bytes();
    for (auto& name : names)
        if (auto e = endpoint_from_name(name))
            send(*e, s_ping, now);
}

// Waits until every peer of the call has answered, serving the calls sent to this process
// meanwhile. Peers found dead stop being waited for; false when the bound ran out first.
bool Bus::wait_pending(uint32_t sequence, Clock::time_point until) {
    auto next_probe = Clock::now() + kProbeInterval;
    for (;;) {
        if (on_gui_thread())
            run_gui_work();
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
            ping(names, now);
            next_probe = Clock::now() + kProbeInterval;
            continue;
        }
        await_activity(std::move(lock), std::min(until, next_probe), kAnswerSpin);
    }
}

// Waits until something happens on the bus (m_activity moves on), the bus closes, or `until`;
// `lock` holds m_mutex. On the GUI thread the wait is the GUI thread's sleep, in which it reads
// the socket itself: first polling it for `spin`.
void Bus::await_activity(std::unique_lock<std::mutex> lock, Clock::time_point until,
                         Clock::duration spin) {
    const uint64_t seen = m_activity;
    auto moved = [&] { return m_activity != seen || m_closing; };
    if (!on_gui_thread() || !joined()) {
        m_cv.wait_until(lock, until, moved);
        return;
    }
    lock.unlock(); // what is awaited may be read on this thread
    gui_wait(
        until,
        [&] {
            std::lock_guard relock(m_mutex);
            return moved();
        },
        spin);
}

namespace {

// The broadcast's payload: the message by name or number, its numbers, and for the text
// messages the text itself (nothing when lParam is null).
void write_broadcast(PacketWriter& packet, const std::string& name, UINT message, Crossing crossing,
                     WPARAM wParam, LPARAM lParam) {
    bool text_in = crossing == Crossing::TextIn;
    packet.u8(name.empty() ? 0 : 1).u32(message).text(name).u64(uint64_t(wParam));
    packet.i64(crossing == Crossing::Number ? int64_t(lParam) : 0);
    if (text_in && lParam)
        packet.text({reinterpret_cast<const char*>(lParam),
                     strnlen(reinterpret_cast<const char*>(lParam), kMaxText)});
}

// WM_GETTEXT: the text a peer answered goes into the caller's buffer, cut to its room.
void copy_text_answer(const Pending& answer, WPARAM room, LPARAM buffer) {
    PacketReader r(answer.payload);
    std::string text = r.text();
    if (!answer.replied || !r.at_end() || room == 0 || !buffer)
        return;
    size_t n = std::min(text.size(), size_t(room - 1));
    memcpy(reinterpret_cast<char*>(buffer), text.data(), n);
    reinterpret_cast<char*>(buffer)[n] = '\0';
}

} // namespace

// A peer that let an earlier broadcast's bound run out still receives the message, but is not
// waited for until it answers something again; so one hung process costs the desktop one
// bound, not one per broadcast.
void Bus::broadcast(UINT message, WPARAM wParam, LPARAM lParam) {
    WindowSystem* ws = window_system();
    std::string name = ws ? ws->message_name(message) : std::string();
    Crossing crossing = crossing_of(message, !name.empty());
    if (crossing == Crossing::Never)
        return;
    auto targets = peers();
    if (targets.empty())
        return;
    std::vector<Endpoint> awaited;
    {
        std::lock_guard lock(m_mutex);
        for (auto& t : targets)
            if (!m_hung.count(t.name()))
                awaited.push_back(t);
    }
    uint32_t seq = add_pending(awaited);
    PacketWriter packet(PacketKind::Broadcast, seq, m_self.pid, flags());
    write_broadcast(packet, name, message, crossing, wParam, lParam);
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
    if (crossing == Crossing::TextOut)
        copy_text_answer(m_pending[seq], wParam, lParam);
    m_pending.erase(seq);
}

platform::Result<Pending> Bus::request(int pid, RequestKind kind,
                                       const std::function<void(PacketWriter&)>& fill) {
    if (!joined())
        return platform::fail("not on the desktop");
    std::optional<Endpoint> target;
    for (auto& e : peers())
        if (e.pid == pid)
            target = e;
    if (!target)
        return platform::fail("no process " + std::to_string(pid) + " on the desktop");
    uint32_t seq = add_pending({*target});
    PacketWriter packet(PacketKind::Request, seq, m_self.pid, flags());
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
        return platform::fail(
            "process " + std::to_string(pid) +
            (in_time || sent == SendResult::Dead ? " has ended" : " did not answer"));
    if (p.status != 0)
        return platform::fail(p.error);
    return p;
}

// Waits for a handler call in progress, so that the old handler is never called afterwards.
void Bus::set_event_handler(std::function<void(const platform::Event&)> handler) {
    std::lock_guard lock(m_handler_mutex);
    m_event_handler = std::move(handler);
}

void Bus::wait(int ms) {
    await_activity(std::unique_lock(m_mutex), Clock::now() + std::chrono::milliseconds(ms),
                   Clock::duration::zero());
}

win32::desktop::Stats Bus::stats() const {
    return {m_malformed, m_broadcasts_in, m_broadcasts_out, m_skipped, m_dropped};
}

} // namespace bus
