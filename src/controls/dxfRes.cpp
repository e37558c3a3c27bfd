#include "controls/dxfRes.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTextLayout>

#include <algorithm>

// Resources of a static library are registered by hand, outside any namespace.
static void InitDxfResources()
{
    Q_INIT_RESOURCE(dxfres);
}

namespace kino::dxfres {

namespace {

struct Shared {
    QImage strip;
    QImage rows;
    bool loaded = false;
};

Shared& State()
{
    static Shared shared;
    return shared;
}

void EnsureLoaded()
{
    Shared& s = State();
    if (!s.loaded)
        LoadCheckBoxStrip();
}

} // namespace

void LoadCheckBoxStrip(const QString& path)
{
    static const bool registered = (InitDxfResources(), true);
    Q_UNUSED(registered);
    Shared& s = State();
    s.loaded = true;
    QImage image(path);
    if (image.isNull() || image.height() <= 0) {
        s.strip = QImage();
        return;
    }
    // The bottom-left pixel's colour is the strip's background: it shows the row.
    image = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb clear = image.pixel(0, image.height() - 1);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (line[x] == clear)
                line[x] = 0;
    }
    s.strip = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

const QImage& CheckBoxStrip()
{
    EnsureLoaded();
    return State().strip;
}

int CheckBoxStyleCount()
{
    const QImage& strip = CheckBoxStrip();
    return strip.isNull() ? 0 : strip.width() / (4 * strip.height());
}

int SystemCheckSize()
{
    return QApplication::style()->pixelMetric(QStyle::PM_IndicatorWidth);
}

int CustomCheckSize()
{
    const QImage& strip = CheckBoxStrip();
    return strip.isNull() ? SystemCheckSize() : strip.height();
}

void DrawCheckBox(QPainter& painter, const QRect& r, int style, bool checked)
{
    if (style <= 0) {
        QStyleOptionButton option;
        option.rect = r;
        option.state = QStyle::State_Enabled | (checked ? QStyle::State_On : QStyle::State_Off);
        QApplication::style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter);
        return;
    }
    const QImage& strip = CheckBoxStrip();
    if (strip.isNull() || style > CheckBoxStyleCount())
        return;
    const int side = strip.height();
    const QRect cell(((style - 1) * 4 + (checked ? 1 : 0)) * side, 0, side, side);
    painter.drawImage(r, strip, cell);
}

void DrawMultiLineText(QPainter& painter, const QRect& r, const QString& text)
{
    if (r.width() <= 0 || r.height() <= 0)
        return;
    const QFontMetrics fm(painter.font());
    QTextLayout layout(text, painter.font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTabStopDistance(8 * fm.horizontalAdvance(QLatin1Char(' ')));
    layout.setTextOption(option);
    QList<QTextLine> lines;
    qreal y = 0;
    layout.beginLayout();
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(r.width());
        line.setPosition(QPointF(0, y));
        y += line.height();
        lines << line;
    }
    layout.endLayout();
    int fit = 0;
    while (fit < lines.size() && lines[fit].y() + lines[fit].height() <= r.height())
        ++fit;
    fit = std::max<int>(fit, std::min<int>(1, int(lines.size())));
    painter.save();
    painter.setClipRect(r);
    for (int i = 0; i < fit; ++i) {
        if (i == fit - 1 && fit < lines.size()) {
            QString rest = text.mid(lines[i].textStart());
            rest.replace(QLatin1Char('\n'), QLatin1Char(' '));
            painter.drawText(QPointF(r.left(), r.top() + lines[i].y() + lines[i].ascent()),
                             fm.elidedText(rest, Qt::ElideRight, r.width()));
        } else {
            lines[i].draw(&painter, r.topLeft());
        }
    }
    painter.restore();
}

QImage& RowBuffer(int w, int h)
{
    QImage& rows = State().rows;
    if (rows.width() < w || rows.height() < h) {
        rows = QImage(std::max(rows.width(), w), std::max(rows.height(), h), QImage::Format_ARGB32_Premultiplied);
        rows.fill(Qt::black);
    }
    return rows;
}

} // namespace kino::dxfres
