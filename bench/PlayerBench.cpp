// Benchmark of the playback control against GStreamer doing the same work alone.
//
//   kino_player_bench --fixtures DIR [--runs N] [--cpu-runs N] [--opens N] [--opens-mark N]
//                     [--files a.mpg,b.avi] [--only first-frame,cpu,memory]
//
// The driver starts a fresh child process for every measurement (this same program
// with --child) and prints one table: figure | ours | reference | ratio | target | met?
// It only prints figures; its exit code says whether every measurement was taken.
#include <QApplication>

#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchReport.h"
#include "ChildProcess.h"
#include "PlayerProbes.h"
#include "player/engine/MediaFramework.h"

namespace kino::bench {
namespace {

struct Options {
    std::string fixtures;
    std::vector<std::string> files{"big.mpg", "big.avi"};
    int runs = 5;
    int cpuRuns = 3;
    int opens = 200;
    int opensMark = 10;
    bool firstFrame = true;
    bool cpu = true;
    bool memory = true;
};

// The targets the figures are held against.
constexpr double kFirstFrameRatioMax = 1.3;
constexpr double kCpuRatioMax = 1.5;
constexpr double kGrowthPercentMax = 5.0;

// "key value..." lines printed by a probe, values gathered per key in order.
std::map<std::string, std::vector<std::string>> ParseLines(const std::string& out)
{
    std::map<std::string, std::vector<std::string>> values;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const auto space = line.find(' ');
        if (space != std::string::npos)
            values[line.substr(0, space)].push_back(line.substr(space + 1));
    }
    return values;
}

std::vector<double> Numbers(const std::map<std::string, std::vector<std::string>>& values, const std::string& key)
{
    std::vector<double> numbers;
    auto it = values.find(key);
    if (it != values.end())
        for (const std::string& s : it->second)
            numbers.push_back(std::strtod(s.c_str(), nullptr));
    return numbers;
}

std::string UriOf(const std::string& path)
{
    std::unique_ptr<gchar, void (*)(gpointer)> uri(g_filename_to_uri(path.c_str(), nullptr, nullptr), g_free);
    return uri ? std::string(uri.get()) : std::string();
}

std::string FailureText(const std::string& what, const ChildResult& r)
{
    std::string text = what + ": " + r.Describe();
    if (!r.errTail.empty())
        text += "\n  stderr (end):\n" + r.errTail;
    return text;
}

void BenchFirstFrame(const Options& opt, const std::string& self, Report& report)
{
    for (const std::string& name : opt.files) {
        const std::string path = opt.fixtures + "/" + name;
        Progress("first frame, " + name);
        const ChildResult r = RunChild({self, "--child", "first-frame", path, std::to_string(opt.runs)});
        const auto values = ParseLines(r.out);
        const std::vector<double> ours = Numbers(values, "ours_ms");
        const std::vector<double> floor = Numbers(values, "floor_ms");
        if (!r.Ok() || ours.empty() || floor.empty()) {
            report.Failure(FailureText("first frame of " + name, r));
            continue;
        }
        const double o = Median(ours), f = Median(floor), ratio = o / f;
        report.Add({"(a) first frame painted, " + name + " [ms, median of " + std::to_string(ours.size()) + "]",
                    Fixed(o, 1), Fixed(f, 1), Fixed(ratio, 2), "<= " + Fixed(kFirstFrameRatioMax, 2),
                    ratio <= kFirstFrameRatioMax ? "yes" : "NO"});
        std::string view = values.count("view") ? values.at("view").front() : "?";
        report.Note("(a) " + name + ": view " + view + "; ours ms: " + JoinFixed(ours, 1) +
                    "; floor ms: " + JoinFixed(floor, 1));
        report.Note("    ours, medians from setting FileName: setter returned " +
                    Fixed(Median(Numbers(values, "ours_setter_ms")), 1) + " ms, frame reached the GUI thread " +
                    Fixed(Median(Numbers(values, "ours_delivered_ms")), 1) + " ms, painted " + Fixed(o, 1) + " ms");
        report.Note("    floor with playbin's own sound output instead of fakesink: " +
                    Fixed(Median(Numbers(values, "floor_sound_ms")), 1) + " ms");
    }
}

void BenchCpu(const Options& opt, const std::string& self, Report& report)
{
    for (const std::string& name : opt.files) {
        const std::string path = opt.fixtures + "/" + name;
        const std::string uri = UriOf(path);
        std::vector<double> ours, reference, oursInside, painted;
        double withConversion = -1;
        bool failed = false;
        for (int i = 0; i < opt.cpuRuns && !failed; ++i) {
            Progress("CPU, " + name + ", run " + std::to_string(i + 1) + " of " + std::to_string(opt.cpuRuns));
            const ChildResult o = RunChild({self, "--child", "play", path});
            const ChildResult g = RunChild({"gst-launch-1.0", "-q", "playbin", "uri=" + uri, "video-sink=fakesink"});
            if (!o.Ok()) {
                report.Failure(FailureText("playing " + name + " in the control", o));
                failed = true;
            }
            if (!g.Ok()) {
                report.Failure(
                    FailureText("gst-launch-1.0 playing " + name + " (Debian package gstreamer1.0-tools)", g));
                failed = true;
            }
            if (failed)
                break;
            ours.push_back(o.CpuSeconds());
            reference.push_back(g.CpuSeconds());
            const auto values = ParseLines(o.out);
            const auto inside = Numbers(values, "play_cpu_s");
            const auto frames = Numbers(values, "frames_painted");
            if (!inside.empty())
                oursInside.push_back(inside.front());
            if (!frames.empty())
                painted.push_back(frames.front());
            if (i == 0) {
                // Not part of the comparison: the reference also converting every frame
                // to the BGRx the player paints, to tell conversion from painting.
                const ChildResult c = RunChild({"gst-launch-1.0", "-q", "playbin", "uri=" + uri,
                                                "video-sink=videoconvert ! video/x-raw,format=BGRx ! fakesink"});
                if (c.Ok())
                    withConversion = c.CpuSeconds();
            }
        }
        if (failed)
            continue;
        const double o = Median(ours), g = Median(reference), ratio = o / g;
        report.Add({"(b) CPU to play all of " + name + " [s, median of " + std::to_string(ours.size()) + "]",
                    Fixed(o, 3), Fixed(g, 3), Fixed(ratio, 2), "<= " + Fixed(kCpuRatioMax, 2),
                    ratio <= kCpuRatioMax ? "yes" : "NO"});
        report.Note("(b) " + name + ": ours s: " + JoinFixed(ours, 3) + "; gst-launch s: " + JoinFixed(reference, 3) +
                    "; ours from setting FileName to status 4 only: " + Fixed(Median(oursInside), 3) +
                    " s; frames painted: " + JoinFixed(painted, 0));
        if (withConversion >= 0)
            report.Note("    gst-launch-1.0 also converting to BGRx (one run): " + Fixed(withConversion, 3) + " s");
    }
}

// The resident size swings by several MiB from one open to the next (frames in
// flight, buffers the allocator keeps), so each figure is the median of the readings
// after this many consecutive opens, starting at the open it is named after.
constexpr int kRssWindow = 10;

void BenchMemory(const Options& opt, const std::string& self, Report& report)
{
    const int last = opt.opens + kRssWindow - 1;
    for (const std::string& name : opt.files) {
        const std::string path = opt.fixtures + "/" + name;
        Progress("memory, " + name + ", " + std::to_string(last) + " opens");
        const ChildResult r = RunChild({self, "--child", "reopen", path, std::to_string(last)});
        std::map<int, double> rss;
        auto values = ParseLines(r.out);
        for (const std::string& v : values["rss_kb"]) {
            std::istringstream in(v);
            int opens = 0;
            double kb = 0;
            if (in >> opens >> kb)
                rss[opens] = kb;
        }
        if (!r.Ok() || !rss.count(last)) {
            report.Failure(FailureText("reopening " + name, r));
            continue;
        }
        auto window = [&rss](int first) {
            std::vector<double> v;
            for (int i = first; i < first + kRssWindow; ++i)
                v.push_back(rss[i] / 1024);
            return v;
        };
        const std::vector<double> earlyWindow = window(opt.opensMark), lateWindow = window(opt.opens);
        const double early = Median(earlyWindow), late = Median(lateWindow);
        const double growth = (late - early) / early * 100.0;
        report.Add({"(c) VmRSS after " + std::to_string(opt.opens) + " vs " + std::to_string(opt.opensMark) +
                        " opens, " + name + " [MiB]",
                    Fixed(late, 1), Fixed(early, 1), (growth >= 0 ? "+" : "") + Fixed(growth, 1) + " %",
                    "< " + Fixed(kGrowthPercentMax, 0) + " %", growth < kGrowthPercentMax ? "yes" : "NO"});
        const auto [earlyMin, earlyMax] = std::minmax_element(earlyWindow.begin(), earlyWindow.end());
        const auto [lateMin, lateMax] = std::minmax_element(lateWindow.begin(), lateWindow.end());
        report.Note("(c) " + name + ": MiB after open " + std::to_string(opt.opensMark) + ": " +
                    Fixed(rss[opt.opensMark] / 1024, 1) + " (opens " + std::to_string(opt.opensMark) + "-" +
                    std::to_string(opt.opensMark + kRssWindow - 1) + ": " + Fixed(*earlyMin, 1) + " to " +
                    Fixed(*earlyMax, 1) + "); after open " + std::to_string(opt.opens) + ": " +
                    Fixed(rss[opt.opens] / 1024, 1) + " (opens " + std::to_string(opt.opens) + "-" +
                    std::to_string(last) + ": " + Fixed(*lateMin, 1) + " to " + Fixed(*lateMax, 1) + ")");
    }
}

int Drive(const Options& opt)
{
    const std::string self = "/proc/self/exe";
    // Children are measured on the offscreen platform unless the caller chose one.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::fprintf(stderr, "kino_player_bench: fixtures %s, platform %s\n", opt.fixtures.c_str(),
                 std::getenv("QT_QPA_PLATFORM"));
    Report report;
    if (opt.firstFrame)
        BenchFirstFrame(opt, self, report);
    if (opt.cpu)
        BenchCpu(opt, self, report);
    if (opt.memory)
        BenchMemory(opt, self, report);
    report.Note("reference: (a) bare playbin, appsink (BGRx, max-buffers=1, drop=true), fakesink for sound,");
    report.Note(
        "           PAUSED to first sample pulled, in the same process as ours (ours: FileName set to frame painted)");
    report.Note(
        "           (b) gst-launch-1.0 playbin video-sink=fakesink; both whole child processes, user+sys via wait4");
    report.Note("           (c) the same process after " + std::to_string(opt.opensMark) +
                " opens; each VmRSS figure is the median of " + std::to_string(kRssWindow) + " readings");
    report.Print();
    std::fflush(stdout);
    return report.Failed() ? 1 : 0;
}

