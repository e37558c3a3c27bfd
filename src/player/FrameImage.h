#pragma once
// A frame of the engine as an image the toolkit draws, sharing the frame's pixels: the
// frame stays mapped until the image's last copy is gone.
#include <QImage>

#include "player/engine/VideoFrame.h"

namespace kino {

inline QImage ImageOf(const VideoFrame& frame)
{
    if (frame.IsNull())
        return {};
    auto* held = new VideoFrame(frame);
    const QSize size = frame.Size();
    return QImage(
        frame.Bits(), size.width(), size.height(), frame.Stride(), QImage::Format_RGB32,
        [](void* p) { delete static_cast<VideoFrame*>(p); }, held);
}

} // namespace kino
