// On X11 a playing picture goes from shared memory straight into the view's own
// window. What the X server shows must be the frame the view holds: in the right
// place, in the right colours, and still once playback has paused and the window has
// been uncovered.
#include <QScreen>
#include <QTest>

#include "player/TGKitMSPlay.h"
#include "player/VideoView.h"
#include "support/TestMain.h"

using kino::TGKitMSPlay;

namespace {
constexpr int kPlayTimeout = 20000;

// The view's pixels as the X server holds them.
QImage OnScreen(QWidget* view, const QRect& rect)
{
    return view->screen()
        ->grabWindow(view->winId(), rect.x(), rect.y(), rect.width(), rect.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}
} // namespace

class ScreenPutTest : public QObject {
    Q_OBJECT

private slots:
    void theScreenShowsTheFrameHeld_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("viewStyle");
        QTest::addColumn<QRect>("sourceRect");
        QTest::addColumn<bool>("uncover");
        QTest::newRow("fitted to the view") << "big.mpg" << 1 << QRect() << false;
        QTest::newRow("fitted, then covered and uncovered") << "big.mpg" << 1 << QRect() << true;
        QTest::newRow("a rectangle off the corner") << "big.mpg" << 1 << QRect(320, 180, 640, 360) << false;
        QTest::newRow("own size, centred") << "clip.avi" << 0 << QRect() << true;
    }
    void theScreenShowsTheFrameHeld()
    {
        QFETCH(QString, file);
        QFETCH(int, viewStyle);
        QFETCH(QRect, sourceRect);
        QFETCH(bool, uncover);
        TGKitMSPlay player;
        player.SetControlBar(kino::kFalse);
        player.SetStatusBar(kino::kFalse);
        player.SetViewStyle(viewStyle);
        player.resize(401, 301);
        player.show();
        QVERIFY(QTest::qWaitForWindowExposed(&player));
        int status = 0;
        connect(&player, &TGKitMSPlay::statusNotified, this, [&status](std::int16_t s, std::int32_t) { status = s; });
        player.SetFileName(Fixture(file.toStdString()));
        QTRY_VERIFY_WITH_TIMEOUT(status == TGKitMSPlay::Playing, kPlayTimeout);
        if (!sourceRect.isNull())
            player.SetSourceRect(sourceRect.x(), sourceRect.y(), sourceRect.width(), sourceRect.height());
        kino::VideoView* view = player.View();
        // Frames went straight to the window (the clip may end first: its last frame stays).
        QTRY_VERIFY_WITH_TIMEOUT(view->FramesPut() > 5 || status == TGKitMSPlay::Ended, kPlayTimeout);
        QVERIFY(view->FramesPut() > 0);
        if (status == TGKitMSPlay::Playing)
            player.Pause();
        QTRY_VERIFY_WITH_TIMEOUT(status != TGKitMSPlay::Playing, kPlayTimeout);
        const QRect target = view->TargetRect();
        // What the view paints of the frame it holds.
        const auto painted = [view, target] {
            return view->grab(target).toImage().convertToFormat(QImage::Format_RGB32);
        };
        QTRY_COMPARE_WITH_TIMEOUT(OnScreen(view, target), painted(), kPlayTimeout);
        if (!uncover)
            return;
        // A window over the picture and gone again: the server asks for the picture
        // anew, and what the view then shows is still the frame held.
        QWidget cover(nullptr, Qt::Tool | Qt::FramelessWindowHint);
        cover.setGeometry(QRect(view->mapToGlobal(QPoint(0, 0)), view->size()));
        cover.setStyleSheet(QStringLiteral("background: magenta"));
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        cover.hide();
        QTRY_COMPARE_WITH_TIMEOUT(OnScreen(view, target), painted(), kPlayTimeout);
    }
};

KINO_TEST_MAIN_WITH_MEDIA(ScreenPutTest)
#include "test_screenput.moc"
