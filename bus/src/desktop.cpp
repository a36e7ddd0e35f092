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

// A request's answer, or nothing with the reason in *error.
std::optional<bus::Pending>
ask(int pid, RequestKind kind, const std::function<void(PacketWriter&)>& fill, std::string* error) {
    auto reply = Bus::the().request(pid, kind, fill);
    if (!reply) {
        if (error)
            *error = reply.message();
        return std::nullopt;
    }
    return std::move(*reply);
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

std::vector<WindowInfo> windows(int pid, std::string* error) {
    std::vector<WindowInfo> out;
    std::vector<int> pids;
    if (pid != 0)
        pids.push_back(pid);
    else
        for (auto& p : processes())
            pids.push_back(p.pid);
    for (int p : pids) {
        auto reply = ask(p, RequestKind::ListWindows, {}, error);
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

bool inject_key(const WindowInfo& window, UINT vk, bool down, std::string* error) {
    auto fill = [&](PacketWriter& w) { w.u64(window.hwnd).u32(vk).u8(down ? 1 : 0); };
    return ask(window.pid, RequestKind::InjectKey, fill, error).has_value();
}

bool inject_keys(const WindowInfo& window, const std::vector<std::pair<UINT, bool>>& strokes,
                 std::string* error) {
    if (strokes.size() > bus::kMaxKeyStrokes) {
        if (error)
            *error = "more than " + std::to_string(bus::kMaxKeyStrokes) + " key strokes at once";
        return false;
    }
    auto fill = [&](PacketWriter& w) {
        w.u64(window.hwnd).u32(uint32_t(strokes.size()));
        for (auto [vk, down] : strokes)
            w.u32(vk).u8(down ? 1 : 0);
    };
    return ask(window.pid, RequestKind::InjectKeys, fill, error).has_value();
}

bool window_command(const WindowInfo& window, WindowCommand command, int x, int y,
                    std::string* error) {
    auto fill = [&](PacketWriter& w) { w.u64(window.hwnd).u8(uint8_t(command)).i32(x).i32(y); };
    return ask(window.pid, RequestKind::WindowCommand, fill, error).has_value();
}

bool picture(int pid, Picture which, WindowId window, const std::string& png_path,
             std::string* error) {
    // The program writes the file: a relative path means the same file there as here.
    std::string path = png_path;
    std::error_code no_cwd;
    if (!path.empty() && path[0] != '/')
        path = std::filesystem::current_path(no_cwd).string() + "/" + path;
    auto fill = [&](PacketWriter& w) { w.u8(uint8_t(which)).u64(window).text(path); };
    return ask(pid, RequestKind::Picture, fill, error).has_value();
}

std::optional<uint64_t> frame_count(int pid, std::string* error) {
    auto reply = ask(pid, RequestKind::FrameCount, {}, error);
    if (!reply)
        return std::nullopt;
    PacketReader r(reply->payload);
    uint64_t frames = r.u64();
    return r.ok() ? std::optional(frames) : std::nullopt;
}

std::optional<Stats> stats(int pid, std::string* error) {
    auto reply = ask(pid, RequestKind::Stats, {}, error);
    if (!reply)
        return std::nullopt;
    PacketReader r(reply->payload);
    Stats s{r.u64(), r.u64(), r.u64(), r.u64(), r.u64()};
    return r.ok() ? std::optional(s) : std::nullopt;
}

int start_program(const std::string& path, const std::string& command_line,
                  const std::vector<std::string>& extra_env, std::string* error) {
    auto pid = Bus::the().start_program(path, command_line, extra_env);
    if (!pid) {
        if (error)
            *error = pid.message();
        return 0;
    }
    return *pid;
}

} // namespace win32::desktop
