// Where the windows land on the screen, as the X server holds their frames: the main
// window opens where it was closed, start after start, and the about window opens
// centred by its frame. Run under a window manager (which frames the windows) and on
// a bare X server.
#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstring>

#include "app/InfoWindow1.h"
#include "app/KinoApplication.h"
#include "app/MovieWindow1.h"
#include "player/engine/MediaFramework.h"
#include "support/X11Probe.h"

namespace {

// The window manager frames a window before it maps it; once the window is exposed
// and, under a manager, framed, its frame lies where the manager put it.
bool Placed(QWidget* w)
{
    if (!QTest::qWaitForWindowExposed(w))
        return false;
    return !x11probe::WindowManagerRunning() || QTest::qWaitFor([w] { return x11probe::IsFramed(w->winId()); });
}

QString Describe(const QRect& r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// One start of the program's main window, in a process of its own as each start of
// the program is: shows the window with the settings file `ini`, prints where its
// frame lies, moves it to `moveTo` when given, and closes it (which saves the position).
int StartOnce(int argc, char** argv, const char* ini, const QPoint* moveTo)
{
    kino::TKinoApplication app(argc, argv);
    kino::InitMediaEngine();
    int rc = 1;
    {
        kino::TMovieForm1 form;
        form.SetSettingsPath(ini);
        form.show();
        if (Placed(&form)) {
            const QPoint at = x11probe::FrameRect(form.winId()).topLeft();
            std::printf("%d %d\n", at.x(), at.y());
            bool moved = true;
            if (moveTo) {
                form.move(*moveTo);
                moved = QTest::qWaitFor([&] { return x11probe::FrameRect(form.winId()).topLeft() == *moveTo; });
            }
            if (moved)
                rc = 0;
        }
        form.close();
    }
    kino::ShutdownMediaEngine();
    std::fflush(stdout);
    return rc;
}

} // namespace

class PlacementTest : public QObject {
    Q_OBJECT

    // Runs one start of the main window and gives the frame's position it printed.
    QPoint Start(const QString& ini, const QPoint* moveTo = nullptr)
    {
        QStringList args{QStringLiteral("--start-once"), ini};
        if (moveTo)
            args << QString::number(moveTo->x()) << QString::number(moveTo->y());
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), args);
        if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
            return QPoint(-99999, -99999);
        const QList<QByteArray> xy = child.readAllStandardOutput().trimmed().split(' ');
        return xy.size() == 2 ? QPoint(xy[0].toInt(), xy[1].toInt()) : QPoint(-99999, -99999);
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsSet("KINO_WM"))
            QTRY_VERIFY_WITH_TIMEOUT(x11probe::WindowManagerRunning(), 30000);
    }

    void mainWindowOpensWhereItWasClosed_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<bool>("moved");
        QTest::addColumn<QPoint>("at");
        QTest::newRow("saved by an earlier start")
            << QByteArray("[SET0]\nM_TOP=300\nM_LEFT=500\n") << false << QPoint(500, 300);
        QTest::newRow("moved by the user") << QByteArray() << true << QPoint(260, 170);
    }
    void mainWindowOpensWhereItWasClosed()
    {
        QFETCH(QByteArray, settings);
        QFETCH(bool, moved);
        QFETCH(QPoint, at);
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("KINOLITE.ini"));
        QFile file(ini);
        if (!settings.isEmpty()) {
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(settings);
            file.close();
        }
        const QPoint first = Start(ini, moved ? &at : nullptr);
        if (!moved)
            QCOMPARE(first, at);
        for (int start = 2; start <= 4; ++start)
            QCOMPARE(Start(ini), at);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray saved = file.readAll();
        QVERIFY2(saved.contains("M_TOP=" + QByteArray::number(at.y())) &&
                     saved.contains("M_LEFT=" + QByteArray::number(at.x())),
                 saved.constData());
    }

    void aboutWindowOpensCentredByItsFrame_data()
    {
        QTest::addColumn<bool>("ownerShown");
        QTest::addColumn<QPoint>("ownerAt");
        QTest::newRow("owner at top left") << true << QPoint(0, 0);
        QTest::newRow("owner near bottom right") << true << QPoint(900, 700);
        QTest::newRow("owner hidden") << false << QPoint(40, 40);
    }
    void aboutWindowOpensCentredByItsFrame()
    {
        QFETCH(bool, ownerShown);
        QFETCH(QPoint, ownerAt);
        kino::TMovieForm1 owner;
        owner.SetSettingsPath(QDir::temp().filePath(QStringLiteral("kinolite-placement-test.ini")).toStdString());
        if (ownerShown) {
            owner.show();
            owner.move(ownerAt);
            QVERIFY(Placed(&owner));
        }
        kino::TInfoForm1 about(&owner);
        const QPoint centre = owner.screen()->availableGeometry().center();
        auto centred = [&] {
            const QPoint c = x11probe::FrameRect(about.winId()).center();
            return qAbs(c.x() - centre.x()) <= 1 && qAbs(c.y() - centre.y()) <= 1;
        };
        // The first showing and a later one: each is centred once the window is placed.
        for (int round = 1; round <= 2; ++round) {
            bool ok = false;
            QRect seen;
            QTimer::singleShot(0, &about, [&] {
                ok = Placed(&about) && QTest::qWaitFor(centred);
                seen = x11probe::FrameRect(about.winId());
                about.closeButton->click();
            });
            about.ShowModal();
            QVERIFY2(ok, qPrintable(QStringLiteral("showing %1: frame at %2, screen centre %3,%4")
                                        .arg(round)
                                        .arg(Describe(seen))
                                        .arg(centre.x())
                                        .arg(centre.y())));
        }
        owner.close();
        QFile::remove(QString::fromStdString(owner.SettingsPath()));
    }
};

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--start-once") == 0) {
        QPoint moveTo;
        const bool move = argc >= 5;
        if (move)
            moveTo = QPoint(std::atoi(argv[3]), std::atoi(argv[4]));
        int qtArgc = 1;
        return StartOnce(qtArgc, argv, argv[2], move ? &moveTo : nullptr);
    }
    kino::TKinoApplication app(argc, argv);
    kino::InitMediaEngine();
    int rc = 0;
    {
        PlacementTest test;
        rc = QTest::qExec(&test, argc, argv);
    }
    kino::ShutdownMediaEngine();
    return rc;
}

#include "test_placement.moc"
