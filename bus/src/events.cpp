// ---- events ------------------------------------------------------------------------------------
//
// Every platform::Event of a process goes to the observers on the desktop, tagged with the
// sender's pid and short name, and to this process's own event handler.
#include "bus.h"

namespace bus {

namespace {

void write_event(PacketWriter& w, const platform::Event& e) {
    w.u8(uint8_t(e.kind)).text(e.name).text(e.text).text(e.caption);
    w.u64(e.wparam).i64(e.lparam).i32(e.code);
    for (float g : e.gamma)
        w.f32(g);
    for (int32_t t : e.tv)
        w.i32(t);
    w.i32(e.signal).text(e.program);
}

std::optional<platform::Event> read_event(PacketReader& r, int pid) {
    platform::Event e;
    e.pid = pid;
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
    e.signal = r.i32();
    e.program = r.text();
    if (!r.at_end() || kind > uint8_t(platform::EventKind::Registry))
        return std::nullopt;
    e.kind = platform::EventKind(kind);
    return e;
}

} // namespace

void Bus::on_event_packet(int pid, PacketReader r) {
    auto event = read_event(r, pid);
    if (!event) {
        ++m_malformed;
        return;
    }
    deliver_event(*event);
}

void Bus::deliver_event(const platform::Event& event) {
    {
        std::lock_guard lock(m_handler_mutex);
        if (m_event_handler)
            m_event_handler(event);
    }
    note_activity();
}

void Bus::forward_event(const platform::Event& event) {
    if (m_closing)
        return;
    platform::Event pe = event;
    pe.pid = m_self.pid;
    pe.program = m_program;
    std::vector<Endpoint> observers;
    for (auto& e : peers())
        if (e.observer)
            observers.push_back(e);
    if (!observers.empty()) {
        PacketWriter w(PacketKind::Event, 0, m_self.pid, flags());
        write_event(w, pe);
        auto until = Clock::now() + std::chrono::milliseconds(std::min(m_timeout_ms, 500));
        for (auto& o : observers)
            send(o, w.bytes(), until);
    }
    deliver_event(pe);
}

// The first window's creation happened before the process joined: it is told again.
void Bus::replay_window_created(const std::string& class_name, const std::string& title) {
    platform::Event e;
    e.kind = platform::EventKind::Window;
    e.name = class_name;
    e.text = title;
    forward_event(e);
}

} // namespace bus
