// ---- receiving ------------------------------------------------------------------------------
//
// Each datagram is decoded here, on the thread that read it (inbox.cpp); work on windows goes
// to the GUI thread, answers to the calls this process waits for wake it. Nothing in a datagram is
// trusted: whatever does not decode is dropped and counted.
#include "bus.h"

#include "crossing.h"

#include <sys/wait.h>

namespace bus {

void Bus::on_datagram(std::span<const uint8_t> datagram, const Requester& sender) {
    auto packet = parse_packet(datagram);
    if (!packet) {
        ++m_malformed;
        return;
    }
    on_packet(*packet, sender);
}

// A packet whose header checked out, on whichever thread read it (inbox.cpp).
void Bus::on_packet(const Packet& packet, const Requester& sender) {
    Endpoint from{packet.header.pid, (packet.header.flags & kFlagObserver) != 0};
    PacketReader r(packet.payload);
    switch (packet.kind()) {
    case PacketKind::Broadcast:
        return on_broadcast(from, packet.header.sequence, r);
    case PacketKind::Request:
        return on_request(from, sender, packet.header.sequence, r);
    case PacketKind::Done:
        return on_done(from, packet.header.sequence, r);
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

// The window system's queue when there is one; else the bus's own, run while this process
// waits for answers (a controller without windows has nothing else to run it).
void Bus::to_gui_thread(std::function<void()> work) {
    if (WindowSystem* ws = window_system()) {
        ws->run_on_gui_thread(std::move(work));
    } else {
        std::lock_guard lock(m_mutex);
        m_gui_work.push_back(std::move(work));
    }
    note_activity();
}

void Bus::run_gui_work() {
    if (WindowSystem* ws = window_system())
        ws->run_queued_work();
    std::vector<std::function<void()>> work;
    {
        std::lock_guard lock(m_mutex);
        work.swap(m_gui_work);
    }
    for (auto& w : work)
        w();
}

// A broadcast from another process: a registered message by its name only, a text message
// with its text, any other message only when it carries nothing but numbers.
void Bus::on_broadcast(const Endpoint& from, uint32_t sequence, PacketReader r) {
    Broadcast b;
    b.registered = r.u8() != 0;
    b.number = r.u32();
    b.name = r.text();
    b.wparam = r.u64();
    b.lparam = r.i64();
    if (r.ok() && !r.at_end())
        b.text = r.text();
    b.crossing = crossing_of(b.number, b.registered);
    // Only a text message carries a text, and none carries an lParam of the sender.
    bool fits = b.crossing == Crossing::Number    ? !b.text
                : b.crossing == Crossing::TextOut ? !b.text && b.lparam == 0
                                                  : b.lparam == 0;
    if (!r.at_end() || (b.registered && b.name.empty()) || b.crossing == Crossing::Never || !fits) {
        ++m_malformed;
        return;
    }
    ++m_broadcasts_in;
    to_gui_thread([=, this] { handle_broadcast(from, sequence, b); });
}

void Bus::on_request(const Endpoint& from, const Requester& sender, uint32_t sequence,
                     PacketReader r) {
    uint16_t kind = r.u16();
    if (!r.ok() || kind < uint16_t(RequestKind::ListWindows) ||
        kind > uint16_t(RequestKind::InjectKeys)) {
        ++m_malformed;
        return;
    }
    std::vector<uint8_t> body(r.rest().begin(), r.rest().end());
    to_gui_thread([=, this, body = std::move(body)] {
        handle_request(from, sender, sequence, RequestKind(kind), body);
    });
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
    wake_gui_thread();
}

void Bus::on_reaped(PacketReader r) {
    platform::Event pe;
    pe.pid = r.i32();
    int status = r.i32();
    pe.program = r.text();
    if (!r.at_end()) {
        ++m_malformed;
        return;
    }
    pe.kind = platform::EventKind::Exit;
    if (WIFSIGNALED(status)) {
        pe.signal = WTERMSIG(status);
        pe.code = 128 + pe.signal;
    } else {
        pe.code = WEXITSTATUS(status);
    }
    deliver_event(pe);
}

} // namespace bus
