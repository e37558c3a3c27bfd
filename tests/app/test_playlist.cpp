// Building the playlist: files, folder trees, URLs, drops, the command line, the
// reset, the sort switch and the media type filter.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "app/KinoApplication.h"
#include "app/MovieWindow1.h"
#include "controls/dxfComboBox.h"
#include "player/TGKitMSPlay.h"
#include "player/engine/MediaFramework.h"
#include "search/SearchFile.h"
#include "support/MainWindowFixture.h"
#include "support/TestMain.h"

using kino::TGKitMSPlay;
using kino::TMovieForm1;

namespace {

constexpr int kTimeout = 20000;

std::vector<std::string> Entries(const TMovieForm1& f)
{
    std::vector<std::string> out;
    const auto& items = f.Playlist()->Items();
    for (int i = 0; i < items.Count(); ++i)
        out.push_back(items.Strings(i));
    return out;
}

} // namespace

class PlaylistTest : public QObject, MainWindowFixture {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::string root;

    // Makes a file (a copy of a fixture, or empty) at `rel` below the test folder.
    std::string Make(const std::string& rel, const std::string& fixture = {})
    {
        const std::string path = root + "/" + rel;
        QDir().mkpath(QFile::decodeName(QByteArray::fromStdString(path.substr(0, path.rfind('/')))));
        if (!fixture.empty()) {
            QFile::copy(FixturePath(QString::fromStdString(fixture)),
                        QFile::decodeName(QByteArray::fromStdString(path)));
        } else {
            FILE* fp = std::fopen(path.c_str(), "wb");
            if (fp)
                std::fclose(fp);
        }
        return path;
    }

    void AddFiles(const std::vector<std::string>& files)
    {
        dialogs.openConfirmed = true;
        dialogs.openFiles = files;
        parts.addFilesAction->trigger();
    }

private slots:
    void init()
    {
        dialogs = RecordingDialogs();
        dir = std::make_unique<QTemporaryDir>();
        root = dir->path().toStdString();
    }
    void cleanup()
    {
        form.reset();
        dir.reset();
    }

    void orderAndDuplicates_data()
    {
        QTest::addColumn<bool>("sorted");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("list");
        QTest::newRow("sort off appends") << false << QStringList{"b.avi", "a.avi"} << QStringList{"b.avi", "a.avi"};
        QTest::newRow("sort off keeps duplicates")
            << false << QStringList{"a.avi", "a.avi"} << QStringList{"a.avi", "a.avi"};
        QTest::newRow("sort on orders, case ignored")
            << true << QStringList{"B.avi", "a.avi", "c.avi"} << QStringList{"a.avi", "B.avi", "c.avi"};
        QTest::newRow("sort on drops equal texts")
            << true << QStringList{"a.avi", "A.AVI", "a.avi"} << QStringList{"a.avi"};
    }
    void orderAndDuplicates()
    {
        QFETCH(bool, sorted);
        QFETCH(QStringList, added);
        QFETCH(QStringList, list);
        TMovieForm1& f = MakeForm();
        f.FollowPlayerStatus(TGKitMSPlay::Playing); // playing: the adds only fill the list
        if (sorted)
            parts.autoSortAction->trigger();
        QCOMPARE(parts.autoSortAction->isChecked(), sorted);
        for (const QString& a : added)
            AddFiles({a.toStdString()});
        std::vector<std::string> expected;
        for (const QString& l : list)
            expected.push_back(l.toStdString());
        QCOMPARE(Entries(f), expected);
        QCOMPARE(parts.playlist->ItemIndex(), -1);
    }

    void addingWhileStoppedStartsTheFirstEntry()
    {
        TMovieForm1& f = MakeForm();
        AddFiles({Fixture("clip.avi"), Fixture("tone.wav")});
        QCOMPARE(parts.playlist->ItemIndex(), 0);
        QCOMPARE(parts.player->FileName(), Fixture("clip.avi"));
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        // Adding while playing leaves the current track alone.
        const auto generation = parts.player->SourceSerial();
        AddFiles({Fixture("clip.mpg")});
        QCOMPARE(parts.playlist->ItemIndex(), 0);
        QCOMPARE(parts.player->SourceSerial(), generation);
        QCOMPARE(int(Entries(f).size()), 3);
    }

