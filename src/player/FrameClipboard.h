#pragma once
// Frames on the clipboard. A Motion JPEG frame goes there as the compressed picture it
// was decoded from and is decoded whole only when a program asks for the image: a copy
// of a huge picture holds its memory only while it is read, and a second copy does not
// hold a second picture. Any other frame shown smaller than its picture is decoded
// again from its source, whole, while the copy is on the clipboard.
#include <QImage>
#include <QMimeData>

#include <future>

#include "player/engine/PlayerEngine.h"

namespace kino {

// The whole picture of a compressed Motion JPEG picture; null when it does not decode.
QImage DecodeWholePicture(const PlayerEngine::CompressedPicture& picture);

// A frame offered as an image, made only when a program asks for it.
class FrameData : public QMimeData {
    Q_OBJECT
public:
    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;
    virtual QImage Picture() const = 0;
};

class JpegFrameData : public FrameData {
    Q_OBJECT
public:
    // Null when `picture` holds no picture that can be read.
    static JpegFrameData* Make(PlayerEngine::CompressedPicture picture);

protected:
    QImage Picture() const override;

private:
    explicit JpegFrameData(PlayerEngine::CompressedPicture picture);
    PlayerEngine::CompressedPicture picture_;
};

// A frame whose whole picture is being decoded again (PlayerEngine::FetchFullFrame):
// a program that asks for it before it is ready waits a moment; when it cannot be
// had, the frame as shown is given.
class FetchedFrameData : public FrameData {
    Q_OBJECT
public:
    FetchedFrameData(std::shared_future<WholePicture> whole, QImage shown);

protected:
    QImage Picture() const override;

private:
    std::shared_future<WholePicture> whole_;
    QImage shown_;
};

} // namespace kino
