// The Motion-JPEG decoder on its own: pictures made in the test, pushed one by one.
#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QTest>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cstring>

#include "player/elements/GstHandles.h"
#include "player/elements/JpegDecoder.h"
#include "player/elements/JpegPicture.h"
#include "support/TestMain.h"

namespace gsth = kino::gsth;

namespace {

QByteArray Jpeg(const QImage& picture)
{
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    picture.save(&out, "JPG", 95);
    return bytes;
}

QImage Flat(QSize size, QColor color);

// A picture of exactly `size` bytes, padded with a comment segment.
QByteArray JpegOfSize(int size)
{
    QByteArray jpeg = Jpeg(Flat(QSize(64, 48), Qt::green));
    const int pad = size - int(jpeg.size()) - 4;
    if (pad < 0)
        return {};
    QByteArray comment("\xFF\xFE", 2);
    comment += char((pad + 2) >> 8);
    comment += char((pad + 2) & 0xFF);
    return jpeg.insert(2, comment + QByteArray(pad, 'c'));
}

// A progressive picture whose first scan is repeated until it has `scans` of them.
QByteArray ProgressiveWithScans(const QImage& picture, int scans)
{
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    QImageWriter writer(&out, "JPG");
    writer.setProgressiveScanWrite(true);
    writer.write(picture);
    const int sos = int(bytes.indexOf(QByteArray("\xFF\xDA", 2)));
    int end = sos + 2;
    while (end + 1 < bytes.size() && !(uchar(bytes[end]) == 0xFF && uchar(bytes[end + 1]) != 0 &&
                                       (uchar(bytes[end + 1]) < 0xD0 || uchar(bytes[end + 1]) > 0xD7)))
        ++end;
    const QByteArray scan = bytes.mid(sos, end - sos);
    return bytes.left(end) + scan.repeated(scans) + bytes.mid(end);
}

QImage Flat(QSize size, QColor color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// appsrc ! decoder ! appsink, for a stream whose caps give `size` (if valid), and a
// frame rate when a demuxer would have framed it.
struct Decoding {
    gsth::Element pipeline;
    GstElement* src = nullptr;
    GstElement* decoder = nullptr;
    GstElement* sink = nullptr;

    explicit Decoding(QSize size, bool framed = true)
    {
        QString caps = QStringLiteral("image/jpeg");
        if (size.isValid())
            caps += QStringLiteral(",width=%1,height=%2").arg(size.width()).arg(size.height());
        if (framed)
            caps += QStringLiteral(",framerate=25/1");
        const QByteArray launch =
            QStringLiteral("appsrc name=src format=time caps=%1 ! kinojpegdec name=dec ! appsink name=sink sync=false")
                .arg(caps)
                .toUtf8();
        pipeline = gsth::Element::Adopt(gst_parse_launch(launch.constData(), nullptr));
        src = gst_bin_get_by_name(GST_BIN(pipeline.get()), "src");
        decoder = gst_bin_get_by_name(GST_BIN(pipeline.get()), "dec");
        sink = gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink");
        gst_element_set_state(pipeline.element(), GST_STATE_PLAYING);
    }
    ~Decoding()
    {
        gst_element_set_state(pipeline.element(), GST_STATE_NULL);
        for (GstElement* e : {src, decoder, sink})
            gst_object_unref(e);
    }
    void Push(const QByteArray& bytes)
    {
        GstBuffer* buffer = gst_buffer_new_memdup(bytes.constData(), gsize(bytes.size()));
        GST_BUFFER_PTS(buffer) = pushed++ * GST_SECOND / 25;
        gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
    }
    // The next frame as an image, or a null one when none comes.
    QImage Next()
    {
        gsth::Sample sample = gsth::Sample::Adopt(gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND));
        GstVideoInfo info;
        GstMapInfo map;
        if (!sample || !gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())) ||
            !gst_buffer_map(gst_sample_get_buffer(sample.get()), &map, GST_MAP_READ))
            return {};
        QImage image = QImage(map.data, info.width, info.height, info.stride[0], QImage::Format_RGB32).copy();
        gst_buffer_unmap(gst_sample_get_buffer(sample.get()), &map);
        return image;
    }
    bool Failed() const
    {
        gsth::Bus bus = gsth::Bus::Adopt(gst_element_get_bus(pipeline.element()));
        return bool(gsth::Message::Adopt(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)));
    }
    GstClockTime pushed = 0;
};

