#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <ctime>

#include "platform/IniFile.h"

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
    void writeChangesOnlyTheValue_data();
    void writeChangesOnlyTheValue();
    void positionRoundsChangeOnlyTheTwoKeys_data();
    void positionRoundsChangeOnlyTheTwoKeys();
    void staleTemporariesRemoved_data();
    void staleTemporariesRemoved();
    void valuesReadBackAsWritten_data();
    void valuesReadBackAsWritten();
    void failedWriteLeavesOldFile_data();
    void failedWriteLeavesOldFile();
    void writeKeepsModeAndLink();
    void cleanup()
    {
        QDir(dir_.path()).removeRecursively();
        QDir().mkpath(dir_.path());
    }

private:
    QTemporaryDir dir_;
    QString Path(const QString& name = "KINOLITE.ini") const { return dir_.filePath(name); }
    std::string StdPath(const QString& name = "KINOLITE.ini") const { return Path(name).toStdString(); }
    QStringList Entries(const QString& folder = ".") const
    {
        return QDir(Path(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    }
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
    QTest::addColumn<QByteArray>("value"); // of ReadString("SET0", "M_TOP", "def")
    QTest::addColumn<int>("number");       // of ReadInteger("SET0", "M_TOP", 40)

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
    QTest::newRow("over 64 MiB") << "huge" << false;
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
        QVERIFY(SetContents("[SET0]\nM_TOP=5\n") && QFile::resize(Path(), 64 * 1024 * 1024 + 1));
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
    else if (kind == "huge")
        QCOMPARE(QFileInfo(Path()).size(), 64 * 1024 * 1024 + 1);
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
    for (const char* text : {"; settings of the player\n", "; where the window was\nm_top=-13\n",
                             "m_top=", "# other things\n[other]\n", "; closing remark\n", "[new]\nk=v\n"})
        QVERIFY2(after.count(text) == 1, text);
    QVERIFY(after.indexOf("[set0]") < after.indexOf("[other]"));
    QVERIFY(after.indexOf("; closing remark") > after.indexOf("[new]"));
    QCOMPARE(Entries(), QStringList{"KINOLITE.ini"});
}

void TestIniFile::writeChangesOnlyTheValue_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("key"); // in [SET0], set to 5
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("blanks and CRLF kept")
        << QByteArray("[SET0]\r\n  M_TOP  =  $20  \r\nM_LEFT = 1\r\n") << QByteArray("M_TOP")
        << QByteArray("[SET0]\r\n  M_TOP  =  5  \r\nM_LEFT = 1\r\n");
    QTest::newRow("first of duplicates") << QByteArray("[SET0]\nM_TOP=1\n[SET0]\nM_TOP=2\n") << QByteArray("M_TOP")
                                         << QByteArray("[SET0]\nM_TOP=5\n[SET0]\nM_TOP=2\n");
    QTest::newRow("new key after the section's last, stray lines kept")
        << QByteArray("; top\n[SET0]\nnot a key\nM_TOP=1\n\n# other\n[Other]\na=b\n") << QByteArray("M_LEFT")
        << QByteArray("; top\n[SET0]\nnot a key\nM_TOP=1\nM_LEFT=5\n\n# other\n[Other]\na=b\n");
    QTest::newRow("new key in CRLF, no final line break")
        << QByteArray("[SET0]\r\nM_TOP=1") << QByteArray("M_LEFT") << QByteArray("[SET0]\r\nM_TOP=1\r\nM_LEFT=5");
    QTest::newRow("commented-out key") << QByteArray("[SET0]\n;M_TOP=9\n") << QByteArray("M_TOP")
                                       << QByteArray("[SET0]\nM_TOP=5\n;M_TOP=9\n");
    QTest::newRow("keys after a \"[\" line without \"]\" are not the section's")
        << QByteArray("[SET0]\nM_TOP=1\n[bad\nx=1\n") << QByteArray("M_LEFT")
        << QByteArray("[SET0]\nM_TOP=1\nM_LEFT=5\n[bad\nx=1\n");
    QTest::newRow("new section before closing comment") << QByteArray("[A]\nx=1\n\n; end\n") << QByteArray("M_TOP")
                                                        << QByteArray("[A]\nx=1\n\n[SET0]\nM_TOP=5\n\n; end\n");
}

