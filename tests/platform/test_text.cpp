#include <QRandomGenerator>
#include <QTest>

#include "platform/Text.h"

using namespace kino;

class TestText : public QObject {
    Q_OBJECT
private slots:
    void strictUtf8_data();
    void strictUtf8();
    void shownText_data();
    void shownText();
    void arbitraryBytesAlwaysDecode();
};

void TestText::strictUtf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");

    QTest::newRow("japanese") << QByteArray("\xE3\x83\x86\xE3\x82\xB9") << true;
    QTest::newRow("highest code point") << QByteArray("\xF4\x8F\xBF\xBF") << true;
    QTest::newRow("overlong") << QByteArray("\xC0\xAF") << false;
    QTest::newRow("overlong three bytes") << QByteArray("\xE0\x80\xAF") << false;
    QTest::newRow("overlong four bytes") << QByteArray("\xF0\x8F\xBF\xBF") << false;
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
    QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
    QTest::newRow("cut short") << QByteArray("\xE3\x83") << false;
    QTest::newRow("shift-jis") << QByteArray("\x83\x65\x83\x58") << false;
}

void TestText::strictUtf8()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);
    QCOMPARE(IsValidUtf8(std::string_view(bytes.constData(), bytes.size())), valid);
}

void TestText::shownText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");

    const QString bad(QChar::ReplacementCharacter);
    QTest::newRow("utf-8") << QByteArray("/m/\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.avi")
                           << QStringLiteral("/m/テスト.avi");
    QTest::newRow("shift-jis") << QByteArray("\x83\x65\x83\x58\x83\x67") << QStringLiteral("テスト");
    // 0x5C is a trail byte in 表 and a backslash (not a yen sign) on its own.
    QTest::newRow("0x5C") << QByteArray("\x95\x5C\x8E\xA6\\") << QStringLiteral("表示\\");
    QTest::newRow("half-width katakana") << QByteArray("\xB1\xB2") << QStringLiteral("ｱｲ");
    QTest::newRow("code page 932 extension") << QByteArray("\x87\x40") << QStringLiteral("①");
    QTest::newRow("invalid byte") << QByteArray("a\xFF"
                                                "b")
                                  << QStringLiteral("a") + bad + QStringLiteral("b");
    QTest::newRow("lead byte cut off") << QByteArray("\x83\x65\x83") << QStringLiteral("テ") + bad;
    QTest::newRow("lead byte before blank") << QByteArray("\x83 x") << bad + QStringLiteral(" x");
}

void TestText::shownText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QCOMPARE(ToDisplay(std::string_view(bytes.constData(), bytes.size())), shown);
}

void TestText::arbitraryBytesAlwaysDecode()
{
    // Whatever the bytes, decoding ends and shows something, at most one
    // character for each byte.
    QRandomGenerator random(20240611);
    for (int round = 0; round < 3000; ++round) {
        std::string bytes(random.bounded(1, 48), '\0');
        for (char& c : bytes)
            c = static_cast<char>(random.bounded(256));
        const QString shown = ToDisplay(bytes);
        QVERIFY2(!shown.isEmpty() && shown.size() <= qsizetype(bytes.size()),
                 QByteArray::fromStdString(bytes).toHex().constData());
    }
}

QTEST_APPLESS_MAIN(TestText)
#include "test_text.moc"
