// The engine on its own, without a window: the states a source goes through as it is
// played, paused, stopped, sought and ended.
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <glib.h>

#include <mutex>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "player/engine/FrameFetch.h"
#include "player/engine/LocalSource.h"
#include "player/engine/OpenedAhead.h"
#include "player/engine/PipelineReaper.h"
#include "player/engine/PlayerEngine.h"
#include "player/engine/PlayerPipeline.h"
#include "support/TestMain.h"

using kino::PlayerEngine;
using State = PlayerEngine::State;

namespace {
constexpr int kTimeout = 20000;
}

Q_DECLARE_METATYPE(State)

class EngineTest : public QObject {
    Q_OBJECT

private slots:
    // Each step is a command, then the state the engine must come to; "end" waits for
    // the end of the medium.
    void commandsLeadThroughTheStates_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<State>>("states");
        QTest::newRow("play, pause, stop, play to the end")
            << "tone.wav" << QStringList{"play", "pause", "stop", "play", "end"}
            << QList<State>{State::Playing, State::Paused, State::Stopped, State::Playing, State::Ended};
        QTest::newRow("after the end, play starts again")
            << "clip.avi" << QStringList{"seek 1800", "play", "end", "play", "pause"}
            << QList<State>{State::Paused, State::Playing, State::Ended, State::Playing, State::Paused};
        QTest::newRow("a seek from the end leaves it paused there")
            << "tone.wav" << QStringList{"play", "end", "seek 200", "play"}
            << QList<State>{State::Playing, State::Ended, State::Paused, State::Playing};
        QTest::newRow("closed") << "clip.mpg" << QStringList{"play", "close", "play"}
                                << QList<State>{State::Playing, State::Closed, State::Closed};
        QTest::newRow("H.264, played to the end")
            << "clip264.avi" << QStringList{"play", "end"} << QList<State>{State::Playing, State::Ended};
    }
    // Meanwhile GLib and GStreamer's libraries, on any thread, have nothing to complain
    // of: a critical from them is a fault of ours that plays on regardless.
    void commandsLeadThroughTheStates()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, steps);
        QFETCH(QList<State>, states);
        static std::mutex heard;
        static QStringList complaints;
        {
            std::lock_guard<std::mutex> lock(heard);
            complaints.clear();
        }
        const GLogFunc before = g_log_set_default_handler(
            [](const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
                std::lock_guard<std::mutex> lock(heard);
                if (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING))
                    complaints << QStringLiteral("%1: %2").arg(QString::fromUtf8(domain), QString::fromUtf8(message));
            },
            nullptr);
        const auto restore = qScopeGuard([before] { g_log_set_default_handler(before, nullptr); });
        PlayerEngine engine;
        // Each picture comes once: the one paused on too, when playing starts from it.
        GstClockTime last = GST_CLOCK_TIME_NONE;
        QObject::connect(&engine, &PlayerEngine::frameReady, &engine, [&last](const kino::VideoFrame& frame) {
            if (!frame.IsNull())
                QVERIFY(std::exchange(last, GST_BUFFER_PTS(frame.Buffer())) != GST_BUFFER_PTS(frame.Buffer()));
        });
        engine.Open(Fixture(file.toStdString()));
        // A local file is open, paused at its start, with its facts, when Open returns.
        QCOMPARE(engine.CurrentState(), State::Paused);
        QVERIFY(engine.Facts().known);
        if (engine.Facts().hasVideo) // on the screen before the first command
            QTRY_VERIFY_WITH_TIMEOUT(!engine.CurrentFrame().IsNull(), kTimeout);
        for (int i = 0; i < steps.size(); ++i) {
            const QString& step = steps[i];
            if (step == "play")
                engine.Play();
            else if (step == "pause")
                engine.Pause();
            else if (step == "stop")
                engine.Stop();
            else if (step == "close")
                engine.Close();
            else if (step.startsWith("seek "))
                QVERIFY(engine.SeekMs(step.mid(5).toLongLong()));
            QTRY_COMPARE_WITH_TIMEOUT(engine.CurrentState(), states[i], kTimeout);
            if (step == "stop")
                QCOMPARE(engine.PositionMs(), 0);
            if (step.startsWith("seek "))
                QVERIFY(qAbs(engine.PositionMs() - step.mid(5).toLongLong()) < 100);
        }
        engine.Close();
        std::lock_guard<std::mutex> lock(heard);
        QVERIFY2(complaints.isEmpty(), qPrintable(complaints.join(QLatin1Char('\n'))));
    }

    // The program opens its first file while the window is built; the engine takes that
    // pipeline over for the same file, and leaves it for another. Either way the source
    // opens, fails or plays as it does when nothing was opened ahead.
    void aFileOpenedAheadIsTakenOver_data()
    {
        QTest::addColumn<QString>("ahead");
        QTest::addColumn<QString>("opened");
        QTest::addColumn<bool>("atStart"); // as the program does: asked for before it is opened
        QTest::newRow("the same file") << "clip.avi"
                                       << "clip.avi" << false;
        QTest::newRow("another file") << "clip.avi"
                                      << "tone.wav" << false;
        QTest::newRow("random bytes") << "random.avi"
                                      << "random.avi" << false;
        QTest::newRow("cut in its headers") << "truncated.avi"
                                            << "truncated.avi" << false;
        QTest::newRow("asked for at once, at start") << "clip.avi"
                                                     << "clip.avi" << true;
    }
    void aFileOpenedAheadIsTakenOver()
    {
        QFETCH(QString, ahead);
        QFETCH(QString, opened);
        const std::string aheadUri = PlayerEngine::UriFor(Fixture(ahead.toStdString()));
        const std::string path = Fixture(opened.toStdString());
        PlayerEngine plain;
        plain.Open(path);
        QTRY_VERIFY_WITH_TIMEOUT(plain.CurrentState() != State::Opening, kTimeout);

        QVERIFY(kino::PipelineReaper::Shared().Drain(kTimeout));
        const int alive = kino::PlayerPipeline::Alive();
        QFETCH(bool, atStart);
        if (atStart)
            kino::StartMediaEngine(Fixture(ahead.toStdString())); // once a process: one row
        else
            kino::OpenedAhead::Shared().Open(aheadUri);
        PlayerEngine engine;
        engine.Open(path);
        QTRY_VERIFY_WITH_TIMEOUT(engine.CurrentState() != State::Opening, kTimeout);
        // One pipeline plays the source, whoever opened it; none is left of one that failed.
        QVERIFY(kino::PipelineReaper::Shared().Drain(kTimeout));
        QCOMPARE(kino::PlayerPipeline::Alive(), alive + (engine.CurrentState() == State::Failed ? 0 : 1));
        QCOMPARE(engine.CurrentState(), plain.CurrentState());
        QCOMPARE(engine.FailureCode(), plain.FailureCode());
        QCOMPARE(engine.Facts().hasVideo, plain.Facts().hasVideo);
        QCOMPARE(engine.Facts().durationMs, plain.Facts().durationMs);
        // Taken or left, it is gone: nothing is waiting to be taken any more.
        GstStateChangeReturn result{};
        QVERIFY(!kino::OpenedAhead::Shared().Take(aheadUri, &result));
        if (engine.CurrentState() == State::Failed)
            return;
        QVERIFY(engine.Play());
        QTRY_COMPARE_WITH_TIMEOUT(engine.CurrentState(), State::Ended, kTimeout);
        // The first picture came, from whichever pipeline plays.
        QVERIFY(!engine.CurrentFrame().IsNull() || !engine.Facts().hasVideo);
    }

    // The next entry, opened ahead, plays in its turn as if opened then; a change drops it.
    void theFollowingEntryIsHandedOver_data()
    {
        QTest::addColumn<QString>("following");
        QTest::addColumn<QString>("opened");
        QTest::newRow("the next entry") << "tone.wav" << "tone.wav";
        QTest::newRow("the next entry, a picture") << "clip.mpg" << "clip.mpg";
        QTest::newRow("another entry is chosen") << "tone.wav" << "clip.mpg";
        QTest::newRow("a damaged next entry fails in its turn") << "random.avi" << "random.avi";
    }
    void theFollowingEntryIsHandedOver()
    {
        QFETCH(QString, following);
        QFETCH(QString, opened);
        PlayerEngine plain, engine;
        plain.Open(Fixture(opened.toStdString()));
        engine.Open(Fixture("clip.avi"));
        QVERIFY(engine.Play() && kino::PipelineReaper::Shared().Drain(kTimeout));
        const int alive = kino::PlayerPipeline::Alive();
        engine.OpenFollowing(Fixture("clip.mpg")); // the list then changes
        engine.OpenFollowing(Fixture(following.toStdString()));
        QVERIFY(kino::PipelineReaper::Shared().Drain(kTimeout));
        QCOMPARE(kino::PlayerPipeline::Alive(), alive + 1);
        const int built = kino::PlayerPipeline::Built();
        QSignalSpy frames(&engine, &PlayerEngine::frameReady);
        engine.Open(Fixture(opened.toStdString()));
        QVERIFY(engine.Following().empty());
        QCOMPARE(kino::PlayerPipeline::Built() == built, opened == following);
        // The last source's frame gives way to the next one's first, with no empty one
        // between them.
        if (opened == following && engine.Facts().hasVideo)
            QVERIFY(!frames.isEmpty() && !frames.first().first().value<kino::VideoFrame>().IsNull());
        QTRY_VERIFY_WITH_TIMEOUT(engine.CurrentState() != State::Opening && plain.CurrentState() != State::Opening,
                                 kTimeout);
        QCOMPARE(engine.FailureCode(), plain.FailureCode());
        QCOMPARE(engine.Facts().durationMs, plain.Facts().durationMs);
    }

    // The format a WAVE file declares is read from its header, whatever chunks come
    // first; a header that does not hold gives nothing, never a read past it.
    void aWaveFilesFormatIsReadFromItsHeader_data()
    {
        const auto chunk = [](const char* id, quint32 size, const QByteArray& body) {
            QByteArray bytes(id, 4);
            for (int i = 0; i < 4; ++i)
                bytes += char((size >> (8 * i)) & 0xff);
            return bytes + body;
        };
        const QByteArray pcm = QByteArray::fromHex("010001004ac4000088580100020010");
        const QByteArray format = pcm + '\0';
        const QByteArray riff = QByteArray("RIFF\x24\0\0\0WAVE", 12);
        const QByteArray data = chunk("data", 4, QByteArray(4, '\0'));
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("plain") << riff + chunk("fmt ", 16, format) + data << format;
        QTest::newRow("an odd chunk first, padded")
            << riff + chunk("JUNK", 3, "abc") + '\0' + chunk("fmt ", 16, format) << format;
        QTest::newRow("not a WAVE file") << QByteArray("RIFF\x24\0\0\0AVI ", 12) + chunk("fmt ", 16, format)
                                         << QByteArray();
        QTest::newRow("format chunk too short") << riff + chunk("fmt ", 8, format.left(8)) << QByteArray();
        QTest::newRow("cut in the format chunk") << riff + chunk("fmt ", 16, format.left(10)) << QByteArray();
        QTest::newRow("a chunk that claims 4 GB") << riff + chunk("LIST", 0xfffffff0u, "x") << QByteArray();
    }
    void aWaveFilesFormatIsReadFromItsHeader()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, expected);
        QTemporaryDir dir;
        QFile out(dir.filePath(QStringLiteral("a.wav")));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
        out.close();
        QCOMPARE(QByteArray::fromStdString(kino::WaveFormatOf(out.fileName().toStdString())), expected);
    }

    // The container decodebin is told instead of finding it out: only a RIFF form that
    // names it; anything else is left to the type finders.
    void aContainerIsKnownOnlyByItsRiffForm_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QString>("expected");
        QTest::newRow("AVI") << QByteArray("RIFF\x10\0\0\0AVI LIST", 16) << QStringLiteral("video/x-msvideo");
        QTest::newRow("WAVE") << QByteArray("RIFF\x10\0\0\0WAVEfmt ", 16) << QStringLiteral("audio/x-wav");
        QTest::newRow("RIFF MIDI") << QByteArray("RIFF\x10\0\0\0RMIDdata", 16) << QString();
        QTest::newRow("MPEG program stream") << QByteArray::fromHex("000001ba2100010001800001") << QString();
        QTest::newRow("cut before its form") << QByteArray("RIFF\x10\0\0\0AV", 10) << QString();
        QTest::newRow("a folder") << QByteArray() << QString();
    }
    void aContainerIsKnownOnlyByItsRiffForm()
    {
        QFETCH(QByteArray, head);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QString path = dir.path();
        if (!head.isEmpty()) {
            QFile out(dir.filePath(QStringLiteral("clip.avi")));
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(head) == head.size());
            path = out.fileName();
        }
        QCOMPARE(QString::fromStdString(kino::KnownContainerOf(path.toStdString())), expected);
    }

    // libav is loaded ahead only for a first file it decodes: it would hold up any other.
    void libavIsLoadedAheadOnlyForWhatItDecodes_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("byLibav");
        QTest::newRow("MPEG-1") << "clip.mpg" << true;
        QTest::newRow("H.264 AVI") << "clip264.avi" << true;
        QTest::newRow("Motion JPEG AVI") << "clip.avi" << false;
        QTest::newRow("noise named .avi") << "random.avi" << false;
        QTest::newRow("WAVE") << "tone.wav" << false;
    }
    void libavIsLoadedAheadOnlyForWhatItDecodes()
    {
        QFETCH(QString, file);
        QFETCH(bool, byLibav);
        QCOMPARE(kino::DecodedByLibav(Fixture(file.toStdString())), byLibav);
    }

    // A WAVE file after one of its own format is played on into by the same pipeline;
    // withdrawn, before or at the seam, the source that ended is the one played again.
    void aWaveOfTheSameFormatIsPlayedOnInto_data()
    {
        QTest::addColumn<int>("withdrawnAtMs");
        QTest::newRow("played on into") << -1;
        QTest::newRow("the list changes before the end") << 0;
        QTest::newRow("the list changes at the seam") << 2990;
    }
    void aWaveOfTheSameFormatIsPlayedOnInto()
    {
        QFETCH(int, withdrawnAtMs);
        // Long enough to be still read after the offer: a shorter one is read at once.
        const std::string tone = Fixture("long-tone.wav");
        PlayerEngine engine;
        engine.Open(tone);
        QVERIFY(engine.Play());
        const int built = kino::PlayerPipeline::Built();
        engine.OpenFollowing(tone, true);
        if (withdrawnAtMs >= 0) {
            // A busy window: nothing the pipeline posts is handled meanwhile.
            QElapsedTimer busy;
            busy.start();
            while (busy.elapsed() < withdrawnAtMs)
                QThread::msleep(1);
            engine.OpenFollowing(std::string(), true);
        }
        QTRY_COMPARE_WITH_TIMEOUT(engine.CurrentState(), State::Ended, kTimeout);
        QCOMPARE(engine.PositionMs(), engine.DurationMs());
        if (withdrawnAtMs < 0)
            engine.Open(tone);
        QVERIFY(engine.Play());
        QCOMPARE(engine.CurrentState(), State::Playing);
        QCOMPARE(engine.Facts().durationMs, qint64(3000));
        if (withdrawnAtMs < 0)
            QCOMPARE(kino::PlayerPipeline::Built(), built);
        QTRY_COMPARE_WITH_TIMEOUT(engine.CurrentState(), State::Ended, kTimeout);
    }

    // A retired pipeline is stopped on a thread of its own, never on this one: when no
    // thread can be had, it waits for the next stopping thread.
    void aStopWithoutAThreadWaitsForTheNext()
    {
        static bool refused;
        refused = false;
        kino::PipelineReaper::Shared().SetThreadStarter([](std::function<void()>) {
            refused = true;
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        });
        const Qt::HANDLE here = QThread::currentThreadId();
        std::vector<Qt::HANDLE> stoppedOn;
        std::mutex mutex;
        const auto stop = [&] {
            std::lock_guard<std::mutex> lock(mutex);
            stoppedOn.push_back(QThread::currentThreadId());
        };
        kino::PipelineReaper::Shared().Run(stop);
        kino::PipelineReaper::Shared().SetThreadStarter(nullptr);
        QVERIFY(refused);
        QVERIFY(!kino::PipelineReaper::Shared().Drain(0));
        kino::PipelineReaper::Shared().Run(stop);
        QVERIFY(kino::PipelineReaper::Shared().Drain(kTimeout));
        QCOMPARE(stoppedOn.size(), std::size_t(2));
        for (Qt::HANDLE thread : stoppedOn)
            QVERIFY(thread != here);
    }

    // An end of the medium already on its way when the user seeks back or pauses.
    void endQueuedBeforeSeekOrPauseIsNotTakenAsTheEnd_data()
    {
        QTest::addColumn<bool>("pause");
        QTest::newRow("seek back") << false;
        QTest::newRow("pause") << true;
    }
    void endQueuedBeforeSeekOrPauseIsNotTakenAsTheEnd()
    {
        QFETCH(bool, pause);
        PlayerEngine engine;
        QSignalSpy states(&engine, &PlayerEngine::stateChanged);
        engine.Open(Fixture("tone.wav"));
        QVERIFY(engine.Play());
        // Hold this thread until the pipeline has posted its end, as a busy window would.
        QElapsedTimer guard;
        guard.start();
        while (!engine.EndPosted() && guard.elapsed() < kTimeout)
            QThread::yieldCurrentThread();
        QVERIFY(engine.EndPosted());
        if (pause) {
            QVERIFY(engine.Pause());
            // The end on its way comes in, and does not end the pause.
            QTRY_VERIFY_WITH_TIMEOUT(!engine.EndPosted(), kTimeout);
            QCOMPARE(engine.CurrentState(), State::Paused);
            // The pause holds; the next Play finds the medium at its end.
            QVERIFY(engine.Play());
            QTRY_COMPARE_WITH_TIMEOUT(engine.CurrentState(), State::Ended, kTimeout);
        } else {
            QVERIFY(engine.SeekMs(engine.PositionMs() - 5000));
            QTRY_VERIFY_WITH_TIMEOUT(engine.CurrentState() == State::Playing && engine.PositionMs() > 300, kTimeout);
            for (const auto& change : states)
                QVERIFY(change.at(0).value<State>() != State::Ended);
            QTRY_COMPARE_WITH_TIMEOUT(engine.CurrentState(), State::Ended, kTimeout);
        }
    }

    void mpegPicturesComeOneFrameApart_data()
    {
        QTest::addColumn<QString>("file"); // each one second long
        QTest::newRow("MPEG-1, some pictures unstamped") << "hd.mpg";
        QTest::newRow("MPEG-2") << "wide.mpg";
    }
    void mpegPicturesComeOneFrameApart()
    {
        QFETCH(QString, file);
        PlayerEngine engine;
        engine.Open(Fixture(file.toStdString()));
        GstElement* sink = gst_bin_get_by_name(GST_BIN(engine.Playbin()), "kinolite-video");
        g_object_set(sink, "qos", FALSE, nullptr); // none left out for being late
        static std::mutex seen;
        static std::vector<GstClockTime> times;
        times.clear();
        GstPad* pad = gst_element_get_static_pad(sink, "sink");
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, [](GstPad*, GstPadProbeInfo* info, gpointer) {
            std::lock_guard<std::mutex> lock(seen);
            times.push_back(GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info)));
            return GST_PAD_PROBE_OK;
        }, nullptr, nullptr);
        gst_object_unref(pad), gst_object_unref(sink);
        engine.SeekMs(0); // the paused picture again, now seen by the probe
        engine.Play();
        QTRY_COMPARE_WITH_TIMEOUT(engine.CurrentState(), State::Ended, kTimeout);
        std::lock_guard<std::mutex> lock(seen);
        QCOMPARE(int(times.size()), 25);
        for (std::size_t i = 1; i < times.size(); ++i)
            QCOMPARE(qint64(times[i] - times[i - 1]), qint64(GST_SECOND / 25));
    }

    // A frame fetched again whole for a copy: the one at the time asked for, or, given
    // the frame as it was shown (a decoder dropping late frames may have stamped it with
    // its neighbour's time), whichever of it and its neighbours looks like that.
    void aFetchedFrameIsTheOneShown_data()
    {
        QTest::addColumn<int>("shownStep"); // frames from the time asked for to the one shown
        QTest::addColumn<bool>("withShown");
        QTest::newRow("at its time") << 0 << false;
        QTest::newRow("the one shown, stamped as the one before") << 1 << true;
        QTest::newRow("the one shown, stamped as the one after") << -1 << true;
    }
    void aFetchedFrameIsTheOneShown()
    {
        QFETCH(int, shownStep);
        QFETCH(bool, withShown);
        const std::string uri = PlayerEngine::UriFor(Fixture("clip.mpg"));
        const gint64 frame = GST_SECOND / 25, asked = 10 * frame + frame / 2;
        const kino::WholePicture truth = kino::DecodePictureAt(uri, asked + shownStep * frame);
        QVERIFY(!truth.IsNull());
        // Shown at a quarter of its size, every fourth pixel.
        kino::WholePicture shown;
        if (withShown) {
            shown.width = truth.width / 4;
            shown.height = truth.height / 4;
            for (int y = 0; y < shown.height; ++y)
                for (int x = 0; x < shown.width; ++x) {
                    const auto* p = truth.bgrx.data() + (std::size_t(y) * 4 * truth.width + x * 4) * 4;
                    shown.bgrx.insert(shown.bgrx.end(), p, p + 4);
                }
        }
        const kino::WholePicture fetched = kino::FetchPictureAt(uri, asked, shown).get();
        QCOMPARE(fetched.width, truth.width);
        QVERIFY(fetched.bgrx == truth.bgrx);
    }
};

KINO_ENGINE_TEST_MAIN(EngineTest)
#include "test_engine.moc"
