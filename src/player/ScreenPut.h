#pragma once
// On X11, a playing frame goes from the shared memory it was converted into straight
// into the view's own window: one request a frame, with no copy into the widget's
// backing store, no paint and no wait for the server. A "put" is that request: the
// server copies the frame's pages into the window when it gets to it.
#include <QImage>
#include <QPoint>
#include <QRect>

#include <gst/gst.h>

#include <cstdint>
#include <memory>

class QWidget;

namespace kino {

class ScreenPut {
public:
    // Null off X11, when the server cannot take shared memory by fd, or when the
    // window's pixels are not BGRx in 32 bits. Gives the widget a window of its own.
    // Letting the put go lets go of the frames it sent (see Release).
    static std::unique_ptr<ScreenPut> ForWidget(QWidget* widget);
    ~ScreenPut();
    ScreenPut(const ScreenPut&) = delete;
    ScreenPut& operator=(const ScreenPut&) = delete;

    // Puts the part `from` of `image`, with its top left corner at `at` in the window.
    // `image` must map the picture of `buffer`, in memory from SharedFrameAllocator().
    // False, with nothing sent, when it is not so, the server refuses the memory, the
    // widget is on a scaled screen, or the connection to the server is lost.
    bool Put(GstBuffer* buffer, const QImage& image, const QRect& from, const QPoint& at);

    // Frames sent stay alive until the server has read them, which the next put finds
    // out; when no put follows (the video is over, the view hidden), this waits for the
    // server once and lets go of them all. The window keeps showing the last one.
    void Release();

    // Frames sent whose memory is held until the server has read them, for every view.
    static int FramesHeld();

private:
    explicit ScreenPut(QWidget* widget) : widget_(widget) {}
    // Takes the widget's current window (should the toolkit make the window anew, it
    // gets a new id). False when frames cannot be put into it.
    bool Bind();

    QWidget* widget_;
    std::uint32_t window_ = 0;
    std::uint32_t gc_ = 0;
};

} // namespace kino
