#include "platform/IniFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

using namespace kino;

class TestIniFile : public QObject {
    Q_OBJECT
private slots:
    void integerText_data();
    void integerText();
    void valueAsRead_data();
    void valueAsRead();
    void unusableFile_data();
    void unusableFile();
    void writeKeepsEverythingElse();
    void valuesReadBackAsWritten_data();
    void valuesReadBackAsWritten();
    void failedWriteLeavesOldFile_data();
    void failedWriteLeavesOldFile();
    void writeKeepsModeAndLink();
    void cleanup() { QDir(dir_.path()).removeRecursively(); QDir().mkpath(dir_.path()); }

private:
    QTemporaryDir dir_;
    QString Path(const QString& name = "KINOLITE.ini") const { return dir_.filePath(name); }
    std::string StdPath(const QString& name = "KINOLITE.ini") const { return Path(name).toStdString(); }
    QStringList Entries(const QString& folder = ".") const { return QDir(Path(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System); }
    QByteArray Contents(const QString& name = "KINOLITE.ini") const
    {
        QFile f(Path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool SetContents(const QByteArray& bytes, const QString& name = "KINOLITE.ini") const
    {
        QFile f(Path(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
};

void TestIniFile::integerText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("value");

    const int def = 40;
    QTest::newRow("0x") << QByteArray("0x20") << 32;
    QTest::newRow("0X, mixed case digits") << QByteArray("0XaF") << 175;
    QTest::newRow("$") << QByteArray("$20") << 32;
    QTest::newRow("minus") << QByteArray("-5") << -5;
    QTest::newRow("plus") << QByteArray("+7") << 7;
    QTest::newRow("blanks around") << QByteArray(" \t12 ") << 12;
    QTest::newRow("int max") << QByteArray("2147483647") << INT_MAX;
    QTest::newRow("int min") << QByteArray("-2147483648") << INT_MIN;
    QTest::newRow("hex is a 32-bit pattern") << QByteArray("0xFFFFFFFF") << -1;
    QTest::newRow("hex leading zeros") << QByteArray("$000000000010") << 16;
    QTest::newRow("letters") << QByteArray("abc") << def;
    QTest::newRow("empty") << QByteArray() << def;
    QTest::newRow("0x alone") << QByteArray("0x") << def;
    QTest::newRow("$ alone") << QByteArray("$") << def;
    QTest::newRow("sign alone") << QByteArray("-") << def;
    QTest::newRow("trailing text") << QByteArray("12px") << def;
    QTest::newRow("bad hex digit") << QByteArray("0x1G") << def;
    QTest::newRow("signed hex") << QByteArray("-0x10") << def;
    QTest::newRow("above int max") << QByteArray("2147483648") << def;
    QTest::newRow("below int min") << QByteArray("-2147483649") << def;
    QTest::newRow("hex beyond 32 bits") << QByteArray("0x100000000") << def;
}

void TestIniFile::integerText()
{
    QFETCH(QByteArray, text);
    QFETCH(int, value);
    QCOMPARE(ParseIniInteger(std::string_view(text.constData(), text.size()), 40), value);
}

void TestIniFile::valueAsRead_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("value");   // of ReadString("SET0", "M_TOP", "def")
    QTest::addColumn<int>("number");         // of ReadInteger("SET0", "M_TOP", 40)

    QTest::newRow("blanks and CRLF") << QByteArray("[SET0]\r\n  M_TOP  =  $20  \r\n") << QByteArray("$20") << 32;
    QTest::newRow("not a number") << QByteArray("[SET0]\nM_TOP=abc\n") << QByteArray("abc") << 40;
    QTest::newRow("quoted") << QByteArray("[SET0]\nM_TOP=\"12\"\n") << QByteArray("12") << 12;
    QTest::newRow("names ignore case") << QByteArray("[set0]\nm_top=7\n") << QByteArray("7") << 7;
    QTest::newRow("first of duplicates") << QByteArray("[SET0]\nM_TOP=1\n[SET0]\nM_TOP=2\n") << QByteArray("1") << 1;
    QTest::newRow("commented out") << QByteArray("[SET0]\n;M_TOP=9\n") << QByteArray("def") << 40;
    QTest::newRow("UTF-8 signature") << QByteArray("\xEF\xBB\xBF[SET0]\nM_TOP=3\n") << QByteArray("3") << 3;
}

void TestIniFile::valueAsRead()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, value);
    QFETCH(int, number);
    QVERIFY(SetContents(content));
    const IniFile ini(StdPath());
    QCOMPARE(QByteArray::fromStdString(ini.ReadString("SET0", "M_TOP", "def")), value);
    QCOMPARE(ini.ReadInteger("SET0", "M_TOP", 40), number);
    // Each read opens the file afresh.
    QVERIFY(QFile::remove(Path()));
    QCOMPARE(ini.ReadInteger("SET0", "M_TOP", 40), 40);
}

void TestIniFile::unusableFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("replaceable");

    QTest::newRow("binary") << "binary" << true;
    QTest::newRow("huge") << "huge" << true;
    QTest::newRow("folder") << "folder" << false;
    QTest::newRow("fifo") << "fifo" << false;
}

void TestIniFile::unusableFile()
{
    // Each holds, or sits where there would be, M_TOP=5 in [SET0].
    QFETCH(QString, kind);
    QFETCH(bool, replaceable);
    static const char binary[] = "[SET0]\nM_TOP=5\n\0\x01\xFF\xFE";
    if (kind == "binary")
        QVERIFY(SetContents(QByteArray(binary, sizeof binary - 1)));
    else if (kind == "huge")
        QVERIFY(SetContents("[SET0]\nM_TOP=5\n" + QByteArray(1100 * 1024, ';')));
    else if (kind == "folder")
        QVERIFY(QDir().mkdir(Path()));
    else
        QCOMPARE(mkfifo(StdPath().c_str(), 0600), 0);

    IniFile ini(StdPath());
    QCOMPARE(ini.ReadInteger("SET0", "M_TOP", 40), 40);
    QCOMPARE(ini.WriteInteger("SET0", "M_LEFT", 7), replaceable);
    QCOMPARE(ini.ReadInteger("SET0", "M_LEFT", 40), replaceable ? 7 : 40);
    if (replaceable)
        QCOMPARE(Contents(), QByteArray("[SET0]\nM_LEFT=7\n"));
    QCOMPARE(Entries(), QStringList{"KINOLITE.ini"});
}

void TestIniFile::writeKeepsEverythingElse()
{
    QVERIFY(SetContents("; settings of the player\n"
                        "loose=1\n"
                        "[SET0]\n"
                        "; where the window was\n"
                        "M_TOP=10\n"
                        "M_LEFT=20\n"
                        "\n"
                        "# other things\n"
                        "[Other]\n"
                        "name=\x83\x65\x83\x58\x83\x67\n"
                        "\n"
                        "; closing remark\n"));
    IniFile ini(StdPath());
    QVERIFY(ini.WriteInteger("SET0", "M_TOP", -12));
    QVERIFY(ini.WriteInteger("set0", "m_top", -13));
    QVERIFY(ini.WriteString("New", "k", "v"));

    QCOMPARE(ini.ReadInteger("SET0", "M_TOP", 0), -13);
    QCOMPARE(ini.ReadInteger("SET0", "M_LEFT", 0), 20);
    QCOMPARE(ini.ReadInteger("", "loose", 0), 1);
    QCOMPARE(ini.ReadString("Other", "name", ""), std::string("\x83\x65\x83\x58\x83\x67"));
    // Names ignore case, so only the lower-cased text is compared.
    const QByteArray after = Contents().toLower();
    for (const char* text : {"; settings of the player\n", "; where the window was\nm_top=-13\n", "m_top=",
                             "# other things\n[other]\n", "; closing remark\n", "[new]\nk=v\n"})
        QVERIFY2(after.count(text) == 1, text);
    QVERIFY(after.indexOf("[set0]") < after.indexOf("[other]"));
    QVERIFY(after.indexOf("; closing remark") > after.indexOf("[new]"));
    QCOMPARE(Entries(), QStringList{"KINOLITE.ini"});
}

void TestIniFile::valuesReadBackAsWritten_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("stored");