int RunChildMode(int argc, char** argv)
{
    // argv: exe --child MODE FILE [numbers...]
    if (argc < 4) {
        std::fprintf(stderr, "usage: --child first-frame|play|reopen|still FILE ...\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string mode = argv[2];
    const std::string file = argv[3];
    auto number = [&](int i, int fallback) { return argc > i ? std::atoi(argv[i]) : fallback; };

    QApplication app(argc, argv);
    InitMediaEngine();
    int rc = 2;
    if (mode == "first-frame")
        rc = FirstFrameProbe(file, std::max(1, number(4, 5)));
    else if (mode == "play")
        rc = PlayThroughProbe(file, argc > 5 ? QSize(number(4, kViewWidth), number(5, kViewHeight))
                                             : QSize(kViewWidth, kViewHeight));
    else if (mode == "still" && argc > 4)
        rc = StillCompareProbe(file, argv[4]);
    else if (mode == "reopen")
        rc = ReopenProbe(file, std::max(1, number(4, 200)));
    else
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    std::fflush(stdout);
    ShutdownMediaEngine();
    return rc;
}

int Usage()
{
    std::fprintf(stderr, "usage: kino_player_bench --fixtures DIR [--runs N] [--cpu-runs N] [--opens N]\n"
                         "                         [--opens-mark N] [--files a,b] [--only first-frame,cpu,memory]\n");
    return 2;
}

} // namespace
} // namespace kino::bench

