// The playback control, playing the real fixtures.
#include <QBuffer>
#include <QClipboard>
#include <QElapsedTimer>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QThread>
#include <QToolButton>

#include <gst/allocators/gstfdmemory.h>
#include <gst/video/video.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "player/PlayerBars.h"
#include "player/TGKitMSPlay.h"
#include "player/VideoView.h"
#include "player/elements/GstHandles.h"
#include "player/elements/SharedFrames.h"
#include "player/engine/MediaFramework.h"
#include "support/PictureDifference.h"
#include "support/TestHttpServer.h"
#include "support/TestMain.h"

using kino::TGKitMSPlay;

namespace {
constexpr int kPlayTimeout = 20000; // a 2-second clip, with room for a slow sanitizer run

// Every picture of `path` as ffmpeg decodes it, at `size`.
QList<QImage> FfmpegPictures(const QString& path, QSize size)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-v", "error", "-i", path, "-an", "-vf",
                                            QStringLiteral("scale=%1:%2").arg(size.width()).arg(size.height()), "-f",
                                            "rawvideo", "-pix_fmt", "bgra", "-"});
    ffmpeg.waitForFinished(120000);
    const QByteArray raw = ffmpeg.readAllStandardOutput();
    const qsizetype bytes = qsizetype(size.width()) * size.height() * 4;
    QList<QImage> pictures;
    for (qsizetype at = 0; at + bytes <= raw.size(); at += bytes)
        pictures.append(QImage(reinterpret_cast<const uchar*>(raw.constData() + at), size.width(), size.height(),
                               QImage::Format_RGB32)
                            .copy());
    return pictures;
}

// The mean difference of two pictures, 0 to 255, seen at the smaller one's size.
double MeanDifference(const QImage& a, const QImage& b)
{
    return MeanDifference(a, b, a.width() <= b.width() ? a.size() : b.size());
}
} // namespace

class PlayerTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TGKitMSPlay> player;
    std::vector<std::pair<int, int>> notes; // (status, detail) as delivered

    bool Saw(int status) const
    {
        for (auto& n : notes)
            if (n.first == status)
                return true;
        return false;
    }
    int LastStatus() const { return notes.empty() ? 0 : notes.back().first; }

    void OpenAndWaitPlaying(const std::string& path)
    {
        player->SetFileName(path);
        QTRY_VERIFY_WITH_TIMEOUT(LastStatus() == TGKitMSPlay::Playing, kPlayTimeout);
    }

    // The picture alone in a 400 x 300 view, without the bars.
    void OpenInBareView(const QString& file, int viewStyle)
    {
        player->SetControlBar(kino::kFalse);
        player->SetStatusBar(kino::kFalse);
        player->resize(400, 300);
        QTRY_COMPARE(player->View()->size(), QSize(400, 300));
        player->SetViewStyle(viewStyle);
        player->SetFileName(Fixture(file.toStdString()));
    }

