#pragma once
// Where the drop-down's popup opens on the screen, and which of its corners carries
// the size grip. Rectangles here are in the system's own form: left and top inside,
// right and bottom just outside, so widths are plain differences.
#include <QPoint>
#include <QRect>
#include <QSize>

namespace kino {

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;

    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    bool Contains(const QPoint& p) const { return p.x() >= Left && p.x() < Right && p.y() >= Top && p.y() < Bottom; }
    TRect Translated(int dx, int dy) const { return {Left + dx, Top + dy, Right + dx, Bottom + dy}; }
    TRect Inflated(int d) const { return {Left - d, Top - d, Right + d, Bottom + d}; }
    QRect ToQRect() const { return QRect(Left, Top, Width(), Height()); }
    static TRect FromQRect(const QRect& r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

// The popup's corner that carries the size grip; the grip bar runs along the edge
// of that corner (the top for the top corners).
enum TdxfCorner : unsigned char { coTopLeft, coTopRight, coBottomLeft, coBottomRight };

inline bool IsTopCorner(TdxfCorner c)
{
    return c == coTopLeft || c == coTopRight;
}
inline bool IsRightCorner(TdxfCorner c)
{
    return c == coTopRight || c == coBottomRight;
}

// The size of the whole primary screen (not its work area), which placement keeps to.
QSize PrimaryScreenSize();

// The popup's rectangle for a control whose top-left corner is `P` on the screen:
// R's size below the control, else above it, else on the larger side shortened to
// the screen's edge (a tie goes below); then shifted left, then right, onto the screen.
TRect GetPopupRect(const QPoint& P, const TRect& R, int ControlHeight, const QSize& screen);
TRect GetPopupRect(const QPoint& P, const TRect& R, int ControlHeight);

// The corner away from the control: bottom when the popup lies below it, normally
// on the right, on the left when the popup touches the screen's right edge.
TdxfCorner GetCornerForRects(const TRect& ControlRect, const TRect& PopupRect, int screenWidth);
TdxfCorner GetCornerForRects(const TRect& ControlRect, const TRect& PopupRect);

// The system's sizing hit-test code for resizing from a corner (13, 14, 16, 17).
int GetHitTestByCorner(TdxfCorner corner);

} // namespace kino