void TestIniFile::writeChangesOnlyTheValue()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, after);
    QVERIFY(SetContents(before));
    IniFile ini(StdPath());
    QVERIFY(ini.WriteInteger("SET0", key.toStdString(), 5));
    QCOMPARE(Contents(), after);
    QCOMPARE(ini.ReadInteger("SET0", key.toStdString(), 0), 5);
}

void TestIniFile::positionRoundsChangeOnlyTheTwoKeys_data()
{
    QTest::addColumn<QByteArray>("content"); // holds M_TOP=10 and M_LEFT=20 once each
    QTest::addColumn<int>("rounds");

    const QByteArray rich = "; settings of the player\r\n\r\n[Other]\r\nname = \x83\x65\x83\x58\x83\x67\r\n\r\n"
                            "[SET0]\r\n; where the window was\r\nM_TOP=10\r\nM_LEFT=20\r\n\r\n\r\n; closing remark\r\n";
    QTest::newRow("comments, blanks, CRLF") << rich << 100;
    // Files of other programs' sections, at sizes a settings file shares with them.
    const auto padded = [](qsizetype size) {
        QByteArray text = "[SET0]\nM_TOP=10\nM_LEFT=20\n\n[Log]\n";
        for (int i = 0; text.size() < size; ++i)
            text += "line" + QByteArray::number(i) + "=" + QByteArray(40, 'x') + "\n";
        text.truncate(size - 1);
        return text + "\n";
    };
    QTest::newRow("1 MiB") << padded(1024 * 1024) << 3;
    QTest::newRow("2 MB") << padded(2000 * 1000) << 2;
    QTest::newRow("10 MB") << padded(10 * 1000 * 1000) << 2;
}

void TestIniFile::positionRoundsChangeOnlyTheTwoKeys()
{
    // A round as a start and a close do it: read both keys, then write them.
    QFETCH(QByteArray, content);
    QFETCH(int, rounds);
    QVERIFY(SetContents(content));
    IniFile ini(StdPath());
    for (int round = 1; round <= rounds; ++round) {
        QCOMPARE(ini.ReadInteger("SET0", "M_TOP", 40), round == 1 ? 10 : round - 1);
        QCOMPARE(ini.ReadInteger("SET0", "M_LEFT", 40), round == 1 ? 20 : 1 - round);
        QVERIFY(ini.WriteInteger("SET0", "M_TOP", round));
        QVERIFY(ini.WriteInteger("SET0", "M_LEFT", -round));
    }
    QByteArray expected = content;
    expected.replace("M_TOP=10", "M_TOP=" + QByteArray::number(rounds));
    expected.replace("M_LEFT=20", "M_LEFT=" + QByteArray::number(-rounds));
    QVERIFY(Contents() == expected);
}

void TestIniFile::staleTemporariesRemoved_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("ageSeconds");
    QTest::addColumn<bool>("removed");
    QTest::newRow("ours, left by a killed write") << "KINOLITE.ini.tmpAb12Cd" << 120 << true;
    QTest::newRow("ours, being written now") << "KINOLITE.ini.tmpAb12Cd" << 0 << false;
    QTest::newRow("suffix too short") << "KINOLITE.ini.tmpAb12C" << 120 << false;
    QTest::newRow("another file's") << "OTHER.ini.tmpAb12Cd" << 120 << false;
}

void TestIniFile::staleTemporariesRemoved()
{
    QFETCH(QString, name);
    QFETCH(int, ageSeconds);
    QFETCH(bool, removed);
    QVERIFY(SetContents("[SET0]\nM_TOP=1\n", name));
    const timespec when{time(nullptr) - ageSeconds, 0};
    const timespec times[2] = {when, when};
    QCOMPARE(utimensat(AT_FDCWD, StdPath(name).c_str(), times, 0), 0);
    QVERIFY(IniFile(StdPath()).WriteInteger("SET0", "M_TOP", 2));
    QCOMPARE(Entries().contains(name), !removed);
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
    QVERIFY(QFile::setPermissions(Path("real.ini"),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
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
