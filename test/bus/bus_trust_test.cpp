// What crosses the desktop bus is never trusted: pointers of another process, raw numbers in
// the registered range, unbounded window requests and picture paths.
#include "bus_fixture.h"

#include <fstream>
#include <sys/stat.h>

using namespace bus_test;

namespace {

// A broadcast datagram as a hostile program might write it: the message, its numbers and,
// when given, a text.
std::vector<uint8_t> broadcast_packet(bool registered, uint32_t number, const std::string& name,
                                      uint64_t wparam, int64_t lparam,
                                      std::optional<std::string> text = std::nullopt) {
    std::vector<uint8_t> body;
    auto put = [&body](uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            body.push_back(uint8_t(v >> (8 * i)));
    };
    auto put_text = [&](const std::string& s) {
        put(s.size(), 4);
        body.insert(body.end(), s.begin(), s.end());
    };
    put(registered ? 1 : 0, 1), put(number, 4), put_text(name), put(wparam, 8);
    put(uint64_t(lparam), 8);
    if (text)
        put_text(*text);
    auto packet = header(1, 1, uint32_t(body.size()));
    packet.insert(packet.end(), body.begin(), body.end());
    return packet;
}

std::string title_of(int pid) {
    auto found = windows_of(pid);
    return found.empty() ? std::string("<no window>") : found[0].title;
}

// ---- pointers never cross --------------------------------------------------------------------

TEST_F(DesktopBus, TextMessagesCarryTheirTextAcrossAndBack) {
    auto p = peer("echo before");
    SendMessageA(HWND_BROADCAST, WM_SETTEXT, 0, LPARAM("after"));
    EXPECT_EQ(title_of(p.pid), "after");

    SetWindowTextA(m_host, "host");
    char text[64] = "untouched";
    SendMessageA(HWND_BROADCAST, WM_GETTEXT, sizeof text, LPARAM(text));
    EXPECT_STREQ(text, "after") << "the peer answered last, inside the broadcast";
    char small[3] = "xx";
    SendMessageA(HWND_BROADCAST, WM_GETTEXT, sizeof small, LPARAM(small));
    EXPECT_STREQ(small, "af") << "cut to the caller's room";

    SendMessageA(HWND_BROADCAST, WM_SETTEXT, 0, 0);
    EXPECT_EQ(title_of(p.pid), "") << "a null text crosses as null";
    std::string long_title(40000, 'x');
    SendMessageA(HWND_BROADCAST, WM_SETTEXT, 0, LPARAM(long_title.c_str()));
    EXPECT_EQ(title_of(p.pid).size(), 16u * 1024) << "a text crosses cut to the packet's bound";
}

TEST_F(DesktopBus, MessagesCarryingPointersStayInTheirProcess) {
    auto p = peer("echo still");
    RECT r{1, 2, 3, 4};
    WINDOWPOS pos{m_host, nullptr, 5, 6, 7, 8, 0};
    SendMessageA(HWND_BROADCAST, WM_WINDOWPOSCHANGED, 0, LPARAM(&pos));
    SendMessageA(HWND_BROADCAST, WM_GETMINMAXINFO, 0, LPARAM(&r));
    SendMessageA(HWND_BROADCAST, WM_ERASEBKGND, WPARAM(&r), 0);
    auto s = desktop::stats(p.pid);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->broadcasts_in, 0u) << "none of them was sent";
    SendMessageA(HWND_BROADCAST, m_ping, 5, 0);
    EXPECT_EQ(pongs_with(6), 1);
}

TEST_F(DesktopBus, HostileBroadcastsAreDroppedAndCounted) {
    auto p = peer("echo target");
    std::string path = endpoint_of(p.pid);
    std::vector<std::vector<uint8_t>> hostile = {
        broadcast_packet(false, WM_SETTEXT, "", 0, 0x10),               // the sender's pointer
        broadcast_packet(false, WM_GETTEXT, "", 100, 0x10),             // a write anywhere
        broadcast_packet(false, WM_WINDOWPOSCHANGED, "", 0, 0x10),      // a record of the sender
        broadcast_packet(false, 0xC002, "", uint64_t(p.pid), 0),        // a number, not a name
        broadcast_packet(false, 0xC000 + 77, "", 0, 0),                 // nothing registered
        broadcast_packet(false, WM_CLOSE, "", 0, 0, std::string("x")),  // text on a number
        broadcast_packet(true, 0, "Test Ping", 0, 0, std::string("x")), // and on a name
    };
    for (auto& h : hostile)
        send_raw(path, h);
    std::optional<desktop::Stats> s;
    pump_until([&] { return (s = stats_of(p.pid)) && s->malformed >= hostile.size(); });
    ASSERT_TRUE(s);
    EXPECT_EQ(s->malformed, hostile.size());
    EXPECT_EQ(s->broadcasts_in, 0u);
    SendMessageA(HWND_BROADCAST, m_ping, 11, 0);
    EXPECT_EQ(pongs_with(12), 1) << "the peer lives and still serves the desktop";
    EXPECT_FALSE(exit_of(p.pid));
}

