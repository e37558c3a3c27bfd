// The region navigator with the real player and the fixtures: the user picks a
// rectangle of the picture and the player shows only it.
#include <QAction>
#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QTest>

#include <memory>

#include "app/KinoApplication.h"
#include "app/MovieWindow1.h"
#include "controls/dxfComboBox.h"
#include "player/TGKitMSPlay.h"
#include "player/VideoView.h"
#include "player/engine/MediaFramework.h"
#include "region/CutWindow1.h"
#include "region/SelShape.h"
#include "support/AppTestMain.h"
#include "support/MainWindowFixture.h"
#include "support/RecordingShell.h"
#include "support/TestMain.h"

using kino::TGKitMSPlay;
using kino::TMovieForm1;

namespace {
constexpr int kTimeout = 20000;
}

class RegionTest : public QObject, MainWindowFixture {
    Q_OBJECT

    std::unique_ptr<RecordingShell> shell;
    std::unique_ptr<kino::TCutForm1> cut;

    TMovieForm1& MakeForm(const std::vector<std::string>& entries)
    {
        MainWindowFixture::MakeForm();
        cut = std::make_unique<kino::TCutForm1>(form.get());
        form->AttachNavigator(cut.get());
        for (const auto& e : entries)
            parts.playlist->Items().Add(e);
        form->show();
        // Playing once the first entry is open; the tests check that before going on.
        const bool playing = QTest::qWaitFor([this] { return form->PlayerStatus() == TGKitMSPlay::Playing; }, kTimeout);
        if (!playing)
            qWarning("the first entry did not start");
        return *form;
    }

    // A press and release on the selection, as the user's click.
    void ClickSelection()
    {
        auto* shape = cut->selection;
        QTest::mouseClick(shape, Qt::LeftButton, {}, QPoint(shape->width() / 2, shape->height() / 2));
    }

    QRect Shown() const { return parts.player->View()->EffectiveSourceRect(); }

private slots:
    void init()
    {
        dialogs = RecordingDialogs();
        shell = std::make_unique<RecordingShell>();
    }
    void cleanup()
    {
        cut.reset();
        form.reset();
        shell.reset();
    }

    void navigatorFollowsThePictureAndAppliesTheSelection()
    {
        TMovieForm1& f = MakeForm({Fixture("clip.avi")});
        QCOMPARE(f.PlayerStatus(), TGKitMSPlay::Playing);
        f.move(100, 80);
        parts.regionNavigatorAction->trigger();
        QVERIFY(cut->isVisible());
        QCOMPARE(cut->windowTitle(), QStringLiteral("矩形再生ナビ"));
        QCOMPARE(cut->picturePanel->text(), QStringLiteral("320 x 240 ピクセル"));
        QCOMPARE(cut->picturePanel->size(), QSize(320, 240));
        QCOMPARE(cut->selection->geometry(), QRect(0, 0, 320, 240));
        QCOMPARE(cut->size(), QSize(320, 240));
        QCOMPARE(cut->pos(), QPoint(106, 132));
        QVERIFY(cut->windowFlags() & Qt::WindowStaysOnTopHint);

        // An untouched selection hands over the whole picture.
        ClickSelection();
        QCOMPARE(parts.player->View()->SourceRect(), QRect(0, 0, 320, 240));

        // Moved and resized: only that part is shown.
        cut->selection->SelChgRit(100 - 320);
        cut->selection->SelChgBot(80 - 240);
        cut->selection->SelChgMov(40, 30);
        QCOMPARE(cut->selection->geometry(), QRect(40, 30, 100, 80));
        ClickSelection();
        QCOMPARE(Shown(), QRect(40, 30, 100, 80));

        // Running the command again re-runs the set-up without moving the window.
        cut->move(300, 300);
        parts.regionNavigatorAction->trigger();
        QCOMPARE(cut->pos(), QPoint(300, 300));

        // Closing shows the whole picture again.
        cut->close();
        QVERIFY(!cut->isVisible());
        QCOMPARE(Shown(), QRect(0, 0, 320, 240));
    }

    void changeOfEntryKeepsTheSelectionsCorner()
    {
        TMovieForm1& f = MakeForm({Fixture("clip.avi"), Fixture("clip.mpg")});
        QCOMPARE(f.PlayerStatus(), TGKitMSPlay::Playing);
        parts.regionNavigatorAction->trigger();
        cut->selection->SelChgMov(0, 0);
        cut->selection->setGeometry(40, 30, 100, 80);
        ClickSelection();
        parts.nextTrackAction->trigger(); // the next entry: 352 × 240
        QCOMPARE(cut->picturePanel->text(), QStringLiteral("352 x 240 ピクセル"));
        QCOMPARE(cut->selection->geometry(), QRect(40, 30, 352, 240));
        // The new source shows its whole picture until the next release.
        QCOMPARE(Shown(), QRect(0, 0, 352, 240));
    }

    void noPictureBeepsAndHides()
    {
        TMovieForm1& f = MakeForm({Fixture("clip.avi"), Fixture("tone.wav")});
        QCOMPARE(f.PlayerStatus(), TGKitMSPlay::Playing);
        parts.regionNavigatorAction->trigger();
        QVERIFY(cut->isVisible());
        parts.nextTrackAction->trigger(); // a WAVE entry becomes current
        QVERIFY(!cut->isVisible());
        QCOMPARE(shell->beeps, 1);
        parts.regionNavigatorAction->trigger(); // and the command itself refuses it
        QVERIFY(!cut->isVisible());
        QCOMPARE(shell->beeps, 2);
    }

    void largePictureIsShownScaledAndStillHandsPicturePixels()
    {
        TMovieForm1& f = MakeForm({Fixture("hd.mpg")});
        QCOMPARE(f.PlayerStatus(), TGKitMSPlay::Playing);
        parts.regionNavigatorAction->trigger();
        const QRect avail = f.screen()->availableGeometry();
        const int d = cut->Divisor();
        QVERIFY(d > 1);
        QCOMPARE(cut->picturePanel->size(), QSize(1920 / d, 1080 / d));
        QVERIFY(cut->width() <= avail.width() * 2 / 3 && cut->height() <= avail.height() * 2 / 3);
        QCOMPARE(cut->picturePanel->text(), QStringLiteral("1920 x 1080 ピクセル"));
        ClickSelection();
        QCOMPARE(parts.player->View()->SourceRect(), QRect(0, 0, 1920, 1080));
        cut->selection->setGeometry(10, 20, 100, 50);
        ClickSelection();
        QCOMPARE(Shown(), QRect(10 * d, 20 * d, 100 * d, 50 * d));
    }
};

KINO_APP_TEST_MAIN(RegionTest)
#include "test_region.moc"
