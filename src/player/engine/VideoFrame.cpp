#include "player/engine/VideoFrame.h"

#include <gst/video/video.h>

#include "player/elements/GstHandles.h"

namespace kino {

// Only the buffer is kept, not the sample: the video sink reuses its sample object
// for the next frame.
struct VideoFrame::Mapped {
    gsth::Buffer buffer;
    GstVideoFrame frame{};
    bool mapped = false;
    ~Mapped()
    {
        if (mapped)
            gst_video_frame_unmap(&frame);
    }
};

VideoFrame VideoFrame::Map(GstBuffer* buffer, const GstVideoInfo& info)
{
    if (!buffer || GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGRx)
        return {};
    auto mapped = std::make_shared<Mapped>();
    mapped->buffer = gsth::Buffer::Ref(buffer);
    mapped->mapped = gst_video_frame_map(&mapped->frame, &info, mapped->buffer.get(), GST_MAP_READ);
    if (!mapped->mapped)
        return {};
    VideoFrame frame;
    frame.d = std::move(mapped);
    return frame;
}

QSize VideoFrame::Size() const
{
    return d ? QSize(GST_VIDEO_FRAME_WIDTH(&d->frame), GST_VIDEO_FRAME_HEIGHT(&d->frame)) : QSize();
}

int VideoFrame::Stride() const
{
    return d ? GST_VIDEO_FRAME_PLANE_STRIDE(&d->frame, 0) : 0;
}

const std::uint8_t* VideoFrame::Bits() const
{
    return d ? static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&d->frame, 0)) : nullptr;
}

GstBuffer* VideoFrame::Buffer() const
{
    return d ? d->buffer.get() : nullptr;
}

} // namespace kino
