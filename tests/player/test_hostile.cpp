// What damaged or hostile media cannot do to the player: crash it, freeze its window,
// or leave it waiting on a file that is not one.
#include <QSignalSpy>
#include <QTest>

#include <gst/video/video.h>
#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>

#include "player/TGKitMSPlay.h"
#include "player/engine/MidiCheck.h"
#include "player/engine/PipelineReaper.h"
#include "player/engine/PlayerEngine.h"
#include "player/engine/PlayerPipeline.h"
#include "support/TestMain.h"

using kino::MidiVerdict;
namespace gsth = kino::gsth;

namespace {

std::string Bytes(std::initializer_list<int> list)
{
    std::string s;
    for (int b : list)
        s.push_back(char(b));
    return s;
}

std::string Chunk(const std::string& id, const std::string& body)
{
    const auto n = std::uint32_t(body.size());
    return id + Bytes({int(n >> 24), int((n >> 16) & 255), int((n >> 8) & 255), int(n & 255)}) + body;
}

// format, track count, division
std::string Header(int format, int tracks, int division)
{
    return Chunk("MThd", Bytes({0, format, tracks >> 8, tracks & 255, (division >> 8) & 255, division & 255}));
}

const std::string kNote = Bytes({0x00, 0x90, 0x3c, 0x64, 0x60, 0x80, 0x3c, 0x40});
const std::string kEnd = Bytes({0x00, 0xff, 0x2f, 0x00});

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// An element that refuses one state change once, without a word on the bus: the
// failure GStreamer reports only through the return value.
struct RefusingElement {
    GstElement parent;
};
struct RefusingElementClass {
    GstElementClass parent;
};
std::atomic<int> g_refuseOnce{-1}; // a GstStateChange, or -1
// While set, the element does not come back from being stopped: an element that hangs.
std::mutex g_hangMutex;
std::condition_variable g_hangChanged;
bool g_hangOnStop = false;

G_DEFINE_TYPE(RefusingElement, refusing_element, GST_TYPE_ELEMENT)

GstStateChangeReturn RefuseOnce(GstElement* element, GstStateChange change)
{
    int expected = int(change);
    if (g_refuseOnce.compare_exchange_strong(expected, -1))
        return GST_STATE_CHANGE_FAILURE;
    if (change == GST_STATE_CHANGE_PAUSED_TO_READY) {
        std::unique_lock<std::mutex> lock(g_hangMutex);
        g_hangChanged.wait(lock, [] { return !g_hangOnStop; });
    }
    return GST_ELEMENT_CLASS(refusing_element_parent_class)->change_state(element, change);
}

void SetHangOnStop(bool hang)
{
    {
        std::lock_guard<std::mutex> lock(g_hangMutex);
        g_hangOnStop = hang;
    }
    g_hangChanged.notify_all();
}

GstPadProbeReturn CountData(GstPad*, GstPadProbeInfo*, gpointer count)
{
    ++*static_cast<std::atomic<int>*>(count);
    return GST_PAD_PROBE_OK;
}

void refusing_element_class_init(RefusingElementClass* klass)
{
    GST_ELEMENT_CLASS(klass)->change_state = RefuseOnce;
}

void refusing_element_init(RefusingElement*) {}

} // namespace