// ---- window requests within the window manager's bounds --------------------------------------

// The picture of the largest surface takes a while to encode in a sanitizer build.
class PatientDesktopBus : public DesktopBus {
protected:
    void SetUp() override { start(std::chrono::milliseconds(20000)); }
};

TEST_F(PatientDesktopBus, WindowRequestsAreBoundedByTheWindowManager) {
    auto p = peer("echo big");
    auto resized = desktop::window_command(p, desktop::WindowCommand::Resize, 800, 2818648);
    ASSERT_TRUE(resized) << resized.message();
    auto listed = desktop::windows(p.pid);
    ASSERT_TRUE(listed) << "the peer answers after the resize: " << listed.message();
    auto found = *listed;
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].window.right - found[0].window.left, 800);
    EXPECT_EQ(found[0].window.bottom - found[0].window.top, 32767);
    ASSERT_TRUE(desktop::window_command(p, desktop::WindowCommand::Move, 100000, -100000));
    found = windows_of(p.pid);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].window.left, 32767);
    EXPECT_EQ(found[0].window.top, -32768);

    std::string path = platform::prefix_dir() + "/big.png";
    auto written = desktop::picture(p.pid, desktop::Picture::Window, p.hwnd, path);
    ASSERT_TRUE(written) << written.message();
    platform::Image image = platform::read_png(path);
    EXPECT_EQ(image.width, found[0].client.right - found[0].client.left);
    EXPECT_LE(size_t(image.width) * size_t(image.height), size_t(2048) * 2048)
        << "the surface stays within its bound; the rest of the client area is clipped";
    SendMessageA(HWND_BROADCAST, m_ping, 31, 0);
    EXPECT_EQ(pongs_with(32), 1);
}

// ---- pictures are written only where the controller could write ----------------------------

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void put(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST_F(DesktopBus, PicturesGoOnlyWhereTheControllerCouldWriteThemItself) {
    auto p = peer("echo picture");
    auto shoot = [&](const std::string& path, std::string* error = nullptr) {
        auto written = desktop::picture(p.pid, desktop::Picture::Window, p.hwnd, path);
        if (!written && error)
            *error = written.message();
        return written.ok();
    };
    std::string prefix = platform::prefix_dir();
    std::filesystem::create_directories(prefix + "/shots");
    put(prefix + "/victim.txt", "keep");
    put(prefix + "/registry.reg", "REGEDIT4\n");
    std::filesystem::create_symlink(prefix + "/victim.txt", prefix + "/shots/link.png");
    std::filesystem::create_hard_link(prefix + "/registry.reg", prefix + "/shots/hard.png");

    std::string error;
    EXPECT_FALSE(shoot(prefix + "/shots/link.png", &error)) << "a symbolic link is not followed";
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_FALSE(shoot(prefix + "/registry.reg"));
    EXPECT_FALSE(shoot(prefix + "/shots/hard.png")) << "nor is a link to the registry";
    EXPECT_FALSE(shoot(prefix + "/registry.reg.lock"));
    EXPECT_FALSE(shoot(prefix + "/desktop/" + std::to_string(p.pid) + ".png"));
    EXPECT_FALSE(shoot(prefix + "/shots/"));
    EXPECT_EQ(contents(prefix + "/victim.txt"), "keep");
    EXPECT_EQ(contents(prefix + "/registry.reg"), "REGEDIT4\n");
    EXPECT_FALSE(std::filesystem::exists(prefix + "/registry.reg.lock"));
    EXPECT_FALSE(std::filesystem::exists(prefix + "/desktop/" + std::to_string(p.pid) + ".png"));

    ASSERT_TRUE(shoot(prefix + "/shots/new.png", &error)) << error;
    ASSERT_TRUE(shoot(prefix + "/shots/new.png", &error)) << "one's own file again: " << error;
    EXPECT_EQ(platform::read_png(prefix + "/shots/new.png").width, p.client.right - p.client.left);
    // A relative path is the controller's, not the program's.
    auto here = std::filesystem::current_path();
    std::filesystem::current_path(prefix + "/shots");
    bool relative = shoot("relative.png", &error);
    std::filesystem::current_path(here);
    EXPECT_TRUE(relative) << error;
    EXPECT_TRUE(std::filesystem::exists(prefix + "/shots/relative.png"));
}

} // namespace
