#include "app/InfoLogo.h"

#include <QColor>
#include <QLinearGradient>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>

#include <algorithm>
#include <initializer_list>

namespace kino {

namespace {

// The word mark: capitals 30 pixels high with 6-pixel strokes, built from shapes
// whose straight edges lie on whole pixels so the picture stays sharp at 1:1.
constexpr int kCap = 30;
constexpr int kStroke = 6;
constexpr int kGap = 4;
constexpr int kMarkLeft = 42;
constexpr int kMarkTop = 6;

// The film strip under the word mark, and the play disc left of it.
constexpr int kStripTop = 40;
constexpr int kStripHeight = 6;
constexpr int kStripLeft = 40;
constexpr int kStripRight = 198; // under the word mark's shadow
constexpr int kHolePitch = 7;
constexpr QPointF kDiscCentre{19.0, 25.0};
constexpr double kDiscRadius = 15.5;

const QColor kBackground(255, 255, 255);
const QColor kMarkTopColour(16, 48, 150);
const QColor kMarkBottomColour(36, 150, 236);
const QColor kShadow(200, 208, 224);
const QColor kFilm(44, 48, 62);
const QColor kDiscTopColour(255, 170, 40);
const QColor kDiscBottomColour(236, 96, 0);

QPainterPath Box(double x, double y, double w, double h)
{
    QPainterPath p;
    p.addRect(x, y, w, h);
    return p;
}

// A straight stroke of the given width from `a` to `b`, cut to the letter's cell.
QPainterPath Bar(QPointF a, QPointF b, double width, const QRectF& cell)
{
    QPainterPath line(a);
    line.lineTo(b);
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::SquareCap);
    return stroker.createStroke(line).intersected(Box(cell.x(), cell.y(), cell.width(), cell.height()));
}

struct Glyph {
    QPainterPath path;
    int width;
};

Glyph LetterK()
{
    const int w = 19;
    const QRectF arms(kStroke - 1, 0, w - kStroke + 1, kCap);
    QPainterPath p = Box(0, 0, kStroke, kCap);
    p = p.united(Bar({kStroke - 2.0, 20.5}, {w + 3.0, -3.0}, 7.0, arms));
    p = p.united(Bar({10.0, 14.0}, {w + 3.0, kCap + 4.0}, 7.0, arms));
    return {p.simplified(), w};
}

Glyph LetterI()
{
    return {Box(0, 0, kStroke, kCap), kStroke};
}

Glyph LetterN()
{
    const int w = 21;
    QPainterPath p = Box(0, 0, kStroke, kCap).united(Box(w - kStroke, 0, kStroke, kCap));
    p = p.united(Bar({2.5, -2.0}, {w - 2.5, kCap + 2.0}, 7.0, QRectF(0, 0, w, kCap)));
    return {p.simplified(), w};
}

Glyph LetterO()
{
    const int w = 22;
    QPainterPath outer;
    outer.addRoundedRect(0, 0, w, kCap, 9, 9);
    QPainterPath inner;
    inner.addRoundedRect(kStroke, kStroke, w - 2 * kStroke, kCap - 2 * kStroke, 3, 3);
    return {outer.subtracted(inner), w};
}

Glyph LetterL()
{
    const int w = 16;
    return {Box(0, 0, kStroke, kCap).united(Box(0, kCap - kStroke, w, kStroke)).simplified(), w};
}

Glyph LetterT()
{
    const int w = 20;
    return {Box(0, 0, w, kStroke).united(Box((w - kStroke) / 2, 0, kStroke, kCap)).simplified(), w};
}

Glyph LetterE()
{
    const int w = 16;
    QPainterPath p = Box(0, 0, kStroke, kCap);
    p = p.united(Box(0, 0, w, kStroke));
    p = p.united(Box(0, (kCap - kStroke) / 2, w - 2, kStroke));
    p = p.united(Box(0, kCap - kStroke, w, kStroke));
    return {p.simplified(), w};
}

QPainterPath WordMark()
{
    QPainterPath mark;
    int x = 0;
    for (const Glyph& g : {LetterK(), LetterI(), LetterN(), LetterO(), LetterL(), LetterI(), LetterT(), LetterE()}) {
        mark.addPath(g.path.translated(x, 0));
        x += g.width + kGap;
    }
    return mark.translated(kMarkLeft, kMarkTop);
}

QColor Mix(const QColor& a, const QColor& b, double t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

// The palette: every colour the drawing uses, each also blended with the background
// in steps, so the smoothed edges of the letters and the disc keep their shades when
// each pixel is mapped to its nearest entry. Padded to 256 entries.
QList<QRgb> Palette()
{
    QList<QRgb> table;
    auto addWithEdges = [&table](const QColor& c) {
        for (double t : {0.25, 0.5, 0.75, 1.0})
            table.append(Mix(kBackground, c, t).rgb());
    };
    for (int i = 0; i <= 16; ++i) {
        const int v = std::min(255, i * 16);
        table.append(qRgb(v, v, v));
    }
    addWithEdges(kShadow);
    addWithEdges(kFilm);
    for (int row = 0; row < kCap; ++row)
        addWithEdges(Mix(kMarkTopColour, kMarkBottomColour, row / double(kCap - 1)));
    for (int i = 0; i < 16; ++i)
        addWithEdges(Mix(kDiscTopColour, kDiscBottomColour, i / 15.0));
    while (table.size() < 256)
        table.append(kBackground.rgb());
    return table;
}

void DrawDisc(QPainter& p)
{
    QLinearGradient fill(0, kDiscCentre.y() - kDiscRadius, 0, kDiscCentre.y() + kDiscRadius);
    fill.setColorAt(0, kDiscTopColour);
    fill.setColorAt(1, kDiscBottomColour);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawEllipse(kDiscCentre, kDiscRadius, kDiscRadius);

    // The play mark, a little right of centre so it looks balanced in the disc.
    const double cx = kDiscCentre.x() + 2, cy = kDiscCentre.y();
    const QPointF play[] = {{cx - 6.5, cy - 8.5}, {cx - 6.5, cy + 8.5}, {cx + 8.0, cy}};
    p.setBrush(kBackground);
    p.drawPolygon(play, 3);
}

void DrawFilmStrip(QPainter& p)
{
    const int width = kStripRight - kStripLeft;
    p.fillRect(kStripLeft, kStripTop, width, kStripHeight, kFilm);
    // Sprocket holes 3 x 2, evenly spaced with equal margins at both ends.
    const int holes = (width - 3) / kHolePitch;
    const int margin = (width - (holes - 1) * kHolePitch - 3) / 2;
    for (int i = 0; i < holes; ++i)
        p.fillRect(kStripLeft + margin + i * kHolePitch, kStripTop + 2, 3, 2, kBackground);
}

void DrawWordMark(QPainter& p)
{
    const QPainterPath mark = WordMark();
    p.setPen(Qt::NoPen);
    p.setBrush(kShadow);
    p.drawPath(mark.translated(2, 2));

    // One shade a row, top to bottom, matching the palette's rows.
    QLinearGradient fill(0, kMarkTop, 0, kMarkTop + kCap - 1);
    fill.setColorAt(0, kMarkTopColour);
    fill.setColorAt(1, kMarkBottomColour);
    p.setBrush(fill);
    p.drawPath(mark);
}

} // namespace

QImage InfoLogo()
{
    QImage canvas(kInfoLogoWidth, kInfoLogoHeight, QImage::Format_RGB32);
    canvas.fill(kBackground);
    {
        QPainter p(&canvas);
        p.setRenderHint(QPainter::Antialiasing);
        DrawDisc(p);
        DrawFilmStrip(p);
        DrawWordMark(p);
    }
    // Nearest palette entry for each pixel, no dithering: flat areas stay flat.
    return canvas.convertToFormat(QImage::Format_Indexed8, Palette(), Qt::ThresholdDither);
}

} // namespace kino