class HostileMediaTest : public QObject {
    Q_OBJECT

private slots:
    void midiStructureIsChecked_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("verdict");
        const auto row = [](const char* name, const std::string& bytes, MidiVerdict v) {
            QTest::newRow(name) << QByteArray::fromStdString(bytes) << int(v);
        };
        const std::string track = Chunk("MTrk", kNote + kEnd);
        row("sound, one track", Header(0, 1, 480) + track, MidiVerdict::Sound);
        row("sound, running status",
            Header(0, 1, 480) + Chunk("MTrk", Bytes({0, 0x90, 0x3c, 0x64, 0x10, 0x3e, 0x64}) + kEnd),
            MidiVerdict::Sound);
        row("sound, SMPTE division", Header(0, 1, 0xe728) + track, MidiVerdict::Sound);
        row("sound, unknown chunk skipped", Header(0, 1, 480) + Chunk("XFIH", "abc") + track, MidiVerdict::Sound);
        row("sound, RMID wrapper",
            "RIFF" + Bytes({0, 0, 0, 0}) + "RMID" + "data" + Bytes({int((14 + track.size()) & 255), 0, 0, 0}) +
                Header(0, 1, 480) + track,
            MidiVerdict::Sound);
        row("not MIDI", "RIFF....WAVEfmt ", MidiVerdict::NotMidi);
        row("empty", "", MidiVerdict::NotMidi);
        std::string endless = Header(0, 1, 480) + "MTrk" + Bytes({0xff, 0xff, 0xff, 0xff}) + kNote + kEnd;
        row("track length past the end", endless, MidiVerdict::Damaged);
        row("header cut", std::string("MThd") + Bytes({0, 0, 0, 6, 0, 0}), MidiVerdict::Damaged);
        row("format 3", Header(3, 1, 480) + track, MidiVerdict::Damaged);
        row("no tracks declared", Header(1, 0, 480), MidiVerdict::Damaged);
        row("fewer tracks than declared", Header(1, 2, 480) + track, MidiVerdict::Damaged);
        row("division zero", Header(0, 1, 0) + track, MidiVerdict::Damaged);
        row("five-byte delta",
            Header(0, 1, 480) + Chunk("MTrk", Bytes({0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 0x3c, 0x64}) + kEnd),
            MidiVerdict::Damaged);
        row("tempo zero", Header(0, 1, 480) + Chunk("MTrk", Bytes({0, 0xff, 0x51, 3, 0, 0, 0}) + kEnd),
            MidiVerdict::Damaged);
        row("running status with none set", Header(0, 1, 480) + Chunk("MTrk", Bytes({0, 0x3c, 0x64}) + kEnd),
            MidiVerdict::Damaged);
        row("meta length past the track", Header(0, 1, 480) + Chunk("MTrk", Bytes({0, 0xff, 0x01, 0x7f, 'a'})),
            MidiVerdict::Damaged);
    }
    void midiStructureIsChecked()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, verdict);
        QCOMPARE(int(kino::CheckMidi(bytes.toStdString())), verdict);
    }

    // The fixture's own bytes pass; its header chunk cut or its track length made
    // impossible, the player refuses it as damaged, without handing it on, however the
    // file is named. An uncompressed AVI whose header gives rows of no bytes, or more
    // than 32 bits of them, costs nothing and fails.
    void damagedOrNonFileSourcesAreRefusedAtOnce_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("named"); // how the source is spelt: a path or a file: URI
        QTest::addColumn<int>("detail");
        QTest::newRow("track length 0xFFFFFFFF") << "midi-length"
                                                 << "%1" << 3;
        QTest::newRow("the same, by file: URI") << "midi-length"
                                                << "file://%1" << 3;
        QTest::newRow("FIFO named like a medium") << "fifo"
                                                  << "%1" << 2;
        QTest::newRow("the same, by URI in capitals") << "fifo"
                                                      << "FILE://localhost%1" << 2;
        QTest::newRow("folder named like a medium") << "folder"
                                                    << "%1" << 2;
        QTest::newRow("bit fields, rows of no bytes") << "avi 0 2147483647"
                                                      << "%1" << -1;
        QTest::newRow("bit fields, rows past 32 bits") << "avi 268435456 2147483647"
                                                       << "%1" << -1;
    }
    void damagedOrNonFileSourcesAreRefusedAtOnce()
    {
        QFETCH(QString, kind);
        QFETCH(QString, named);
        QFETCH(int, detail);
        QCOMPARE(kino::CheckMidiFile(Fixture("song.mid")), MidiVerdict::Sound);
        const QByteArray dir = qgetenv("TMPDIR").isEmpty() ? QByteArray("/tmp") : qgetenv("TMPDIR");
        const std::string path = dir.toStdString() + "/kinolite-hostile-" + std::to_string(::getpid()) +
                                 (kind == "fifo"           ? ".wav"
                                  : kind.startsWith("avi") ? ".avi"
                                                           : ".mid");
        ::unlink(path.c_str());
        ::rmdir(path.c_str());
        if (kind == "midi-length") {
            std::string bytes = ReadFile(Fixture("song.mid"));
            const std::size_t track = bytes.find("MTrk");
            QVERIFY(track != std::string::npos);
            bytes.replace(track + 4, 4, Bytes({0xff, 0xff, 0xff, 0xff}));
            WriteFile(path, bytes);
        } else if (kind == "fifo") {
            QCOMPARE(::mkfifo(path.c_str(), 0600), 0);
        } else if (kind.startsWith("avi")) {
            // 16-bit bit fields, bottom-up: the pictures' rows are turned on their way.
            std::string bytes = ReadFile(Fixture("rgb16.avi"));
            const std::size_t format = bytes.find("strf", bytes.find("vids")) + 8;
            QVERIFY(format > 8);
            const QStringList size = kind.split(' ');
            const auto le32 = [](quint32 v) {
                return Bytes({int(v & 255), int(v >> 8 & 255), int(v >> 16 & 255), int(v >> 24)});
            };
            bytes.replace(format + 4, 8, le32(size[1].toUInt()) + le32(size[2].toUInt()));
            bytes.replace(format + 16, 4, le32(3));
            WriteFile(path, bytes);
        } else {
            QCOMPARE(::mkdir(path.c_str(), 0700), 0);
        }
        kino::TGKitMSPlay player;
        std::vector<std::pair<int, int>> notes;
        player.OnNotify = [&](kino::TGKitMSPlay*, std::int16_t s, std::int32_t d) { notes.emplace_back(s, d); };
        player.SetFileName(named.arg(QString::fromStdString(path)).toStdString());
        QCOMPARE(player.MediaFormat(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(notes.size(), std::size_t(1), 20000);
        // -1: cannot be played or damaged, whichever element speaks first.
        if (detail < 0)
            detail = notes[0].second == 2 ? 2 : 3;
        QCOMPARE(notes[0], std::make_pair(int(kino::TGKitMSPlay::Stopped), detail));
        ::unlink(path.c_str());
        ::rmdir(path.c_str());
    }

    // Decoders that leave the colour matrix open must not send the scaled copy to
    // another default: what is open is filled from the picture's size, what is
    // stated stays. An empty expectation means the caps pass unchanged.
    void openColorimetryIsFilledFromThePictureSize_data()
    {
        QTest::addColumn<QString>("caps");
        QTest::addColumn<QString>("expected");
        const QString hd = QStringLiteral("video/x-raw,format=I420,width=1920,height=1080,framerate=25/1");
        const QString sd = QStringLiteral("video/x-raw,format=I420,width=640,height=480,framerate=25/1");
        QTest::newRow("HD, range only (MPEG decoder)") << hd + ",colorimetry=2:0:0:0"
                                                       << "bt709";
        QTest::newRow("HD, absent") << hd << "bt709";
        QTest::newRow("SD, absent") << sd << "bt601";
        QTest::newRow("HD, full-range JPEG matrix kept") << hd + ",colorimetry=1:4:0:0"
                                                         << "1:4:5:1";
        QTest::newRow("HD, all stated") << hd + ",colorimetry=bt601"
                                        << "";
        QTest::newRow("RGB") << "video/x-raw,format=BGRx,width=1920,height=1080,framerate=25/1"
                             << "";
    }
    void openColorimetryIsFilledFromThePictureSize()
    {
        QFETCH(QString, caps);
        QFETCH(QString, expected);
        kino::gsth::Caps given = kino::gsth::Caps::Adopt(gst_caps_from_string(caps.toUtf8().constData()));
        QVERIFY(given);
        kino::gsth::Caps filled = kino::WithColorimetryFilled(given.get());
        if (expected.isEmpty()) {
            QVERIFY(!filled);
            return;
        }
        QVERIFY(filled);
        const gchar* got = gst_structure_get_string(gst_caps_get_structure(filled.get(), 0), "colorimetry");
        QVERIFY(got);
        GstVideoColorimetry colorimetry, wanted;
        QVERIFY(gst_video_colorimetry_from_string(&colorimetry, got));
        QVERIFY(gst_video_colorimetry_from_string(&wanted, expected.toUtf8().constData()));
        QVERIFY2(gst_video_colorimetry_is_equal(&colorimetry, &wanted), got);
    }

    void aStateChangeRefusedSilentlyFailsTheSource_data()
    {
        QTest::addColumn<bool>("playFirst");
        QTest::addColumn<int>("refused");
        QTest::newRow("play refused") << false << int(GST_STATE_CHANGE_PAUSED_TO_PLAYING);
        QTest::newRow("pause refused") << true << int(GST_STATE_CHANGE_PLAYING_TO_PAUSED);
    }
    void aStateChangeRefusedSilentlyFailsTheSource()
    {
        QFETCH(bool, playFirst);
        QFETCH(int, refused);
        kino::PlayerEngine engine;
        engine.Open(Fixture("tone.wav"));
        QTRY_VERIFY_WITH_TIMEOUT(engine.Facts().known, 20000);
        if (playFirst) {
            QVERIFY(engine.Play());
            QTRY_COMPARE_WITH_TIMEOUT(engine.CurrentState(), kino::PlayerEngine::State::Playing, 20000);
        }
        GstElement* refusing = GST_ELEMENT(g_object_new(refusing_element_get_type(), nullptr));
        QVERIFY(gst_bin_add(GST_BIN(engine.Playbin()), refusing));
        QVERIFY(gst_element_sync_state_with_parent(refusing));
        g_refuseOnce = refused;
        QVERIFY(!(playFirst ? engine.Pause() : engine.Play()));
        QCOMPARE(g_refuseOnce.load(), -1);
        QCOMPARE(engine.CurrentState(), kino::PlayerEngine::State::Failed);
        QCOMPARE(engine.FailureCode(), kino::PlayerEngine::OtherError);
        QVERIFY(!engine.Facts().known);
    }

    // A source left for the next one is silent at once, and stopped at once even while
    // one retired before it hangs in its stop: two sources are never heard together.
    void aRetiredSourceFallsSilentAndStopsBehindAHangingOne()
    {
        kino::PlayerEngine engine;
        engine.Open(Fixture("clip.avi"));
        GstElement* hanging = GST_ELEMENT(g_object_new(refusing_element_get_type(), nullptr));
        QVERIFY(gst_bin_add(GST_BIN(engine.Playbin()), hanging));
        QVERIFY(gst_element_sync_state_with_parent(hanging));
        SetHangOnStop(true);

        engine.Open(Fixture("tone.wav")); // the first source's stop now hangs
        QVERIFY(engine.Play());
        QTRY_COMPARE_WITH_TIMEOUT(engine.CurrentState(), kino::PlayerEngine::State::Playing, 20000);
        gsth::Element tone = gsth::Element::Ref(engine.Playbin());
        GstElement* rawSink = nullptr;
        g_object_get(tone.get(), "audio-sink", &rawSink, nullptr);
        gsth::Element sound = gsth::Element::Adopt(rawSink);
        QVERIFY(sound);
        gsth::Pad soundIn = gsth::Pad::Adopt(gst_element_get_static_pad(sound.element(), "sink"));

        engine.Open(Fixture("clip.mpg"));
        std::atomic<int> heard{0};
        gst_pad_add_probe(soundIn.get(), GST_PAD_PROBE_TYPE_BUFFER, CountData, &heard, nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                     GstState state = GST_STATE_VOID_PENDING;
                                     gst_element_get_state(tone.element(), &state, nullptr, 0);
                                     return state == GST_STATE_NULL;
                                 }()),
                                 20000);
        QCOMPARE(heard.load(), 0);
        QVERIFY(!kino::PipelineReaper::Shared().Drain(0));
        SetHangOnStop(false);
        engine.Close();
        QVERIFY(kino::PipelineReaper::Shared().Drain(20000));
    }

    // A pipeline that never finishes stopping is left to its thread: what is retired
    // after it is still stopped, and shutting down does not wait for it for ever.
    void aHangingStopIsAbandoned()
    {
        std::mutex m;
        std::condition_variable cv;
        bool release = false;
        bool hanging = false;
        kino::PipelineReaper::Shared().Run([&] {
            std::unique_lock<std::mutex> lock(m);
            hanging = true;
            cv.notify_all();
            cv.wait(lock, [&] { return release; });
        });
        {
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [&] { return hanging; });
        }
        QVERIFY(!kino::PipelineReaper::Shared().Drain(100));
        // The next retirement does not wait for it.
        std::atomic<bool> nextStopped{false};
        kino::PipelineReaper::Shared().Run([&] { nextStopped = true; });
        QTRY_VERIFY_WITH_TIMEOUT(nextStopped.load(), 20000);
        QVERIFY(!kino::PipelineReaper::Shared().Drain(100));
        {
            std::lock_guard<std::mutex> lock(m);
            release = true;
        }
        cv.notify_all();
        QVERIFY(kino::PipelineReaper::Shared().Drain(20000));
    }
};

KINO_TEST_MAIN_WITH_MEDIA(HostileMediaTest)
#include "test_hostile.moc"
