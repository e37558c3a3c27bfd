#include "player/VideoView.h"

#include <QMouseEvent>
#include <QPainter>

namespace kino {

VideoView::VideoView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    setMinimumSize(1, 1);
}

void VideoView::SetFrame(const QImage& frame)
{
    frame_ = frame;
    update();
}

void VideoView::SetSourceRect(const QRect& rect)
{
    sourceRect_ = rect;
    update();
}

QRect VideoView::EffectiveSourceRect() const
{
    const QRect whole = frame_.rect();
    if (frame_.isNull())
        return {};
    if (sourceRect_.isEmpty())
        return whole;
    const QRect clamped = sourceRect_.intersected(whole);
    return clamped.isEmpty() ? whole : clamped;
}

void VideoView::SetFitToWindow(bool fit)
{
    fit_ = fit;
    update();
}

QRect VideoView::TargetRect() const
{
    const QRect src = EffectiveSourceRect();
    if (src.isEmpty())
        return {};
    QSize size = src.size();
    if (fit_)
        size.scale(this->size(), Qt::KeepAspectRatio);
    QRect target(QPoint(0, 0), size);
    target.moveCenter(rect().center());
    // Integer centring of an even-sized area inside an odd one may land half a pixel off;
    // recompute from the sizes so the picture is exactly centred.
    target.moveTopLeft(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2));
    return target;
}

void VideoView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect target = TargetRect();
    if (target.isEmpty()) {
        p.fillRect(rect(), Qt::black);
        return;
    }
    // Black only around the picture, so the picture itself is drawn once.
    const QRegion around = QRegion(rect()).subtracted(QRegion(target));
    for (const QRect& r : around)
        p.fillRect(r, Qt::black);
    p.setRenderHint(QPainter::SmoothPixmapTransform, target.size() != EffectiveSourceRect().size());
    p.drawImage(target, frame_, EffectiveSourceRect());
}

void VideoView::mousePressEvent(QMouseEvent* event)
{
    pressed_ = event->button() == Qt::LeftButton;
    QWidget::mousePressEvent(event);
}

void VideoView::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click && OnClick)
        OnClick();
    QWidget::mouseReleaseEvent(event);
}

} // namespace kino
