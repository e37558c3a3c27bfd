#pragma once
// Frames on the clipboard. A Motion JPEG frame goes there as the compressed picture it
// was decoded from and is decoded whole only when a program asks for the image: a copy
// of a huge picture holds its memory only while it is read, and a second copy does not
// hold a second picture.
#include <QImage>
#include <QMimeData>

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

} // namespace kino
