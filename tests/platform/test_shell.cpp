#include <QDir>
#include <QTest>
#include <QUrl>

#include "platform/Shell.h"

using namespace kino;

class TestShell : public QObject {
    Q_OBJECT
private slots:
    void urlForTarget_data();
    void urlForTarget();
    void nonUtf8PathSurvivesTheUrl();
    void replacedShellReceivesRequests();
    void requestNoProgramTakesIsReported_data();
    void requestNoProgramTakesIsReported();
};

void TestShell::urlForTarget_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("url");

    QTest::newRow("plain path") << QByteArray("/home/u/Readme.txt") << QByteArray("file:///home/u/Readme.txt");
    QTest::newRow("reserved encoded") << QByteArray("/a b#c?d%e:f+g~h")
                                      << QByteArray("file:///a%20b%23c%3Fd%25e%3Af%2Bg~h");
    QTest::newRow("utf-8 name") << QByteArray("/\xE5\x8B\x95") << QByteArray("file:///%E5%8B%95");
    QTest::newRow("url as is") << QByteArray("http://host/a b?q=1") << QByteArray("http://host/a b?q=1");
    QTest::newRow("mailto as is") << QByteArray("MailTo:support@example.com")
                                  << QByteArray("MailTo:support@example.com");
}

void TestShell::urlForTarget()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, url);
    QCOMPARE(QByteArray::fromStdString(ShellUrlFor(target.toStdString())), url);
}

void TestShell::nonUtf8PathSurvivesTheUrl()
{
    // A Shift-JIS folder name must come back byte for byte, also after QUrl,
    // which the desktop shell hands the URL on through.
    const QByteArray path("/media/\x83\x65\x83\x58\x83\x67/\x95\x5C.avi");
    const QByteArray url = QByteArray::fromStdString(ShellUrlFor(path.toStdString()));
    QVERIFY(url.startsWith("file:///"));
    QCOMPARE(QByteArray::fromPercentEncoding(url.mid(7)), path);
    const QUrl parsed = QUrl::fromEncoded(url);
    QVERIFY(parsed.isValid() && parsed.isLocalFile());
    QCOMPARE(QByteArray::fromPercentEncoding(parsed.toEncoded().mid(7)), path);

    const QByteArray relative = QByteArray::fromStdString(ShellUrlFor("Readme.txt"));
    QCOMPARE(QUrl::fromEncoded(relative).toLocalFile(), QDir::current().absoluteFilePath("Readme.txt"));
}

void TestShell::replacedShellReceivesRequests()
{
    struct Recorder : IShell {
        void Open(const std::string& target) override { opened.push_back(target); }
        void Beep() override { ++beeps; }
        std::vector<std::string> opened;
        int beeps = 0;
    } recorder;
    SetShell(&recorder);
    Shell().Open("/tmp/x y");
    Shell().Beep();
    SetShell(nullptr);
    QCOMPARE(recorder.opened, std::vector<std::string>{"/tmp/x y"});
    QCOMPARE(recorder.beeps, 1);
    QVERIFY(dynamic_cast<DesktopShell*>(&Shell()));
}

void TestShell::requestNoProgramTakesIsReported_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("report");
    const QString absent = QStringLiteral("「%1」を開くプログラムが見つかりません。");
    QTest::newRow("guide, no viewer") << QByteArray("/opt/k/Readme.txt") << false << absent.arg("/opt/k/Readme.txt");
    QTest::newRow("folder, relative") << QByteArray(".") << false << absent.arg(QDir::currentPath() + "/.");
    QTest::newRow("Shift-JIS name") << QByteArray("/m/\x95\x5C") << false << absent.arg(QStringLiteral("/m/表"));
    QTest::newRow("mail, no program") << QByteArray("MailTo:a@b.jp") << false << absent.arg("MailTo:a@b.jp");
    QTest::newRow("taken: no box") << QByteArray("/opt/k/Readme.txt") << true << QString();
}

void TestShell::requestNoProgramTakesIsReported()
{
    QFETCH(QByteArray, target);
    QFETCH(bool, taken);
    QFETCH(QString, report);
    QStringList reports;
    DesktopShell shell([&](const QUrl&) { return taken; }, [&](const QString& text) { reports << text; });
    shell.Open(target.toStdString());
    QCOMPARE(reports, report.isEmpty() ? QStringList() : QStringList{report});
}

QTEST_MAIN(TestShell)
#include "test_shell.moc"
