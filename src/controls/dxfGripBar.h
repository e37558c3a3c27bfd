#pragma once
// The parts of the popup's grip bar: the size grip in the corner the popup grows
// toward, and the small close button at the bar's other end. The rectangles are
// worked out from the 18-pixel bar; the drawing functions draw into them and give
// them back.
#include "controls/dxfPopupPlacement.h"

class QPainter;
class QPalette;
class QStyle;

namespace kino {

// The grip: a scroll bar's width by a scroll bar's height in the corner's end of
// the bar, two pixels in from the corner.
TRect SizeGripRect(const TRect& bar, TdxfCorner corner, int scrollBarWidth, int scrollBarHeight);
// Where a press takes hold of the grip: the grip grown by 2, within the bar.
TRect SizeGripHitRect(const TRect& grip, const TRect& bar);
// The close button's edge: square, at the bar's end away from the grip.
TRect CloseButtonRect(const TRect& bar, TdxfCorner corner);

// The style's size grip, mirrored to point at its corner; R: the bar in, the grip out.
void DrawSizeGrip(QPainter& painter, TRect& R, TdxfCorner corner, QStyle* style, const QPalette& palette);
// A flat cross, with a raised edge when hot, sunken when pushed; R: the bar in, the
// button's edge out.
void DrawCloseButton(QPainter& painter, TRect& R, bool hot, bool pushed, TdxfCorner corner, const QPalette& palette);

} // namespace kino
