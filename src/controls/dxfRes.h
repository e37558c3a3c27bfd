#pragma once
// What every drop-down of the process shares: the check-box strip (14 styles of
// four 18 x 18 cells, unchecked and checked first), the check sizes, and the one
// off-screen buffer in which popup rows are composed.
#include <QImage>
#include <QString>

class QPainter;
class QRect;
class QColor;

namespace kino::dxfres {

// The strip, its transparent colour already taken out; null when it failed to load.
const QImage& CheckBoxStrip();
// Loads the strip again from `path` (the built-in one by default); a file that
// cannot be read leaves the strip empty.
void LoadCheckBoxStrip(const QString& path = QStringLiteral(":/dxfres/checkbox.png"));
// How many styles the strip holds: its width over four cells of its height.
int CheckBoxStyleCount();

// The side of the style's own check box, and of the strip's cells (the style's
// when the strip is empty).
int SystemCheckSize();
int CustomCheckSize();

// Draws check-box style `style` (0: the style's own check box) into `r`.
void DrawCheckBox(QPainter& painter, const QRect& r, int style, bool checked);

// Text word-wrapped into `r`, tabs expanded, no mnemonic marks, the last line that
// fits cut with an ellipsis when the text goes on.
void DrawMultiLineText(QPainter& painter, const QRect& r, const QString& text);

// The shared row buffer, grown to at least w x h; it never shrinks.
QImage& RowBuffer(int w, int h);

} // namespace kino::dxfres
