// The View, Tool and Help commands and Exit, through the real window.
#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QTest>

#include <memory>

#include "app/KinoApplication.h"
#include "app/MovieWindow1.h"
#include "controls/dxfComboBox.h"
#include "platform/AppPaths.h"
#include "platform/PathRules.h"
#include "player/PlayerBars.h"
#include "player/TGKitMSPlay.h"
#include "player/VideoView.h"
#include "player/engine/MediaFramework.h"
#include "support/MainWindowFixture.h"
#include "support/RecordingShell.h"
#include "support/TestMain.h"

using kino::TGKitMSPlay;
using kino::TMovieForm1;

namespace {
constexpr int kTimeout = 20000;
const QString kNotAvi = QStringLiteral("AVI ファイル以外の形式はコピーできません。");
const QString kEmpty = QStringLiteral("プレイリストにファイルが登録されていません。");
} // namespace

class ToolsTest : public QObject, MainWindowFixture {
    Q_OBJECT

    std::unique_ptr<RecordingShell> shell;

private slots:
    void init()
    {
        dialogs = RecordingDialogs();
        shell = std::make_unique<RecordingShell>();
    }
    void cleanup()
    {
        form.reset();
        shell.reset();
    }

    void viewTogglesReachTheControl()
    {
        TMovieForm1& f = MakeForm();
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        auto* p = parts.player;
        parts.fitToWindowAction->trigger();
        QCOMPARE(parts.fitToWindowAction->isChecked(), false);
        QCOMPARE(p->ViewStyle(), 0);
        parts.fitToWindowAction->trigger();
        QCOMPARE(p->ViewStyle(), 1); // twice: back to fitted

        parts.controlBarAction->trigger();
        QCOMPARE(p->ControlBar(), kino::kFalse);
        QVERIFY(!p->Bar()->isVisible());
        parts.statusBarAction->trigger();
        QCOMPARE(p->StatusBar(), kino::kFalse);
        QVERIFY(!p->StatusLine()->isVisible());
        parts.controlBarAction->trigger();
        parts.statusBarAction->trigger();
        QCOMPARE(p->ControlBar(), kino::kTrue);
        QCOMPARE(p->StatusBar(), kino::kTrue);
    }

    void hidingThePlaylistGivesThePictureTheWholeClientArea()
    {
        TMovieForm1& f = MakeForm();
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        const int client = f.centralWidget()->height();
        QCOMPARE(parts.player->height(), client - 20);
        parts.playlistStripAction->trigger();
        QVERIFY(!parts.playlistStripAction->isChecked());
        QVERIFY(!parts.playlistStrip->isVisible());
        QTRY_COMPARE(parts.player->height(), client);
        parts.playlistStripAction->trigger();
        QVERIFY(parts.playlistStrip->isVisible());
        QTRY_COMPARE(parts.player->height(), client - 20);
    }

