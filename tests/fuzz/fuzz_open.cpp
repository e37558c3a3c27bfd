// Opens one file with the playback control, as a user choosing it would, and reports
// whether the player answered: run by scripts/fuzz.sh in a child process per input,
// so that one crash does not end the run.
//
//   kino_fuzz_open FILE      exit 0: answered (played, ended or refused)
//                            exit 3: no answer within 10 seconds
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

#include "player/TGKitMSPlay.h"
#include "player/engine/MediaFramework.h"

namespace {
constexpr int kAnswerMs = 10000; // what counts as a hang
constexpr int kPlayMs = 500;     // how long a source that plays is let play
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    kino::InitMediaEngine();
    int rc = 0;
    {
        kino::TGKitMSPlay player;
        player.resize(320, 240);
        player.show();
        QElapsedTimer clock;
        clock.start();
        QTimer::singleShot(kAnswerMs, &app, [&] {
            std::printf("no answer after %d ms\n", kAnswerMs);
            rc = 3;
            app.quit();
        });
        player.OnNotify = [&](kino::TGKitMSPlay*, std::int16_t status, std::int32_t detail) {
            std::printf("status %d detail %d after %lld ms\n", status, detail, (long long)clock.elapsed());
            if (status == kino::TGKitMSPlay::Playing)
                QTimer::singleShot(kPlayMs, &app, [&] { app.quit(); });
            else
                app.quit();
        };
        player.SetFileName(argv[1]);
        app.exec();
        player.SetFileName(std::string());
    }
    kino::ShutdownMediaEngine();
    std::fflush(stdout);
    return rc;
}
