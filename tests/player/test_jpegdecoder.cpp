// The Motion-JPEG decoder on its own: pictures made in the test, pushed one by one.
#include <QBuffer>
#include <QImage>
#include <QTest>

#include <algorithm>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include "player/GstHandles.h"
#include "player/JpegDecoder.h"
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
        QTest::addColumn<QSize>("frame");
        QTest::newRow("own size") << QSize() << true << QSize(64, 48);
        QTest::newRow("half size") << QSize(32, 24) << true << QSize(32, 24);
        QTest::newRow("second field missing: the first is repeated") << QSize() << false << QSize(64, 48);
    }
    void fieldPairsAreInterleaved()
    {
        QFETCH(QSize, wanted);
        QFETCH(bool, secondField);
        QFETCH(QSize, frame);
        Decoding decoding(QSize(64, 48));
        g_object_set(decoding.decoder, "wanted-width", std::max(wanted.width(), 0), "wanted-height",
                     std::max(wanted.height(), 0), nullptr);
        QByteArray pair = Jpeg(Flat(QSize(64, 24), Qt::red));
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
        const QByteArray plain = Jpeg(Flat(QSize(64, 48), Qt::green));
        // A header segment holding markers of a picture of its own, as a thumbnail does.
        QByteArray thumbnail = plain;
        thumbnail.insert(2, QByteArray("\xFF\xE1\x00\x08\xFF\xD8\xFF\xD9\x00\x00", 10));
        QTest::newRow("plain pictures") << plain;
        QTest::newRow("a header segment holding an end marker") << thumbnail;
        QTest::newRow("a picture cut short before the next") << plain.left(plain.size() - 40);
    }
    void unframedStreamsAreCutIntoPictures()
    {
        QFETCH(QByteArray, first);
        const QByteArray stream = QByteArray("junk") + first + Jpeg(Flat(QSize(64, 48), Qt::green));
        Decoding decoding(QSize(), false); // as a bare file's caps: no size, no rate
        for (qsizetype at = 0; at < stream.size(); at += 97)
            decoding.Push(stream.mid(at, 97));
        gst_app_src_end_of_stream(GST_APP_SRC(decoding.src));
        for (int picture = 0; picture < 2; ++picture) {
            const QImage shown = decoding.Next();
            QCOMPARE(shown.size(), QSize(64, 48));
            QVERIFY(Near(shown.pixel(32, 4), qRgb(0, 255, 0)));
        }
        QVERIFY(decoding.Next().isNull());
        QVERIFY(!decoding.Failed());
    }
};

KINO_TEST_MAIN_WITH_MEDIA(JpegDecoderTest)
#include "test_jpegdecoder.moc"
