#include <QTest>

#include "platform/PathRules.h"

using namespace kino;

class TestPathRules : public QObject {
    Q_OBJECT
private slots:
    void partsOfPath_data();
    void partsOfPath();
    void uriScheme_data();
    void uriScheme();
    void withoutTrailingSlashes_data();
    void withoutTrailingSlashes();
};

void TestPathRules::partsOfPath_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("pathPart");
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<QByteArray>("extension");

    QTest::newRow("nested") << QByteArray("/a/b/c.avi") << QByteArray("/a/b/") << QByteArray("/a/b")
                            << QByteArray(".avi");
    QTest::newRow("root keeps its separator")
        << QByteArray("/c.avi") << QByteArray("/") << QByteArray("/") << QByteArray(".avi");
    QTest::newRow("bare name") << QByteArray("c.avi") << QByteArray() << QByteArray() << QByteArray(".avi");
    QTest::newRow("dot only in folder") << QByteArray("/a.b/c") << QByteArray("/a.b/") << QByteArray("/a.b")
                                        << QByteArray();
    QTest::newRow("case and last dot kept")
        << QByteArray("/x/A.tar.Avi") << QByteArray("/x/") << QByteArray("/x") << QByteArray(".Avi");
    QTest::newRow("url") << QByteArray("http://host/dir/x.mpg") << QByteArray("http://host/dir/")
                         << QByteArray("http://host/dir") << QByteArray(".mpg");
    // Shift-JIS "ソ" is 0x83 0x5C; the second byte must not count as anything.
    QTest::newRow("shift-jis name") << QByteArray("/m/\x83\x5C.avi") << QByteArray("/m/") << QByteArray("/m")
                                    << QByteArray(".avi");
}

void TestPathRules::partsOfPath()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, pathPart);
    QFETCH(QByteArray, folder);
    QFETCH(QByteArray, extension);
    const std::string p = path.toStdString();
    QCOMPARE(QByteArray::fromStdString(PathPart(p)), pathPart);
    QCOMPARE(QByteArray::fromStdString(FolderOf(p)), folder);
    QCOMPARE(QByteArray::fromStdString(ExtensionOf(p)), extension);
    // Joining the folder and the name gives the path back.
    if (!folder.isEmpty())
        QCOMPARE(QByteArray::fromStdString(JoinPath(FolderOf(p), p.substr(PathPart(p).size()))), path);
}

void TestPathRules::uriScheme_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("hasScheme");

    QTest::newRow("http") << QByteArray("http://x") << true;
    QTest::newRow("file") << QByteArray("file:///x") << true;
    QTest::newRow("mixed case, no slashes") << QByteArray("MailTo:a@b") << true;
    QTest::newRow("+ - . digits") << QByteArray("svn+ssh.v2-x://h") << true;
    QTest::newRow("absolute path") << QByteArray("/home/x") << false;
    QTest::newRow("one letter") << QByteArray("C:foo") << false;
    QTest::newRow("blank") << QByteArray("a b:") << false;
    QTest::newRow("digit first") << QByteArray("1ab:x") << false;
    QTest::newRow("colon after slash") << QByteArray("dir/ab:c") << false;
}

void TestPathRules::uriScheme()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, hasScheme);
    QCOMPARE(HasUriScheme(text.toStdString()), hasScheme);
}

void TestPathRules::withoutTrailingSlashes_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("trimmed");

    QTest::newRow("one") << QByteArray("/a/b/") << QByteArray("/a/b");
    QTest::newRow("several") << QByteArray("/a/b///") << QByteArray("/a/b");
    QTest::newRow("none") << QByteArray("/a/b") << QByteArray("/a/b");
    QTest::newRow("relative") << QByteArray("b/") << QByteArray("b");
    QTest::newRow("root") << QByteArray("/") << QByteArray("/");
    QTest::newRow("root written twice") << QByteArray("//") << QByteArray("/");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestPathRules::withoutTrailingSlashes()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, trimmed);
    QCOMPARE(QByteArray::fromStdString(WithoutTrailingSlashes(path.toStdString())), trimmed);
}

QTEST_APPLESS_MAIN(TestPathRules)
#include "test_pathrules.moc"
