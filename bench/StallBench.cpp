// How long the window's event loop stops while the playback control opens a source or
// carries out a command: the longest gap between the ticks of a 1 ms timer, from the
// moment the command is given until a second and a half after it (so what the command
// leaves to the event loop, a bus message handled, a failure reported, is counted too).
//
//   kino_stall_bench FIXTURES_DIR [--runs N]
//
// The fixtures folder must hold clip.avi, big.avi, big264.avi, rgb16.avi and mjpeg4k.avi (made by
// bench/run-stall-bench.sh). Prints one table: action | longest stall, ms (median of the
// runs, and the largest) | aim | met?
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "player/TGKitMSPlay.h"
#include "player/engine/MediaFramework.h"
#include "support/TestHttpServer.h"

namespace {

using kino::TGKitMSPlay;

// The event loop runs for `ms`, its gaps watched; the longest gap in milliseconds.
double LongestGapWhile(const std::function<void()>& action, int ms)
{
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    clock.start();
    tick.start();
    QTimer::singleShot(0, [&] {
        last = clock.nsecsElapsed();
        action();
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return double(longest) / 1e6;
}

// Waits in the event loop until `done`, at most `ms`.
void WaitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The uncompressed AVI with a header giving rows of no bytes and 2^31 of them: before
// its header was bounded, each frame held a streaming thread for seconds.
std::string StuckAvi(const std::string& fixtures)
{
    std::string bytes = ReadFile(fixtures + "/rgb16.avi");
    const std::size_t format = bytes.find("strf", bytes.find("vids")) + 8;
    const auto le32 = [](std::uint32_t v) {
        return std::string{char(v & 255), char(v >> 8 & 255), char(v >> 16 & 255), char(v >> 24)};
    };
    bytes.replace(format + 4, 8, le32(0) + le32(2147483647u));
    bytes.replace(format + 16, 4, le32(3));
    const std::string path = "/tmp/kino-stall-" + std::to_string(::getpid()) + ".avi";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FIXTURES_DIR [--runs N]\n", argv[0]);
        return 2;
    }
    const std::string fixtures = argv[1];
    int runs = 5;
    if (argc >= 4 && std::string(argv[2]) == "--runs")
        runs = std::max(1, std::atoi(argv[3]));
    kino::InitMediaEngine();

    const std::string fifo = "/tmp/kino-stall-" + std::to_string(::getpid()) + ".fifo";
    ::unlink(fifo.c_str());
    ::mkfifo(fifo.c_str(), 0600);
    const std::string stuck = StuckAvi(fixtures);
    TestHttpServer silent(TestHttpServer::Mode::Silent);
    const std::string refused = "http://127.0.0.1:" + std::to_string(TestHttpServer::ClosedPort()) + "/clip.mpg";

    struct Action {
        std::string name;
        double aim;                               // ms; 0: none
        std::function<void(TGKitMSPlay&)> before; // unwatched
        std::function<void(TGKitMSPlay&)> action;
    };
    const auto playing = [&](const std::string& file) {
        return [&, file](TGKitMSPlay& player) {
            player.SetFileName(fixtures + "/" + file);
            WaitFor([&] { return player.Status() == TGKitMSPlay::Playing && player.GetCurrentPos() > 300; }, 10000);
        };
    };
    const auto seekPaused = [&](const std::string& file, int ms) {
        return [&, file, ms](TGKitMSPlay& player) {
            playing(file)(player);
            player.Pause();
            player.SeekToMs(ms);
            WaitFor([&] { return std::abs(player.GetCurrentPos() - ms) < 100; }, 10000);
        };
    };
    const auto open = [](const std::string& source) {
        return [source](TGKitMSPlay& player) { player.SetFileName(source); };
    };
    const std::vector<Action> actions = {
        {"open a local file (clip.avi)", 0, playing("big.avi"), open(fixtures + "/clip.avi")},
        {"open a silent URL", 100, playing("clip.avi"), open(silent.Url("/clip.mpg"))},
        {"open a refused URL", 100, playing("clip.avi"), open(refused)},
        {"open a FIFO by file: URI", 100, playing("clip.avi"), open("file://" + fifo)},
        {"open a stuck AVI (bit fields, rows of no bytes)", 100, playing("clip.avi"), open(stuck)},
        {"seek (big.avi, playing)", 100, playing("big.avi"),
         [](TGKitMSPlay& player) { player.SeekToMs(player.GetCurrentPos() + 4000); }},
        {"stop (big.avi, playing)", 100, playing("big.avi"), [](TGKitMSPlay& player) { player.Stop(); }},
        {"copy a 4K Motion JPEG frame", 100, playing("mjpeg4k.avi"),
         [](TGKitMSPlay& player) { player.CopyToClipboard(player.GetCurrentPos()); }},
        // Shown smaller than its picture: decoded again from the key frame 9 s before.
        {"copy a 720p H.264 frame, 9 s after its key frame", 100, seekPaused("big264.avi", 9000),
         [](TGKitMSPlay& player) { player.CopyToClipboard(player.GetCurrentPos()); }},
    };

    std::printf("| action | longest stall, ms (median) | largest of %d runs | aim | met? |\n", runs);
    std::printf("|---|---|---|---|---|\n");
    for (const Action& a : actions) {
        std::vector<double> stalls;
        for (int i = 0; i < runs; ++i) {
            auto player = std::make_unique<TGKitMSPlay>();
            player->resize(640, 460);
            player->show();
            a.before(*player);
            stalls.push_back(LongestGapWhile([&] { a.action(*player); }, 1500));
            player.reset();
            QApplication::clipboard()->clear();
        }
        const double median = kino::bench::Median(stalls);
        const double largest = *std::max_element(stalls.begin(), stalls.end());
        std::printf("| %s | %s | %s | %s | %s |\n", a.name.c_str(), kino::bench::Fixed(median, 1).c_str(),
                    kino::bench::Fixed(largest, 1).c_str(),
                    a.aim > 0 ? ("< " + kino::bench::Fixed(a.aim, 0)).c_str() : "the bounded open of a local file",
                    a.aim > 0 ? (median < a.aim ? "yes" : "no") : "-");
        std::fflush(stdout);
    }
    // How long the copy of the H.264 frame takes to reach the clipboard, nothing waiting.
    std::vector<double> latencies;
    for (int i = 0; i < runs; ++i) {
        TGKitMSPlay player;
        player.resize(640, 460);
        player.show();
        seekPaused("big264.avi", 9000)(player);
        QApplication::clipboard()->clear();
        const auto start = std::chrono::steady_clock::now();
        player.CopyToClipboard(player.GetCurrentPos());
        WaitFor([] { return QApplication::clipboard()->image().width() == 1280; }, 10000);
        latencies.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("\nThe H.264 frame's whole picture on the clipboard after %s ms (median of %d)\n",
                kino::bench::Fixed(kino::bench::Median(latencies), 0).c_str(), runs);
    ::unlink(fifo.c_str());
    ::unlink(stuck.c_str());
    kino::ShutdownMediaEngine();
    return 0;
}
