// Plays one file to its end with the player's engine, as the window would, and
// reports what a user would see of it: run by scripts/coverage.sh for each file of
// its corpus.
//
//   kino_play_probe FILE [FRAME.png]
//
// Plays it from its start to its end, then from three quarters of its length to its end
// again, then from its last second. Prints one line of key=value pairs: end (yes when the end of the medium was
// reached), state, error, length_ms (the length shown), reached_ms (the furthest
// position played), seek (yes when the seek landed where asked and the end came again),
// width, height, video, audio, frames (pictures delivered). FRAME.png gets the first
// picture at its own size. Frames are asked for at half the picture's size,
// so the scaling path is the one played, as in a window smaller than the picture.
// Exit 0 when it ended, 1 when it failed, 3 when it gave no answer in time.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "player/FrameImage.h"
#include "player/engine/MediaFramework.h"
#include "player/engine/PlayerEngine.h"

namespace {

const char* StateName(kino::PlayerEngine::State state)
{
    using S = kino::PlayerEngine::State;
    switch (state) {
    case S::Closed:
        return "closed";
    case S::Opening:
        return "opening";
    case S::Paused:
        return "paused";
    case S::Playing:
        return "playing";
    case S::Stopped:
        return "stopped";
    case S::Ended:
        return "ended";
    case S::Failed:
        return "failed";
    }
    return "?";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FILE [FRAME.png]\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    kino::InitMediaEngine();
    const QString framePath = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();
    int rc = 3;
    qint64 reachedMs = -1;
    bool seekAsked = false;
    bool seekLanded = false;
    bool seekEnded = false;
    int frames = 0;
    int framesFirst = 0;
    bool frameSaved = framePath.isEmpty();
    {
        kino::PlayerEngine engine;
        // Long enough for the longest file of the corpus played at its own pace.
        const int answerMs = qEnvironmentVariableIntValue("KINO_PROBE_TIMEOUT_MS") > 0
                                 ? qEnvironmentVariableIntValue("KINO_PROBE_TIMEOUT_MS")
                                 : 60000;
        QTimer::singleShot(answerMs, &app, [&] { app.quit(); });
        QObject::connect(&engine, &kino::PlayerEngine::frameReady, &app, [&](const kino::VideoFrame& frame) {
            if (frame.IsNull())
                return;
            ++frames;
            if (!seekAsked) ++framesFirst;
            if (!frameSaved) {
                frameSaved = true;
                const kino::VideoFrame full = engine.FullFrame();
                kino::ImageOf(full.IsNull() ? frame : full).save(framePath);
            }
            const auto& facts = engine.Facts();
            if (facts.width > 1 && facts.height > 1)
                engine.SetFrameSize(QSize(facts.width / 2 & ~1, facts.height / 2 & ~1));
        });
        // The furthest position seen while playing: how much of the medium was played,
        // which the end's own report (the length) does not tell.
        QTimer watch;
        watch.setInterval(20);
        QObject::connect(&watch, &QTimer::timeout, &app, [&] {
            if (engine.CurrentState() == kino::PlayerEngine::State::Playing && !seekAsked)
                reachedMs = std::max(reachedMs, engine.PositionMs());
        });
        watch.start();
        // Each seek is made once the end has come: to three quarters of the length, then
        // into the last second, where a seek must end as the file's end does.
        const auto seekTarget = [&](int seek) {
            const qint64 length = engine.DurationMs();
            return seek == 0 ? length * 3 / 4 : std::max<qint64>(0, length - 400);
        };
        int seeksMade = 0;
        QObject::connect(&engine, &kino::PlayerEngine::stateChanged, &app, [&](kino::PlayerEngine::State state) {
            if (state == kino::PlayerEngine::State::Ended && seeksMade < 2 && engine.DurationMs() > 0) {
                rc = 0;
                seekEnded = seeksMade > 0;
                const qint64 target = seekTarget(seeksMade++);
                seekAsked = true;
                const qint64 slack = std::max<qint64>(250, engine.DurationMs() / 20);
                // Checked once the seek has settled, paused, then played to the end again.
                engine.Pause();
                const bool asked = engine.SeekMs(target);
                QTimer::singleShot(300, &app, [&, target, slack, asked] {
                    seekLanded = (seeksMade == 1 || seekLanded) && asked &&
                                 (std::abs(engine.PositionMs() - target) <= slack ||
                                  engine.CurrentState() == kino::PlayerEngine::State::Ended);
                    engine.Play();
                });
            } else if (state == kino::PlayerEngine::State::Ended) {
                seekEnded = seekAsked;
                rc = 0;
                app.quit();
            } else if (state == kino::PlayerEngine::State::Failed) {
                rc = 1;
                app.quit();
            }
        });
        engine.Open(argv[1]);
        engine.Play();
        if (engine.CurrentState() != kino::PlayerEngine::State::Failed)
            app.exec();
        const auto& facts = engine.Facts();
        std::printf("end=%s state=%s error=%d length_ms=%lld reached_ms=%lld seek=%s width=%d height=%d video=%d "
                    "audio=%d frames=%d first_frames=%d reason=\"%s\"\n",
                    rc == 0 ? "yes" : "no", StateName(engine.CurrentState()), int(engine.FailureCode()),
                    (long long)engine.DurationMs(), (long long)reachedMs, seekLanded && seekEnded ? "yes" : "no",
                    facts.width, facts.height, int(facts.hasVideo), int(facts.hasAudio), frames, framesFirst,
                    engine.FailureText().toUtf8().constData());
    }
    kino::ShutdownMediaEngine();
    std::fflush(stdout);
    return rc;
}
