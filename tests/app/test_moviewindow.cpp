// The main window: its design, its menu, the settings file and start-up.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <climits>
#include <memory>
#include <stdexcept>

#include "app/Dialogs.h"
#include "app/KinoApplication.h"
#include "app/MovieWindow1.h"
#include "app/WindowPlacement.h"
#include "controls/dxfComboBox.h"
#include "controls/dxfPopupWindow.h"
#include "player/TGKitMSPlay.h"
#include "player/engine/MediaFramework.h"
#include "support/AppTestMain.h"
#include "support/MainWindowFixture.h"
#include "support/TestMain.h"

using kino::TGKitMSPlay;
using kino::TMovieForm1;

namespace {

// In a table of positions: the far edge of the screen's available area, less the window.
constexpr int kFar = INT_MAX;

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace

class MovieWindowTest : public QObject, MainWindowFixture {
    Q_OBJECT

private slots:
    void init()
    {
        dialogs.errors.clear();
        QFile::remove(SettingsFile());
    }
    void cleanup() { form.reset(); }

    void designedLayoutAndFirstStart()
    {
        TMovieForm1& f = MakeForm();
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QCOMPARE(f.windowTitle(), QStringLiteral("KINOLITE"));
        QCOMPARE(f.pos(), QPoint(40, 40));
        QCOMPARE(f.centralWidget()->size(), QSize(300, 340));
        QCOMPARE(parts.player->size(), QSize(300, 320));
        QCOMPARE(parts.playlistStrip->geometry(), QRect(0, 320, 300, 20));
        QCOMPARE(parts.playlist->size(), QSize(300, 20));
        QCOMPARE(parts.playlist->ItemIndex(), -1);
        QCOMPARE(parts.playlist->toolTip(), QStringLiteral("プレイリスト"));
        QVERIFY(parts.continuousPlayAction->isChecked()); // continuous play is switched on when first shown
        QCOMPARE(f.PlayerStatus(), TGKitMSPlay::Stopped);
        QCOMPARE(parts.player->FileName(), std::string());
        QCOMPARE(f.minimumSize().width(), 92);

        // The picture follows every resize; the strip keeps its 20 pixels.
        f.resize(500, 500);
        QTRY_COMPARE(parts.player->width(), 500);
        QCOMPARE(parts.playlistStrip->height(), 20);
        QCOMPARE(parts.player->height() + 20, f.centralWidget()->height());

        f.close();
        const QByteArray ini = ReadAll(SettingsFile());
        QVERIFY2(ini.contains("[SET0]"), ini.constData());
        QVERIFY(ini.contains("M_TOP=40"));
        QVERIFY(ini.contains("M_LEFT=40"));
        QVERIFY(dialogs.errors.isEmpty());
    }

