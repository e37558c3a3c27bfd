#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>

#include "search/FolderCache.h"
#include "search/SearchFile.h"

using namespace kino;

namespace {

const char* C(const QByteArray& bytes)
{
    return bytes.constData();
}

// Makes entries below `root`: "a/" a folder, "a -> b" a symbolic link, anything
// else an empty file; parent folders as needed. Names are bytes as they stand.
void MakeEntries(const QByteArray& root, const QByteArrayList& entries)
{
    for (const QByteArray& entry : entries) {
        const int arrow = entry.indexOf(" -> ");
        const QByteArray name = arrow >= 0 ? entry.left(arrow) : entry;
        for (int slash = name.indexOf('/'); slash >= 0; slash = name.indexOf('/', slash + 1))
            ::mkdir(C(root + '/' + name.left(slash)), 0755);
        if (arrow >= 0)
            QVERIFY(::symlink(C(entry.mid(arrow + 4)), C(root + '/' + name)) == 0);
        else if (!name.endsWith('/'))
            QVERIFY(::close(::open(C(root + '/' + name), O_CREAT | O_WRONLY, 0644)) == 0);
    }
}

} // namespace

class TestSearchFile : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> tmp_;
    QByteArray root_, base_; // a fresh folder per test, and the searched tree in it
    QByteArrayList log_;     // reports below base_: "A/" a folder ("./" the base), "A/x" an entry

    QByteArray Relative(const std::string& path) const
    {
        const QByteArray p = QByteArray::fromStdString(path);
        return p == base_ ? QByteArray(".") : p.mid(base_.size() + 1);
    }
    void Prepare(TSearchFile& search, const QByteArray& pattern, bool recursive)
    {
        search.OnFind = [this](TSearchFile*, const std::string& name, const TSearchFileData& data, bool&) {
            log_ << Relative(name);
            QVERIFY(name.ends_with("/" + data.LongName)); // the entry's own name, not its path
            QCOMPARE(data.ShortName, data.LongName);
        };
        search.OnFindDir = [this](TSearchFile*, const std::string& name, const TSearchFileData&, bool&, bool&) {
            log_ << Relative(name) + '/';
        };
        search.SetDirectory(base_.toStdString());
        search.SetSearchName(pattern.toStdString());
        search.SetRecursive(recursive);
    }