bool Near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) < 24 && std::abs(qGreen(a) - qGreen(b)) < 24 &&
           std::abs(qBlue(a) - qBlue(b)) < 24;
}

} // namespace

class JpegDecoderTest : public QObject {
    Q_OBJECT

private slots:
    // Some capture cards store a frame as its two fields, one JPEG each, in one buffer:
    // the frame has the fields' lines in turn, at every reduced size too.
    void fieldPairsAreInterleaved_data()
    {
        QTest::addColumn<QSize>("wanted");
        QTest::addColumn<bool>("secondField");
        QTest::addColumn<bool>("firstEnds"); // the first field has its end marker
        QTest::addColumn<QSize>("frame");
        QTest::newRow("own size") << QSize() << true << true << QSize(64, 48);
        QTest::newRow("half size") << QSize(32, 24) << true << true << QSize(32, 24);
        QTest::newRow("second field missing: the first is repeated") << QSize() << false << true << QSize(64, 48);
        QTest::newRow("first field without its end marker") << QSize() << true << false << QSize(64, 48);
        QTest::newRow("first field without its end marker, alone") << QSize() << false << false << QSize(64, 48);
    }
    void fieldPairsAreInterleaved()
    {
        QFETCH(QSize, wanted);
        QFETCH(bool, secondField);
        QFETCH(bool, firstEnds);
        QFETCH(QSize, frame);
        Decoding decoding(QSize(64, 48));
        g_object_set(decoding.decoder, "wanted-width", std::max(wanted.width(), 0), "wanted-height",
                     std::max(wanted.height(), 0), nullptr);
        QByteArray pair = Jpeg(Flat(QSize(64, 24), Qt::red));
        if (!firstEnds)
            pair.chop(2);
        if (secondField)
            pair += Jpeg(Flat(QSize(64, 24), Qt::blue));
        decoding.Push(pair);
        const QImage shown = decoding.Next();
        QCOMPARE(shown.size(), frame);
        for (int y : {0, 2, frame.height() - 2})
            QVERIFY2(Near(shown.pixel(5, y), qRgb(255, 0, 0)), qPrintable(QString::number(y)));
        for (int y : {1, 3, frame.height() - 1})
            QVERIFY2(Near(shown.pixel(5, y), secondField ? qRgb(0, 0, 255) : qRgb(255, 0, 0)),
                     qPrintable(QString::number(y)));
    }

    // Pictures marked CS=ITU601 hold video levels (black 16, white 235), stretched to
    // full range at every size and in both fields; unmarked ones are full range.
    void videoLevelsAreStretched_data()
    {
        QTest::addColumn<bool>("marked");
        QTest::addColumn<int>("denom"); // above 1: as a pair of fields
        QTest::newRow("marked, own size") << true << 1;
        QTest::newRow("marked fields, an eighth") << true << 8;
        QTest::newRow("not marked") << false << 1;
    }
    void videoLevelsAreStretched()
    {
        QFETCH(bool, marked);
        QFETCH(int, denom);
        QImage bands = Flat(QSize(98, denom > 1 ? 24 : 48), qRgb(235, 235, 235)); // rows end in part of 4 pixels
        for (int i = 0; i < 48 * bands.height(); ++i)
            bands.setPixel(i % 48, i / 48, qRgb(16, 16, 16));
        const QByteArray jpeg = Jpeg(bands).insert(2, marked ? QByteArray("\xFF\xFE\x00\x0C\x43S=ITU601", 14) : "");
        Decoding decoding(QSize(98, 48));
        g_object_set(decoding.decoder, "wanted-width", 98 / denom, "wanted-height", 48 / denom, nullptr);
        decoding.Push(denom > 1 ? jpeg + jpeg : jpeg);
        const QImage shown = decoding.Next();
        QCOMPARE(shown.pixel(0, shown.height() - 1), marked ? qRgb(0, 0, 0) : qRgb(16, 16, 16));
        QCOMPARE(shown.pixel(shown.width() - 1, 0), marked ? qRgb(255, 255, 255) : qRgb(235, 235, 235));
    }