    void copyFrame_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("copied");
        QTest::newRow("avi") << "clip.avi" << true;
        QTest::newRow("mpeg") << "clip.mpg" << false;
        QTest::newRow("wave") << "tone.wav" << false;
        QTest::newRow("midi") << "song.mid" << false;
        QTest::newRow("nothing") << "" << false;
    }
    void copyFrame()
    {
        QFETCH(QString, file);
        QFETCH(bool, copied);
        TMovieForm1& f = MakeForm();
        if (!file.isEmpty()) {
            parts.playlist->Items().Add(Fixture(file.toStdString()));
            parts.playlist->SetItemIndex(0);
            QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        }
        QImage marker(8, 8, QImage::Format_RGB32);
        marker.fill(Qt::red);
        QApplication::clipboard()->setImage(marker);
        if (copied)
            QTRY_VERIFY_WITH_TIMEOUT(!parts.player->View()->Frame().isNull(), kTimeout);
        parts.copyFrameAction->trigger();
        const QImage now = QApplication::clipboard()->image();
        if (copied) {
            QCOMPARE(now.size(), QSize(320, 240));
            QCOMPARE(shell->beeps, 0);
            QVERIFY(dialogs.messages.isEmpty());
        } else {
            QCOMPARE(now.size(), QSize(8, 8)); // left as it was
            QCOMPARE(shell->beeps, 1);
            QCOMPARE(dialogs.messages, QStringList{kNotAvi});
        }
    }

    void ctrlCReachesCopyWhereverTheFocusIs()
    {
        TMovieForm1& f = MakeForm();
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QApplication::setActiveWindow(&f);
        for (QWidget* w : {static_cast<QWidget*>(parts.playlist), static_cast<QWidget*>(parts.player)}) {
            w->setFocus();
            QTest::keyClick(w, Qt::Key_C, Qt::ControlModifier);
        }
        QCOMPARE(dialogs.messages, (QStringList{kNotAvi, kNotAvi}));
    }

    void openFolder_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("folder");
        QTest::newRow("file in a subfolder") << "/home/user/movies/clip.avi"
                                             << "/home/user/movies";
        QTest::newRow("file directly in the root") << "/clip.avi"
                                                   << "/";
        QTest::newRow("URL") << "http://example.invalid/media/clip.mpg"
                             << "http://example.invalid/media";
        QTest::newRow("URL of a site") << "http://example.invalid"
                                       << "http://example.invalid";
        QTest::newRow("URL of a site, port") << "http://example.invalid:8080"
                                             << "http://example.invalid:8080";
        QTest::newRow("URL of a site, user and port") << "rtsp://user:pw@example.invalid:554"
                                                      << "rtsp://user:pw@example.invalid:554";
        QTest::newRow("URL of a site, query") << "http://example.invalid?list=a/b"
                                              << "http://example.invalid";
        QTest::newRow("URL of a site's top") << "http://example.invalid/"
                                             << "http://example.invalid";
        QTest::newRow("name without a folder") << "clip.avi"
                                               << ".";
        QTest::newRow("nothing") << ""
                                 << "";
    }
    void openFolder()
    {
        QFETCH(QString, entry);
        QFETCH(QString, folder);
        TMovieForm1& f = MakeForm();
        f.FollowPlayerStatus(TGKitMSPlay::Playing);
        if (!entry.isEmpty()) {
            parts.playlist->Items().Add(entry.toStdString());
            parts.playlist->SetItemIndex(0);
        }
        parts.openContainingFolderAction->trigger();
        if (folder.isEmpty()) {
            QVERIFY(shell->opened.empty());
            QCOMPARE(shell->beeps, 1);
            QCOMPARE(dialogs.messages, QStringList{kEmpty});
        } else {
            QCOMPARE(shell->opened, std::vector<std::string>{folder.toStdString()});
            QCOMPARE(shell->beeps, 0);
        }
    }

    void userGuideIsBesideTheProgram()
    {
        MakeForm();
        parts.userGuideAction->trigger();
        const std::string programFolder = kino::FolderOf(kino::ExecutablePath());
        QCOMPARE(shell->opened, std::vector<std::string>{programFolder + "/Readme.txt"});
        // The build puts the guide there.
        QVERIFY(QFile::exists(QString::fromStdString(programFolder + "/../../Readme.txt")) ||
                QFile::exists(QString::fromStdString(programFolder + "/Readme.txt")));
    }

    void exitClosesThroughTheCloseHandler()
    {
        const QString ini = QDir::temp().filePath("kinolite-tools-exit.ini");
        QFile::remove(ini);
        TMovieForm1& f = MakeForm();
        f.SetSettingsPath(ini.toStdString());
        f.show();
        parts.exitAction->trigger();
        QVERIFY(!f.isVisible());
        QVERIFY(QFile::exists(ini)); // the position was written
        QFile::remove(ini);
    }
};

KINO_TEST_MAIN_WITH_MEDIA(ToolsTest)
#include "test_tools.moc"