    void stoppedWithTheFirstEntryShownReloadsNothing()
    {
        TMovieForm1& f = MakeForm();
        AddFiles({Fixture("clip.avi")});
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        parts.stopAction->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Stopped, kTimeout);
        const auto generation = parts.player->SourceSerial();
        AddFiles({Fixture("tone.wav")});
        QCOMPARE(parts.player->SourceSerial(), generation);
    }

    void sortedAddKeepsThePlayingEntry_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("add before while playing") << "add";
        QTest::newRow("sort on while playing") << "sort";
        QTest::newRow("add before while stopped") << "stopped";
    }
    void sortedAddKeepsThePlayingEntry()
    {
        // Entry m4 plays; one command adds entries that all sort before it, or sorting is
        // switched on. The selection moves with m4, so the player is handed nothing and
        // plays on. Stopped, an add starts the (new) first entry as ever.
        QFETCH(QString, how);
        std::vector<std::string> names;
        for (const char* n : {"m1.avi", "m2.avi", "m3.avi", "m4.avi", "a1.avi", "a2.avi", "a3.avi"})
            names.push_back(Make(n, "clip.avi"));
        TMovieForm1& f = MakeForm();
        if (how == "sort") {
            AddFiles({names[3], names[0], names[4], names[1]});
            QCOMPARE(parts.playlist->ItemIndex(), 0);
        } else {
            parts.autoSortAction->trigger();
            AddFiles({names[0], names[1], names[2], names[3]});
            parts.playlist->SetItemIndex(3);
        }
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        QCOMPARE(parts.player->FileName(), names[3]);
        if (how == "stopped") {
            parts.stopAction->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Stopped, kTimeout);
        }
        const int index = parts.playlist->ItemIndex();
        const int status = f.PlayerStatus();
        const auto generation = parts.player->SourceSerial();

        if (how == "sort") {
            parts.autoSortAction->trigger();
            QCOMPARE(Entries(f), (std::vector<std::string>{names[4], names[0], names[1], names[3]}));
            QCOMPARE(parts.playlist->ItemIndex(), 3);
        } else {
            AddFiles({names[6], names[4], names[5]});
            QCOMPARE(Entries(f),
                     (std::vector<std::string>{names[4], names[5], names[6], names[0], names[1], names[2], names[3]}));
        }
        if (how == "stopped") {
            QCOMPARE(parts.playlist->ItemIndex(), 0);
            QCOMPARE(parts.player->FileName(), names[4]);
            QCOMPARE(parts.player->SourceSerial(), generation + 1);
            return;
        }
        if (how == "add")
            QCOMPARE(parts.playlist->ItemIndex(), index + 3);
        QCOMPARE(parts.playlist->Text(), names[3]);
        QCOMPARE(parts.player->FileName(), names[3]);
        QCOMPARE(f.PlayerStatus(), status);
        QCOMPARE(parts.player->SourceSerial(), generation); // no source handed over
    }

    void folderAddInSortModeMatchesOneByOneAdds()
    {
        for (int i = 0; i < 40; ++i)
            Make("tree/sub" + std::to_string(i % 4) + "/clip" + std::to_string(39 - i) + ".wav");
        TMovieForm1& f = MakeForm();
        parts.autoSortAction->trigger();
        f.FollowPlayerStatus(TGKitMSPlay::Playing);
        dialogs.folder = root + "/tree";
        parts.addFolderTreeAction->trigger();
        // The same entries added one by one give the same list.
        kino::TdxfItems oneByOne;
        oneByOne.SetSorted(true);
        kino::TSearchFile search;
        search.SetRecursive(true);
        search.SetDirectory(root + "/tree");
        search.SetSearchName("*.wav");
        search.OnFind = [&](kino::TSearchFile*, const std::string& name, const kino::TSearchFileData&, bool&) {
            oneByOne.Add(name);
        };
        QVERIFY(search.Search());
        QCOMPARE(oneByOne.Count(), 40);
        std::vector<std::string> expected;
        for (int i = 0; i < oneByOne.Count(); ++i)
            expected.push_back(oneByOne.Strings(i));
        QCOMPARE(Entries(f), expected);
    }

    void folderTreeComesPatternByPatternBreadthFirst_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("all media") << "N24" << QStringList{"x.avi", "A/y.AVI",  "A/A1/z.avi", "m.mpg",   "B/n.mpeg",
                                                           "t.wav", "B/u.wave", "s.mid",      "A/v.midi"};
        QTest::newRow("MIDI: .mid first, then .midi") << "MIDI1" << QStringList{"s.mid", "A/v.midi"};
        QTest::newRow("MPEG") << "MPEG1" << QStringList{"m.mpg", "B/n.mpeg"};
    }
    void folderTreeComesPatternByPatternBreadthFirst()
    {
        QFETCH(QString, filter);
        QFETCH(QStringList, expected);
        for (const char* rel : {"x.avi", "m.mpg", "t.wav", "s.mid", "notes.txt", "A/y.AVI", "A/v.midi", "A/A1/z.avi",
                                "B/n.mpeg", "B/u.wave", "B/clip.mpe"})
            Make(rel);
        TMovieForm1& f = MakeForm();
        f.FollowPlayerStatus(TGKitMSPlay::Playing);
        f.findChild<QAction*>(filter)->trigger();
        parts.continuousPlayAction->setChecked(false); // the folder add switches it on again
        QString captionDuringSearch;
        // The found entries reach the list while the search still runs.
        QObject::connect(&parts.playlist->Items(), &kino::TdxfItems::changed, &f,
                         [&] { captionDuringSearch = f.windowTitle(); });
        dialogs.folder = root;
        parts.addFolderTreeAction->trigger();
        std::vector<std::string> want;
        for (const QString& e : expected)
            want.push_back(root + "/" + e.toStdString());
        QCOMPARE(Entries(f), want);
        QCOMPARE(captionDuringSearch, QStringLiteral("KINOLITE - 検索中......"));
        QCOMPARE(f.windowTitle(), QStringLiteral("KINOLITE"));
        QVERIFY(parts.continuousPlayAction->isChecked());
    }

    void droppedPathsByExtension_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("added");
        QTest::newRow("MOVIE.Avi") << "MOVIE.Avi" << true;
        QTest::newRow("x.wave under the MIDI filter") << "x.wave" << true;
        QTest::newRow("tune.MIDI") << "tune.MIDI" << true;
        QTest::newRow("clip.mpe") << "clip.mpe" << false;
        QTest::newRow("a.avi.txt") << "a.avi.txt" << false;
        QTest::newRow("no extension") << "movie" << false;
        QTest::newRow("tune.midi2") << "tune.midi2" << false;
        QTest::newRow("dot folder name") << "dir.avi/file" << false;
    }
    void droppedPathsByExtension()
    {
        QFETCH(QString, name);
        QFETCH(bool, added);
        const std::string path = Make(name.toStdString());
        TMovieForm1& f = MakeForm();
        f.FollowPlayerStatus(TGKitMSPlay::Playing);
        parts.midiFilterAction->trigger();
        f.DropFiles({path});
        QCOMPARE(Entries(f).size(), size_t(added ? 1 : 0));
        if (added)
            QCOMPARE(Entries(f).front(), path);
    }

    void onlyWhatCanBeAMediumIsAdded_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("folder search") << "folder";
        QTest::newRow("drop") << "drop";
        QTest::newRow("command line") << "command line";
    }
    void onlyWhatCanBeAMediumIsAdded()
    {
        // Regular files and links to them are media; a folder named like one, a FIFO
        // (whose opening waits for a writer), a link that loops or leads nowhere are not.
        QFETCH(QString, how);
        const std::string real = Make("media/real.avi");
        const std::string link = root + "/media/link.wav";
        QCOMPARE(::symlink("real.avi", link.c_str()), 0);
        QVERIFY(QDir().mkpath(QString::fromStdString(root + "/media/clip.avi")));
        QCOMPARE(::mkfifo((root + "/media/a.wav").c_str(), 0600), 0);
        QCOMPARE(::symlink("self.wav", (root + "/media/self.wav").c_str()), 0);
        QCOMPARE(::symlink("missing.avi", (root + "/media/x.avi").c_str()), 0);
        const std::vector<std::string> names{root + "/media/a.wav", root + "/media/self.wav", root + "/media/x.avi",
                                             real, link};

        TMovieForm1& f = MakeForm();
        f.FollowPlayerStatus(TGKitMSPlay::Playing); // playing: the adds only fill the list
        if (how == "folder") {
            dialogs.folder = root + "/media";
            parts.addFolderTreeAction->trigger();
        } else if (how == "drop") {
            f.DropFiles(names);
        } else {
            f.SetArguments(names);
            f.show();
        }
        QCOMPARE(Entries(f), (std::vector<std::string>{real, link}));
    }

    // A folder's path ending in "/" (as shell completion and file managers give it) is
    // the folder; anything else ending in "/", or missing, names nothing.
    void pathEndingInSlashOrMissing_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<bool>("commandLine");
        QTest::addColumn<QStringList>("entries");
        for (const bool commandLine : {false, true}) {
            const char* how = commandLine ? "command line" : "drop";
            const QStringList folder{"folder/a.avi", "folder/sub/b.wav"};
            QTest::addRow("%s: folder/", how) << "folder/" << commandLine << folder;
            QTest::addRow("%s: folder///", how) << "folder///" << commandLine << folder;
            QTest::addRow("%s: file/", how) << "clip.avi/" << commandLine << QStringList();
            QTest::addRow("%s: missing folder/", how) << "no-such/" << commandLine << QStringList();
            QTest::addRow("%s: missing file", how) << "no-such.avi" << commandLine << QStringList();
        }
    }
    void pathEndingInSlashOrMissing()
    {
        QFETCH(QString, given);
        QFETCH(bool, commandLine);
        QFETCH(QStringList, entries);
        Make("folder/a.avi");
        Make("folder/sub/b.wav");
        Make("clip.avi");
        TMovieForm1& f = MakeForm();
        f.FollowPlayerStatus(TGKitMSPlay::Playing); // playing: the adds only fill the list
        parts.continuousPlayAction->setChecked(false);
        const std::string path = root + "/" + given.toStdString();
        if (commandLine) {
            f.SetArguments({path});
            f.show();
        } else {
            f.DropFiles({path});
        }
        std::vector<std::string> expected;
        for (const QString& e : entries)
            expected.push_back(root + "/" + e.toStdString());
        QCOMPARE(Entries(f), expected);
        QVERIFY(parts.continuousPlayAction->isChecked());
    }

    // A drop adds its entries together at the end, yet in the order of the dropped paths,
    // a folder's entries where the folder stands; sorted, as adding each in turn would.
    void dropAddsInTheOrderGiven_data()
    {
        QTest::addColumn<bool>("sorted");
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("sort off") << false
                                  << QStringList{"z.avi", "d/b.wav", "d/A.mid", "http://h/x.mpg", "a.wav", "d/b.wav"};
        QTest::newRow("sort on") << true << QStringList{"a.wav", "d/A.mid", "d/b.wav", "z.avi", "http://h/x.mpg"};
    }
    void dropAddsInTheOrderGiven()
    {
        QFETCH(bool, sorted);
        QFETCH(QStringList, entries);
        Make("z.avi");
        Make("a.wav");
        Make("d/b.wav");
        Make("d/A.mid");
        TMovieForm1& f = MakeForm();
        f.FollowPlayerStatus(TGKitMSPlay::Playing); // playing: the adds only fill the list
        if (sorted)
            parts.autoSortAction->trigger();
        int changes = 0;
        QObject::connect(&parts.playlist->Items(), &kino::TdxfItems::changed, &f, [&] { ++changes; });
        f.DropFiles({root + "/z.avi", root + "/d", "http://h/x.mpg", root + "/a.wav", root + "/d/b.wav"});
        std::vector<std::string> expected;
        for (const QString& e : entries)
            expected.push_back(e.startsWith("http") ? e.toStdString() : root + "/" + e.toStdString());
        QCOMPARE(Entries(f), expected);
        QCOMPARE(changes, 1);
    }

    void dropOfUriListKeepsNamesByteForByte()
    {
        // A Shift-JIS name and a path longer than the old 259-character limit.
        const std::string sjis = Make("\x83\x65\x83\x58\x83\x67.avi");
        std::string deep = "deep";
        while (deep.size() < 300)
            deep += "/folder-with-a-long-name";
        const std::string longPath = Make(deep + "/clip.wav");
        QVERIFY(longPath.size() > 320);

        QByteArray list = "# dropped\r\n";
        list += QUrl::fromLocalFile(QString::fromStdString(longPath)).toEncoded() + "\r\n";
        list += "file://" + QByteArray::fromStdString(root).toPercentEncoding("/") + "/%83e%83X%83g.avi\r\n";
        list += "http://example.invalid/clip.avi\r\n";
        auto* mime = new QMimeData;
        mime->setData(QStringLiteral("text/uri-list"), list);

        TMovieForm1& f = MakeForm();
        f.FollowPlayerStatus(TGKitMSPlay::Playing);
        // As a file manager's drag does it: enter, then drop.
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(50, 50), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f, &drop);
        QCOMPARE(Entries(f), (std::vector<std::string>{longPath, sjis}));
        delete mime;
    }

    void pathsFromUriList_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QStringList>("paths");
        QTest::newRow("plain") << QByteArray("file:///a/b.avi\n") << QStringList{"/a/b.avi"};
        QTest::newRow("crlf and comment") << QByteArray("#c\r\nfile:///x\r\nfile:///y\r\n") << QStringList{"/x", "/y"};
        QTest::newRow("localhost") << QByteArray("file://localhost/z%20z") << QStringList{"/z z"};
        QTest::newRow("other host") << QByteArray("file://server/share/a.avi") << QStringList{};
        QTest::newRow("not a file") << QByteArray("http://h/a.avi\nsmb://h/x") << QStringList{};
        QTest::newRow("stray percent") << QByteArray("file:///a%zz%4") << QStringList{"/a%zz%4"};
        QTest::newRow("encoded NUL refused") << QByteArray("file:///a%00b") << QStringList{};
    }
    void pathsFromUriList()
    {
        QFETCH(QByteArray, list);
        QFETCH(QStringList, paths);
        std::vector<std::string> want;
        for (const QString& p : paths)
            want.push_back(p.toStdString());
        QCOMPARE(kino::PathsFromUriList(list), want);
    }

    void cancelledDialogsAddNothing()
    {
        TMovieForm1& f = MakeForm();
        f.FollowPlayerStatus(TGKitMSPlay::Playing);
        parts.continuousPlayAction->setChecked(false);
        parts.addFilesAction->trigger();                   // open-file dialog cancelled
        parts.addUrlAction->trigger();                     // URL box cancelled
        QVERIFY(!parts.continuousPlayAction->isChecked()); // neither touches continuous play
        parts.addFolderTreeAction->trigger();              // folder browser cancelled
        QCOMPARE(dialogs.openAsked + dialogs.urlAsked + dialogs.folderAsked, 3);
        QVERIFY(Entries(f).empty());
        QCOMPARE(f.windowTitle(), QStringLiteral("KINOLITE"));
        QVERIFY(parts.continuousPlayAction->isChecked());
    }

    void urlIsAddedAsTyped()
    {
        TMovieForm1& f = MakeForm();
        f.FollowPlayerStatus(TGKitMSPlay::Playing);
        dialogs.url = "  http://example.invalid/a b.mpg ";
        parts.addUrlAction->trigger();
        QCOMPARE(Entries(f), std::vector<std::string>{dialogs.url});
    }

    void resetAskedFirst_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("no") << false;
        QTest::newRow("yes") << true;
    }
    void resetAskedFirst()
    {
        QFETCH(bool, answer);
        TMovieForm1& f = MakeForm();
        AddFiles({Fixture("clip.avi"), Fixture("tone.wav")});
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
        dialogs.resetAnswer = answer;
        parts.resetPlaylistAction->trigger();
        QCOMPARE(dialogs.resetAsked, 1);
        if (!answer) {
            QCOMPARE(int(Entries(f).size()), 2);
            QCOMPARE(parts.player->FileName(), Fixture("clip.avi"));
            return;
        }
        QVERIFY(Entries(f).empty());
        QCOMPARE(parts.playlist->ItemIndex(), -1);
        QCOMPARE(parts.playlist->Text(), std::string());
        QCOMPARE(parts.player->FileName(), std::string());
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Stopped, kTimeout);
    }

    void commandLineFolderAndFileStartTheFirst()
    {
        Make("music/b.wav", "tone.wav");
        Make("music/sub/a.mid", "song.mid");
        TMovieForm1& f = MakeForm();
        f.SetArguments({Fixture("clip.avi"), root + "/music", root + "/nothing-here", "http://example.invalid/a.mpg"});
        f.show();
        QCOMPARE(Entries(f), (std::vector<std::string>{Fixture("clip.avi"), root + "/music/b.wav",
                                                       root + "/music/sub/a.mid", "http://example.invalid/a.mpg"}));
        QCOMPARE(parts.playlist->ItemIndex(), 0);
        QVERIFY(parts.continuousPlayAction->isChecked());
        QTRY_COMPARE_WITH_TIMEOUT(f.PlayerStatus(), TGKitMSPlay::Playing, kTimeout);
    }

    void filterItemsAreOneOfFive()
    {
        TMovieForm1& f = MakeForm();
        for (const char* chosen : {"AVI1", "MPEG1", "WAVE1", "MIDI1", "N24", "N24"}) {
            f.findChild<QAction*>(chosen)->trigger();
            for (const char* name : {"N24", "AVI1", "MPEG1", "WAVE1", "MIDI1"})
                QCOMPARE(f.findChild<QAction*>(name)->isChecked(), qstrcmp(chosen, name) == 0);
        }
    }
};

KINO_TEST_MAIN_WITH_MEDIA(PlaylistTest)
#include "test_playlist.moc"