int main(int argc, char** argv)
{
    using namespace kino::bench;
    try {
        if (argc > 1 && std::string(argv[1]) == "--child")
            return RunChildMode(argc, argv);

        Options opt;
        if (const char* env = std::getenv("KINO_FIXTURES"))
            opt.fixtures = env;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (i + 1 >= argc)
                return Usage();
            const std::string value = argv[++i];
            if (arg == "--fixtures")
                opt.fixtures = value;
            else if (arg == "--runs")
                opt.runs = std::max(1, std::atoi(value.c_str()));
            else if (arg == "--cpu-runs")
                opt.cpuRuns = std::max(1, std::atoi(value.c_str()));
            else if (arg == "--opens")
                opt.opens = std::max(2, std::atoi(value.c_str()));
            else if (arg == "--opens-mark")
                opt.opensMark = std::max(1, std::atoi(value.c_str()));
            else if (arg == "--files")
                opt.files = SplitList(value);
            else if (arg == "--only") {
                const auto only = SplitList(value);
                auto has = [&](const char* s) { return std::find(only.begin(), only.end(), s) != only.end(); };
                opt.firstFrame = has("first-frame");
                opt.cpu = has("cpu");
                opt.memory = has("memory");
            } else
                return Usage();
        }
        if (opt.fixtures.empty())
            return Usage();
        opt.opensMark = std::min(opt.opensMark, opt.opens);
        return Drive(opt);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kino_player_bench: %s\n", e.what());
        return 2;
    }
}