    void menuItemsAsDesigned_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("shortcut");
        QTest::addColumn<int>("checked"); // -1: no check mark
        QTest::newRow("N18") << "N18"
                             << "プレイリストに追加(&O)..."
                             << "Ctrl+O" << -1;
        QTest::newRow("CDROM1") << "CDROM1"
                                << "プレイリストに追加<サブフォルダ展開>(&S)..."
                                << "Ctrl+Alt+O" << -1;
        QTest::newRow("URLU1") << "URLU1"
                               << "プレイリストにURLを追加(&U)..."
                               << "Ctrl+U" << -1;
        QTest::newRow("N19") << "N19"
                             << "プレイリストの初期化(&R)..."
                             << "Ctrl+R" << -1;
        QTest::newRow("N27") << "N27"
                             << "プレイリストの自動ソート(&S)"
                             << "" << 0;
        QTest::newRow("N24") << "N24"
                             << "すべてのメディアファイル(&F)"
                             << "" << 1;
        QTest::newRow("AVI1") << "AVI1"
                              << "AVI ファイル(&A)"
                              << "" << 0;
        QTest::newRow("MPEG1") << "MPEG1"
                               << "MPEG ファイル(&M)"
                               << "" << 0;
        QTest::newRow("WAVE1") << "WAVE1"
                               << "WAVE ファイル(&W)"
                               << "" << 0;
        QTest::newRow("MIDI1") << "MIDI1"
                               << "MIDI ファイル(&D)"
                               << "" << 0;
        QTest::newRow("Exit1") << "Exit1"
                               << "終了(&X)"
                               << "" << -1;
        QTest::newRow("N2") << "N2"
                            << "ウィンドウの大きさに合わせる(&F)"
                            << "" << 1;
        QTest::newRow("N9") << "N9"
                            << "コントロールバー(&C)"
                            << "" << 1;
        QTest::newRow("N8") << "N8"
                            << "ステータスバー(&S)"
                            << "" << 1;
        QTest::newRow("N7") << "N7"
                            << "プレイリスト(&L)"
                            << "" << 1;
        QTest::newRow("N29") << "N29"
                             << "矩形再生範囲の指定(&R)..."
                             << "" << -1;
        QTest::newRow("N3") << "N3"
                            << "プレイ/ポーズ(&P)"
                            << "Ctrl+P" << -1;
        QTest::newRow("S1") << "S1"
                            << "ストップ(&S)"
                            << "Ctrl+S" << -1;
        QTest::newRow("N5") << "N5"
                            << "前のトラック(&B)"
                            << "Ctrl+B" << -1;
        QTest::newRow("N6") << "N6"
                            << "次のトラック(&F)"
                            << "Ctrl+F" << -1;
        QTest::newRow("N10") << "N10"
                             << "巻き戻し(&R)"
                             << "Ctrl+Alt+B" << -1;
        QTest::newRow("A1") << "A1"
                            << "早送り(&A)"
                            << "Ctrl+Alt+F" << -1;
        QTest::newRow("N14") << "N14"
                             << "連続プレイ(&T)"
                             << "Ctrl+T" << 0;
        QTest::newRow("N051") << "N051"
                              << "0.5倍速(&H)"
                              << "" << 0;
        QTest::newRow("N13") << "N13"
                             << "標準(&N)"
                             << "" << 1;
        QTest::newRow("N21") << "N21"
                             << "1.5倍速(&C)"
                             << "" << 0;
        QTest::newRow("N22") << "N22"
                             << "2倍速(&T)"
                             << "" << 0;
        QTest::newRow("Copy1") << "Copy1"
                               << "現在のフレームをコピー(&C)"
                               << "Ctrl+C" << -1;
        QTest::newRow("N26") << "N26"
                             << "フォルダを開く(&A)"
                             << "" << -1;
        QTest::newRow("G1") << "G1"
                            << "ユーザーズガイド(&G)"
                            << "F1" << -1;
        QTest::newRow("A2") << "A2"
                            << "ソフトウェア情報(&A)..."
                            << "" << -1;
    }
    void menuItemsAsDesigned()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QString, shortcut);
        QFETCH(int, checked);
        TMovieForm1& f = MakeForm(); // as designed: not shown yet
        auto* action = f.findChild<QAction*>(name);
        QVERIFY(action);
        QCOMPARE(action->text(), caption);
        QCOMPARE(action->shortcut().toString(), shortcut);
        QCOMPARE(action->isCheckable(), checked >= 0);
        if (checked >= 0)
            QCOMPARE(action->isChecked(), checked == 1);
    }

    void menusInDesignedOrder()
    {
        TMovieForm1& f = MakeForm();
        QStringList tops;
        for (QAction* a : f.menuBar()->actions())
            tops << a->text();
        QCOMPARE(tops, QStringList({"ファイル(&F)", "ビュー(&V)", "プレイ(&P)", "ツール(&T)", "ヘルプ(&H)"}));
        QStringList file;
        for (QAction* a : parts.fileMenu->actions())
            file << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
        QCOMPARE(file, QStringList({"N18", "CDROM1", "URLU1", "-", "N19", "-", "N27", "", "-", "Exit1"}));
        QCOMPARE(parts.mediaFilterMenu->title(), QStringLiteral("サブフォルダ展開の取得形式(&F)"));
        QCOMPARE(parts.speedMenu->title(), QStringLiteral("プレイ速度(&D)"));
    }

    void positionReadFromTheSettingsFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QPoint>("pos");
        QTest::newRow("decimal") << QByteArray("[SET0]\nM_TOP=120\nM_LEFT=200\n") << QPoint(200, 120);
        QTest::newRow("hex 0x") << QByteArray("[SET0]\nM_TOP=0x20\nM_LEFT=0X30\n") << QPoint(48, 32);
        QTest::newRow("hex dollar") << QByteArray("[SET0]\nM_TOP=$20\n") << QPoint(40, 32);
        QTest::newRow("not a number") << QByteArray("[SET0]\nM_TOP=abc\nM_LEFT=12px\n") << QPoint(40, 40);
        QTest::newRow("off every screen, up left") << QByteArray("[SET0]\nM_TOP=-5000\nM_LEFT=-7000\n") << QPoint(0, 0);
        QTest::newRow("int min") << QByteArray("[SET0]\nM_TOP=-2147483648\nM_LEFT=-2147483648\n") << QPoint(0, 0);
        QTest::newRow("beyond the bottom right")
            << QByteArray("[SET0]\nM_TOP=32767\nM_LEFT=32767\n") << QPoint(kFar, kFar);
        QTest::newRow("other section") << QByteArray("[SET1]\nM_TOP=100\n") << QPoint(40, 40);
        QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe[SET0\x00M_TOP=1", 17) << QPoint(40, 40);
        QTest::newRow("empty") << QByteArray() << QPoint(40, 40);
    }
    void positionReadFromTheSettingsFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QPoint, pos);
        WriteAll(SettingsFile(), content);
        TMovieForm1& f = MakeForm();
        f.show();
        const QRect area = f.screen()->availableGeometry();
        if (pos.x() == kFar)
            pos = QPoint(area.right() + 1 - f.frameGeometry().width(), area.bottom() + 1 - f.frameGeometry().height());
        QCOMPARE(f.pos(), pos);
        QCOMPARE(f.size().width(), 300); // the size is never restored
        QVERIFY(dialogs.errors.isEmpty());
    }

    void positionOnScreen_data()
    {
        QTest::addColumn<QPoint>("saved");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("placed");
        // Two screens: the first with a task bar at its foot, the second to its
        // right, 200 pixels higher. The window is 308 x 394.
        const QSize w(308, 394);
        QTest::newRow("on the first") << QPoint(100, 100) << w << QPoint(100, 100);
        QTest::newRow("on the second, above the first's top") << QPoint(2000, -150) << w << QPoint(2000, -150);
        QTest::newRow("100 across seen") << QPoint(-208, 100) << w << QPoint(-208, 100);
        QTest::newRow("99 across seen") << QPoint(-209, 100) << w << QPoint(0, 100);
        QTest::newRow("49 down seen, behind the task bar") << QPoint(100, 991) << w << QPoint(100, 646);
        QTest::newRow("right of the second") << QPoint(5000, 300) << w << QPoint(2892, 300);
        QTest::newRow("below the second") << QPoint(2500, 900) << w << QPoint(2500, 430);
        QTest::newRow("a screen gone on the left") << QPoint(-1500, 200) << w << QPoint(0, 200);
        QTest::newRow("int max") << QPoint(INT_MAX, INT_MAX) << w << QPoint(2892, 430);
        QTest::newRow("int min") << QPoint(INT_MIN, INT_MIN) << w << QPoint(0, 0);
        QTest::newRow("larger than the screen") << QPoint(5000, 5000) << QSize(4000, 3000) << QPoint(1920, -200);
    }
    void positionOnScreen()
    {
        QFETCH(QPoint, saved);
        QFETCH(QSize, size);
        QFETCH(QPoint, placed);
        const QList<QRect> areas{QRect(0, 0, 1920, 1040), QRect(1920, -200, 1280, 1024)};
        QCOMPARE(kino::PositionOnScreen(saved, size, areas), placed);
    }

    void settingsFileThatIsAFolderGivesDefaultsAndStillCloses()
    {
        QVERIFY(QDir(SettingsFolder()).mkdir("KINOLITE.ini"));
        auto removeFolder = qScopeGuard([this] { QDir(SettingsFolder()).rmdir("KINOLITE.ini"); });
        TMovieForm1& f = MakeForm();
        f.show();
        QCOMPARE(f.pos(), QPoint(40, 40));
        QVERIFY(f.close());
        QVERIFY(!f.isVisible());
        QCOMPARE(dialogs.errors.size(), 1);
        QCOMPARE(dialogs.errors.front(), SettingsFile() + QStringLiteral(" に書き込めません."));
    }

    void closingWritesThePositionAndKeepsTheRestOfTheFile()
    {
        WriteAll(SettingsFile(), "; kept comment\n[OTHER]\nkey=value\n\n[SET0]\nM_TOP=10\nM_LEFT=20\nEXTRA=1\n");
        TMovieForm1& f = MakeForm();
        f.show();
        QCOMPARE(f.pos(), QPoint(20, 10));
        f.move(333, 222);
        QVERIFY(f.close());
        const QByteArray ini = ReadAll(SettingsFile());
        QVERIFY2(ini.contains("M_TOP=222") && ini.contains("M_LEFT=333"), ini.constData());
        QVERIFY(ini.contains("; kept comment"));
        QVERIFY(ini.contains("key=value"));
        QVERIFY(ini.contains("EXTRA=1"));
        // Read back by a new window: the round trip holds.
        form.reset();
        TMovieForm1& g = MakeForm();
        g.show();
        QCOMPARE(g.pos(), QPoint(333, 222));
    }

    void commandLineMediaFileStartsPlaying()
    {
        TMovieForm1& f = MakeForm();
        f.SetArguments({Fixture("no-such.avi"), Fixture("clip.avi"), Fixture("random.avi") + ".txt"});
        f.show();
        QCOMPARE(parts.playlist->Items().Count(), 1);
        QCOMPARE(parts.playlist->ItemIndex(), 0);
        QCOMPARE(parts.player->FileName(), Fixture("clip.avi"));
        // Opening may go on in the background on a busy machine; the facts follow.
        QTRY_COMPARE_WITH_TIMEOUT(parts.player->MediaFormat(), 301, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, 20000);
    }

    void choosingAnEntryHandsItToThePlayer()
    {
        TMovieForm1& f = MakeForm();
        parts.playlist->Items().Add(Fixture("clip.mpg"));
        parts.playlist->Items().Add(Fixture("tone.wav"));
        parts.playlist->SetItemIndex(1);
        QCOMPARE(parts.player->FileName(), Fixture("tone.wav"));
        QTRY_COMPARE_WITH_TIMEOUT(parts.player->MediaFormat(), 201, 20000);
        parts.playlist->SetItemIndex(0);
        QTRY_COMPARE_WITH_TIMEOUT(parts.player->MediaFormat(), 302, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, 20000);
    }

    // The user clicks the playlist strip, the list opens below it, and a click on
    // a row plays that entry, a Shift-JIS name byte for byte.
    void aRowClickedInThePlaylistPlays()
    {
        TMovieForm1& f = MakeForm();
        // Byte for byte: a QString on the way would spoil the name.
        const std::string sjis = Fixture("") + "\x83\x65\x83\x58\x83\x67.avi";
        parts.playlist->Items().Add(Fixture("clip.mpg"));
        parts.playlist->Items().Add(sjis);
        parts.playlist->Items().Add(Fixture("tone.wav"));
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QWindow* window = f.windowHandle();
        const QPoint strip = parts.playlist->mapTo(&f, QPoint(40, 10));
        QTest::mouseClick(window, Qt::LeftButton, {}, strip);
        QVERIFY(parts.playlist->DroppedDown());
        kino::TPopupWindow* popup = parts.playlist->Popup();
        QVERIFY(QTest::qWaitForWindowExposed(popup));
        QCOMPARE(popup->geometry().topLeft(), parts.playlist->mapToGlobal(QPoint(0, parts.playlist->height())));
        QCOMPARE(popup->size(), QSize(300, 150));
        QCOMPARE(popup->RowCount(), 3);
        const QPoint row = popup->ListRect().topLeft() + popup->RowRect(1).center();
        QTest::mouseClick(popup->windowHandle(), Qt::LeftButton, {}, row);
        QVERIFY(!parts.playlist->DroppedDown());
        QCOMPARE(parts.playlist->ItemIndex(), 1);
        QCOMPARE(parts.player->FileName(), sjis);
        QTRY_COMPARE_WITH_TIMEOUT(parts.player->MediaFormat(), 301, 20000);
    }

    void standardErrorText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("ends in a letter") << "disk full"
                                          << "disk full.";
        QTest::newRow("ends in a dot") << "done."
                                       << "done.";
        QTest::newRow("ends in a comma") << "a,"
                                         << "a,";
        QTest::newRow("ends in a digit") << "code 5"
                                         << "code 5.";
        QTest::newRow("Japanese") << "書き込めません"
                                  << "書き込めません.";
    }
    void standardErrorText()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(kino::StandardErrorText(text), shown);
    }

    void platformKeepsWindowPositions_data()
    {
        QTest::addColumn<QByteArray>("chosen");
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("wayland");
        QTest::addColumn<QByteArray>("platform");
        QTest::newRow("Wayland with XWayland")
            << QByteArray() << QByteArray(":0") << QByteArray("wayland-0") << QByteArray("xcb");
        QTest::newRow("plain X") << QByteArray() << QByteArray(":0") << QByteArray() << QByteArray("xcb");
        QTest::newRow("Wayland only") << QByteArray() << QByteArray() << QByteArray("wayland-0") << QByteArray();
        QTest::newRow("user's choice stands")
            << QByteArray("wayland") << QByteArray(":0") << QByteArray("wayland-0") << QByteArray();
        QTest::newRow("no display at all") << QByteArray() << QByteArray() << QByteArray() << QByteArray();
    }
    void platformKeepsWindowPositions()
    {
        QFETCH(QByteArray, chosen);
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, wayland);
        QFETCH(QByteArray, platform);
        QCOMPARE(kino::PreferredPlatform(chosen, display, wayland), platform);
    }

    void errorInAHandlerIsShownAndTheLoopGoesOn()
    {
        TMovieForm1& f = MakeForm();
        f.show();
        kino::TKinoApplication::SetDialogs(&dialogs);
        auto restore = qScopeGuard([] { kino::TKinoApplication::SetDialogs(nullptr); });
        QTimer::singleShot(0, &f, [] { throw std::runtime_error("handler failed"); });
        bool after = false;
        QTimer::singleShot(1, &f, [&after] { after = true; });
        QTRY_VERIFY(after);
        QCOMPARE(dialogs.errors, QStringList({"handler failed."}));
        QVERIFY(f.isVisible());
    }
};

KINO_APP_TEST_MAIN(MovieWindowTest)
#include "test_moviewindow.moc"
