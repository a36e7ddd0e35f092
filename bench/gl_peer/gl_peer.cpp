// gl_peer: the program's three frames on the board and through OpenGL on Mesa's software
// renderer with 1 and 2 threads, timed in one run, with the pictures compared.
//
//   build/bin/gl_peer [frames]
//
// The parent times the board (default threads and WINTEST_BOARD_THREADS=1) and the memset
// floor, and runs itself twice as a GL peer (LP_NUM_THREADS=1, then 2); each peer draws the
// frames through GL, times them (glFinish each frame) and compares its pictures with the
// board's.
#include "board.h"
#include "board_harness.h"
#include "board_scenes.h"
#include "gamma/gamma.h"
#include "gl_context.h"
#include "gl_scenes.h"
#include "point_floor.h"
#include "glide.h"
#include "glide/glide_test.h"

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
const char* const k_scenes[3] = {"glide", "gamma", "tv"};
// The shares of pixels GL's pictures may have off by more than 2 levels from the board's.
constexpr double k_texture_share = 0.01;
constexpr double k_line_share = 0.03;

// The median time of `frames` runs of `frame`, in milliseconds, after running it for a while
// to warm up: the caches, and the second core, which can take milliseconds to come out of its
// idle state when a thread is first started on it.
double median_ms(int frames, const std::function<void()>& frame) {
    const auto warm = Clock::now() + std::chrono::milliseconds(50);
    do
        frame();
    while (Clock::now() < warm);
    std::vector<double> times;
    for (int i = 0; i < frames; ++i) {
        auto start = Clock::now();
        frame();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + frames / 2, times.end());
    return times[size_t(frames / 2)];
}

bool open_for(const char* scene, const char* threads) {
    if (threads)
        setenv("WINTEST_BOARD_THREADS", threads, 1);
    else
        unsetenv("WINTEST_BOARD_THREADS");
    const bool lower_left = std::strcmp(scene, "tv") != 0;
    return board_scenes::open_board(lower_left ? GR_COLORFORMAT_ABGR : GR_COLORFORMAT_ARGB,
                                    lower_left ? GR_ORIGIN_LOWER_LEFT : GR_ORIGIN_UPPER_LEFT);
}

// One frame of a scene on the open board, swapped.
void board_frame(const char* scene, GrMipMapId_t texture, const board_scenes::TvScene& tv) {
    if (std::strcmp(scene, "glide") == 0)
        board_scenes::glide_frame(texture);
    else if (std::strcmp(scene, "gamma") == 0)
        board_scenes::gamma_frame(texture);
    else
        board_scenes::tv_frame(tv);
    grBufferSwap(1);
}

// Board times of each scene with the given threads (nullptr: the default).
std::map<std::string, double> time_board(const char* threads, int frames) {
    std::map<std::string, double> ms;
    const board_scenes::TvScene tv = board_scenes::tv_scene();
    for (const char* scene : k_scenes) {
        if (!open_for(scene, threads))
            return ms;
        GrMipMapId_t texture = board_scenes::load_sample_texture();
        ms[scene] = median_ms(frames, [&] { board_frame(scene, texture, tv); });
        grGlideShutdown();
    }
    return ms;
}

// ns per grDrawPoint: the gamma test's 153,600 points alone.
double point_ns(int frames) {
    if (!open_for("gamma", nullptr))
        return 0;
    SetTextureTestState();
    guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
    DrawGammaBands();
    const double ms = median_ms(frames, [] { DrawGammaBands(); });
    grGlideShutdown();
    return ms * 1e6 / (320.0 * 480.0);
}

// ns per point of the same loop calling an empty function it cannot inline: what the loop
// and a call cost (grDrawPoint itself is inlined into the loop at link time).
double empty_point_ns(int frames) {
    gl_peer::empty_point_bands();
    return median_ms(frames, [] { gl_peer::empty_point_bands(); }) * 1e6 / (320.0 * 480.0);
}

double memset_ms(int frames) {
    std::vector<uint32_t> frame(640 * 480);
    int v = 0;
    return median_ms(frames * 10, [&] {
        std::memset(frame.data(), v++ & 0xFF, frame.size() * 4);
        asm volatile("" : : "r"(frame.data()) : "memory");
    });
}

// The board's picture of a scene (one thread), 0x00RRGGBB, row 0 at the top.
std::vector<uint32_t> board_picture(const char* scene, gl_peer::Texels* texels) {
    std::vector<uint32_t> pixels;
    if (!open_for(scene, "1"))
        return pixels;
    GrMipMapId_t texture = board_scenes::load_sample_texture();
    if (texels) {
        const board::Texture* t = board::Board::the().textures().find(texture);
        if (t && !t->levels.empty())
            *texels = {int(t->levels[0].width), int(t->levels[0].height), t->levels[0].texels};
    }
    board_frame(scene, texture, board_scenes::tv_scene());
    pixels = board::screen_image().pixels;
    grGlideShutdown();
    return pixels;
}

// Pixels where a channel differs by more than `tolerance` levels, as a share of the frame.
double differing_share(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b,
                       int tolerance) {
    if (a.size() != b.size() || a.empty())
        return 1.0;
    size_t differing = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int shift : {0, 8, 16})
            if (std::abs(int(a[i] >> shift & 0xFF) - int(b[i] >> shift & 0xFF)) > tolerance) {
                ++differing;
                break;
            }
    return double(differing) / double(a.size());
}

