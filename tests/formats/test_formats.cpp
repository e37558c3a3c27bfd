// Files of every kind people's folders hold, made by make-corpus.sh: each opens at 0:00
// with the size ffprobe gives, shows its first picture as ffmpeg decodes it, seeks, and
// plays to its end with the length ffprobe gives, and from its last second to the end.
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTest>

#include <algorithm>
#include <cstdlib>

#include "player/FrameImage.h"
#include "player/engine/PlayerEngine.h"
#include "support/PictureDifference.h"
#include "support/TestMain.h"

using kino::PlayerEngine;

namespace {

constexpr int kPlayTimeout = 20000;

QString CorpusPath(const QString& name)
{
    return qEnvironmentVariable("KINO_CORPUS") + QLatin1Char('/') + name;
}

// How far two pictures are apart, colour by colour, seen at a size where the ways of
// scaling subsampled colour do not count but a picture upside down or with red for
// blue does: the mean difference, 0 to 255.
double Difference(const QImage& a, const QImage& b)
{
    return MeanDifference(a, b, QSize(32, 24));
}

} // namespace

class FormatsTest : public QObject {
    Q_OBJECT

private slots:
    void eachFilePlaysWholeWithItsLengthAndPicture_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("lengthMs");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QFile list(CorpusPath(QStringLiteral("corpus.tsv")));
        QVERIFY2(list.open(QIODevice::ReadOnly), "the corpus was not made");
        while (!list.atEnd()) {
            const QList<QByteArray> fields = list.readLine().trimmed().split('\t');
            if (fields.size() == 4)
                QTest::newRow(fields[0].constData())
                    << QString::fromUtf8(fields[0]) << fields[1].toInt() << fields[2].toInt() << fields[3].toInt();
        }
    }
    void eachFilePlaysWholeWithItsLengthAndPicture()
    {
        QFETCH(QString, file);
        QFETCH(int, lengthMs);
        QFETCH(int, width);
        QFETCH(int, height);
        // Demuxers estimate lengths from their own clocks (MPEG program streams from
        // the system clock references): a few frames either way.
        const int slack = std::max(150, lengthMs / 20);

        PlayerEngine engine;
        engine.Open(CorpusPath(file).toStdString());
        QTRY_VERIFY_WITH_TIMEOUT(engine.Facts().known, kPlayTimeout);
        QCOMPARE(engine.CurrentState(), PlayerEngine::State::Paused);
        // The time runs from 0:00, whatever the stream's first time stamp.
        QVERIFY2(engine.PositionMs() <= slack, qPrintable(QStringLiteral("starts at %1").arg(engine.PositionMs())));
        QCOMPARE(engine.Facts().width, width);
        QCOMPARE(engine.Facts().height, height);
        QVERIFY2(std::abs(engine.DurationMs() - lengthMs) <= slack,
                 qPrintable(QStringLiteral("length %1, ffprobe %2").arg(engine.DurationMs()).arg(lengthMs)));

        if (width > 0) {
            QTRY_VERIFY_WITH_TIMEOUT(!engine.CurrentFrame().IsNull(), kPlayTimeout);
            const QImage reference(CorpusPath(file + QStringLiteral(".ref.png")));
            const kino::VideoFrame full = engine.FullFrame();
            const QImage shown = kino::ImageOf(full.IsNull() ? engine.CurrentFrame() : full);
            QCOMPARE(shown.size(), reference.size());
            const double difference = Difference(shown, reference);
            QVERIFY2(difference < 8, qPrintable(QStringLiteral("first picture differs by %1").arg(difference)));
        }

        // From the middle to the end: seeking works, and the rest plays at its pace.
        const qint64 middle = engine.DurationMs() / 2;
        QVERIFY(engine.SeekMs(middle));
        QTRY_VERIFY_WITH_TIMEOUT(std::abs(engine.PositionMs() - middle) <= slack, kPlayTimeout);
        QVERIFY(engine.Play());
        qint64 reached = 0;
        QElapsedTimer clock;
        clock.start();
        while (engine.CurrentState() == PlayerEngine::State::Playing && clock.elapsed() < kPlayTimeout) {
            reached = std::max(reached, engine.PositionMs());
            QTest::qWait(10);
        }
        QCOMPARE(engine.CurrentState(), PlayerEngine::State::Ended);
        QVERIFY2(reached >= lengthMs - slack - 100 && reached <= lengthMs + slack,
                 qPrintable(QStringLiteral("played to %1 of %2").arg(reached).arg(lengthMs)));
        // Every stream was decoded (a DVD's LPCM and AC-3 sound too).
        QCOMPARE(engine.Facts().undecoded, 0);

        // A seek into the last second plays on to the end as well.
        QVERIFY(engine.SeekMs(engine.DurationMs() - 300));
        QVERIFY(engine.Play());
        QTRY_VERIFY_WITH_TIMEOUT(engine.CurrentState() != PlayerEngine::State::Playing, kPlayTimeout);
        QCOMPARE(engine.CurrentState(), PlayerEngine::State::Ended);
    }
};

KINO_ENGINE_TEST_MAIN(FormatsTest)
#include "test_formats.moc"
