// KINOLITE: a small media player for AVI, MPEG, WAVE and MIDI files and media URLs.
// The program itself, loaded by its launcher (main.cpp), which says why.
#include <QDBusConnection>
#include <QIcon>
#include <QTimer>

#include <exception>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/InfoWindow1.h"
#include "app/KinoApplication.h"
#include "app/MovieWindow1.h"
#include "app/Mpris.h"
#include "player/TGKitMSPlay.h"
#include "player/VideoView.h"
#include "player/engine/MediaFramework.h"
#include "player/engine/StartupTrace.h"
#include "region/CutWindow1.h"

extern "C" __attribute__((visibility("default"))) int kinolite_main(int argc, char** argv)
{
    // Arguments are paths taken byte for byte, before Qt sees them.
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);

    kino::MarkStartup("main");
    // The media framework starts, and the first file opens, while the window is built;
    // its picture will be shown within the window's client area as designed.
    const QSize area = kino::TMovieForm1::DesignClientSize();
    kino::StartMediaEngine(args.empty() ? std::string() : args.front(), area.width(), area.height());
    kino::ChoosePlatform();
    kino::TKinoApplication app(argc, argv);
    kino::MarkStartup("application");
    // The desktop entry the session matches the windows with.
    QGuiApplication::setDesktopFileName(QStringLiteral("kinolite"));
    // The session bus is connected while the window is built: the toolkit's
    // accessibility bridge asks for it at the first widget that changes (the volume
    // slider) and waits for the connection, or without a bus for the failed attempt to
    // start one. Joined before the application goes.
    struct Joined {
        std::thread thread;
        ~Joined() { thread.join(); }
    } busConnection{std::thread([] { QDBusConnection::sessionBus(); })};
    int code = 0;
    try {
        kino::InitMediaEngine();
        kino::MarkStartup("media framework");
        kino::TMovieForm1 movieForm;
        kino::MarkStartup("main window built");
        const bool hasSource = !args.empty();
        movieForm.SetArguments(std::move(args));
        // Owned by the main window, as a child.
        movieForm.SetAboutWindow([&movieForm] { return new kino::TInfoForm1(&movieForm); });
        kino::TCutForm1 cutForm(&movieForm);
        movieForm.AttachNavigator(&cutForm);
        // What the first picture need not wait for is done once that picture is on the
        // screen, or once the first source has been heard of when it has no picture, or a
        // moment after the window appeared (at once without a source): the windows' icon
        // (its pictures are read, and the image readers loaded, to be sent to the window
        // manager) and the desktop's media service (the session bus). Done while the
        // picture is still being decoded, it would take the processor from the decoder.
        const auto finishStartUp = [&movieForm] {
            static bool finished = false;
            if (std::exchange(finished, true))
                return;
            QIcon icon;
            for (int n : {16, 32, 48, 64, 128, 256})
                icon.addFile(QStringLiteral(":/icons/%1x%1/apps/kinolite.png").arg(n), QSize(n, n));
            QGuiApplication::setWindowIcon(icon);
            kino::StartMpris(&movieForm);
            kino::MarkStartup("media service");
        };
        kino::TGKitMSPlay* player = movieForm.Player();
        // Queued: the frame is shown from within a paint, which is let finish first.
        QObject::connect(player->View(), &kino::VideoView::firstFrameShown, &movieForm, finishStartUp,
                         Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
        QObject::connect(player, &kino::TGKitMSPlay::statusNotified, &movieForm, [finishStartUp, player] {
            if (player->MovieWidth() <= 0)
                QTimer::singleShot(0, finishStartUp);
        });
        QTimer::singleShot(hasSource ? 1000 : 0, &movieForm, finishStartUp);
        movieForm.show();
        kino::MarkStartup("main window shown");
        code = app.exec();
    } catch (const std::exception& e) {
        kino::TKinoApplication::ShowException(QString::fromUtf8(e.what()));
        code = 1;
    }
    kino::ShutdownMediaEngine();
    return code;
}
