#include "PlayerProbes.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "BareFirstFrame.h"
#include "player/PlayerBars.h"
#include "player/TGKitMSPlay.h"
#include "player/VideoView.h"
#include "player/elements/SharedFrames.h"

namespace kino::bench {

namespace {

using Clock = std::chrono::steady_clock;

// Ends a probe whose source never plays instead of waiting forever. It is no part of
// any figure: every wait normally ends long before it.
constexpr int kHangGuardMs = 120000;

double MsBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double CpuSecondsOfSelf()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            std::istringstream fields(line.substr(6));
            long kb = -1;
            fields >> kb;
            return kb;
        }
    }
    return -1;
}

// Runs the event loop until `done` holds. Returns false when the hang guard ran out.
bool WaitFor(const std::function<bool()>& done, int guardMs = kHangGuardMs)
{
    bool expired = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&expired] { expired = true; });
    guard.start(guardMs);
    while (!done() && !expired)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// Watches the view's paint events. Once armed, the first paint that draws a frame is
// carried out inside the filter, so the moment taken is after the picture was drawn.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(VideoView* view) : view_(view) { view_->installEventFilter(this); }

    void Arm()
    {
        armed_ = true;
        done_ = false;
    }
    bool Done() const { return done_; }
    Clock::time_point PaintedAt() const { return paintedAt_; }
    int Paints() const { return paints_; }
    int FramePaints() const { return framePaints_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != view_ || event->type() != QEvent::Paint)
            return QObject::eventFilter(watched, event);
        ++paints_;
        if (view_->Frame().isNull())
            return false;
        ++framePaints_;
        if (!armed_)
            return false;
        static_cast<QObject*>(view_)->event(event);
        paintedAt_ = Clock::now();
        armed_ = false;
        done_ = true;
        return true; // already painted
    }

private:
    VideoView* view_;
    bool armed_ = false;
    bool done_ = false;
    int paints_ = 0;
    int framePaints_ = 0;
    Clock::time_point paintedAt_{};
};

// The control shown with its picture area at the typical size, and what it reported.
class ShownPlayer {
public:
    explicit ShownPlayer(QSize view = QSize(kViewWidth, kViewHeight)) : watch_(player_.View())
    {
        player_.OnNotify = [this](TGKitMSPlay*, std::int16_t status, std::int32_t detail) {
            if (status == TGKitMSPlay::Playing)
                playing_ = true;
            else if (status == TGKitMSPlay::Ended)
                ended_ = true;
            else if (status == TGKitMSPlay::Stopped && detail != 0)
                failed_ = true;
        };
        QObject::connect(player_.View(), &VideoView::frameArrived, [this] {
            ++framesDelivered_;
            if (!delivered_) {
                delivered_ = true;
                deliveredAt_ = Clock::now();
            }
        });
        // The bars keep their own height below the picture.
        const int bars = player_.Bar()->sizeHint().height() + player_.StatusLine()->sizeHint().height();
        player_.resize(view.width(), view.height() + bars);
        player_.show();
        WaitFor([this] { return watch_.Paints() > 0; });
    }

    TGKitMSPlay& Player() { return player_; }
    PaintWatch& Watch() { return watch_; }

    // Forgets what the previous source reported, before the next one is opened.
    void Reset()
    {
        playing_ = ended_ = failed_ = delivered_ = false;
        framesDelivered_ = 0;
    }
    bool Playing() const { return playing_; }
    bool Ended() const { return ended_; }
    bool Failed() const { return failed_; }
    Clock::time_point DeliveredAt() const { return deliveredAt_; }
    int FramesDelivered() const { return framesDelivered_; }

    // Closes the source and lets the view show black, so the next open starts from
    // nothing, as the bare pipeline does.
    void Close()
    {
        player_.SetFileName(std::string());
        WaitFor([this] { return player_.View()->Frame().isNull(); });
        QCoreApplication::processEvents();
    }

private:
    TGKitMSPlay player_;
    PaintWatch watch_;
    bool playing_ = false;
    bool ended_ = false;
    bool failed_ = false;
    bool delivered_ = false;
    int framesDelivered_ = 0;
    Clock::time_point deliveredAt_{};
};

struct OurFirstFrame {
    bool ok = false;
    double totalMs = 0;     // FileName set -> frame painted
    double setterMs = 0;    // FileName set -> the setter returned (opened, prerolled)
    double deliveredMs = 0; // FileName set -> the frame reached the GUI thread
};

OurFirstFrame MeasureOurs(ShownPlayer& host, const std::string& file)
{
    OurFirstFrame m;
    host.Reset();
    host.Watch().Arm();
    const auto start = Clock::now();
    host.Player().SetFileName(file);
    const auto returned = Clock::now();
    m.ok = WaitFor([&host] { return host.Watch().Done() || host.Failed(); }) && host.Watch().Done();
    if (m.ok) {
        m.totalMs = MsBetween(start, host.Watch().PaintedAt());
        m.setterMs = MsBetween(start, returned);
        m.deliveredMs = MsBetween(start, host.DeliveredAt());
    }
    host.Close();
    return m;
}

std::string UriOf(const std::string& file)
{
    std::unique_ptr<gchar, gsth::GFreeDeleter> uri(gst_filename_to_uri(file.c_str(), nullptr));
    return uri ? std::string(uri.get()) : std::string();
}

} // namespace

