#include "region/SelShape.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <climits>

#include "platform/PointerConfine.h"

namespace kino {

namespace {

bool Has(TSelOpt options, TSelOptSet o)
{
    return (options & SelOptBit(o)) != 0;
}

// The zone under the pointer: the left and top bands are tested first, so they
// win on a shape too small for both bands.
TSelMode HitZone(long long x, long long y, long long s, long long w, long long h)
{
    enum Band { Near, Middle, Far };
    const Band col = x <= s ? Near : (w - x <= s ? Far : Middle);
    const Band row = y <= s ? Near : (h - y <= s ? Far : Middle);
    static constexpr TSelMode kZones[3][3] = {
        // row:          top             middle          bottom
        /* left   */ {TSelMode::SelNW, TSelMode::SelW, TSelMode::SelSW},
        /* middle */ {TSelMode::SelN, TSelMode::SelM, TSelMode::SelS},
        /* right  */ {TSelMode::SelNE, TSelMode::SelE, TSelMode::SelSE},
    };
    return kZones[col][row];
}

// The zone left once the sizes that may not change are taken out of it.
TSelMode AllowedZone(TSelMode m, TSelOpt options)
{
    using M = TSelMode;
    if (!Has(options, TSelOptSet::ResizeX)) {
        switch (m) {
        case M::SelW:
        case M::SelE:
            m = M::SelM;
            break;
        case M::SelNE:
        case M::SelNW:
            m = M::SelN;
            break;
        case M::SelSE:
        case M::SelSW:
            m = M::SelS;
            break;
        default:
            break;
        }
    }
    if (!Has(options, TSelOptSet::ResizeY)) {
        switch (m) {
        case M::SelN:
        case M::SelS:
            m = M::SelM;
            break;
        case M::SelNE:
        case M::SelSE:
            m = M::SelE;
            break;
        case M::SelNW:
        case M::SelSW:
            m = M::SelW;
            break;
        default:
            break;
        }
    }
    return m;
}

Qt::CursorShape ZoneCursor(TSelMode m)
{
    switch (m) {
    case TSelMode::SelN:
    case TSelMode::SelS:
        return Qt::SizeVerCursor;
    case TSelMode::SelW:
    case TSelMode::SelE:
        return Qt::SizeHorCursor;
    case TSelMode::SelNE:
    case TSelMode::SelSW:
        return Qt::SizeBDiagCursor;
    case TSelMode::SelNW:
    case TSelMode::SelSE:
        return Qt::SizeFDiagCursor;
    default:
        return Qt::ArrowCursor;
    }
}

int ToInt(long long v)
{
    return int(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

} // namespace

TSelShape::TSelShape(QWidget* parent) : QWidget(parent)
{
    // Hovering picks the zone, so moves must arrive with no button down too.
    setMouseTracking(true);
}

TSelShape::~TSelShape()
{
    EndDrag();
}

void TSelShape::SetPen(const QPen& pen)
{
    pen_ = pen;
    update();
}

void TSelShape::SetLeft(int v)
{
    move(v, y());
}
void TSelShape::SetTop(int v)
{
    move(x(), v);
}
void TSelShape::SetWidth(int v)
{
    resize(std::max(0, v), height());
}
void TSelShape::SetHeight(int v)
{
    resize(width(), std::max(0, v));
}

void TSelShape::SetBounds(long long left, long long top, long long width, long long height)
{
    setGeometry(ToInt(left), ToInt(top), ToInt(std::max(0LL, width)), ToInt(std::max(0LL, height)));
}

int TSelShape::BottomLimit() const
{
    if (maxBottom_ > minTop_)
        return maxBottom_;
    return parentWidget() ? parentWidget()->height() : INT_MAX;
}

int TSelShape::RightLimit() const
{
    if (maxRight_ > minLeft_)
        return maxRight_;
    return parentWidget() ? parentWidget()->width() : INT_MAX;
}

void TSelShape::SelChgTop(int dy)
{
    long long d = dy;
    if (Top() + d < minTop_)
        d = (long long)minTop_ - Top();
    if (Height() - d >= minHeight_)
        SetBounds(Left(), Top() + d, Width(), Height() - d);
}

void TSelShape::SelChgLft(int dx)
{
    long long d = dx;
    if (Left() + d < minLeft_)
        d = (long long)minLeft_ - Left();
    if (Width() - d >= minWidth_)
        SetBounds(Left() + d, Top(), Width() - d, Height());
}

void TSelShape::SelChgBot(int dy)
{
    long long d = dy;
    if (Height() + d < minHeight_)
        return;
    const long long bottom = (long long)Top() + Height();
    if (bottom + d > BottomLimit())
        d = BottomLimit() - bottom;
    const int before = Height();
    SetBounds(Left(), Top(), Width(), Height() + d);
    // The pointer keeps its place on the edge that moved under it.
    startY_ = ToInt((long long)startY_ + Height() - before);
}

void TSelShape::SelChgRit(int dx)
{
    long long d = dx;
    if (Width() + d < minWidth_)
        return;
    const long long right = (long long)Left() + Width();
    if (right + d > RightLimit())
        d = RightLimit() - right;
    const int before = Width();
    SetBounds(Left(), Top(), Width() + d, Height());
    startX_ = ToInt((long long)startX_ + Width() - before);
}

void TSelShape::SelChgMov(int dx, int dy)
{
    long long left = Left();
    long long top = Top();
    if (Has(selOption_, TSelOptSet::MoveY)) {
        long long d = dy;
        if (top + d < minTop_)
            d = minTop_ - top;
        if (top + Height() + d > BottomLimit())
            d = BottomLimit() - top - Height();
        top += d;
    }
    if (Has(selOption_, TSelOptSet::MoveX)) {
        long long d = dx;
        if (left + d < minLeft_)
            d = minLeft_ - left;
        if (left + Width() + d > RightLimit())
            d = RightLimit() - left - Width();
        left += d;
    }
    move(ToInt(left), ToInt(top));
}

void TSelShape::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    if (OnMouseDown)
        OnMouseDown(this, button, shift, x, y);
    const bool joining = dragging_ && (pressed_ & ~Qt::MouseButtons(button));
    pressed_ |= button;
    if (joining)
        return; // another button during a drag neither restarts nor ends it
    dragging_ = true;
    startX_ = x;
    startY_ = y;
    // Every button, not only the left one, keeps the moves and the release coming
    // here when the pointer leaves the shape.
    if (isVisible())
        grabMouse();
    if (QWidget* p = parentWidget()) {
        PointerConfine().Confine(QRect(p->mapToGlobal(QPoint(0, 0)), p->size()));
        confined_ = true;
    }
}

void TSelShape::MouseMove(Qt::KeyboardModifiers shift, int x, int y)
{
    if (OnMouseMove)
        OnMouseMove(this, shift, x, y);
    using M = TSelMode;
    if (!dragging_) {
        selMode_ = HitZone(x, y, sizeSense_, Width(), Height());
    } else {
        const int dx = ToInt((long long)x - startX_);
        const int dy = ToInt((long long)y - startY_);
        const M m = selMode_;
        if (m == M::SelN || m == M::SelNE || m == M::SelNW)
            SelChgTop(dy);
        else if (m == M::SelS || m == M::SelSE || m == M::SelSW)
            SelChgBot(dy);
        if (m == M::SelW || m == M::SelNW || m == M::SelSW)
            SelChgLft(dx);
        else if (m == M::SelE || m == M::SelNE || m == M::SelSE)
            SelChgRit(dx);
        if (m == M::SelM)
            SelChgMov(dx, dy);
    }
    selMode_ = AllowedZone(selMode_, selOption_);
    const Qt::CursorShape shape = ZoneCursor(selMode_);
    if (!testAttribute(Qt::WA_SetCursor) || cursor().shape() != shape)
        setCursor(shape);
}

void TSelShape::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    if (OnMouseUp)
        OnMouseUp(this, button, shift, x, y);
    pressed_ &= ~Qt::MouseButtons(button);
    if (pressed_ == Qt::NoButton)
        EndDrag();
}

void TSelShape::EndDrag()
{
    dragging_ = false;
    pressed_ = Qt::NoButton;
    if (confined_) {
        confined_ = false;
        PointerConfine().Free();
    }
    if (QWidget::mouseGrabber() == this)
        releaseMouse();
}

void TSelShape::paintEvent(QPaintEvent*)
{
    if (width() <= 0 || height() <= 0)
        return;
    QPainter painter(this);
    painter.setPen(pen_);
    painter.setBrush(Qt::NoBrush);
    // The stroke is centred on the rectangle's lines: inset them by half the pen so
    // that all four sides fall inside the shape.
    const int pw = std::max(1, pen_.width());
    painter.drawRect(QRect(pw / 2, pw / 2, width() - pw, height() - pw));
}

void TSelShape::mousePressEvent(QMouseEvent* event)
{
    // Trust the event's button state: it mends a release that went elsewhere.
    pressed_ = event->buttons() & ~Qt::MouseButtons(event->button());
    const QPoint p = event->position().toPoint();
    MouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void TSelShape::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    MouseMove(event->modifiers(), p.x(), p.y());
}

void TSelShape::mouseReleaseEvent(QMouseEvent* event)
{
    pressed_ = event->buttons() | event->button();
    const QPoint p = event->position().toPoint();
    MouseUp(event->button(), event->modifiers(), p.x(), p.y());
}

void TSelShape::hideEvent(QHideEvent* event)
{
    // A hidden shape gets no release: the drag ends here, or the pointer would stay
    // held inside the parent.
    EndDrag();
    QWidget::hideEvent(event);
}

} // namespace kino
