#pragma once
// A decoded picture as the engine hands it on: BGRx (on a little-endian machine what a
// 32-bit RGB image holds), shared, and kept mapped in the memory it was decoded into
// while any copy of it lives, so that showing it copies nothing.
#include <QSize>

#include <gst/gst.h>
#include <gst/video/video-info.h>

#include <cstdint>
#include <memory>

namespace kino {

class VideoFrame {
public:
    VideoFrame() = default;
    // The picture of `buffer`, laid out as `info` says; null unless it is BGRx and can
    // be mapped for reading.
    static VideoFrame Map(GstBuffer* buffer, const GstVideoInfo& info);

    bool IsNull() const { return !d; }
    QSize Size() const;
    // Bytes from one row to the next, which may be more than the width's four bytes.
    int Stride() const;
    const std::uint8_t* Bits() const;
    // The buffer the picture lies in: its memory may be handed to the display server.
    GstBuffer* Buffer() const;

private:
    struct Mapped;
    std::shared_ptr<const Mapped> d;
};

} // namespace kino
