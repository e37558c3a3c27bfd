// On X11 a playing picture goes from shared memory straight into the view's own
// window. What the X server shows must be the frame the view holds: in the right
// place, in the right colours, and still once playback has paused and the window has
// been uncovered. DISPLAY names another X server, alike in every respect, from the
// start: the frames must still go to the server the toolkit uses, and only there.
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QTest>

#include <gst/video/video.h>
#include <sys/socket.h>

#include "player/ScreenPut.h"
#include "player/TGKitMSPlay.h"
#include "player/VideoView.h"
#include "player/elements/SharedFrames.h"
#include "player/engine/MediaFramework.h"
#include "support/TestMain.h"
#include "support/X11Probe.h"

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

// Frame memory an X server maps, given it for puts.
int FrameMappings(qint64 pid)
{
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    return maps.open(QIODevice::ReadOnly) ? int(maps.readAll().count("kinolite-frame")) : -1;
}

// The toolkit's X server: the other end of its socket.
qint64 ToolkitServer()
{
    ucred peer{};
    socklen_t length = sizeof peer;
    getsockopt(xcb_get_file_descriptor(x11probe::Connection()), SOL_SOCKET, SO_PEERCRED, &peer, &length);
    return peer.pid;
}
} // namespace

class ScreenPutTest : public QObject {
    Q_OBJECT
    QProcess otherServer_;

private slots:
    void initTestCase()
    {
        otherServer_.start(QStringLiteral("Xvfb"), QStringLiteral("-displayfd 1 -screen 0 1280x1024x24").split(' '));
        // It writes its display number once it takes connections.
        QVERIFY(otherServer_.waitForReadyRead(kPlayTimeout));
        qputenv("DISPLAY", ":" + otherServer_.readLine().trimmed());
    }
    void cleanupTestCase()
    {
        otherServer_.terminate();
        otherServer_.waitForFinished();
    }

