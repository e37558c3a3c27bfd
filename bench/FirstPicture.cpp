// Starts a player and watches the screen for the first picture of the bench's clips,
// the same way whatever the player: how long from exec until the picture's colours are
// on the screen, and the player's peak resident size while it plays.
//
//   kino_first_picture [--hold SECONDS] -- COMMAND [ARG ...]
//
// The clips are ffmpeg's test pattern: large areas of saturated magenta, yellow and
// cyan, which no window of any player shows before its picture. The screen (DISPLAY)
// is sampled every few milliseconds along rows 16 pixels apart. The player is left to
// play for --hold seconds after exec (default 6), then stopped.
//
// Prints "first_picture_ms N" (or "first_picture_ms none"), "peak_rss_kb N" (the
// kernel's high-water mark of the player's resident set), "anon_rss_kb N" (its
// anonymous resident memory when stopped: what is its own, not shared library pages),
// "cpu_s N" (its user+system
// time until it was stopped). Exit status 0 when the player could be started.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRowStep = 16;
constexpr int kColumnStep = 4;
constexpr int kSamplesOfEach = 40; // of each of the three colours
constexpr auto kPollEvery = std::chrono::milliseconds(4);

bool Near(std::uint8_t v, bool high)
{
    return high ? v >= 170 : v <= 90;
}

// Whether the sampled rows show the pattern's magenta, yellow and cyan.
bool ShowsPattern(xcb_connection_t* conn, xcb_window_t root, int width, int height)
{
    std::vector<xcb_get_image_cookie_t> cookies;
    for (int y = kRowStep / 2; y < height; y += kRowStep)
        cookies.push_back(
            xcb_get_image(conn, XCB_IMAGE_FORMAT_Z_PIXMAP, root, 0, std::int16_t(y), std::uint16_t(width), 1, ~0u));
    int magenta = 0, yellow = 0, cyan = 0;
    for (auto cookie : cookies) {
        xcb_get_image_reply_t* reply = xcb_get_image_reply(conn, cookie, nullptr);
        if (!reply)
            continue;
        const std::uint8_t* p = xcb_get_image_data(reply);
        const int bytes = xcb_get_image_data_length(reply);
        for (int x = 0; x + 3 < bytes; x += 4 * kColumnStep) {
            const std::uint8_t b = p[x], g = p[x + 1], r = p[x + 2];
            magenta += Near(r, true) && Near(g, false) && Near(b, true);
            yellow += Near(r, true) && Near(g, true) && Near(b, false);
            cyan += Near(r, false) && Near(g, true) && Near(b, true);
        }
        std::free(reply);
    }
    return magenta >= kSamplesOfEach && yellow >= kSamplesOfEach && cyan >= kSamplesOfEach;
}

// A figure of the process's status in kB ("VmHWM:", "RssAnon:"), -1 when not there.
long StatusKb(pid_t pid, const std::string& key)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::strtol(line.c_str() + key.size(), nullptr, 10);
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    double hold = 6.0;
    int at = 1;
    for (; at < argc; ++at) {
        if (std::strcmp(argv[at], "--hold") == 0 && at + 1 < argc)
            hold = std::atof(argv[++at]);
        else if (std::strcmp(argv[at], "--") == 0) {
            ++at;
            break;
        }
    }
    if (at >= argc) {
        std::fprintf(stderr, "usage: %s [--hold SECONDS] -- COMMAND [ARG ...]\n", argv[0]);
        return 2;
    }
    // A display busy with the clients of the last player going away may refuse for a
    // moment.
    xcb_connection_t* conn = xcb_connect(nullptr, nullptr);
    for (int tries = 0; xcb_connection_has_error(conn) && tries < 50; ++tries) {
        xcb_disconnect(conn);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        conn = xcb_connect(nullptr, nullptr);
    }
    if (xcb_connection_has_error(conn)) {
        std::fprintf(stderr, "kino_first_picture: no X display\n");
        return 2;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(conn)).data;

    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execvp(argv[at], argv + at);
        _exit(127);
    }
    if (pid < 0)
        return 2;

    long firstMs = -1;
    const auto until = start + std::chrono::milliseconds(long(hold * 1000));
    while (Clock::now() < until) {
        if (firstMs < 0 && ShowsPattern(conn, screen->root, screen->width_in_pixels, screen->height_in_pixels))
            firstMs = long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "kino_first_picture: the player ended early\n");
            return 2;
        }
        std::this_thread::sleep_for(firstMs < 0 ? kPollEvery : std::chrono::milliseconds(50));
    }
    const long peak = StatusKb(pid, "VmHWM:");
    const long anon = StatusKb(pid, "RssAnon:");
    kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return 2;
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (firstMs >= 0)
        std::printf("first_picture_ms %ld\n", firstMs);
    else
        std::printf("first_picture_ms none\n");
    std::printf("peak_rss_kb %ld\nanon_rss_kb %ld\ncpu_s %.3f\n", peak, anon, cpu);
    xcb_disconnect(conn);
    return 0;
}
