#include "controls/dxfGripBar.h"

#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionSizeGrip>

#include <algorithm>

namespace kino {

TRect SizeGripRect(const TRect& bar, TdxfCorner corner, int scrollBarWidth, int scrollBarHeight)
{
    TRect r = bar;
    if (IsRightCorner(corner))
        r.Left = r.Right - scrollBarWidth;
    else
        r.Right = r.Left + scrollBarWidth;
    if (IsTopCorner(corner))
        r.Bottom = r.Top + scrollBarHeight;
    else
        r.Top = r.Bottom - scrollBarHeight;
    return r.Translated(IsRightCorner(corner) ? -2 : 2, IsTopCorner(corner) ? 2 : -2);
}

TRect SizeGripHitRect(const TRect& grip, const TRect& bar)
{
    TRect r = grip.Inflated(2);
    r.Top = std::max(r.Top, bar.Top);
    r.Bottom = std::min(r.Bottom, bar.Bottom);
    return r;
}

TRect CloseButtonRect(const TRect& bar, TdxfCorner corner)
{
    TRect r = bar;
    const int side = r.Height() + 1;
    if (IsRightCorner(corner))
        r.Right = r.Left + side;
    else
        r.Left = r.Right - side;
    if (IsTopCorner(corner))
        r.Bottom -= 1;
    else
        r.Top += 1;
    return r.Inflated(-1);
}

void DrawSizeGrip(QPainter& painter, TRect& R, TdxfCorner corner, QStyle* style, const QPalette& palette)
{
    R = SizeGripRect(R, corner, style->pixelMetric(QStyle::PM_ScrollBarExtent),
                     style->pixelMetric(QStyle::PM_ScrollBarExtent));
    if (R.IsEmpty())
        return;
    // The style draws the grip for the bottom-right corner; mirrored, it points at
    // whichever corner the popup grows toward.
    QImage grip(R.Width(), R.Height(), QImage::Format_ARGB32_Premultiplied);
    grip.fill(palette.color(QPalette::Button));
    QPainter gp(&grip);
    QStyleOptionSizeGrip option;
    option.rect = QRect(0, 0, R.Width(), R.Height());
    option.corner = Qt::BottomRightCorner;
    option.palette = palette;
    option.state = QStyle::State_Enabled;
    style->drawControl(QStyle::CE_SizeGrip, &option, &gp);
    gp.end();
    painter.drawImage(R.Left, R.Top, grip.mirrored(!IsRightCorner(corner), IsTopCorner(corner)));
}

void DrawCloseButton(QPainter& painter, TRect& R, bool hot, bool pushed, TdxfCorner corner, const QPalette& palette)
{
    R = CloseButtonRect(R, corner);
    const QRect edge = R.ToQRect();
    const QColor face = palette.color(QPalette::Button);
    painter.save();
    painter.setBrush(Qt::NoBrush);
    if (hot) {
        // A one-pixel edge: raised while hovered, sunken while held down on it.
        const QColor light = palette.color(QPalette::Light);
        const QColor dark = palette.color(QPalette::Dark);
        const QColor topLeft = pushed ? dark : light;
        const QColor bottomRight = pushed ? light : dark;
        painter.fillRect(edge.left(), edge.top(), edge.width(), 1, topLeft);
        painter.fillRect(edge.left(), edge.top(), 1, edge.height(), topLeft);
        painter.fillRect(edge.left(), edge.bottom(), edge.width(), 1, bottomRight);
        painter.fillRect(edge.right(), edge.top(), 1, edge.height(), bottomRight);
    } else {
        painter.setPen(face);
        painter.drawRect(edge.adjusted(0, 0, -1, -1));
    }
    const QRect inner = edge.adjusted(1, 1, -1, -1);
    painter.setPen(face);
    painter.drawRect(inner.adjusted(0, 0, -1, -1));
    // The cross, inside the edge, one pixel lower and righter while pushed.
    const QRect glyph = inner.adjusted(1, 1, -1, -1);
    painter.setClipRect(glyph);
    const QPoint c = glyph.center() + QPoint(pushed ? 1 : 0, pushed ? 1 : 0);
    const int arm = std::max(1, std::min(glyph.width(), glyph.height()) / 2 - 2);
    const QColor ink = palette.color(QPalette::ButtonText);
    for (int i = -arm; i <= arm; ++i) {
        painter.fillRect(c.x() + i, c.y() + i, 2, 1, ink);
        painter.fillRect(c.x() + i, c.y() - i, 2, 1, ink);
    }
    painter.restore();
}

} // namespace kino