    // The part asked for lands where asked, from the frame's own memory, with no paint
    // of the widget's to hide a wrong one; also once the widget has moved to another window.
    void putsThePartAskedWhereAsked_data()
    {
        QTest::addColumn<QRect>("from");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<bool>("moveToAnotherWindow");
        QTest::newRow("the whole frame at the corner") << QRect(0, 0, 161, 97) << QPoint(0, 0) << false;
        QTest::newRow("an inner part, placed inside") << QRect(13, 7, 60, 41) << QPoint(25, 30) << false;
        QTest::newRow("after the widget moved to another window") << QRect(13, 7, 60, 41) << QPoint(25, 30) << true;
    }
    void putsThePartAskedWhereAsked()
    {
        QFETCH(QRect, from);
        QFETCH(QPoint, at);
        QFETCH(bool, moveToAnotherWindow);
        kino::InitMediaEngine();
        // A frame in shared memory, as the converter leaves it: odd width, padded lines.
        GstCaps* caps = gst_caps_from_string("video/x-raw,format=BGRx,width=161,height=97");
        GstQuery* query = gst_query_new_allocation(caps, TRUE);
        QVERIFY(kino::OfferSharedFramePool(query));
        GstBufferPool* pool = nullptr;
        gst_query_parse_nth_allocation_pool(query, 0, &pool, nullptr, nullptr, nullptr);
        QVERIFY(gst_buffer_pool_set_active(pool, TRUE));
        GstBuffer* buffer = nullptr;
        QCOMPARE(gst_buffer_pool_acquire_buffer(pool, &buffer, nullptr), GST_FLOW_OK);
        GstVideoInfo info;
        QVERIFY(gst_video_info_from_caps(&info, caps));
        GstVideoFrame mapped;
        QVERIFY(gst_video_frame_map(&mapped, &info, buffer, GST_MAP_READWRITE));
        std::unique_ptr<kino::ScreenPut> put;
        // Let go even when a check fails: the server would map the frame on into the
        // rows that follow.
        const auto release = qScopeGuard([&] {
            put.reset();
            gst_video_frame_unmap(&mapped);
            gst_buffer_unref(buffer);
            gst_buffer_pool_set_active(pool, FALSE);
            gst_object_unref(pool);
            gst_query_unref(query);
            gst_caps_unref(caps);
        });
        QImage frame(static_cast<uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, 0)), 161, 97,
                     GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, 0), QImage::Format_RGB32);
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                frame.setPixel(x, y, qRgb(x * 255 / 160, y * 255 / 96, (x * 7 + y * 3) & 0xff));

        QWidget first;
        QWidget second;
        for (QWidget* top : {&first, &second}) {
            top->setStyleSheet(QStringLiteral("background: black"));
            top->resize(220, 160);
        }
        auto* target = new QWidget(&first);
        target->setGeometry(10, 10, 200, 140);
        first.show();
        QVERIFY(QTest::qWaitForWindowExposed(&first));
        put = kino::ScreenPut::ForWidget(target);
        QVERIFY(put);
        if (moveToAnotherWindow) {
            target->setParent(&second);
            target->setGeometry(10, 10, 200, 140);
            second.show();
            target->show();
            QVERIFY(QTest::qWaitForWindowExposed(&second));
            QTest::qWait(50); // the first paint of the new window, before the put
        }
        const QImage expected = frame.copy(from);
        // Put again while waiting: a window manager's late expose of a fresh window
        // clears it, and nothing here paints it anew as the view would.
        const auto putAndLook = [&] {
            return put->Put(buffer, frame, from, at) ? OnScreen(target, QRect(at, from.size())) : QImage();
        };
        QTRY_COMPARE_WITH_TIMEOUT(putAndLook(), expected, kPlayTimeout);
    }

    void theScreenShowsTheFrameHeld_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("viewStyle");
        QTest::addColumn<QRect>("sourceRect");
        QTest::addColumn<bool>("uncover");
        QTest::newRow("fitted to the view") << "hd.mpg" << 1 << QRect() << false;
        QTest::newRow("fitted, then covered and uncovered") << "hd.mpg" << 1 << QRect() << true;
        QTest::newRow("a rectangle off the corner") << "hd.mpg" << 1 << QRect(320, 180, 640, 360) << false;
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
        QCOMPARE(FrameMappings(otherServer_.processId()), 0);
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

    // Once the view shows no video, the frames last put are let go as soon as the
    // server has read them; once the video is gone too, its memory is freed and the
    // server no longer maps it.
    void letsGoOfFramesOnceVideoStops_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("videoGone");
        QTest::newRow("a sound file follows") << "sound" << true;
        QTest::newRow("the player is closed") << "close" << true;
        QTest::newRow("the view is hidden") << "hide" << false;
        QTest::newRow("the picture ends") << "end" << false;
    }
    void letsGoOfFramesOnceVideoStops()
    {
        QFETCH(QString, how);
        QFETCH(bool, videoGone);
        auto player = std::make_unique<TGKitMSPlay>();
        player->show();
        QVERIFY(QTest::qWaitForWindowExposed(player.get()));
        player->SetFileName(Fixture("hd.mpg"));
        QTRY_VERIFY_WITH_TIMEOUT(player->View()->FramesPut() > 0, kPlayTimeout);
        if (how == "sound")
            player->SetFileName(Fixture("tone.wav"));
        else if (how == "close")
            player.reset();
        else if (how == "hide")
            player->hide();
        else
            QTRY_COMPARE_WITH_TIMEOUT(player->Status(), TGKitMSPlay::Ended, kPlayTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(kino::ScreenPut::FramesHeld(), 0, kPlayTimeout);
        if (videoGone)
            QTRY_COMPARE_WITH_TIMEOUT(FrameMappings(ToolkitServer()), 0, kPlayTimeout);
    }
};

KINO_TEST_MAIN_WITH_MEDIA(ScreenPutTest)
#include "test_screenput.moc"
