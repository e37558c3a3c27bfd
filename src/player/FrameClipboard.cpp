#include "player/FrameClipboard.h"

#include <QApplication>
#include <QClipboard>

#include <chrono>

#include "player/elements/JpegPicture.h"

namespace kino {

namespace {

// The toolkit's own type for an image; the clipboard offers every image format for it.
const QString kImageType = QStringLiteral("application/x-qt-image");

} // namespace

QImage DecodeWholePicture(const PlayerEngine::CompressedPicture& picture)
{
    jpeg::Reader reader;
    jpeg::Picture whole;
    const std::uint8_t* data = picture.jpeg.data();
    const std::size_t size = picture.jpeg.size();
    if (!jpeg::ReadPicture(reader, data, size, picture.capsWidth, picture.capsHeight, &whole))
        return {};
    // BGRx rows are what a 32-bit RGB image holds: decoded straight into the image.
    QImage image(whole.width, whole.height, QImage::Format_RGB32);
    if (image.isNull() ||
        !jpeg::DecodePicture(reader, data, size, whole, 1, image.bits(), std::size_t(image.bytesPerLine())))
        return {};
    return image;
}

JpegFrameData* JpegFrameData::Make(PlayerEngine::CompressedPicture picture)
{
    jpeg::Reader reader;
    jpeg::Picture whole;
    if (!jpeg::ReadPicture(reader, picture.jpeg.data(), picture.jpeg.size(), picture.capsWidth, picture.capsHeight,
                           &whole))
        return nullptr;
    return new JpegFrameData(std::move(picture));
}

JpegFrameData::JpegFrameData(PlayerEngine::CompressedPicture picture) : picture_(std::move(picture)) {}

QStringList JpegFrameData::formats() const
{
    return {kImageType};
}

bool JpegFrameData::hasFormat(const QString& mimeType) const
{
    return mimeType == kImageType;
}

QVariant JpegFrameData::retrieveData(const QString& mimeType, QMetaType type) const
{
    if (mimeType != kImageType)
        return QMimeData::retrieveData(mimeType, type);
    const QImage image = DecodeWholePicture(picture_);
    return image.isNull() ? QVariant() : QVariant(image);
}

PendingCopy::PendingCopy(std::shared_future<WholePicture> whole, QImage shown, QObject* parent)
    : QObject(parent), whole_(std::move(whole)), shown_(std::move(shown))
{
    // A frame decodes again in a fraction of a second; looking every few ms costs nothing.
    poll_.setInterval(10);
    connect(&poll_, &QTimer::timeout, this, &PendingCopy::PutWhenReady);
    poll_.start();
}

void PendingCopy::PutWhenReady()
{
    if (whole_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    poll_.stop();
    const WholePicture& picture = whole_.get();
    // A copy of its own: the clipboard keeps it after this is gone.
    const QImage whole = picture.IsNull() ? QImage()
                                          : QImage(picture.bgrx.data(), picture.width, picture.height,
                                                   picture.width * 4, QImage::Format_RGB32)
                                                .copy();
    QApplication::clipboard()->setImage(whole.isNull() ? shown_ : whole);
    deleteLater();
}

} // namespace kino