    QTest::newRow("blanks at ends") << QByteArray("  padded ") << true;
    QTest::newRow("own quotes") << QByteArray("\"quoted\"") << true;
    QTest::newRow("separators inside") << QByteArray("a=b;c#[d]") << true;
    QTest::newRow("shift-jis with 0x5C") << QByteArray("C:\\\x95\x5C") << true;
    QTest::newRow("line break") << QByteArray("two\nlines") << false;
}

void TestIniFile::valuesReadBackAsWritten()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, stored);
    QVERIFY(SetContents("[SET0]\nM_TOP=1\n"));
    IniFile ini(StdPath());
    QCOMPARE(ini.WriteString("SET0", "M_TOP", value.toStdString()), stored);
    QCOMPARE(QByteArray::fromStdString(ini.ReadString("SET0", "M_TOP", "")), stored ? value : QByteArray("1"));
}

void TestIniFile::failedWriteLeavesOldFile_data()
{
    QTest::addColumn<QString>("iniPath");

    QTest::newRow("folder not writable") << "sub/KINOLITE.ini";
    QTest::newRow("folder is a file") << "sub/KINOLITE.ini/inner.ini";
}

void TestIniFile::failedWriteLeavesOldFile()
{
    QFETCH(QString, iniPath);
    const bool readOnlyFolder = iniPath == "sub/KINOLITE.ini";
    if (readOnlyFolder && geteuid() == 0)
        QSKIP("permission bits do not bind the superuser");

    QVERIFY(QDir().mkpath(Path("sub")));
    QVERIFY(SetContents("[SET0]\nM_TOP=1\n", "sub/KINOLITE.ini"));
    if (readOnlyFolder)
        QFile::setPermissions(Path("sub"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    IniFile ini(StdPath(iniPath));
    const bool written = ini.WriteInteger("SET0", "M_TOP", 2);
    QFile::setPermissions(Path("sub"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QVERIFY(!written);
    QCOMPARE(Contents("sub/KINOLITE.ini"), QByteArray("[SET0]\nM_TOP=1\n"));
    QCOMPARE(Entries("sub"), QStringList{"KINOLITE.ini"});
}

void TestIniFile::writeKeepsModeAndLink()
{
    QVERIFY(SetContents("[SET0]\nM_TOP=1\n", "real.ini"));
    QVERIFY(QFile::setPermissions(Path("real.ini"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    QVERIFY(QFile::link(Path("real.ini"), Path()));

    QVERIFY(IniFile(StdPath()).WriteInteger("SET0", "M_TOP", 2));
    QVERIFY(QFileInfo(Path()).isSymLink());
    QCOMPARE(Contents("real.ini"), QByteArray("[SET0]\nM_TOP=2\n"));
    struct stat st {};
    QCOMPARE(stat(StdPath("real.ini").c_str(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t{0640});
}

QTEST_APPLESS_MAIN(TestIniFile)
#include "test_inifile.moc"
