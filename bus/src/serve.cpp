// ---- serving other processes (GUI thread) --------------------------------------------------
//
// Broadcasts go to every top-level window of this process; a controller's requests are each a
// small handler that reads its fields, acts through the window system or the board, and
// writes its answer. A request that does not decode is answered "malformed request".
#include "bus.h"

#include "picture_file.h"

#include "platform/image.h"

#include <unistd.h>

namespace bus {

namespace {

using win32::desktop::Picture;

constexpr const char* kMalformed = "malformed request";

HWND handle_of(uint64_t id) {
    return reinterpret_cast<HWND>(uintptr_t(id));
}

} // namespace

// Text messages reach the windows with a pointer to this process's own copy of the text, or
// to a buffer of this process whose contents go back in the answer.
void Bus::handle_broadcast(const Endpoint& from, uint32_t sequence, const Broadcast& b) {
    WindowSystem* ws = window_system();
    // A registered message crosses by its name: here it has this process's number.
    UINT message = !ws ? 0 : b.registered ? ws->register_message(b.name) : b.number;
    WPARAM wparam = WPARAM(b.wparam);
    LPARAM lparam = LPARAM(b.lparam);
    std::string buffer;
    if (b.crossing == Crossing::TextIn) {
        lparam = b.text ? LPARAM(b.text->c_str()) : 0;
    } else if (b.crossing == Crossing::TextOut) {
        buffer.assign(std::min<uint64_t>(b.wparam, kMaxText + 1), '\0');
        wparam = WPARAM(buffer.size());
        lparam = buffer.empty() ? 0 : LPARAM(buffer.data());
    }
    m_handling.push_back({from, sequence});
    if (message != 0)
        ws->deliver_to_top_level(message, wparam, lparam);
    m_handling.pop_back();
    if (b.crossing != Crossing::TextOut)
        return reply(from, sequence, true, "");
    std::string text(buffer.c_str());
    reply(from, sequence, true, "", [&](PacketWriter& w) { w.text(text); });
}

void Bus::reply(const Endpoint& to, uint32_t sequence, bool ok, const std::string& error,
                const std::function<void(PacketWriter&)>& fill) {
    PacketWriter w(PacketKind::Done, sequence, m_self.pid, flags());
    w.u8(ok ? 0 : 1).text(error);
    if (fill)
        fill(w);
    send(to, w.bytes(), Clock::now() + std::chrono::milliseconds(m_timeout_ms));
}

void Bus::handle_request(const Endpoint& from, const Requester& sender, uint32_t sequence,
                         RequestKind kind, const std::vector<uint8_t>& body) {
    PacketReader r(body);
    PacketWriter answer;
    platform::Status done = platform::fail(kMalformed);
    switch (kind) {
    case RequestKind::ListWindows:
        done = on_list_windows(r, answer);
        break;
    case RequestKind::InjectKey:
        done = on_inject_key(r, answer);
        break;
    case RequestKind::WindowCommand:
        done = on_window_command(r, answer);
        break;
    case RequestKind::Picture:
        done = on_picture(r, answer, sender);
        break;
    case RequestKind::FrameCount:
        done = on_frame_count(r, answer);
        break;
    case RequestKind::Stats:
        done = on_stats(r, answer);
        break;
    case RequestKind::InjectKeys:
        done = on_inject_keys(r, answer);
        break;
    }
    if (!done && done.message() == kMalformed)
        ++m_malformed;
    if (!done)
        return reply(from, sequence, false, done.message());
    reply(from, sequence, true, "", [&](PacketWriter& w) { w.append(answer.bytes()); });
}

platform::Status Bus::on_list_windows(PacketReader& r, PacketWriter& out) {
    if (!r.at_end())
        return platform::fail(kMalformed);
    WindowSystem* ws = window_system();
    auto all = ws ? ws->top_level_windows() : std::vector<win32::desktop::WindowInfo>();
    out.u32(uint32_t(all.size()));
    for (const win32::desktop::WindowInfo& f : all) {
        out.u64(f.hwnd).text(f.class_name);
        out.text(f.title).u8(f.visible ? 1 : 0);
        for (const RECT& rc : {f.window, f.client})
            out.i32(rc.left).i32(rc.top).i32(rc.right).i32(rc.bottom);
        out.u32(f.style).u32(f.ex_style).u8(f.focus ? 1 : 0);
    }
    return {};
}

platform::Status Bus::on_inject_key(PacketReader& r, PacketWriter&) {
    HWND hwnd = handle_of(r.u64());
    UINT vk = r.u32();
    bool down = r.u8() != 0;
    if (!r.at_end())
        return platform::fail(kMalformed);
    WindowSystem* ws = window_system();
    if (!ws || !ws->inject_key(hwnd, vk, down))
        return platform::fail("no such window");
    return {};
}

// Every stroke goes into the queue before the program runs again, so all of them wait for
// its next retrieval together.
platform::Status Bus::on_inject_keys(PacketReader& r, PacketWriter&) {
    HWND hwnd = handle_of(r.u64());
    uint32_t count = r.u32();
    std::vector<std::pair<UINT, bool>> strokes;
    for (uint32_t i = 0; i < count && i < kMaxKeyStrokes && r.ok(); ++i) {
        UINT vk = r.u32();
        strokes.emplace_back(vk, r.u8() != 0);
    }
    if (!r.at_end() || count > kMaxKeyStrokes || strokes.size() != count)
        return platform::fail(kMalformed);
    WindowSystem* ws = window_system();
    if (!ws || !ws->is_window(hwnd))
        return platform::fail("no such window");
    for (auto [vk, down] : strokes)
        if (!ws->inject_key(hwnd, vk, down))
            return platform::fail("no such window");
    return {};
}

platform::Status Bus::on_window_command(PacketReader& r, PacketWriter&) {
    HWND hwnd = handle_of(r.u64());
    uint8_t action = r.u8();
    int x = r.i32(), y = r.i32();
    if (!r.at_end())
        return platform::fail(kMalformed);
    WindowSystem* ws = window_system();
    if (!ws || !ws->is_window(hwnd))
        return platform::fail("no such window");
    using win32::desktop::WindowCommand;
    if (action < uint8_t(WindowCommand::Close) || action > uint8_t(WindowCommand::DisplayChange))
        return platform::fail(kMalformed);
    return ws->window_action(hwnd, WindowCommand(action), x, y);
}

platform::Status Bus::on_picture(PacketReader& r, PacketWriter& out, const Requester& who) {
    auto which = Picture(r.u8());
    HWND hwnd = handle_of(r.u64());
    std::string path = r.text();
    if (!r.at_end() || path.empty())
        return platform::fail(kMalformed);
    platform::Image image;
    if (which == Picture::Window) {
        if (WindowSystem* ws = window_system())
            image = ws->window_picture(hwnd);
    } else if (which == Picture::Screen) {
        if (BoardSource* b = board())
            image = b->screen_picture();
    } else if (which == Picture::Tv || which == Picture::TvField0 || which == Picture::TvField1) {
        int64_t field = which == Picture::Tv ? -1 : which == Picture::TvField0 ? 0 : 1;
        if (BoardSource* b = board())
            image = b->tv_picture(field);
    } else {
        return platform::fail(kMalformed);
    }
    if (image.empty())
        return platform::fail(which == Picture::Window ? "no such window or an empty one"
                                                       : "the board shows no picture");
    auto file = open_picture_file(path, who);
    if (!file)
        return platform::fail("cannot write " + file.message());
    bool written = platform::write_png("/proc/self/fd/" + std::to_string(*file), image).ok();
    close(*file);
    if (!written)
        return platform::fail("cannot write " + path);
    out.i32(image.width).i32(image.height);
    return {};
}

platform::Status Bus::on_frame_count(PacketReader& r, PacketWriter& out) {
    if (!r.at_end())
        return platform::fail(kMalformed);
    BoardSource* b = board();
    if (!b)
        return platform::fail("no board in this process");
    out.u64(b->frame_count());
    return {};
}

platform::Status Bus::on_stats(PacketReader& r, PacketWriter& out) {
    if (!r.at_end())
        return platform::fail(kMalformed);
    auto s = stats();
    out.u64(s.malformed).u64(s.broadcasts_in).u64(s.broadcasts_out);
    out.u64(s.peers_skipped).u64(s.peers_dropped);
    return {};
}

} // namespace bus
