#pragma once
// The picture: the chosen rectangle of the newest frame, fitted to the view with its
// aspect ratio kept (view style 1) or at its own size, centred (view style 0), on
// black.
#include <QImage>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// A frame's pixels as GStreamer holds them; only passed along here, so that what
// includes the view (the playback control's users) does not include GStreamer.
typedef struct _GstBuffer GstBuffer;

namespace kino {

class ScreenPut;

class VideoView : public QWidget {
    Q_OBJECT
public:
    explicit VideoView(QWidget* parent = nullptr);
    ~VideoView() override;

    // `pixels`, when given, is the buffer `frame` maps: on X11 a frame in shared
    // memory is then put into the view's window as it is, without a paint.
    void SetFrame(const QImage& frame, GstBuffer* pixels = nullptr);
    const QImage& Frame() const { return frame_; }

    // The picture's own size; frames may arrive scaled down from it. Empty: the
    // frame's size. pixelAspect is a pixel's width over its height: the picture is
    // shown in its display aspect, while sizes and rectangles stay in picture pixels.
    void SetPictureSize(const QSize& size, double pixelAspect = 1.0);
    QSize PictureSize() const;
    double PixelAspect() const { return pixelAspect_; }

    // In picture pixels; an empty rectangle shows the whole picture.
    void SetSourceRect(const QRect& rect);
    QRect SourceRect() const { return sourceRect_; }
    // The part of the picture actually shown: the source rectangle clamped to the picture.
    QRect EffectiveSourceRect() const;

    void SetFitToWindow(bool fit);
    bool FitToWindow() const { return fitToWindow_; }

    // Frames put into the window straight from shared memory, without a paint.
    int FramesPut() const { return framesPut_; }
    // Frames that reached the screen, put or painted (each counted once), and frames
    // set, since the view was made.
    int FramesShown() const { return framesShown_; }
    int FramesSet() const { return framesSet_; }

    // Where the shown part lands in the view (empty without a frame).
    QRect TargetRect() const;

    std::function<void()> OnClick;

signals:
    // The view's size, the picture, the source rectangle or the fit changed: where
    // and how large the picture is shown may have changed.
    void layoutChanged();
    // A frame (not a null one) was set.
    void frameArrived();
    // The first frame since the view was made reached the screen.
    void firstFrameShown();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The shown part in the frame's own pixels (frames may come scaled down).
    QRectF FramePart() const;
    // The frame's pixels copied unscaled into `target`; empty when the frame must be
    // resized to fit it.
    QRect OneToOnePart(const QRect& target) const;

    // The frame's part put into the window directly; false when it must be painted.
    bool PutDirectly(GstBuffer* pixels, const QRect& target);
    // The present frame has reached the screen.
    void Shown();
    // No video shown any longer: frames the window was given are let go as soon as the
    // server has read them, rather than when a next put finds out (there may be none).
    void ReleasePut();

    QImage frame_;
    std::unique_ptr<ScreenPut> screenPut_;
    bool screenPutTried_ = false;
    int framesPut_ = 0;
    int framesSet_ = 0;
    int framesShown_ = 0;
    int shownSerial_ = 0; // the framesSet_ of the last frame shown
    // Brings the widget's own copy of the picture up to date once frames stop coming:
    // the window shows the newest frame, and what is uncovered later must too.
    QTimer catchUp_;
    QSize pictureSize_;
    double pixelAspect_ = 1.0;
    QRect sourceRect_;
    bool fitToWindow_ = true;
    bool leftPressed_ = false;
};

} // namespace kino
