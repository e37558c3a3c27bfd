#include "controls/dxfPopupPlacement.h"

#include <QGuiApplication>
#include <QScreen>

namespace kino {

QSize PrimaryScreenSize()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize(0, 0);
}

TRect GetPopupRect(const QPoint& P, const TRect& R, int ControlHeight, const QSize& screen)
{
    const int w = R.Width(), h = R.Height();
    const int sw = screen.width(), sh = screen.height();
    TRect result{P.x(), P.y() + ControlHeight, P.x() + w, P.y() + ControlHeight + h};
    if (result.Bottom > sh) {
        result.Top = P.y() - h;
        result.Bottom = P.y();
    }
    if (result.Top < 0) {
        if (sh - ControlHeight - P.y() < P.y()) {
            result.Top = 0;
        } else {
            result.Top = P.y() + ControlHeight;
            result.Bottom = sh;
        }
    }
    if (result.Right > sw)
        result = result.Translated(-(result.Right - sw), 0);
    if (result.Left < 0)
        result = result.Translated(-result.Left, 0);
    return result;
}

TRect GetPopupRect(const QPoint& P, const TRect& R, int ControlHeight)
{
    return GetPopupRect(P, R, ControlHeight, PrimaryScreenSize());
}

TdxfCorner GetCornerForRects(const TRect& ControlRect, const TRect& PopupRect, int screenWidth)
{
    const bool below = ControlRect.Bottom < PopupRect.Bottom;
    const bool right = PopupRect.Right > ControlRect.Left;
    TdxfCorner corner = right ? (below ? coBottomRight : coTopRight) : (below ? coBottomLeft : coTopLeft);
    // Pushed against the right edge, the popup could only grow leftwards.
    if (PopupRect.Right == screenWidth) {
        if (corner == coTopRight)
            corner = coTopLeft;
        else if (corner == coBottomRight)
            corner = coBottomLeft;
    }
    return corner;
}

TdxfCorner GetCornerForRects(const TRect& ControlRect, const TRect& PopupRect)
{
    return GetCornerForRects(ControlRect, PopupRect, PrimaryScreenSize().width());
}

int GetHitTestByCorner(TdxfCorner corner)
{
    switch (corner) {
    case coTopLeft:
        return 13;
    case coTopRight:
        return 14;
    case coBottomLeft:
        return 16;
    case coBottomRight:
        return 17;
    }
    return 17;
}

} // namespace kino