private slots:
    // The sink offers raw video frames in memory the display server can be given: fd
    // memory, large enough for the frame, holding what was written into it.
    void sharedFramePoolServesRawVideo_data()
    {
        QTest::addColumn<QString>("caps");
        QTest::addColumn<bool>("offered");
        QTest::newRow("BGRx at the shown size") << "video/x-raw,format=BGRx,width=533,height=300" << true;
        QTest::newRow("planar, odd size") << "video/x-raw,format=I420,width=1281,height=721" << true;
        QTest::newRow("sound") << "audio/x-raw,format=S16LE,rate=44100,channels=2,layout=interleaved" << false;
        QTest::newRow("video without a size") << "video/x-raw,format=BGRx" << false;
    }
    void sharedFramePoolServesRawVideo()
    {
        QFETCH(QString, caps);
        QFETCH(bool, offered);
        kino::InitMediaEngine();
        GstCaps* parsed = gst_caps_from_string(caps.toUtf8().constData());
        QVERIFY(parsed);
        GstQuery* query = gst_query_new_allocation(parsed, TRUE);
        const bool answered = kino::OfferSharedFramePool(query);
        QCOMPARE(answered, offered);
        if (!offered) {
            QCOMPARE(gst_query_get_n_allocation_pools(query), 0u);
        } else {
            GstBufferPool* pool = nullptr;
            guint size = 0;
            QCOMPARE(gst_query_get_n_allocation_pools(query), 1u);
            guint most = 0;
            gst_query_parse_nth_allocation_pool(query, 0, &pool, &size, nullptr, &most);
            QVERIFY(most > 0 && most <= 4); // frame memory is bounded, whatever the view's size
            GstVideoInfo info;
            QVERIFY(gst_video_info_from_caps(&info, parsed));
            QVERIFY(pool && gst_buffer_pool_set_active(pool, TRUE));
            GstBuffer* buffer = nullptr;
            QCOMPARE(gst_buffer_pool_acquire_buffer(pool, &buffer, nullptr), GST_FLOW_OK);
            GstMemory* mem = gst_buffer_peek_memory(buffer, 0);
            QVERIFY(gst_is_fd_memory(mem) && mem->allocator == kino::SharedFrameAllocator());
            QVERIFY(gst_buffer_get_size(buffer) >= info.size);
            GstVideoFrame frame;
            QVERIFY(gst_video_frame_map(&frame, &info, buffer, GST_MAP_WRITE));
            auto* last = static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) +
                         (GST_VIDEO_FRAME_HEIGHT(&frame) - 1) * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
            last[0] = 0x5a;
            gst_video_frame_unmap(&frame);
            QVERIFY(gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ));
            last = static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) +
                   (GST_VIDEO_FRAME_HEIGHT(&frame) - 1) * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
            QCOMPARE(int(last[0]), 0x5a);
            gst_video_frame_unmap(&frame);
            gst_buffer_unref(buffer);
            gst_buffer_pool_set_active(pool, FALSE);
            gst_object_unref(pool);
        }
        gst_query_unref(query);
        gst_caps_unref(parsed);
    }

    // A seek while the sink holds every frame of the bounded pool: the flush reaches the
    // converter waiting for a free frame, and the seek returns before any is let go.
    void flushWakesAWriterWaitingForAFreeFrame()
    {
        kino::InitMediaEngine();
        GstElement* pipeline = gst_parse_launch("videotestsrc ! video/x-raw,format=I420,width=64,height=48 ! queue ! "
                                                "videoconvert ! video/x-raw,format=BGRx ! "
                                                "fakesink name=sink signal-handoffs=true sync=false",
                                                nullptr);
        GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
        kino::ServeSharedFrames(kino::gsth::Pad::Adopt(gst_element_get_static_pad(sink, "sink")).get());
        struct Held {
            QMutex mutex;
            std::vector<kino::gsth::Buffer> frames;
            bool keep = true;
            size_t Count()
            {
                QMutexLocker lock(&mutex);
                return frames.size();
            }
        } held;
        g_signal_connect(sink, "handoff", G_CALLBACK(+[](GstElement*, GstBuffer* frame, GstPad*, Held* h) {
                             QMutexLocker lock(&h->mutex);
                             if (h->keep)
                                 h->frames.push_back(kino::gsth::Buffer::Ref(frame));
                         }),
                         &held);
        gst_element_set_state(pipeline, GST_STATE_PLAYING);
        QTRY_VERIFY_WITH_TIMEOUT(held.Count() >= 4, kPlayTimeout);
        QTest::qWait(100); // the converter waits now: nothing more comes
        const size_t whenFull = held.Count();
        std::atomic<bool> sought{false};
        std::thread seeker([&] { sought = gst_element_seek_simple(pipeline, GST_FORMAT_TIME, GST_SEEK_FLAG_FLUSH, 0); });
        const bool soughtWhileHeld = QTest::qWaitFor([&] { return sought.load(); }, kPlayTimeout);
        held.mutex.lock();
        held.frames.clear();
        held.mutex.unlock();
        seeker.join();
        QTRY_VERIFY_WITH_TIMEOUT(held.Count() >= 1, kPlayTimeout); // frames flow again after the flush
        held.mutex.lock();
        held.keep = false;
        held.frames.clear();
        held.mutex.unlock();
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(sink);
        gst_object_unref(pipeline);
        QCOMPARE(whenFull, size_t(4));
        QVERIFY(soughtWhileHeld);
    }

    void init()
    {
        notes.clear();
        player = std::make_unique<TGKitMSPlay>();
        player->resize(400, 360);
        player->show();
        player->OnNotify = [this](TGKitMSPlay* sender, std::int16_t status, std::int32_t detail) {
            QCOMPARE(sender, player.get());
            notes.emplace_back(status, detail);
        };
        QVERIFY(QTest::qWaitForWindowExposed(player.get()));
    }

    void cleanup() { player.reset(); }

    void eachKindOpensWithItsFactsAndPlaysToItsEnd_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("avi") << "clip.avi" << 301 << 320 << 240;
        QTest::newRow("mpeg") << "clip.mpg" << 302 << 352 << 240;
        QTest::newRow("wave") << "tone.wav" << 201 << 0 << 0;
        QTest::newRow("midi") << "song.mid" << 201 << 0 << 0;
        QTest::newRow("name not UTF-8") << QString::fromLatin1("\x83\x65\x83\x58\x83\x67.avi") << 301 << 320 << 240;
    }
    void eachKindOpensWithItsFactsAndPlaysToItsEnd()
    {
        QFETCH(QString, file);
        QFETCH(int, format);
        QFETCH(int, width);
        QFETCH(int, height);
        // Latin-1 here stands for raw bytes: the non-UTF-8 name reaches the player intact.
        const std::string path =
            qEnvironmentVariable("KINO_FIXTURES").toStdString() + "/" + file.toLatin1().toStdString();

        QSignalSpy firstShown(player->View(), &kino::VideoView::firstFrameShown);
        player->SetFileName(path);
        // The facts are there as soon as the setter returns; the news comes later.
        QCOMPARE(player->MediaFormat(), format);
        QCOMPARE(int(player->MovieWidth()), width);
        QCOMPARE(int(player->MovieHeight()), height);
        QVERIFY(notes.empty());

        QTRY_VERIFY_WITH_TIMEOUT(Saw(TGKitMSPlay::Playing), kPlayTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(LastStatus(), TGKitMSPlay::Ended, kPlayTimeout);
        QCOMPARE(notes.back().second, 0);
        QVERIFY(player->GetCurrentPos() >= player->DurationMs() - 150);
        QCOMPARE(player->StatusLine()->StateText(), QStringLiteral("終了"));
        QCOMPARE(firstShown.count(), width > 0 ? 1 : 0);
    }

    void mpegPlaysFromAnHttpUrl_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("as it is") << "/clip.mpg";
        QTest::newRow("moved by the server") << "/moved/clip.mpg";
    }
    void mpegPlaysFromAnHttpUrl()
    {
        QFETCH(QString, path);
        TestHttpServer server(TestHttpServer::Mode::Serve, Fixture("clip.mpg"));
        player->SetFileName(server.Url(path.toStdString()));
        QTRY_VERIFY_WITH_TIMEOUT(Saw(TGKitMSPlay::Playing), kPlayTimeout);
        QCOMPARE(player->MediaFormat(), 302);
        QCOMPARE(int(player->MovieWidth()), 352);
        QTRY_COMPARE_WITH_TIMEOUT(LastStatus(), TGKitMSPlay::Ended, kPlayTimeout);
    }

    // A camera's stream of pictures (multipart/x-mixed-replace): shown as the pictures
    // come; when they stop coming, the network reason within the network wait.
    void cameraStreamShowsPicturesUntilItStops_data()
    {
        QTest::addColumn<int>("pictures"); // sent before the camera goes silent; 0: no end
        QTest::newRow("streaming") << 0;
        QTest::newRow("goes silent") << 4;
    }
    void cameraStreamShowsPicturesUntilItStops()
    {
        QFETCH(int, pictures);
        std::vector<std::string> jpegs;
        for (QColor colour : {QColor(Qt::red), QColor(Qt::blue)}) {
            QImage picture(160, 120, QImage::Format_RGB32);
            picture.fill(colour);
            QByteArray bytes;
            QBuffer out(&bytes);
            QVERIFY(out.open(QIODevice::WriteOnly) && picture.save(&out, "JPEG"));
            jpegs.push_back(bytes.toStdString());
        }
        TestHttpServer camera(TestHttpServer::Mode::Camera);
        camera.SetPictures(jpegs, pictures);
        player->SetNetworkTimeoutMs(2000);
        player->SetFileName(camera.Url("/video.mjpg"));
        QTRY_VERIFY_WITH_TIMEOUT(Saw(TGKitMSPlay::Playing), kPlayTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(!player->View()->Frame().isNull(), kPlayTimeout);
        QCOMPARE(player->MediaFormat(), 302);
        QCOMPARE(int(player->MovieWidth()), 160);
        if (pictures == 0) {
            // Both colours come in turn: the pictures are shown as they arrive.
            QTRY_VERIFY_WITH_TIMEOUT(qBlue(player->View()->Frame().pixel(80, 60)) > 200, kPlayTimeout);
            QTRY_VERIFY_WITH_TIMEOUT(qRed(player->View()->Frame().pixel(80, 60)) > 200, kPlayTimeout);
            QCOMPARE(LastStatus(), TGKitMSPlay::Playing);
        } else {
            // Well inside the 15 s a stalled connection is otherwise given.
            QTRY_VERIFY_WITH_TIMEOUT(LastStatus() == TGKitMSPlay::Stopped, 10000);
            QCOMPARE(notes.back().second, 5);
        }
    }

    void badSourceReportsStoppedWithReasonAndNextSourceStillPlays_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("detail");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing file") << "missing" << 1 << "ファイルが見つかりません";
        QTest::newRow("random bytes") << "random" << 2 << "この形式は再生できません";
        QTest::newRow("truncated avi") << "truncated" << 3 << "データが壊れているため再生できません";
        QTest::newRow("unknown scheme") << "scheme" << 2 << "この形式は再生できません";
        QTest::newRow("closed port") << "closed" << 5 << "接続先から読み込めません";
        QTest::newRow("unknown host") << "host" << 5 << "接続先から読み込めません";
        QTest::newRow("server silent") << "silent" << 4 << "接続先から応答がありません";
        QTest::newRow("garbage over http") << "garbage" << 2 << "この形式は再生できません";
        QTest::newRow("camera sending text") << "text" << 2 << "この形式は再生できません";
    }
    void badSourceReportsStoppedWithReasonAndNextSourceStillPlays()
    {
        QFETCH(QString, kind);
        QFETCH(int, detail);
        QFETCH(QString, reason);
        std::unique_ptr<TestHttpServer> silent;
        std::string source;
        if (kind == "missing")
            source = Fixture("no-such-file.avi");
        else if (kind == "random")
            source = Fixture("random.avi");
        else if (kind == "truncated")
            source = Fixture("truncated.avi");
        else if (kind == "scheme")
            source = "nosuchscheme://host/clip.avi";
        else if (kind == "host")
            source = "http://no-such-host.invalid/clip.mpg";
        else if (kind == "closed")
            source = "http://127.0.0.1:" + std::to_string(TestHttpServer::ClosedPort()) + "/clip.mpg";
        else if (kind == "garbage") {
            silent = std::make_unique<TestHttpServer>(TestHttpServer::Mode::Serve, Fixture("random.avi"));
            source = silent->Url("/random.avi");
        } else if (kind == "text") {
            silent = std::make_unique<TestHttpServer>(TestHttpServer::Mode::Camera);
            silent->SetPictures({"no picture, only words"}, 0);
            silent->SetPartType("text/plain");
            source = silent->Url("/video.mjpg");
        } else {
            silent = std::make_unique<TestHttpServer>(TestHttpServer::Mode::Silent);
            source = silent->Url("/clip.mpg");
            player->SetNetworkTimeoutMs(1500);
        }

        // A picture on screen first: a refused source must not leave it standing.
        OpenAndWaitPlaying(Fixture("clip.avi"));
        QTRY_VERIFY_WITH_TIMEOUT(!player->View()->Frame().isNull(), kPlayTimeout);
        notes.clear();

        QElapsedTimer blocked;
        blocked.start();
        player->SetFileName(source);
        // The window is never held for long, whatever the source does: a network source
        // is still connecting when the setter returns.
        QVERIFY2(blocked.elapsed() < 5000, qPrintable(QString::number(blocked.elapsed())));
        if (source.rfind("http:", 0) == 0)
            QCOMPARE(player->StatusLine()->StateText(), QStringLiteral("接続中..."));

        QTRY_VERIFY_WITH_TIMEOUT(!notes.empty() && notes.back().first == 2, kPlayTimeout);
        // A file cut inside its headers is refused either by the type finder or by the
        // demuxer, whichever speaks first.
        const int got = notes.back().second;
        if (kind == "truncated" && got == 2)
            reason = QStringLiteral("この形式は再生できません");
        else
            QCOMPARE(got, detail);
        QVERIFY(!Saw(TGKitMSPlay::Playing));
        QVERIFY(player->View()->Frame().isNull());
        QCOMPARE(player->MediaFormat(), 0);
        QCOMPARE(player->StatusLine()->StateText(), QStringLiteral("エラー: ") + reason);

        notes.clear();
        player->SetFileName(Fixture("clip.avi"));
        QCOMPARE(player->MediaFormat(), 301);
        QTRY_COMPARE_WITH_TIMEOUT(LastStatus(), TGKitMSPlay::Playing, kPlayTimeout);
        QCOMPARE(player->StatusLine()->StateText(), QStringLiteral("再生中"));
    }

    // Pause or Stop asked for while a slow network source is still opening is carried
    // out once it has opened.
    void requestWhileOpeningIsCarriedOutOnceOpen_data()
    {
        QTest::addColumn<bool>("stop");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("stateText");
        QTest::newRow("pause") << false << int(TGKitMSPlay::Paused) << "一時停止";
        QTest::newRow("stop") << true << int(TGKitMSPlay::Stopped) << "停止";
    }
    void requestWhileOpeningIsCarriedOutOnceOpen()
    {
        QFETCH(bool, stop);
        QFETCH(int, status);
        QFETCH(QString, stateText);
        TestHttpServer server(TestHttpServer::Mode::Serve, Fixture("clip.mpg"));
        server.SetHeld(true);
        player->SetFileName(server.Url("/clip.mpg"));
        QCOMPARE(player->StatusLine()->StateText(), QStringLiteral("接続中..."));
        QVERIFY(stop ? player->Stop() : player->Pause());
        server.SetHeld(false);
        QTRY_COMPARE_WITH_TIMEOUT(LastStatus(), status, kPlayTimeout);
        QVERIFY(!Saw(TGKitMSPlay::Playing));
        QCOMPARE(player->MediaFormat(), 302);
        QCOMPARE(player->StatusLine()->StateText(), stateText);
        // Not running behind the status shown: a short look finds it where it was.
        const int held = player->GetCurrentPos();
        QTest::qWait(300);
        QCOMPARE(player->GetCurrentPos(), held);
        // The remembered request does not outlive the next command.
        QVERIFY(player->Play());
        QTRY_COMPARE_WITH_TIMEOUT(LastStatus(), TGKitMSPlay::Playing, kPlayTimeout);
    }

    // Pixels that are not square: the picture keeps its display aspect, while its
    // size stays in picture pixels.
    void pictureIsShownInItsDisplayAspect_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("viewStyle");
        QTest::addColumn<QSize>("shown"); // in a 400 x 300 view
        QTest::newRow("16:9 fitted") << "wide.mpg" << 720 << 480 << 1 << QSize(400, 225);
        QTest::newRow("16:9 own size") << "wide.mpg" << 720 << 480 << 0 << QSize(853, 480);
        QTest::newRow("square fitted") << "clip.avi" << 320 << 240 << 1 << QSize(400, 300);
        QTest::newRow("square own size") << "clip.avi" << 320 << 240 << 0 << QSize(320, 240);
    }
    void pictureIsShownInItsDisplayAspect()
    {
        QFETCH(QString, file);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, viewStyle);
        QFETCH(QSize, shown);
        OpenInBareView(file, viewStyle);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(int(player->MovieWidth()), width);
        QCOMPARE(int(player->MovieHeight()), height);
        QTRY_VERIFY_WITH_TIMEOUT(!player->View()->Frame().isNull(), kPlayTimeout);
        QCOMPARE(player->View()->TargetRect().size(), shown);
    }

    void avisCutShortPlaysWhatIsThere()
    {
        player->SetFileName(Fixture("cut.avi"));
        QCOMPARE(player->MediaFormat(), 301);
        QTRY_VERIFY_WITH_TIMEOUT(LastStatus() == TGKitMSPlay::Ended || LastStatus() == TGKitMSPlay::Stopped,
                                 kPlayTimeout);
    }

    void emptyNameClosesTheSource()
    {
        OpenAndWaitPlaying(Fixture("clip.avi"));
        player->SetFileName("");
        QCOMPARE(player->MediaFormat(), 0);
        QCOMPARE(int(player->MovieWidth()), 0);
        QTRY_COMPARE_WITH_TIMEOUT(LastStatus(), TGKitMSPlay::Stopped, kPlayTimeout);
        QCOMPARE(notes.back().second, 0);
        QVERIFY(!player->Play());
    }

    void pauseStopForwardAndReverseMoveThePosition()
    {
        OpenAndWaitPlaying(Fixture("clip.avi"));

        QVERIFY(player->Pause());
        QTRY_COMPARE_WITH_TIMEOUT(LastStatus(), TGKitMSPlay::Paused, kPlayTimeout);
        QCOMPARE(player->StatusLine()->StateText(), QStringLiteral("一時停止"));

        QVERIFY(player->Stop());
        QTRY_COMPARE_WITH_TIMEOUT(LastStatus(), TGKitMSPlay::Stopped, kPlayTimeout);
        QCOMPARE(player->GetCurrentPos(), 0);

        QVERIFY(player->Forward(1));
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(player->GetCurrentPos() - 1000) <= 60, kPlayTimeout);
        QVERIFY(player->Reverse(5)); // clamped at the start
        QTRY_VERIFY_WITH_TIMEOUT(player->GetCurrentPos() <= 60, kPlayTimeout);

        QVERIFY(player->Play());
        QTRY_COMPARE_WITH_TIMEOUT(LastStatus(), TGKitMSPlay::Playing, kPlayTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(player->GetCurrentPos() > 300, kPlayTimeout);

        QVERIFY(player->Forward(5)); // clamped at the end
        QTRY_COMPARE_WITH_TIMEOUT(LastStatus(), TGKitMSPlay::Ended, kPlayTimeout);

        // Playing after the end starts again from the beginning.
        QVERIFY(player->Play());
        QTRY_COMPARE_WITH_TIMEOUT(LastStatus(), TGKitMSPlay::Playing, kPlayTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(player->GetCurrentPos() < 1500, kPlayTimeout);
    }

    void speedTakesEffectAtTheNextPlay_data()
    {
        QTest::addColumn<double>("speed");
        QTest::newRow("half") << 0.5;
        QTest::newRow("normal") << 1.0;
        QTest::newRow("double") << 2.0;
    }
    void speedTakesEffectAtTheNextPlay()
    {
        QFETCH(double, speed);
        OpenAndWaitPlaying(Fixture("clip.mpg"));
        player->SetSpeed(speed);
        QCOMPARE(player->Speed(), speed);
        player->Pause();
        player->Play();
        // The medium's clock runs at the chosen speed against the wall clock.
        QTRY_VERIFY_WITH_TIMEOUT(player->GetCurrentPos() > 100, kPlayTimeout);
        const int startPos = player->GetCurrentPos();
        QElapsedTimer wall;
        wall.start();
        QTRY_VERIFY_WITH_TIMEOUT(wall.elapsed() >= 600 || LastStatus() == TGKitMSPlay::Ended, kPlayTimeout);
        const double ratio = double(player->GetCurrentPos() - startPos) / double(wall.elapsed());
        QVERIFY2(ratio > speed * 0.6 && ratio < speed * 1.45, qPrintable(QString::number(ratio)));
    }

    // Quick changes of entry at a changed speed: each source starts with a rate seek
    // right after it opens, while the previous one is still being torn down.
    void quickSourceChangesAtAnySpeedRunClean_data()
    {
        QTest::addColumn<double>("speed");
        QTest::newRow("half") << 0.5;
        QTest::newRow("double") << 2.0;
    }
    void quickSourceChangesAtAnySpeedRunClean()
    {
        QFETCH(double, speed);
        player->SetSpeed(speed);
        const std::vector<std::string> entries{Fixture("tone.wav"), Fixture("clip.mpg"), Fixture("clip.avi"),
                                               Fixture("song.mid")};
        for (int round = 0; round < 12; ++round) {
            for (const auto& entry : entries) {
                player->SetFileName(entry);
                // As the speed command does: pause, then play at the new rate.
                player->Pause();
                player->Play();
                QCoreApplication::processEvents();
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(LastStatus(), TGKitMSPlay::Playing, kPlayTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(player->GetCurrentPos() > 100, kPlayTimeout);
    }

    void speedOutsideTheRangeIsIgnored()
    {
        player->SetSpeed(1.5);
        player->SetSpeed(0.0);
        player->SetSpeed(-2.0);
        player->SetSpeed(std::numeric_limits<double>::quiet_NaN());
        QCOMPARE(player->Speed(), 1.5);
    }

    // Motion JPEG goes to the clipboard compressed, decoded when pasted; other frames
    // as pictures, decoded again whole when shown smaller. The copy is the very frame
    // shown, at its own size: the picture ffmpeg decodes that the view's frame is.
    void copyPutsTheShownFrameOnTheClipboard_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("shownSmaller");
        QTest::newRow("Motion JPEG") << "clip.avi" << QSize(320, 240) << false;
        QTest::newRow("MPEG") << "clip.mpg" << QSize(352, 240) << false;
        QTest::newRow("Motion JPEG shown smaller") << "clip.avi" << QSize(320, 240) << true;
        QTest::newRow("MPEG shown smaller") << "clip.mpg" << QSize(352, 240) << true;
        QTest::newRow("H.264 shown smaller") << "clip264.avi" << QSize(320, 240) << true;
    }
    void copyPutsTheShownFrameOnTheClipboard()
    {
        QFETCH(QString, file);
        QFETCH(QSize, size);
        QFETCH(bool, shownSmaller);
        const QString path = QString::fromStdString(Fixture(file.toStdString()));
        player->resize(shownSmaller ? QSize(220, 200) : QSize(800, 700));
        OpenAndWaitPlaying(path.toStdString());
        QTRY_VERIFY_WITH_TIMEOUT(!player->View()->Frame().isNull() &&
                                     (player->View()->Frame().width() < size.width()) == shownSmaller,
                                 kPlayTimeout);
        QVERIFY(player->Pause());
        QTest::qWait(300); // the frame the pause stops on is shown
        const QImage shown = player->View()->Frame().convertToFormat(QImage::Format_RGB32);
        QApplication::clipboard()->clear();
        QVERIFY(player->CopyToClipboard(player->GetCurrentPos()));
        // A picture decoded again reaches the clipboard when it is done.
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::clipboard()->image().size(), size, kPlayTimeout);
        const QImage copied = QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
        if (!shownSmaller)
            QCOMPARE(copied, shown);
        const QList<QImage> decoded = FfmpegPictures(path, size);
        QVERIFY(!decoded.isEmpty());
        qsizetype match = 0, matchShown = 0;
        for (qsizetype i = 1; i < decoded.size(); ++i) {
            if (MeanDifference(copied, decoded[i]) < MeanDifference(copied, decoded[match]))
                match = i;
            if (MeanDifference(shown, decoded[i]) < MeanDifference(shown, decoded[matchShown]))
                matchShown = i;
        }
        QVERIFY2(MeanDifference(copied, decoded[match]) < 3,
                 qPrintable(QStringLiteral("differs by %1").arg(MeanDifference(copied, decoded[match]))));
        QCOMPARE(match, matchShown);
    }

    // Frames arrive scaled to what the view shows, so drawing needs no scaling; the
    // picture's size, and what is copied, stay the picture's own.
    void framesArriveAtTheSizeShown_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("viewStyle");
        QTest::addColumn<QRect>("sourceRect");
        QTest::addColumn<QSize>("view");
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<bool>("openedAgain"); // the next source in the same small view
        const QSize view(400, 300);
        QTest::newRow("HD fitted") << "hd.mpg" << 1 << QRect() << view << QSize(400, 226) << false;
        QTest::newRow("HD own size") << "hd.mpg" << 0 << QRect() << view << QSize(1920, 1080) << false;
        QTest::newRow("HD, a quarter shown")
            << "hd.mpg" << 1 << QRect(0, 0, 960, 540) << view << QSize(800, 450) << false;
        QTest::newRow("16:9 pixels fitted") << "wide.mpg" << 1 << QRect() << view << QSize(400, 226) << false;
        QTest::newRow("small picture, not enlarged") << "clip.avi" << 1 << QRect() << view << QSize(320, 240) << false;
        // Motion JPEG is decoded at a reduced size: exactly half, and between two sizes;
        // opened while frames are wanted small, it is still the picture's own size.
        QTest::newRow("MJPEG at half size")
            << "clip.avi" << 1 << QRect() << QSize(160, 120) << QSize(160, 120) << false;
        QTest::newRow("MJPEG between sizes") << "clip.avi" << 1 << QRect() << QSize(100, 75) << QSize(100, 76) << false;
        QTest::newRow("MJPEG opened small") << "clip.avi" << 1 << QRect() << QSize(160, 120) << QSize(160, 120) << true;
    }
    void framesArriveAtTheSizeShown()
    {
        QFETCH(QString, file);
        QFETCH(int, viewStyle);
        QFETCH(QRect, sourceRect);
        QFETCH(QSize, view);
        QFETCH(QSize, frame);
        QFETCH(bool, openedAgain);
        OpenInBareView(file, viewStyle);
        if (QTest::currentTestFailed())
            return;
        // Paused at once, so the clip (one second) cannot end before the resize below.
        QVERIFY(player->Pause());
        player->resize(view);
        const QSize picture(player->MovieWidth(), player->MovieHeight());
        if (openedAgain) {
            QTRY_COMPARE_WITH_TIMEOUT(player->View()->Frame().size(), frame, kPlayTimeout);
            player->SetFileName(Fixture(file.toStdString()));
            QCOMPARE(QSize(player->MovieWidth(), player->MovieHeight()), picture);
            QVERIFY(player->Pause());
        }
        if (!sourceRect.isNull())
            player->SetSourceRect(sourceRect.x(), sourceRect.y(), sourceRect.width(), sourceRect.height());
        QTRY_COMPARE_WITH_TIMEOUT(player->View()->Frame().size(), frame, kPlayTimeout);
        QCOMPARE(QSize(player->MovieWidth(), player->MovieHeight()), picture);
        QVERIFY(player->CopyToClipboard(player->GetCurrentPos()));
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::clipboard()->image().size(), picture, kPlayTimeout);
        // A larger view gets larger frames, paused too.
        if (viewStyle == 1 && frame.width() < picture.width()) {
            player->resize(600, 450);
            QTRY_VERIFY_WITH_TIMEOUT(player->View()->Frame().width() > frame.width(), kPlayTimeout);
        }
    }

    // A stream no installed decoder takes: the rest plays, and the status bar says
    // which part does not.
    void partNoDecoderTakesIsNamed_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("note");
        QTest::newRow("sound") << "odd-sound.avi"
                               << "再生中 - 音声の形式は再生できません";
        QTest::newRow("picture") << "odd-picture.avi"
                                 << "再生中 - 映像の形式は再生できません";
    }
    void partNoDecoderTakesIsNamed()
    {
        QFETCH(QString, file);
        QFETCH(QString, note);
        OpenAndWaitPlaying(Fixture(file.toStdString()));
        QTRY_COMPARE_WITH_TIMEOUT(player->StatusLine()->StateText(), note, kPlayTimeout);
    }

    // A frame that comes a line or two larger than the picture's place (frames have
    // even sizes) is copied as it is, not resampled: no line is dropped or repeated.
    void framesNearlyTheShownSizeAreCopiedAsTheyAre_data()
    {
        QTest::addColumn<QSize>("frameSize");
        QTest::newRow("the same size") << QSize(400, 225);
        QTest::newRow("a line taller") << QSize(400, 226);
        QTest::newRow("a column wider and a line taller") << QSize(401, 226);
    }
    void framesNearlyTheShownSizeAreCopiedAsTheyAre()
    {
        QFETCH(QSize, frameSize);
        kino::VideoView view;
        view.resize(400, 300);
        view.SetPictureSize(QSize(1920, 1080));
        QImage frame(frameSize, QImage::Format_RGB32);
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                frame.setPixel(x, y, qRgb(y % 256, x % 256, (x + y) % 256));
        view.SetFrame(frame);
        const QRect target = view.TargetRect();
        QCOMPARE(target.size(), QSize(400, 225));
        const QImage shown = view.grab(target).toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown, frame.copy(QRect(QPoint(0, 0), target.size())));
    }

    void sourceRectIsClampedToThePicture_data()
    {
        QTest::addColumn<QRect>("asked");
        QTest::addColumn<QRect>("shown");
        QTest::newRow("inside") << QRect(40, 30, 100, 80) << QRect(40, 30, 100, 80);
        QTest::newRow("whole") << QRect(0, 0, 320, 240) << QRect(0, 0, 320, 240);
        QTest::newRow("past the corner") << QRect(300, 200, 100, 100) << QRect(300, 200, 20, 40);
        QTest::newRow("before the origin") << QRect(-50, -40, 100, 100) << QRect(0, 0, 50, 60);
        QTest::newRow("outside") << QRect(1000, 1000, 10, 10) << QRect(0, 0, 320, 240);
        QTest::newRow("empty") << QRect(10, 10, 0, 0) << QRect(0, 0, 320, 240);
    }
    void sourceRectIsClampedToThePicture()
    {
        QFETCH(QRect, asked);
        QFETCH(QRect, shown);
        OpenAndWaitPlaying(Fixture("clip.avi"));
        QTRY_VERIFY_WITH_TIMEOUT(!player->View()->Frame().isNull(), kPlayTimeout);
        player->SetSourceRect(asked.x(), asked.y(), asked.width(), asked.height());
        QCOMPARE(player->View()->EffectiveSourceRect(), shown);
    }

    void viewShowsOnlyTheSourceRect_data()
    {
        QTest::addColumn<int>("viewStyle");
        QTest::newRow("fitted") << 1;
        QTest::newRow("own size") << 0;
    }
    void viewShowsOnlyTheSourceRect()
    {
        QFETCH(int, viewStyle);
        player->SetViewStyle(viewStyle);
        player->SetFileName(Fixture("clip.avi"));
        player->Pause();
        QTRY_VERIFY_WITH_TIMEOUT(!player->View()->Frame().isNull(), kPlayTimeout);
        const QRect part(200, 20, 60, 40);
        player->SetSourceRect(part.x(), part.y(), part.width(), part.height());
        auto* view = player->View();
        const QRect target = view->TargetRect();
        if (viewStyle == 0) {
            QCOMPARE(target.size(), part.size());
            // Centred: the margins on either side differ by the odd pixel at most (the
            // view's height depends on the bars' font, so either parity occurs).
            const int left = target.left(), right = view->width() - 1 - target.right();
            const int top = target.top(), bottom = view->height() - 1 - target.bottom();
            QVERIFY2(qAbs(left - right) <= 1 && qAbs(top - bottom) <= 1,
                     qPrintable(QStringLiteral("%1 %2 %3 %4").arg(left).arg(right).arg(top).arg(bottom)));
        } else {
            // Fitted: as large as the view allows, with the part's aspect ratio.
            QVERIFY(target.width() == view->width() || target.height() == view->height());
            QVERIFY(qAbs(double(target.width()) / target.height() - 1.5) < 0.05);
        }
        // What is painted at the middle of the target is the middle of the chosen part.
        const QImage shot = view->grab().toImage();
        const QImage frame = player->View()->Frame();
        QCOMPARE(frame.size(), QSize(320, 240));
        const QColor painted = shot.pixelColor(target.center());
        const QColor source = frame.pixelColor(part.center());
        QVERIFY2(qAbs(painted.red() - source.red()) < 40 && qAbs(painted.green() - source.green()) < 40 &&
                     qAbs(painted.blue() - source.blue()) < 40,
                 qPrintable(painted.name() + " vs " + source.name()));
        // Outside the picture the view is black.
        if (target.left() > 0)
            QCOMPARE(shot.pixelColor(0, view->height() / 2), QColor(Qt::black));
    }

    void newSourceShowsTheWholePicture()
    {
        OpenAndWaitPlaying(Fixture("clip.avi"));
        player->SetSourceRect(10, 10, 50, 50);
        player->SetFileName(Fixture("clip.mpg"));
        QTRY_VERIFY_WITH_TIMEOUT(!player->View()->Frame().isNull(), kPlayTimeout);
        QCOMPARE(player->View()->EffectiveSourceRect(), QRect(0, 0, 352, 240));
    }

    void barsAreShownAndHiddenByTheirProperties()
    {
        QCOMPARE(player->ControlBar(), kino::kTrue);
        QCOMPARE(player->StatusBar(), kino::kTrue);
        const int fullView = player->View()->height();
        player->SetControlBar(kino::kFalse);
        player->SetStatusBar(kino::kFalse);
        QCOMPARE(player->ControlBar(), kino::kFalse);
        QVERIFY(!player->Bar()->isVisible());
        QVERIFY(!player->StatusLine()->isVisible());
        QTRY_COMPARE(player->View()->height(), player->height());
        player->SetControlBar(1); // any non-zero value is true
        player->SetStatusBar(kino::kTrue);
        QCOMPARE(player->ControlBar(), kino::kTrue);
        QTRY_COMPARE(player->View()->height(), fullView);
    }

    void clickOnThePictureRaisesOnClick()
    {
        int clicks = 0;
        player->OnClick = [&](TGKitMSPlay* sender) {
            QCOMPARE(sender, player.get());
            ++clicks;
        };
        QTest::mouseClick(player->View(), Qt::LeftButton, {}, player->View()->rect().center());
        QCOMPARE(clicks, 1);
        QTest::mouseClick(player->Bar()->PlayButton(), Qt::LeftButton);
        QCOMPARE(clicks, 1);
    }

    void controlBarDrivesPlayback()
    {
        OpenAndWaitPlaying(Fixture("clip.avi"));
        QTest::mouseClick(player->Bar()->PlayButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(LastStatus(), TGKitMSPlay::Paused, kPlayTimeout);
        QTest::mouseClick(player->Bar()->PlayButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(LastStatus(), TGKitMSPlay::Playing, kPlayTimeout);
        QTest::mouseClick(player->Bar()->StopButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(LastStatus(), TGKitMSPlay::Stopped, kPlayTimeout);
        // A click on the seek bar's groove moves there.
        auto* seek = player->Bar()->SeekBar();
        QVERIFY(seek->maximum() >= 1900);
        QTest::mouseClick(seek, Qt::LeftButton, {}, QPoint(seek->width() * 3 / 4, seek->height() / 2));
        QTRY_VERIFY_WITH_TIMEOUT(player->GetCurrentPos() > 1000, kPlayTimeout);
        // Muting and the volume reach the sound.
        QTest::mouseClick(player->Bar()->MuteButton(), Qt::LeftButton);
        QVERIFY(player->Muted());
        player->Bar()->VolumeBar()->setValue(40);
        QCOMPARE(player->Volume(), 0.4);
        // Set from elsewhere, the bar follows.
        player->SetVolume(0.25);
        QCOMPARE(player->Bar()->VolumeBar()->value(), 25);
        player->SetMuted(false);
        QVERIFY(!player->Bar()->MuteButton()->isChecked());
    }

    void formatTime_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "0:00";
        QTest::newRow("under a minute") << qint64(59999) << "0:59";
        QTest::newRow("minutes") << qint64(754000) << "12:34";
        QTest::newRow("hours") << qint64(3723000) << "1:02:03";
        QTest::newRow("unknown") << qint64(-1) << "--:--";
    }
    void formatTime()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, text);
        QCOMPARE(kino::FormatTime(ms), text);
    }
};

KINO_TEST_MAIN_WITH_MEDIA(PlayerTest)
#include "test_player.moc"