private slots:
    void initTestCase()
    {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void init()
    {
        tmp_ = std::make_unique<QTemporaryDir>();
        root_ = tmp_->path().toUtf8();
        base_ = root_ + "/t";
        QVERIFY(::mkdir(C(base_), 0755) == 0);
        log_.clear();
    }
    void cleanup()
    {
        // Qt cannot remove names that are not UTF-8; remove the tree byte for byte.
        ::chmod(C(base_ + "/bad"), 0755);
        nftw(
            C(root_), [](const char* path, const struct stat*, int, FTW*) { return ::remove(path); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }

    void reportsMatchingEntries_data()
    {
        QTest::addColumn<QByteArrayList>("entries");
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<bool>("recursive");
        QTest::addColumn<QByteArrayList>("expected");
        QTest::newRow("empty pattern: files and folders")
            << QByteArrayList{"a.txt", "sub/b.txt"} << QByteArray() << false << QByteArrayList{"a.txt", "sub"};
        QTest::newRow("breadth first, folders first")
            << QByteArrayList{"x.avi", "A/x.avi", "A/A1/x.avi", "B/x.avi", "B/x.mpg"} << QByteArray("*.avi") << true
            << QByteArrayList{"./", "A/", "B/", "A/A1/", "x.avi", "A/x.avi", "B/x.avi", "A/A1/x.avi"};
        QTest::newRow("a folder matches like a file")
            << QByteArrayList{"y.avi/", "z.avi", "w.mpg"} << QByteArray("*.avi") << false
            << QByteArrayList{"y.avi", "z.avi"};
        QTest::newRow("natural order, case ignored")
            << QByteArrayList{"ep10.avi", "ep2.avi", "EP1.AVI", "Ep3.Avi", "x.avix"} << QByteArray("*.avi") << false
            << QByteArrayList{"EP1.AVI", "ep2.avi", "Ep3.Avi", "ep10.avi"};
        QTest::newRow("hidden and dangling entries kept")
            << QByteArrayList{".h.avi", "gone.avi -> nowhere"} << QByteArray("*.avi") << false
            << QByteArrayList{".h.avi", "gone.avi"};
        QTest::newRow("one pattern, not a list")
            << QByteArrayList{"a.avi", "b.mpg"} << QByteArray("*.avi;*.mpg") << false << QByteArrayList{};
        QTest::newRow("names not UTF-8, byte for byte")
            << QByteArrayList{"\x83\x5C/\x82\xA0.avi", "\xE9t\xE9.avi"} << QByteArray("*.avi") << true
            << QByteArrayList{"./", "\x83\x5C/", "\xE9t\xE9.avi", "\x83\x5C/\x82\xA0.avi"};
        QTest::newRow("link back to the parent")
            << QByteArrayList{"a/x.avi", "a/back -> ..", "b/y.avi"} << QByteArray("*.avi") << true
            << QByteArrayList{"./", "a/", "b/", "a/x.avi", "b/y.avi"};
        QTest::newRow("links across and to itself")
            << QByteArrayList{"a/x.avi", "a/self -> .", "b/toA -> ../a"} << QByteArray("*.avi") << true
            << QByteArrayList{"./", "a/", "b/", "a/x.avi"};
        QTest::newRow("two links to one outside folder")
            << QByteArrayList{"in/x.avi", "l1 -> ../out", "l2 -> ../out"} << QByteArray("*.avi") << true
            << QByteArrayList{"./", "in/", "l1/", "in/x.avi", "l1/o.avi"};
    }
    void reportsMatchingEntries()
    {
        QFETCH(QByteArrayList, entries);
        QFETCH(QByteArray, pattern);
        QFETCH(bool, recursive);
        MakeEntries(root_, {"out/o.avi"});
        MakeEntries(base_, entries);
        TSearchFile search;
        Prepare(search, pattern, recursive);
        QVERIFY(search.Search());
        QTEST(log_, "expected");
    }

    void handlersSkipAndPrune()
    {
        MakeEntries(base_, {"x.avi", "A/x.avi", "A/A2/x.avi", "B/x.avi", "B/B1/x.avi"});
        TSearchFile search;
        Prepare(search, "*.avi", true);
        search.OnFindDir = [&](TSearchFile*, const std::string& n, const TSearchFileData&, bool& skip, bool& prune) {
            log_ << Relative(n) + '/';
            skip = log_.last() == "A/";
            prune = log_.last() == "B/";
        };
        QVERIFY(search.Search());
        QCOMPARE(log_, (QByteArrayList{"./", "A/", "B/", "A/A2/", "x.avi", "B/x.avi", "A/A2/x.avi"}));
    }

    void stopsAtOnceAndCanRunAgain()
    {
        MakeEntries(base_, {"a.avi", "b.avi", "S/c.avi"});
        TSearchFile search;
        int calls = 0;
        search.OnFind = [&](TSearchFile*, const std::string&, const TSearchFileData&, bool& cont) {
            cont = ++calls > 1;
        };
        search.SetDirectory(base_.toStdString());
        search.SetRecursive(true);
        QVERIFY(!search.Search());
        QCOMPARE(calls, 1);
        QVERIFY(search.Search()); // not left busy; a.avi, b.avi, S, S/c.avi
        QCOMPARE(calls, 5);
        TSearchDir walk;
        walk.OnFind = [&](TSearchDir*, const std::string&, const TSearchFileData&, bool&, bool& cont) {
            cont = ++calls < 7;
        };
        walk.SetBaseDir(base_.toStdString());
        QVERIFY(!walk.Search());
        QCOMPARE(calls, 7);
    }

    void searchFromItsOwnEventReturnsFalse()
    {
        MakeEntries(base_, {"S/b.avi"});
        TSearchFile search;
        QList<bool> inner;
        search.OnFind = [&](TSearchFile* s, const std::string&, const TSearchFileData&, bool&) {
            inner << s->Search();
        };
        search.OnFindDir = [&](TSearchFile* s, const std::string&, const TSearchFileData&, bool&, bool&) {
            inner << s->Search();
        };
        search.SetDirectory(base_.toStdString());
        search.SetRecursive(true);
        QVERIFY(search.Search());
        TSearchDir walk;
        walk.OnFind = [&](TSearchDir* w, const std::string&, const TSearchFileData&, bool&, bool&) {
            inner << w->Search();
        };
        walk.SetBaseDir(base_.toStdString());
        QVERIFY(walk.Search());
        QCOMPARE(inner, QList<bool>(2 + 2 + 2, false));
    }

    void otherErrorsReachTheCaller()
    {
        MakeEntries(base_, {"a.avi", "S/b.avi"});
        TSearchFile search;
        Prepare(search, "*.avi", true);
        search.OnFindDir = [](TSearchFile*, const std::string&, const TSearchFileData&, bool&, bool&) {
            throw std::runtime_error("dir");
        };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, search.Search());
        search.OnFindDir = nullptr;
        const auto logging = search.OnFind;
        search.OnFind = [](TSearchFile*, const std::string&, const TSearchFileData&, bool&) {
            throw std::runtime_error("file");
        };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, search.Search());
        search.OnFind = logging;
        QVERIFY(search.Search()); // neither the search nor its walk was left busy
        QCOMPARE(log_, (QByteArrayList{"a.avi", "S/b.avi"}));
    }

    void missingFolderOrHandler()
    {
        TSearchDir walk;
        TSearchFile search;
        walk.SetBaseDir(base_.toStdString());
        QVERIFY(!walk.Search() && !search.Search()); // no handler
        walk.OnFind = [&](TSearchDir*, const std::string&, const TSearchFileData&, bool&, bool&) { log_ << "walk"; };
        walk.SetBaseDir(C(root_ + "/missing"));
        QVERIFY(!walk.Search());
        Prepare(search, "", false);
        search.SetDirectory(walk.BaseDir());
        QVERIFY(search.Search());
        search.SetRecursive(true);
        QVERIFY(search.Search());
        QCOMPARE(log_, QByteArrayList());
    }

    void reportsFullPathsWithOneSeparator_data()
    {
        QTest::addColumn<QByteArray>("directory");
        QTest::addColumn<QByteArray>("base");
        QTest::newRow("relative to the current folder") << QByteArray("t/sub") << QByteArray("@/t/sub");
        QTest::newRow("trailing separator kept, not doubled") << QByteArray("@/t/sub/") << QByteArray("@/t/sub/");
        QTest::newRow("dots and doubled separators") << QByteArray("./t//x/../sub//") << QByteArray("@/t/sub/");
    }
    void reportsFullPathsWithOneSeparator()
    {
        QFETCH(QByteArray, directory);
        QFETCH(QByteArray, base);
        MakeEntries(base_, {"sub/x.avi", "sub/in/y.avi"});
        const QByteArray cwd = QDir::currentPath().toUtf8();
        QVERIFY(::chdir(C(root_)) == 0);
        TSearchFile search;
        QByteArrayList reported;
        search.OnFindDir = [&](TSearchFile*, const std::string& n, const TSearchFileData&, bool&, bool&) {
            reported << n.c_str();
        };
        search.OnFind = [&](TSearchFile*, const std::string& n, const TSearchFileData&, bool&) {
            reported << n.c_str();
        };
        search.SetDirectory(directory.replace('@', root_).toStdString());
        search.SetRecursive(true);
        search.SetSearchName("*.avi");
        const bool done = search.Search();
        QVERIFY(::chdir(C(cwd)) == 0);
        QVERIFY(done);
        const QByteArray sub = root_ + "/t/sub/";
        QCOMPARE(reported, (QByteArrayList{base.replace('@', root_), sub + "in", sub + "x.avi", sub + "in/y.avi"}));
    }

    void unreadableFolderGivesNothing_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::newRow("no permission") << true;
        QTest::newRow("gone before it is listed") << false;
    }
    void unreadableFolderGivesNothing()
    {
        QFETCH(bool, locked);
        if (locked && geteuid() == 0)
            QSKIP("permissions do not stop root");
        MakeEntries(base_, {"a/x.avi", "bad/y.avi", "bad/deep/z.avi", "c/w.avi"});
        const QByteArray bad = base_ + "/bad";
        if (locked)
            QVERIFY(::chmod(C(bad), 0) == 0);
        TSearchFile search;
        Prepare(search, "*.avi", true);
        const auto logging = search.OnFindDir;
        search.OnFindDir = [&](TSearchFile* s, const std::string& n, const TSearchFileData& d, bool& skip,
                               bool& prune) {
            logging(s, n, d, skip, prune);
            if (log_.last() == "bad/" && !locked)
                QVERIFY(::rename(C(bad), C(root_ + "/moved")) == 0);
        };
        QVERIFY(search.Search());
        QCOMPARE(log_, (QByteArrayList{"./", "a/", "bad/", "c/", "a/x.avi", "c/w.avi"}));
    }

    void timesOutsideDosRangeAreInvalid()
    {
        MakeEntries(base_, {"1975.avi", "2000.avi"});
        const timespec old[2] = {{170000000, 0}, {170000000, 0}};
        const timespec leapDay[2] = {{951825601, 0}, {951825601, 0}}; // 2000-02-29 12:00:01 UTC
        QVERIFY(::utimensat(AT_FDCWD, C(base_ + "/1975.avi"), old, 0) == 0);
        QVERIFY(::utimensat(AT_FDCWD, C(base_ + "/2000.avi"), leapDay, 0) == 0);
        TSearchFile search;
        QList<TSearchFileData> found;
        search.OnFind = [&](TSearchFile*, const std::string&, const TSearchFileData& d, bool&) { found << d; };
        search.SetDirectory(base_.toStdString());
        QVERIFY(search.Search());
        QCOMPARE(found.size(), 2);
        QVERIFY(!found[0].LastWriteTimeValid && !found[0].LastAccessTimeValid);
        QVERIFY(found[1].LastWriteTimeValid && found[1].LastAccessTimeValid);
        QCOMPARE(found[1].LastWriteTime, 36585.5); // odd second rounded down
        QCOMPARE(found[1].LastAccessTime, 36585.5);
    }

    void cacheGivesTheSameReports()
    {
        QByteArrayList entries{"loop/up -> ..", "x.MID/in.wav"};
        const char* exts[] = {".avi", ".MPG", ".mpeg", ".wav", ".Wave", ".mid", ".midi", ".txt"};
        for (int i = 0; i < 40; ++i)
            entries << QByteArray("d") + QByteArray::number(i % 3) + "/e" + QByteArray::number(i % 5) + "/f" +
                           QByteArray::number(i) + exts[i % 8];
        MakeEntries(base_, entries);
        auto run = [&](TSearchFile& search, const QByteArray& pattern) {
            log_.clear();
            Prepare(search, pattern, true);
            search.Search();
            return log_;
        };
        TSearchFile plain, cached;
        cached.SetListingCache(std::make_shared<TFolderCache>());
        for (const char* pattern : {"*.avi", "*.mpg", "*.mpeg", "*.wav", "*.wave", "*.mid", "*.midi", "", "f1?.*"}) {
            const QByteArrayList expected = run(plain, pattern);
            QVERIFY(expected.size() > 21); // the 21 folders, then some matches
            QCOMPARE(run(cached, pattern), expected);
        }
        // Listings last as long as the cache: a new file shows only after a clear.
        MakeEntries(base_, {"d0/new.avi"});
        QVERIFY(!run(cached, "new.avi").contains("d0/new.avi"));
        QCOMPARE(cached.ListingCache()->FolderCount(), std::size_t(21));
        cached.ListingCache()->Clear();
        QVERIFY(run(cached, "new.avi").contains("d0/new.avi"));
    }
};

QTEST_APPLESS_MAIN(TestSearchFile)
#include "test_searchfile.moc"
