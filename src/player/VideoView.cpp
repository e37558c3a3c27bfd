#include "player/VideoView.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "player/ScreenPut.h"
#include "player/engine/StartupTrace.h"

namespace kino {

VideoView::VideoView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setMinimumSize(1, 1);
    catchUp_.setSingleShot(true);
    catchUp_.setInterval(150);
    // Frames have stopped (paused, the end reached): the put lets go of those it sent.
    connect(&catchUp_, &QTimer::timeout, this, [this] {
        update(TargetRect());
        ReleasePut();
    });
}

VideoView::~VideoView() = default;

void VideoView::SetFrame(const QImage& frame, GstBuffer* pixels)
{
    const bool nextOfSameSize = !frame.isNull() && frame.size() == frame_.size();
    frame_ = frame;
    if (frame_.isNull()) {
        ReleasePut();
    } else {
        ++framesSet_;
        emit frameArrived();
    }
    // The next frame of a playing picture only changes the picture's own area: it is
    // painted at once and only there, without the black around it and without another
    // pass through the event loop for every frame.
    if (nextOfSameSize && isVisible()) {
        const QRect target = TargetRect();
        if (!target.isEmpty()) {
            if (!PutDirectly(pixels, target))
                repaint(target);
            return;
        }
    }
    update();
}

void VideoView::SetPictureSize(const QSize& size, double pixelAspect)
{
    if (!(pixelAspect > 0.0) || !std::isfinite(pixelAspect))
        pixelAspect = 1.0;
    if (size == pictureSize_ && pixelAspect == pixelAspect_)
        return;
    pictureSize_ = size;
    pixelAspect_ = pixelAspect;
    update();
    emit layoutChanged();
}

QSize VideoView::PictureSize() const
{
    return pictureSize_.isEmpty() ? frame_.size() : pictureSize_;
}

void VideoView::SetSourceRect(const QRect& rect)
{
    sourceRect_ = rect;
    update();
    emit layoutChanged();
}

QRect VideoView::EffectiveSourceRect() const
{
    const QRect whole(QPoint(0, 0), PictureSize());
    if (whole.isEmpty())
        return {};
    if (sourceRect_.isEmpty())
        return whole;
    const QRect clamped = sourceRect_.intersected(whole);
    return clamped.isEmpty() ? whole : clamped;
}

void VideoView::SetFitToWindow(bool fit)
{
    fitToWindow_ = fit;
    update();
    emit layoutChanged();
}

void VideoView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    ReleasePut();
}

void VideoView::ReleasePut()
{
    if (screenPut_)
        screenPut_->Release();
}

void VideoView::Shown()
{
    if (shownSerial_ == framesSet_ || frame_.isNull())
        return;
    shownSerial_ = framesSet_;
    if (++framesShown_ == 1)
        emit firstFrameShown();
}

void VideoView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    emit layoutChanged();
}

QRect VideoView::TargetRect() const
{
    const QRect src = EffectiveSourceRect();
    if (src.isEmpty())
        return {};
    // Non-square pixels are widened (or made taller), never shrunk below their count.
    QSize size = src.size();
    if (pixelAspect_ > 1.0)
        size.setWidth(qRound(size.width() * pixelAspect_));
    else if (pixelAspect_ < 1.0)
        size.setHeight(qRound(size.height() / pixelAspect_));
    if (fitToWindow_)
        size.scale(this->size(), Qt::KeepAspectRatio);
    QRect target(QPoint(0, 0), size);
    target.moveCenter(rect().center());
    // Integer centring of an even-sized area inside an odd one may land half a pixel off;
    // recompute from the sizes so the picture is exactly centred.
    target.moveTopLeft(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2));
    return target;
}

void VideoView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect target = TargetRect();
    // Without a frame the picture's place is black too: left unpainted, it would show
    // whatever frame was last painted there, older than the frames put on screen since.
    if (target.isEmpty() || frame_.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    MarkStartup("first picture painted");
    Shown();
    // Black only around the picture, so the picture itself is drawn once.
    if (!target.contains(event->rect())) {
        const QRegion around = QRegion(rect()).subtracted(QRegion(target));
        for (const QRect& part : around)
            painter.fillRect(part, Qt::black);
    }
    // A frame scaled in the pipeline to the view's size is copied as it is; smoothing
    // only where the frame is really resized.
    const QRect same = OneToOnePart(target);
    if (!same.isEmpty()) {
        painter.drawImage(target.topLeft(), frame_, same);
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(QRectF(target), frame_, FramePart());
}

bool VideoView::PutDirectly(GstBuffer* pixels, const QRect& target)
{
    if (!pixels)
        return false;
    const QRect same = OneToOnePart(target);
    if (same.isEmpty())
        return false;
    if (!screenPutTried_) {
        screenPutTried_ = true;
        screenPut_ = ScreenPut::ForWidget(this);
    }
    // What the window shows is then newer than what the widget last painted; a paint
    // follows once frames stop (catchUp_), and any paint draws the newest frame.
    if (!screenPut_ || !screenPut_->Put(pixels, frame_, same, target.topLeft()))
        return false;
    ++framesPut_;
    MarkStartup("first picture put on screen");
    Shown();
    catchUp_.start();
    return true;
}

QRectF VideoView::FramePart() const
{
    const QRect src = EffectiveSourceRect();
    const QSize picture = PictureSize();
    if (src.isEmpty() || picture.isEmpty())
        return {};
    const double scaleX = double(frame_.width()) / picture.width();
    const double scaleY = double(frame_.height()) / picture.height();
    return QRectF(src.x() * scaleX, src.y() * scaleY, src.width() * scaleX, src.height() * scaleY);
}

QRect VideoView::OneToOnePart(const QRect& target) const
{
    // Frames come in even sizes, so the part may be a pixel or two off the target's
    // size: the target's size is then taken from the frame as it is, inside the frame,
    // rather than resampled by a pixel (slower, and a line is dropped somewhere).
    const QRectF part = FramePart();
    if (part.isEmpty() || std::abs(part.width() - target.width()) > 2 ||
        std::abs(part.height() - target.height()) > 2 || target.width() > frame_.width() ||
        target.height() > frame_.height())
        return {};
    const int x = std::clamp(qRound(part.x()), 0, frame_.width() - target.width());
    const int y = std::clamp(qRound(part.y()), 0, frame_.height() - target.height());
    return QRect(QPoint(x, y), target.size());
}

void VideoView::mousePressEvent(QMouseEvent* event)
{
    leftPressed_ = event->button() == Qt::LeftButton;
    QWidget::mousePressEvent(event);
}

void VideoView::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click =
        leftPressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    leftPressed_ = false;
    if (click && OnClick)
        OnClick();
    QWidget::mouseReleaseEvent(event);
}

} // namespace kino