int FirstFrameProbe(const std::string& file, int runs)
{
    ShownPlayer host;
    BareFirstFrame bare(UriOf(file));
    BareFirstFrame bareWithSound(UriOf(file), true);
    if (!bare.Valid() || !bareWithSound.Valid()) {
        std::fprintf(stderr, "the bare pipeline could not be built\n");
        return 2;
    }
    std::printf("view %d %d\n", host.Player().View()->width(), host.Player().View()->height());

    // The first open of a process loads the plugins; neither side is timed for it.
    if (!MeasureOurs(host, file).ok || bare.MeasureMs() < 0 || bareWithSound.MeasureMs() < 0) {
        std::fprintf(stderr, "no first frame from %s\n", file.c_str());
        return 2;
    }
    for (int i = 0; i < runs; ++i) {
        // Alternate which side goes first, so neither always finds the caches warmer.
        OurFirstFrame ours;
        double floor = -1;
        if (i % 2 == 0) {
            ours = MeasureOurs(host, file);
            floor = bare.MeasureMs();
        } else {
            floor = bare.MeasureMs();
            ours = MeasureOurs(host, file);
        }
        if (!ours.ok || floor < 0) {
            std::fprintf(stderr, "no first frame from %s in run %d\n", file.c_str(), i + 1);
            return 2;
        }
        // Not part of the comparison: shows what choosing a sound output costs.
        const double withSound = bareWithSound.MeasureMs();
        std::printf("ours_ms %.3f\nours_setter_ms %.3f\nours_delivered_ms %.3f\nfloor_ms %.3f\n"
                    "floor_sound_ms %.3f\n",
                    ours.totalMs, ours.setterMs, ours.deliveredMs, floor, withSound);
        std::fflush(stdout);
    }
    return 0;
}

int PlayThroughProbe(const std::string& file, QSize view)
{
    ShownPlayer host(view);
    host.Reset();
    const double cpuBefore = CpuSecondsOfSelf();
    const auto start = Clock::now();
    host.Player().SetFileName(file);
    // A longer medium gets a longer guard.
    const int guardMs = kHangGuardMs + 3 * std::max(0, int(host.Player().DurationMs()));
    const bool ended = WaitFor([&host] { return host.Ended() || host.Failed(); }, guardMs) && host.Ended();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSecondsOfSelf() - cpuBefore;
    if (!ended) {
        std::fprintf(stderr, "%s did not play to its end (%s)\n", file.c_str(), qPrintable(host.Player().ErrorText()));
        return 2;
    }
    std::printf("play_cpu_s %.4f\nplay_wall_s %.4f\nframes_delivered %d\nframes_painted %d\nframes_put %d\n"
                "frames_alive_most %d\n",
                cpu, wall, host.FramesDelivered(), host.Watch().FramePaints(), host.Player().View()->FramesPut(),
                SharedFramesAliveMost());
    return 0;
}

int ReopenProbe(const std::string& file, int opens)
{
    ShownPlayer host;
    for (int i = 1; i <= opens; ++i) {
        host.Reset();
        host.Watch().Arm();
        host.Player().SetFileName(file);
        const bool shown =
            WaitFor([&host] { return (host.Watch().Done() && host.Playing()) || host.Failed(); }) && !host.Failed();
        if (!shown) {
            std::fprintf(stderr, "open %d of %s showed no playing frame\n", i, file.c_str());
            return 2;
        }
        std::printf("rss_kb %d %ld\n", i, ResidentKb());
    }
    return 0;
}

int StillCompareProbe(const std::string& file, const std::string& outDir)
{
    ShownPlayer host;
    host.Reset();
    TGKitMSPlay& player = host.Player();
    player.SetFileName(file);
    if (!WaitFor([&host] { return host.Playing() || host.Failed(); }) || host.Failed())
        return 2;
    player.Pause();
    player.Forward(1);
    QCoreApplication::processEvents();
    // Settled: the frame has the fitted size and the view has painted it.
    const QRect target = player.View()->TargetRect();
    if (!WaitFor([&] { return player.View()->Frame().size() == target.size(); }))
        return 2;
    WaitFor([] { return false; }, 500);
    const QImage after = player.View()->grab(target).toImage().convertToFormat(QImage::Format_RGB32);
    QGuiApplication::clipboard()->clear();
    if (!player.CopyToClipboard(player.GetCurrentPos()))
        return 2;
    // A frame other than Motion JPEG is decoded again whole, and reaches the clipboard
    // when that is done.
    QImage full;
    if (!WaitFor([&full] { return !(full = QGuiApplication::clipboard()->image()).isNull(); }))
        return 2;
    const QImage before = full.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_RGB32);
    if (!after.save(QString::fromStdString(outDir + "/after.png")) ||
        !before.save(QString::fromStdString(outDir + "/before.png")))
        return 2;
    double squared = 0;
    for (int y = 0; y < after.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(after.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(before.constScanLine(y));
        for (int x = 0; x < after.width(); ++x) {
            for (int shift : {0, 8, 16}) {
                const int d = int((a[x] >> shift) & 0xff) - int((b[x] >> shift) & 0xff);
                squared += d * d;
            }
        }
    }
    const double mse = squared / (3.0 * after.width() * after.height());
    std::printf("shown %d %d\npsnr_db %.2f\n", target.width(), target.height(),
                mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.0);
    return 0;
}

} // namespace kino::bench
