#pragma once
// Where a window opens: at its saved position when enough of it is seen there,
// else on the nearest screen.
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace kino {

// The least part of a window that must lie on one screen's available area for a
// saved position to be used as it is: enough to see it and drag it by its caption.
inline constexpr QSize kUsableWindowPart(100, 50);

// `saved` when a window of `size` placed there shows at least kUsableWindowPart
// (or all of itself, when smaller) on one of `areas`, the screens' available
// areas. Otherwise the least move that brings it onto the area nearest to it,
// whole where it fits, its top left corner on the area where it does not. Any
// `saved` value may come in (a settings file holds any integer). Without areas,
// `saved` as it is.
QPoint PositionOnScreen(QPoint saved, QSize size, const QList<QRect>& areas);

} // namespace kino