    // A broken picture costs its frame and nothing else: the next one is shown, the
    // stream goes on, and a header that claims a huge picture allocates nothing.
    void brokenPicturesCostOnlyTheirFrame_data()
    {
        QTest::addColumn<QByteArray>("broken");
        QTest::addColumn<bool>("partlyShown");
        const QByteArray good = Jpeg(Flat(QSize(64, 48), Qt::green));
        QByteArray huge = good;
        const int sof = huge.indexOf(QByteArray("\xFF\xC0", 2));
        QVERIFY(sof > 0);
        huge[sof + 5] = char(0xEA); // height 60000
        huge[sof + 6] = char(0x60);
        huge[sof + 7] = char(0xEA); // width 60000
        huge[sof + 8] = char(0x60);
        QTest::newRow("not a JPEG") << QByteArray(4000, 'x') << false;
        QTest::newRow("start of image only") << QByteArray("\xFF\xD8", 2) << false;
        QTest::newRow("header claims 60000 x 60000") << huge << false;
        QImage busy(64, 48, QImage::Format_RGB32); // enough picture data to cut into
        for (int y = 0; y < busy.height(); ++y)
            for (int x = 0; x < busy.width(); ++x)
                busy.setPixel(x, y, qRgb(x * 4, y * 5, (x * y) % 256));
        const QByteArray cut = Jpeg(busy);
        QTest::newRow("cut short: decoded as far as it goes") << cut.left(cut.size() * 3 / 4) << true;
        QTest::newRow("progressive in more scans than allowed")
            << ProgressiveWithScans(busy, kino::jpeg::kMaxScans + 10) << false;
    }
    void brokenPicturesCostOnlyTheirFrame()
    {
        QFETCH(QByteArray, broken);
        QFETCH(bool, partlyShown);
        Decoding decoding(QSize(64, 48));
        decoding.Push(broken);
        decoding.Push(Jpeg(Flat(QSize(64, 48), Qt::green)));
        if (partlyShown)
            QCOMPARE(decoding.Next().size(), QSize(64, 48));
        const QImage next = decoding.Next();
        QCOMPARE(next.size(), QSize(64, 48));
        QVERIFY(Near(next.pixel(32, 24), qRgb(0, 255, 0)));
        QVERIFY(!decoding.Failed());
    }