// The peer: prints "renderer NAME" and, per scene, "gl SCENE MS SHARE".
int run_peer(int frames) {
    gl_peer::Texels texels;
    std::map<std::string, std::vector<uint32_t>> reference;
    for (const char* scene : k_scenes)
        reference[scene] =
            board_picture(scene, std::strcmp(scene, "glide") == 0 ? &texels : nullptr);
    gl_peer::Context context(640, 480);
    if (!context.ok()) {
        std::printf("error %s\n", context.error().c_str());
        return 1;
    }
    std::printf("renderer %s\n", context.renderer().c_str());
    const gl_peer::Scenes scenes(texels);
    const board_scenes::TvScene tv = board_scenes::tv_scene();
    std::vector<float> outline;
    for (const GrVertex& v : tv.outline)
        outline.insert(outline.end(), {v.x, v.y, v.r, v.g, v.b});
    const std::map<std::string, std::function<void()>> draw = {
        {"glide", [&] { scenes.glide_frame(); }},
        {"gamma", [&] { scenes.gamma_frame(); }},
        {"tv", [&] { scenes.tv_frame(tv.image, outline); }}};
    for (const char* scene : k_scenes) {
        const auto& frame = draw.at(scene);
        frame();
        glFinish();
        const double share = differing_share(reference[scene], context.read_frame(), 2);
        const int n = std::strcmp(scene, "gamma") == 0 ? std::max(3, frames / 4) : frames;
        const double ms = median_ms(n, [&] {
            frame();
            glFinish();
        });
        std::printf("gl %s %.4f %.5f\n", scene, ms, share);
    }
    return 0;
}

struct PeerResult {
    std::string renderer;
    std::map<std::string, double> ms, share;
};

// Runs this program as a peer with LP_NUM_THREADS=threads on Mesa's llvmpipe.
PeerResult run_peer_process(int threads, int frames) {
    PeerResult result;
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return result;
    const std::string command = "LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=llvmpipe LP_NUM_THREADS=" +
                                std::to_string(threads) + " '" + self + "' --peer " +
                                std::to_string(frames);
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        char scene[32], name[256];
        double ms, share;
        if (std::sscanf(line, "gl %31s %lf %lf", scene, &ms, &share) == 3) {
            result.ms[scene] = ms;
            result.share[scene] = share;
        } else if (std::sscanf(line, "renderer %255[^\n]", name) == 1) {
            result.renderer = name;
        } else {
            std::fputs(line, stderr);
        }
    }
    pclose(pipe);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    const bool peer = argc > 1 && std::strcmp(argv[1], "--peer") == 0;
    const int frames = std::max(3, std::atoi(argc > (peer ? 2 : 1) ? argv[peer ? 2 : 1] : "31"));
    if (peer)
        return run_peer(frames);
    const auto board_default = time_board(nullptr, frames);
    const auto board_one = time_board("1", frames);
    const double floor = memset_ms(frames);
    const double ns = point_ns(frames);
    const double empty_ns = empty_point_ns(frames);
    const PeerResult lp1 = run_peer_process(1, frames), lp2 = run_peer_process(2, frames);
    if (board_default.size() != 3 || board_one.size() != 3 || lp1.ms.size() != 3 ||
        lp2.ms.size() != 3) {
        std::fprintf(stderr, "gl_peer: a run failed (board busy, or no OpenGL on Mesa)\n");
        return 1;
    }
    double load[1] = {0};
    getloadavg(load, 1);
    std::printf("gl_peer: median ms per frame of %d; board %d threads (default) and 1; %s; "
                "%u cores, load %.1f\n",
                frames, board::board_threads_from_env(), lp2.renderer.c_str(),
                std::thread::hardware_concurrency(), load[0]);
    std::printf("%-6s %9s %9s %10s %10s %8s | %8s %11s %11s\n", "scene", "board", "board-1",
                "llvmpipe-1", "llvmpipe-2", "floor", "x floor", "lp-2/board", "lp-2/board-1");
    for (const char* scene : k_scenes) {
        const double b = board_default.at(scene), b1 = board_one.at(scene);
        std::printf("%-6s %9.3f %9.3f %10.3f %10.3f %8.4f | %8.1f %11.1f %11.1f\n", scene, b, b1,
                    lp1.ms.at(scene), lp2.ms.at(scene), floor, b / floor, lp2.ms.at(scene) / b,
                    lp2.ms.at(scene) / b1);
    }
    std::printf("grDrawPoint: %.2f ns per point; the program's loop calling an empty function: "
                "%.2f ns\n",
                ns, empty_ns);
    // GL rounds bilinear weights and texel centres its own way and rasterises lines by the
    // diamond rule (the board: Bresenham, both ends), so its pictures agree within limits.
    bool agree = true;
    for (const char* scene : k_scenes) {
        const double limit = std::strcmp(scene, "tv") == 0 ? k_line_share : k_texture_share;
        const double share = std::max(lp1.share.at(scene), lp2.share.at(scene));
        agree = agree && share <= limit;
        std::printf("picture %-6s %.3f%% of pixels differ by more than 2 levels (limit %.1f%%)\n",
                    scene, share * 100, limit * 100);
    }
    return agree ? 0 : 2;
}
