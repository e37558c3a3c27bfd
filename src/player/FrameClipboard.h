#pragma once
// Frames on the clipboard. A Motion JPEG frame goes there as the compressed picture it
// was decoded from and is decoded whole only when a program asks for the image: a copy
// of a huge picture holds its memory only while it is read, and a second copy does not
// hold a second picture. Any other frame shown smaller than its picture is decoded
// again from its source, whole, and put there when that is done.
#include <QImage>
#include <QMimeData>
#include <QTimer>

#include <future>

#include "player/engine/PlayerEngine.h"

namespace kino {

// The whole picture of a compressed Motion JPEG picture; null when it does not decode.
QImage DecodeWholePicture(const PlayerEngine::CompressedPicture& picture);

class JpegFrameData : public QMimeData {
    Q_OBJECT
public:
    // Null when `picture` holds no picture that can be read.
    static JpegFrameData* Make(PlayerEngine::CompressedPicture picture);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    explicit JpegFrameData(PlayerEngine::CompressedPicture picture);
    PlayerEngine::CompressedPicture picture_;
};

// A copy waiting for its frame's whole picture (PlayerEngine::FetchFullFrame): puts it
// on the clipboard once decoded, or the frame as shown when it cannot be had, then
// goes. Nothing waits for the decoding, not even a program that asks for the
// clipboard at once.
class PendingCopy : public QObject {
    Q_OBJECT
public:
    PendingCopy(std::shared_future<WholePicture> whole, QImage shown, QObject* parent);

private:
    void PutWhenReady();

    std::shared_future<WholePicture> whole_;
    QImage shown_;
    QTimer poll_;
};

} // namespace kino
