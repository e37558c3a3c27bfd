// What damaged or hostile media cannot do to the player: crash it, freeze its window,
// or leave it waiting on a file that is not one.
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>

#include "player/MidiCheck.h"
#include "player/PlayerPipeline.h"
#include "player/TGKitMSPlay.h"
#include "support/TestMain.h"

using kino::MidiVerdict;

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
        row("sound, running status", Header(0, 1, 480) + Chunk("MTrk", Bytes({0, 0x90, 0x3c, 0x64, 0x10, 0x3e, 0x64}) + kEnd),
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
        row("five-byte delta", Header(0, 1, 480) + Chunk("MTrk", Bytes({0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 0x3c, 0x64}) + kEnd),
            MidiVerdict::Damaged);
        row("tempo zero", Header(0, 1, 480) + Chunk("MTrk", Bytes({0, 0xff, 0x51, 3, 0, 0, 0}) + kEnd), MidiVerdict::Damaged);
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
    // impossible, the player refuses it as damaged, without handing it on.
    void damagedOrNonFileSourcesAreRefusedAtOnce_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("detail");
        QTest::newRow("track length 0xFFFFFFFF") << "midi-length" << 3;
        QTest::newRow("FIFO named like a medium") << "fifo" << 2;
        QTest::newRow("folder named like a medium") << "folder" << 2;
    }
    void damagedOrNonFileSourcesAreRefusedAtOnce()
    {
        QFETCH(QString, kind);
        QFETCH(int, detail);
        QCOMPARE(kino::CheckMidiFile(Fixture("song.mid")), MidiVerdict::Sound);
        const QByteArray dir = qgetenv("TMPDIR").isEmpty() ? QByteArray("/tmp") : qgetenv("TMPDIR");
        const std::string path = dir.toStdString() + "/kinolite-hostile-" + std::to_string(::getpid()) +
                                 (kind == "fifo" ? ".wav" : ".mid");
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
        } else {
            QCOMPARE(::mkdir(path.c_str(), 0700), 0);
        }
        kino::TGKitMSPlay player;
        std::vector<std::pair<int, int>> notes;
        player.OnNotify = [&](kino::TGKitMSPlay*, std::int16_t s, std::int32_t d) { notes.emplace_back(s, d); };
        player.SetFileName(path);
        QCOMPARE(player.MediaFormat(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(notes.size(), std::size_t(1), 20000);
        QCOMPARE(notes[0], std::make_pair(int(kino::TGKitMSPlay::Stopped), detail));
        ::unlink(path.c_str());
        ::rmdir(path.c_str());
    }

    // A pipeline that never finishes stopping is left to its thread: what is retired
    // after it is still stopped, and shutting down does not wait for it for ever.
    void aHangingStopIsAbandoned()
    {
        std::mutex m;
        std::condition_variable cv;
        bool release = false;
        bool hanging = false;
        kino::PipelineReaper::Run([&] {
            std::unique_lock<std::mutex> lock(m);
            hanging = true;
            cv.notify_all();
            cv.wait(lock, [&] { return release; });
        });
        {
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [&] { return hanging; });
        }
        QVERIFY(!kino::PipelineReaper::Drain(100));
        // Once the hanging one is overdue, the next retirement goes to a new thread.
        std::atomic<bool> nextStopped{false};
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
            kino::PipelineReaper::Run([&] { nextStopped = true; });
            return kino::PipelineReaper::Drain(200) || nextStopped.load();
        }()), 20000);
        QVERIFY(!kino::PipelineReaper::Drain(100));
        {
            std::lock_guard<std::mutex> lock(m);
            release = true;
        }
        cv.notify_all();
        QVERIFY(kino::PipelineReaper::Drain(20000));
    }
};

KINO_TEST_MAIN_WITH_MEDIA(HostileMediaTest)
#include "test_hostile.moc"
