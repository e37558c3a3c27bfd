// The program's windows as the desktop shows them: every caption exactly as designed,
// read from the X server, and Qt's own dialog texts in Japanese whatever the locale.
#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Dialogs.h"
#include "app/InfoWindow1.h"
#include "app/KinoApplication.h"
#include "app/MovieWindow1.h"
#include "controls/dxfComboBox.h"
#include "region/CutWindow1.h"
#include "support/AppTestMain.h"
#include "support/RecordingDialogs.h"
#include "support/TestMain.h"
#include "support/X11Probe.h"

using kino::TGKitMSPlay;
using kino::TMovieForm1;

namespace {

QString Caption(QWidget* w)
{
    return QTest::qWaitForWindowExposed(w) ? x11probe::NetWmName(w->winId()) : QStringLiteral("<not shown>");
}

// Runs `open`, which shows a modal window and returns once it is closed, and gives the
// caption the X server held for that window while it was up.
QString CaptionOfModal(const std::function<void()>& open)
{
    QString caption = QStringLiteral("<not shown>");
    QTimer::singleShot(0, qApp, [&caption] {
        if (!QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }))
            return;
        QWidget* modal = QApplication::activeModalWidget();
        caption = Caption(modal);
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    });
    open();
    return caption;
}

} // namespace

class AppWindowsTest : public QObject {
    Q_OBJECT

    RecordingDialogs recording;

private slots:
    void captionOnTheDesktopIsTheDesigned_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("caption");
        QTest::newRow("main window") << "main"
                                     << "KINOLITE";
        QTest::newRow("main window while searching") << "searching"
                                                     << "KINOLITE - 検索中......";
        QTest::newRow("about window") << "about"
                                      << "KINOLITE Ver.2.4";
        QTest::newRow("region navigator") << "navigator"
                                          << "矩形再生ナビ";
        QTest::newRow("reset confirmation") << "reset"
                                            << "確認";
        QTest::newRow("error box") << "error"
                                   << "KINOLITE";
        QTest::newRow("message box") << "message"
                                     << "KINOLITE";
        QTest::newRow("URL box") << "url"
                                 << "開く";
        QTest::newRow("open-file dialog") << "open"
                                          << "ファイルを開く";
        QTest::newRow("folder browser") << "folder"
                                        << "ルートフォルダの選択";
    }
    void captionOnTheDesktopIsTheDesigned()
    {
        QFETCH(QString, window);
        QFETCH(QString, caption);
        QTemporaryDir dir;
        TMovieForm1 main(&recording);
        main.SetSettingsPath(dir.filePath(QStringLiteral("KINOLITE.ini")).toStdString());
        main.FollowPlayerStatus(TGKitMSPlay::Playing); // nothing is started by the adds
        main.show();
        kino::QtDialogs qt;
        QString shown;
        if (window == QLatin1String("main")) {
            shown = Caption(&main);
        } else if (window == QLatin1String("searching")) {
            QFile(dir.filePath(QStringLiteral("a.avi"))).open(QIODevice::WriteOnly);
            recording.folder = dir.path().toStdString();
            // The found entry reaches the list while the search still runs.
            QObject::connect(&main.Playlist()->Items(), &kino::TdxfItems::changed, &main,
                             [&] { shown = x11probe::NetWmName(main.winId()); });
            QVERIFY(QTest::qWaitForWindowExposed(&main));
            main.findChild<QAction*>(QStringLiteral("CDROM1"))->trigger(); // add a folder tree
        } else if (window == QLatin1String("about")) {
            // Through the command, which makes the window only when first asked for.
            main.SetAboutWindow([&main] { return new kino::TInfoForm1(&main); });
            shown = CaptionOfModal([&] { main.findChild<QAction*>(QStringLiteral("A2"))->trigger(); });
        } else if (window == QLatin1String("navigator")) {
            kino::TCutForm1 navigator(&main);
            navigator.show();
            shown = Caption(&navigator);
        } else if (window == QLatin1String("reset")) {
            shown = CaptionOfModal([&] { qt.ConfirmReset(&main); });
        } else if (window == QLatin1String("error")) {
            shown = CaptionOfModal([&] { qt.ShowError(&main, QStringLiteral("x")); });
        } else if (window == QLatin1String("message")) {
            shown = CaptionOfModal([&] { qt.ShowMessage(&main, QStringLiteral("x")); });
        } else if (window == QLatin1String("url")) {
            shown = CaptionOfModal([&] { qt.InputUrl(&main); });
        } else if (window == QLatin1String("open")) {
            std::vector<std::string> files;
            shown = CaptionOfModal([&] { qt.OpenFiles(&main, files); });
        } else if (window == QLatin1String("folder")) {
            shown = CaptionOfModal([&] { qt.BrowseFolder(&main); });
        }
        QCOMPARE(shown, caption);
        main.close();
    }

    // The window's font is asked for by the stand-in that is installed, not by the design's
    // missing family: the letters must still be the ones the design's family, stood in
    // for, would give.
    void designFontIsWhatItsStandInsGive()
    {
        QFont design(QStringLiteral("ＭＳ Ｐゴシック"));
        design.setPixelSize(12);
        design.setStyleHint(QFont::SansSerif);
        const QFont font = kino::DesignFont(12);
        QCOMPARE(QFontInfo(font).family(), QFontInfo(design).family());
        QCOMPARE(QFontInfo(font).pixelSize(), 12);
    }

    // The program speaks Japanese throughout: Qt's own buttons and dialogs too, whatever
    // the locale (the test runs under LC_ALL=C). Without Qt's translations it still
    // comes up, in Qt's English.
    void qtTextsAreJapanese_data()
    {
        QTest::addColumn<bool>("translations");
        QTest::addColumn<QString>("cancel");
        QTest::addColumn<QString>("open");
        QTest::addColumn<QString>("lookIn");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("as the program starts") << true << "キャンセル"
                                               << "開く(&O)"
                                               << "アドレス:"
                                               << "ファイル名(&N):";
        QTest::newRow("no translation file") << false << "Cancel"
                                             << "&Open"
                                             << "Look in:"
                                             << "File &name:";
    }
    void qtTextsAreJapanese()
    {
        QFETCH(bool, translations);
        QFETCH(QString, cancel);
        QFETCH(QString, open);
        QFETCH(QString, lookIn);
        QFETCH(QString, fileName);
        auto* app = static_cast<kino::TKinoApplication*>(qApp);
        const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        auto restore = qScopeGuard([&] { app->InstallQtTranslation(qtFolder); });
        if (!translations) {
            QTemporaryDir empty;
            QVERIFY(!app->InstallQtTranslation(empty.path()));
        }

        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), cancel);

        QFileDialog dialog(nullptr, QStringLiteral("ファイルを開く"));
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        auto* box = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        QVERIFY(box);
        QCOMPARE(box->button(QDialogButtonBox::Open)->text(), open);
        QCOMPARE(box->button(QDialogButtonBox::Cancel)->text(), cancel);
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"))->text(), lookIn);
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("fileNameLabel"))->text(), fileName);
    }
};

KINO_APP_TEST_MAIN(AppWindowsTest)
#include "test_appwindows.moc"
