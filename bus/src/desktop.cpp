// ---- the window manager's seam and the controller's side ---------------------------------------
#include "bus.h"

#include "bus/bus.h"
#include "platform/prefix.h"

#include <cstdio>
#include <filesystem>

namespace bus {

void broadcast_to_peers(UINT message, WPARAM wParam, LPARAM lParam) {
    if (Bus::the().joined())
        Bus::the().broadcast(message, wParam, lParam);
}

void window_created(const std::string& class_name, const std::string& title) {
    if (Bus::the().joined() || !platform::env_flag("WINTEST_BUS", true))
        return;
    if (auto joined = Bus::the().join(false); !joined)
        fprintf(stderr, "desktop bus: %s\n", joined.message().c_str());
    else
        Bus::the().replay_window_created(class_name, title); // before the bus listened
}

void receive_datagram(std::span<const uint8_t> datagram, uid_t uid, gid_t gid) {
    Bus::the().on_datagram(datagram, {uid, gid});
}

} // namespace bus

namespace win32::desktop {

using bus::Bus;
using bus::PacketReader;
using bus::PacketWriter;
using bus::RequestKind;

namespace {

// A request's answer, or the reason there is none.
platform::Result<bus::Pending> ask(int pid, RequestKind kind,
                                   const std::function<void(PacketWriter&)>& fill = {}) {
    return Bus::the().request(pid, kind, fill);
}

RECT read_rect(PacketReader& r) {
    RECT rc;
    rc.left = r.i32();
    rc.top = r.i32();
    rc.right = r.i32();
    rc.bottom = r.i32();
    return rc;
}

} // namespace

bool join(bool observer) {
    auto joined = Bus::the().join(observer);
    if (!joined)
        fprintf(stderr, "desktop bus: %s\n", joined.message().c_str());
    return joined.ok();
}

bool joined() {
    return Bus::the().joined();
}

int timeout_ms() {
    return Bus::the().timeout_ms();
}

void on_event(std::function<void(const platform::Event&)> handler) {
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

platform::Result<std::vector<WindowInfo>> windows(int pid) {
    std::vector<WindowInfo> out;
    std::vector<int> pids;
    if (pid != 0)
        pids.push_back(pid);
    else
        for (auto& p : processes())
            pids.push_back(p.pid);
    for (int p : pids) {
        auto reply = ask(p, RequestKind::ListWindows);
        if (!reply) {
            if (pid != 0)
                return reply.error();
            continue;
        }
        PacketReader r(reply->payload);
        uint32_t count = r.u32();
        for (uint32_t i = 0; i < count && r.ok(); ++i) {
            WindowInfo w;
            w.pid = p;
            w.hwnd = r.u64();
            w.class_name = r.text();
            w.title = r.text();
            w.visible = r.u8() != 0;
            w.window = read_rect(r);
            w.client = read_rect(r);
            w.style = r.u32();
            w.ex_style = r.u32();
            w.focus = r.u8() != 0;
            if (r.ok())
                out.push_back(std::move(w));
        }
    }
    return out;
}

namespace {

// Asks and keeps only whether there was an answer.
platform::Status command(int pid, RequestKind kind,
                         const std::function<void(PacketWriter&)>& fill) {
    auto reply = ask(pid, kind, fill);
    if (!reply)
        return reply.error();
    return {};
}

} // namespace

platform::Status inject_key(const WindowInfo& window, UINT vk, bool down) {
    auto fill = [&](PacketWriter& w) { w.u64(window.hwnd).u32(vk).u8(down ? 1 : 0); };
    return command(window.pid, RequestKind::InjectKey, fill);
}

platform::Status inject_keys(const WindowInfo& window,
                             const std::vector<std::pair<UINT, bool>>& strokes) {
    if (strokes.size() > bus::kMaxKeyStrokes)
        return platform::fail("more than " + std::to_string(bus::kMaxKeyStrokes) +
                              " key strokes at once");
    auto fill = [&](PacketWriter& w) {
        w.u64(window.hwnd).u32(uint32_t(strokes.size()));
        for (auto [vk, down] : strokes)
            w.u32(vk).u8(down ? 1 : 0);
    };
    return command(window.pid, RequestKind::InjectKeys, fill);
}

platform::Status window_command(const WindowInfo& window, WindowCommand command_kind, int x,
                                int y) {
    auto fill = [&](PacketWriter& w) {
        w.u64(window.hwnd).u8(uint8_t(command_kind)).i32(x).i32(y);
    };
    return command(window.pid, RequestKind::WindowCommand, fill);
}

platform::Status picture(int pid, Picture which, WindowId window, const std::string& png_path) {
    // The program writes the file: a relative path means the same file there as here.
    std::string path = png_path;
    std::error_code no_cwd;
    if (!path.empty() && path[0] != '/')
        path = std::filesystem::current_path(no_cwd).string() + "/" + path;
    auto fill = [&](PacketWriter& w) { w.u8(uint8_t(which)).u64(window).text(path); };
    return command(pid, RequestKind::Picture, fill);
}

// A reply too short to read has never had a message of its own.
platform::Result<uint64_t> frame_count(int pid) {
    auto reply = ask(pid, RequestKind::FrameCount);
    if (!reply)
        return reply.error();
    PacketReader r(reply->payload);
    uint64_t frames = r.u64();
    if (!r.ok())
        return platform::fail("");
    return frames;
}

platform::Result<Stats> stats(int pid) {
    auto reply = ask(pid, RequestKind::Stats);
    if (!reply)
        return reply.error();
    PacketReader r(reply->payload);
    Stats s{r.u64(), r.u64(), r.u64(), r.u64(), r.u64()};
    if (!r.ok())
        return platform::fail("");
    return s;
}

platform::Result<int> start_program(const std::string& path, const std::string& command_line,
                                    const std::vector<std::string>& extra_env) {
    return Bus::the().start_program(path, command_line, extra_env);
}

} // namespace win32::desktop
