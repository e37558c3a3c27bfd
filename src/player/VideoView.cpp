#include "player/VideoView.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace kino {

VideoView::VideoView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setMinimumSize(1, 1);
}

void VideoView::SetFrame(const QImage& frame)
{
    const bool nextOfSameSize = !frame.isNull() && frame.size() == frame_.size();
    frame_ = frame;
    // The next frame of a playing picture only changes the picture's own area: it is
    // painted at once and only there, without the black around it and without another
    // pass through the event loop for every frame.
    if (nextOfSameSize && isVisible()) {
        const QRect target = TargetRect();
        if (!target.isEmpty()) {
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
    if (target.isEmpty()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // Black only around the picture, so the picture itself is drawn once.
    if (!target.contains(event->rect())) {
        const QRegion around = QRegion(rect()).subtracted(QRegion(target));
        for (const QRect& part : around)
            painter.fillRect(part, Qt::black);
    }
    // The shown part, in the frame's own pixels (frames may come scaled down).
    const QRect src = EffectiveSourceRect();
    const QSize picture = PictureSize();
    const double scaleX = double(frame_.width()) / picture.width();
    const double scaleY = double(frame_.height()) / picture.height();
    const QRectF fromFrame(src.x() * scaleX, src.y() * scaleY, src.width() * scaleX, src.height() * scaleY);
    // Smoothing only where the frame is really resized; a frame scaled in the pipeline
    // to the view's size is drawn as it is.
    const bool resized =
        std::abs(fromFrame.width() - target.width()) > 2 || std::abs(fromFrame.height() - target.height()) > 2;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, resized);
    painter.drawImage(QRectF(target), frame_, fromFrame);
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
