#include <QTest>

#include <cstdlib>
#include <ctime>

#include "platform/FileTimes.h"

using namespace kino;

class TestFileTimes : public QObject {
    Q_OBJECT
private slots:
    void fileTimeToLocalDateTime_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<qint64>("unixSeconds");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("dateTime");
        QTest::newRow("first DOS second") << QByteArray("UTC") << Q_INT64_C(315532800) << true << 29221.0;
        QTest::newRow("odd second rounded down") << QByteArray("UTC") << Q_INT64_C(315532801) << true << 29221.0;
        QTest::newRow("leap day noon") << QByteArray("UTC") << Q_INT64_C(951825600) << true << 36585.5;
        QTest::newRow("last DOS second") << QByteArray("UTC") << Q_INT64_C(4354819199) << true
                                         << 75971.0 + 86398.0 / 86400;
        QTest::newRow("1979") << QByteArray("UTC") << Q_INT64_C(315532799) << false << 0.0;
        QTest::newRow("2108") << QByteArray("UTC") << Q_INT64_C(4354819200) << false << 0.0;
        QTest::newRow("before 1970") << QByteArray("UTC") << Q_INT64_C(-86400) << false << 0.0;
        // Local time decides: 15:00 UTC on the last day of 1979 is 1980 in Tokyo.
        QTest::newRow("local time, east") << QByteArray("JST-9") << Q_INT64_C(315500400) << true << 29221.0;
        QTest::newRow("local time, west") << QByteArray("EST5") << Q_INT64_C(315532800) << false << 0.0;
    }
    void fileTimeToLocalDateTime()
    {
        QFETCH(QByteArray, zone);
        QFETCH(qint64, unixSeconds);
        QFETCH(bool, valid);
        QFETCH(double, dateTime);
        setenv("TZ", zone.constData(), 1);
        tzset();
        const auto converted = FileTimeToDateTime(unixSeconds);
        QCOMPARE(converted.has_value(), valid);
        if (valid)
            QCOMPARE(*converted, dateTime);
    }
};

QTEST_APPLESS_MAIN(TestFileTimes)
#include "test_filetimes.moc"