    // A stream that is not framed (a bare JPEG file, a server's stream of pictures) is
    // cut into pictures wherever its chunks end.
    void unframedStreamsAreCutIntoPictures_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<QByteArray>("before"); // what comes ahead of the first picture
        const QByteArray plain = Jpeg(Flat(QSize(64, 48), Qt::green));
        // A header segment holding markers of a picture of its own, as a thumbnail does.
        QByteArray thumbnail = plain;
        thumbnail.insert(2, QByteArray("\xFF\xE1\x00\x08\xFF\xD8\xFF\xD9\x00\x00", 10));
        const QByteArray junk("junk");
        QTest::newRow("plain pictures") << plain << 97 << junk;
        QTest::newRow("a header segment holding an end marker") << thumbnail << 97 << junk;
        QTest::newRow("a picture cut short before the next") << plain.left(plain.size() - 40) << 97 << junk;
        for (int chunk : {1, 2, 3, 4096})
            QTest::addRow("chunks of %d bytes", chunk) << plain << chunk << QByteArray();
        // The next picture begins in the last bytes of a chunk.
        for (int size : {4093, 4094, 4095, 4097})
            QTest::addRow("a first picture of %d bytes, 4 KiB chunks", size)
                << JpegOfSize(size) << 4096 << QByteArray();
    }
    void unframedStreamsAreCutIntoPictures()
    {
        QFETCH(QByteArray, first);
        QFETCH(int, chunk);
        QFETCH(QByteArray, before);
        QVERIFY(!first.isEmpty());
        const QByteArray stream = before + first + Jpeg(Flat(QSize(64, 48), Qt::green));
        Decoding decoding(QSize(), false); // as a bare file's caps: no size, no rate
        for (qsizetype at = 0; at < stream.size(); at += chunk)
            decoding.Push(stream.mid(at, chunk));
        gst_app_src_end_of_stream(GST_APP_SRC(decoding.src));
        for (int picture = 0; picture < 2; ++picture) {
            const QImage shown = decoding.Next();
            QCOMPARE(shown.size(), QSize(64, 48));
            QVERIFY(Near(shown.pixel(32, 4), qRgb(0, 255, 0)));
        }
        QVERIFY(decoding.Next().isNull());
        QVERIFY(!decoding.Failed());
    }

    // Finding a picture's end looks at each byte of the stream once however small its
    // chunks: a photo of many megabytes read 4 KiB at a time must not cost its size
    // for every chunk.
    void cuttingLooksAtEachByteOnce_data()
    {
        QTest::addColumn<int>("chunk");
        for (int chunk : {1, 97, 4096})
            QTest::addRow("chunks of %d bytes", chunk) << chunk;
    }
    void cuttingLooksAtEachByteOnce()
    {
        QFETCH(int, chunk);
        QImage busy(400, 300, QImage::Format_RGB32);
        for (int y = 0; y < busy.height(); ++y)
            for (int x = 0; x < busy.width(); ++x)
                busy.setPixel(x, y, qRgb((x * 7) % 256, (y * 3) % 256, (x * y) % 256));
        const QByteArray picture = Jpeg(busy);
        kino::jpeg::Cutter cutter;
        std::size_t copied = 0, end = 0;
        const auto copy = [&](std::size_t from, std::size_t count, std::uint8_t* out) {
            copied += count;
            std::memcpy(out, picture.constData() + from, count);
        };
        for (qsizetype have = chunk; !end; have += chunk)
            end = cutter.Scan(copy, std::size_t(std::min(have, picture.size())));
        QCOMPARE(qsizetype(end), picture.size());
        QVERIFY2(copied <= std::size_t(picture.size()) + 4 * std::size_t(picture.size() / chunk + 1),
                 qPrintable(QString::number(copied)));
    }

    // A stream in which no picture decodes fails with the decoding error, on the way
    // or at its end; once a picture has been shown, broken ones cost only their frame.
    void streamWithoutAGoodPictureFails_data()
    {
        QTest::addColumn<bool>("goodFirst");
        QTest::addColumn<int>("broken");
        QTest::addColumn<bool>("fails");
        QTest::newRow("a few broken, then the end") << false << 3 << true;
        QTest::newRow("many broken") << false << 40 << true;
        QTest::newRow("one good, then many broken") << true << 40 << false;
    }
    void streamWithoutAGoodPictureFails()
    {
        QFETCH(bool, goodFirst);
        QFETCH(int, broken);
        QFETCH(bool, fails);
        Decoding decoding(QSize(64, 48));
        if (goodFirst)
            decoding.Push(Jpeg(Flat(QSize(64, 48), Qt::green)));
        for (int i = 0; i < broken; ++i)
            decoding.Push(QByteArray(500, char(i)));
        gst_app_src_end_of_stream(GST_APP_SRC(decoding.src));
        if (goodFirst) // the sink tells of the end once what it holds is taken
            QCOMPARE(decoding.Next().size(), QSize(64, 48));
        gsth::Bus bus = gsth::Bus::Adopt(gst_element_get_bus(decoding.pipeline.element()));
        gsth::Message end = gsth::Message::Adopt(gst_bus_timed_pop_filtered(
            bus.get(), 10 * GST_SECOND, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS)));
        QVERIFY(end);
        QCOMPARE(GST_MESSAGE_TYPE(end.get()) == GST_MESSAGE_ERROR, fails);
    }
};

KINO_ENGINE_TEST_MAIN(JpegDecoderTest)
#include "test_jpegdecoder.moc"
