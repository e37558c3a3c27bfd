#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include "platform/AppPaths.h"

using namespace kino;

class TestAppPaths : public QObject {
    Q_OBJECT
private slots:
    void executablePathIsThisProgram();
    void settingsFileLocation_data();
    void settingsFileLocation();
};

void TestAppPaths::executablePathIsThisProgram()
{
    const QFileInfo exe(QString::fromLocal8Bit(ExecutablePath()));
    QVERIFY(exe.isAbsolute());
    QCOMPARE(exe.canonicalFilePath(), QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
}

void TestAppPaths::settingsFileLocation_data()
{
    // "@" stands for a fresh temporary folder, holding "prog", "readonly" and
    // "home"; a null XDG value leaves the variable unset.
    QTest::addColumn<QString>("programFolder");
    QTest::addColumn<QString>("xdg");
    QTest::addColumn<QString>("expected");

    QTest::newRow("writable program folder") << "@/prog"
                                             << "@/xdg"
                                             << "@/prog/KINOLITE.ini";
    QTest::newRow("missing program folder") << "@/missing"
                                            << "@/xdg/deeper"
                                            << "@/xdg/deeper/kinolite/KINOLITE.ini";
    QTest::newRow("read-only program folder") << "@/readonly"
                                              << "@/xdg"
                                              << "@/xdg/kinolite/KINOLITE.ini";
    QTest::newRow("relative XDG ignored") << ""
                                          << "relative/cfg"
                                          << "@/home/.config/kinolite/KINOLITE.ini";
    QTest::newRow("XDG unset") << "" << QString() << "@/home/.config/kinolite/KINOLITE.ini";
}

void TestAppPaths::settingsFileLocation()
{
    QFETCH(QString, programFolder);
    QFETCH(QString, xdg);
    QFETCH(QString, expected);
    if (programFolder.endsWith("readonly") && geteuid() == 0)
        QSKIP("permission bits do not bind the superuser");

    QTemporaryDir temp;
    const auto resolve = [&](QString s) { return s.replace('@', temp.path()); };
    for (const char* folder : {"@/prog", "@/readonly", "@/home"})
        QVERIFY(QDir().mkpath(resolve(folder)));
    QFile::setPermissions(resolve("@/readonly"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    qputenv("HOME", resolve("@/home").toLocal8Bit());
    if (xdg.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", resolve(xdg).toLocal8Bit());

    const QString path = QString::fromLocal8Bit(SettingsFilePath(resolve(programFolder).toStdString()));
    QCOMPARE(path, resolve(expected));
    QVERIFY2(QFileInfo(path).absoluteDir().exists(), "the settings folder is created");
}

QTEST_GUILESS_MAIN(TestAppPaths)
#include "test_apppaths.moc"
