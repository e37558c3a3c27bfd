#include "player/FrameClipboard.h"

#include <chrono>

#include "player/elements/JpegPicture.h"

namespace kino {

namespace {

// The toolkit's own type for an image; the clipboard offers every image format for it.
const QString kImageType = QStringLiteral("application/x-qt-image");
// Longer than decoding one frame again from the key frame before it takes.
constexpr std::chrono::seconds kFetchWait{12};

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

QImage JpegFrameData::Picture() const
{
    return DecodeWholePicture(picture_);
}

FetchedFrameData::FetchedFrameData(std::shared_future<WholePicture> whole, QImage shown)
    : whole_(std::move(whole)), shown_(std::move(shown))
{}

QImage FetchedFrameData::Picture() const
{
    if (whole_.valid() && whole_.wait_for(kFetchWait) == std::future_status::ready) {
        const WholePicture& picture = whole_.get();
        if (!picture.IsNull())
            // A copy of its own: the image may be kept after this data is gone.
            return QImage(picture.bgrx.data(), picture.width, picture.height, picture.width * 4, QImage::Format_RGB32)
                .copy();
    }
    return shown_;
}

QStringList FrameData::formats() const
{
    return {kImageType};
}

bool FrameData::hasFormat(const QString& mimeType) const
{
    return mimeType == kImageType;
}

QVariant FrameData::retrieveData(const QString& mimeType, QMetaType type) const
{
    if (mimeType != kImageType)
        return QMimeData::retrieveData(mimeType, type);
    const QImage image = Picture();
    return image.isNull() ? QVariant() : QVariant(image);
}

} // namespace kino
