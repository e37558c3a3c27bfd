#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/FolderListing.h"

using namespace kino;

namespace {

const char* C(const QByteArray& bytes)
{
    return bytes.constData();
}

void WriteFile(const QByteArray& path, const char* content)
{
    const int fd = ::open(C(path), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, content, strlen(content)), ssize_t(strlen(content)));
    ::close(fd);
}

QByteArrayList Names(const std::vector<FolderEntry>& entries)
{
    QByteArrayList names;
    for (const auto& entry : entries)
        names << QByteArray::fromStdString(entry.Name);
    return names;
}

} // namespace

class TestFolderListing : public QObject {
    Q_OBJECT
private slots:
    void matchesPattern_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("pattern");
        QTest::addColumn<bool>("matches");
        QTest::newRow("case ignored") << QByteArray("X.AvI") << QByteArray("*.avi") << true;
        QTest::newRow("extension must end the name") << QByteArray("x.avi.bak") << QByteArray("*.avi") << false;
        QTest::newRow("no three-letter shortening") << QByteArray("x.midi") << QByteArray("*.mid") << false;
        QTest::newRow("*.* without a dot") << QByteArray("README") << QByteArray("*.*") << true;
        QTest::newRow("star backtracks") << QByteArray("xaxxbab") << QByteArray("*a*b") << true;
        QTest::newRow("? needs a character") << QByteArray("ac") << QByteArray("a?c") << false;
        QTest::newRow("? takes a UTF-8 character") << QByteArray("a\xC3\xA9"
                                                                 "c")
                                                   << QByteArray("a?c") << true;
        QTest::newRow("? is not two bytes of it") << QByteArray("a\xC3\xA9"
                                                                "c")
                                                  << QByteArray("a??c") << false;
        QTest::newRow("? takes a stray byte") << QByteArray("a\x83"
                                                            "c")
                                              << QByteArray("a?c") << true;
        QTest::newRow("non-ASCII case kept") << QByteArray("\xC3\x89") << QByteArray("\xC3\xA9") << false;
    }
    void matchesPattern()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, pattern);
        QTEST(MatchesPattern(name.toStdString(), pattern.toStdString()), "matches");
    }

    void naturalOrder_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("numbers by value") << QByteArray("ep2") << QByteArray("ep10");
        QTest::newRow("case ignored") << QByteArray("EP2") << QByteArray("ep10");
        QTest::newRow("case tie broken by bytes") << QByteArray("B") << QByteArray("b");
        QTest::newRow("leading zero tie broken by bytes") << QByteArray("x02") << QByteArray("x2");
        QTest::newRow("numbers past 64 bits")
            << QByteArray("f99999999999999999999") << QByteArray("f100000000000000000000");
        QTest::newRow("high bytes after ASCII") << QByteArray("z") << QByteArray("\x83\x5C");
    }
    void naturalOrder()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QVERIFY(CompareNatural(before.toStdString(), after.toStdString()) < 0);
        QVERIFY(CompareNatural(after.toStdString(), before.toStdString()) > 0);
        QCOMPARE(CompareNatural(after.toStdString(), after.toStdString()), 0);
    }

    void listsEntriesWithFindData()
    {
        QTemporaryDir tmp;
        const QByteArray dir = tmp.path().toUtf8();
        WriteFile(dir + "/file.bin", "12345");
        WriteFile(dir + "/Ep2.bin", "");
        WriteFile(dir + "/ep10.bin", "");
        WriteFile(dir + "/.hidden", "");
        QVERIFY(::mkdir(C(dir + "/sub"), 0755) == 0);
        QVERIFY(::mkfifo(C(dir + "/fifo"), 0644) == 0);
        QVERIFY(::symlink("nowhere", C(dir + "/dangling")) == 0);
        QVERIFY(::symlink("file.bin", C(dir + "/tofile")) == 0);
        QVERIFY(::symlink("sub", C(dir + "/todir")) == 0);

        const auto entries = ListFolder(dir.toStdString(), "*.*");
        QCOMPARE(Names(entries), (QByteArrayList{".hidden", "dangling", "Ep2.bin", "ep10.bin", "fifo", "file.bin",
                                                 "sub", "todir", "tofile"}));
        // Flags as "directory hidden system" and the size.
        const QByteArrayList expected{"-h- 0", "--s 7", "--- 0", "--- 0", "--s 0", "--- 5", "d-- 0", "d-- 0", "--- 5"};
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const FindData& d = entries[i].Data;
            const QByteArray got = QByteArray(d.IsDirectory ? "d" : "-") + (d.IsHidden ? "h" : "-") +
                                   (d.IsSystem ? "s" : "-") + ' ' + QByteArray::number(d.Size);
            QCOMPARE(got, expected[int(i)]);
            QVERIFY(!d.IsArchive);
        }
        QCOMPARE(Names(ListFolder(dir.toStdString(), "e*")), (QByteArrayList{"Ep2.bin", "ep10.bin"}));
        // A link and its target are one folder to a walk.
        QCOMPARE(entries[6].Data.Inode, entries[7].Data.Inode);
        // Read-only is what the user may not write; root may write whatever the mode says.
        QVERIFY(!entries[5].Data.IsReadOnly);
        QVERIFY(::chmod(C(dir + "/file.bin"), 0444) == 0);
        QCOMPARE(LookUpEntry((dir + "/file.bin").toStdString())->Data.IsReadOnly, geteuid() != 0);
        QVERIFY(ListFolder((dir + "/file.bin").toStdString(), "*.*").empty());
    }

    void fullPath_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("full");
        QTest::newRow("empty stays empty") << QByteArray() << QByteArray();
        QTest::newRow("relative") << QByteArray("a/b") << QByteArray("@/a/b");
        QTest::newRow("trailing separator kept") << QByteArray("a/") << QByteArray("@/a/");
        QTest::newRow("parts resolved by text") << QByteArray("/x//y/./z/../w") << QByteArray("/x/y/w");
        QTest::newRow("nothing above the root") << QByteArray("/../..") << QByteArray("/");
        QTest::newRow("up and back, trailing") << QByteArray("a/../b//") << QByteArray("@/b/");
    }
    void fullPath()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, full);
        QCOMPARE(QByteArray::fromStdString(FullPathOf(path.toStdString())),
                 full.replace('@', QDir::currentPath().toUtf8()));
    }
};

QTEST_APPLESS_MAIN(TestFolderListing)
#include "test_folderlisting.moc"
