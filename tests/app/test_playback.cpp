// The Play menu and track sequencing, with the real player and the fixtures.
#include <QAction>
#include <QDir>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include "app/KinoApplication.h"
#include "app/MovieWindow1.h"
#include "controls/dxfComboBox.h"
#include "player/TGKitMSPlay.h"
#include "player/VideoView.h"
#include "player/engine/MediaFramework.h"
#include "support/AppTestMain.h"
#include "support/MainWindowFixture.h"
#include "support/TestMain.h"

using kino::TGKitMSPlay;
using kino::TMovieForm1;

namespace {
constexpr int kTimeout = 20000;
}

class PlaybackTest : public QObject, MainWindowFixture {
    Q_OBJECT

    std::vector<std::string> opened; // every source handed to the player, in order
    std::vector<int> statuses;
    quint64 lastSerial = 0;

    TMovieForm1& MakeForm(const std::vector<std::string>& entries)
    {
        MainWindowFixture::MakeForm();
        auto* player = parts.player;
        QObject::connect(player, &TGKitMSPlay::statusNotified, form.get(),
                         [this](std::int16_t status, std::int32_t) { statuses.push_back(status); });
        // A new source counts up the player's serial; its facts are news at once.
        lastSerial = player->SourceSerial();
        QObject::connect(player, &TGKitMSPlay::factsChanged, form.get(), [this, player] {
            if (player->SourceSerial() != lastSerial) {
                lastSerial = player->SourceSerial();
                if (!player->FileName().empty())
                    opened.push_back(player->FileName());
            }
        });
        for (const auto& e : entries)
            parts.playlist->Items().Add(e);
        return *form;
    }

    int Count(int status) const { return int(std::count(statuses.begin(), statuses.end(), status)); }

private slots:
    void init()
    {
        opened.clear();
        statuses.clear();
    }
    void cleanup() { form.reset(); }

    void entriesPlayInOrderAndStopAfterTheLast_data()
    {
        QTest::addColumn<bool>("continuous");
        QTest::newRow("continuous play on") << true;
        QTest::newRow("continuous play off") << false;
    }
    void entriesPlayInOrderAndStopAfterTheLast()
    {
        QFETCH(bool, continuous);
        const std::vector<std::string> entries = {Fixture("tone.wav"), Fixture("song.mid"), Fixture("clip.mpg")};
        TMovieForm1& f = MakeForm(entries);
        f.show(); // selects and starts the first entry; continuous play is on
        if (!continuous)
            parts.continuousPlayAction->trigger();
        QCOMPARE(parts.continuousPlayAction->isChecked(), continuous);
        const int expectedEnds = continuous ? 3 : 1;
        QTRY_COMPARE_WITH_TIMEOUT(Count(TGKitMSPlay::Ended), expectedEnds, 3 * kTimeout);
        QCOMPARE(opened, continuous ? entries : std::vector<std::string>{entries[0]});
        QCOMPARE(parts.playlist->ItemIndex(), expectedEnds - 1);
        QCOMPARE(f.PlayerStatus(), TGKitMSPlay::Ended);
        // No wrap-around; play/pause, from the menu and from a click on the picture,
        // plays the last entry again from its start, without opening it anew.
        const int endsBefore = Count(TGKitMSPlay::Ended);
        parts.playPauseAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(Count(TGKitMSPlay::Ended), endsBefore + 1, 3 * kTimeout);
        auto* view = parts.player->View();
        QTest::mouseClick(view, Qt::LeftButton, {}, view->rect().center());
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        QCOMPARE(int(opened.size()), expectedEnds);
        QCOMPARE(parts.playlist->ItemIndex(), expectedEnds - 1);
    }

    void twoEqualAdjacentEntriesBothPlay()
    {
        TMovieForm1& f = MakeForm({Fixture("tone.wav"), Fixture("tone.wav")});
        f.show();
        QTRY_COMPARE_WITH_TIMEOUT(Count(TGKitMSPlay::Ended), 2, 2 * kTimeout);
        QCOMPARE(int(opened.size()), 2);
        QCOMPARE(parts.playlist->ItemIndex(), 1);
    }

    void playPauseFromTheMenuAndFromAClick()
    {
        TMovieForm1& f = MakeForm({Fixture("clip.avi")});
        f.show();
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        parts.playPauseAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Paused, kTimeout);
        parts.playPauseAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        auto* view = parts.player->View();
        QTest::mouseClick(view, Qt::LeftButton, {}, view->rect().center());
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Paused, kTimeout);
        QTest::mouseClick(view, Qt::LeftButton, {}, view->rect().center());
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        parts.stopAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Stopped, kTimeout);
        QCOMPARE(parts.player->GetCurrentPos(), 0);
        parts.playPauseAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
    }

    void speedChosenWhileStoppedStartsPlaybackAtThatSpeed_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<double>("speed");
        QTest::newRow("0.5") << "N051" << 0.5;
        QTest::newRow("1.5") << "N21" << 1.5;
        QTest::newRow("2") << "N22" << 2.0;
        QTest::newRow("normal") << "N13" << 1.0;
    }
    void speedChosenWhileStoppedStartsPlaybackAtThatSpeed()
    {
        QFETCH(QString, item);
        QFETCH(double, speed);
        TMovieForm1& f = MakeForm({Fixture("clip.avi")});
        f.show();
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        parts.stopAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Stopped, kTimeout);
        f.findChild<QAction*>(item)->trigger();
        for (const char* name : {"N051", "N13", "N21", "N22"})
            QCOMPARE(f.findChild<QAction*>(name)->isChecked(), item == QLatin1String(name));
        QCOMPARE(parts.player->Speed(), speed);
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        QCOMPARE(parts.player->Speed(), speed);
        // The medium itself plays at that speed.
        QTRY_COMPARE_WITH_TIMEOUT(parts.player->PlayingSpeed(), speed, kTimeout);
    }

    void previousAndNextStayInsideThePlaylist_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("index");
        QTest::newRow("next from nothing selects the first") << -1 << "N6" << 0;
        QTest::newRow("next moves on") << 0 << "N6" << 1;
        QTest::newRow("next at the last does nothing") << 2 << "N6" << 2;
        QTest::newRow("previous moves back") << 2 << "N5" << 1;
        QTest::newRow("previous at the first does nothing") << 0 << "N5" << 0;
        QTest::newRow("previous with nothing selected does nothing") << -1 << "N5" << -1;
    }
    void previousAndNextStayInsideThePlaylist()
    {
        QFETCH(int, start);
        QFETCH(QString, command);
        QFETCH(int, index);
        const std::vector<std::string> entries = {Fixture("tone.wav"), Fixture("song.mid"), Fixture("clip.mpg")};
        TMovieForm1& f = MakeForm(entries); // not shown: nothing starts by itself
        parts.playlist->SetItemIndex(start);
        opened.clear();
        f.findChild<QAction*>(command)->trigger();
        QCOMPARE(parts.playlist->ItemIndex(), index);
        if (index != start)
            QCOMPARE(opened, std::vector<std::string>{entries[size_t(index)]});
        else
            QVERIFY(opened.empty());
    }

    void nextOntoAnEqualEntryHandsNothingOver()
    {
        MakeForm({Fixture("tone.wav"), Fixture("tone.wav")});
        parts.playlist->SetItemIndex(0);
        opened.clear();
        parts.nextTrackAction->trigger();
        QCOMPARE(parts.playlist->ItemIndex(), 1);
        QVERIFY(opened.empty());
    }

    void rewindAndFastForwardMoveByFiveSeconds()
    {
        TMovieForm1& f = MakeForm({Fixture("clip.avi")});
        f.show();
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        parts.fastForwardAction->trigger(); // past the end of a two-second clip
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Ended, kTimeout);
        parts.rewindAction->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(parts.player->GetCurrentPos() < 500, kTimeout);
    }
};

KINO_APP_TEST_MAIN(PlaybackTest)
#include "test_playback.moc"
