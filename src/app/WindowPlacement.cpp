#include "app/WindowPlacement.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace kino {

namespace {

// Edges in 64 bits: a saved position near the ends of the int range plus the
// window's size must not wrap around.
struct Span {
    std::int64_t begin;
    std::int64_t end; // one past the last pixel
};

std::int64_t Overlap(Span a, Span b)
{
    return std::max<std::int64_t>(0, std::min(a.end, b.end) - std::max(a.begin, b.begin));
}

// How far apart two spans lie; 0 when they touch or overlap.
std::int64_t Gap(Span a, Span b)
{
    return std::max<std::int64_t>({0, b.begin - a.end, a.begin - b.end});
}

// The start that moves `window` least to lie within `area`; the area's start when
// it is the smaller.
std::int64_t Clamp(Span window, Span area)
{
    const std::int64_t length = window.end - window.begin;
    if (length >= area.end - area.begin)
        return area.begin;
    return std::clamp(window.begin, area.begin, area.end - length);
}

} // namespace

QPoint PositionOnScreen(QPoint saved, QSize size, const QList<QRect>& areas)
{
    const Span across{saved.x(), std::int64_t{saved.x()} + std::max(size.width(), 1)};
    const Span down{saved.y(), std::int64_t{saved.y()} + std::max(size.height(), 1)};
    const std::int64_t needAcross = std::min<std::int64_t>(kUsableWindowPart.width(), across.end - across.begin);
    const std::int64_t needDown = std::min<std::int64_t>(kUsableWindowPart.height(), down.end - down.begin);

    const QRect* nearest = nullptr;
    double nearestDistance = std::numeric_limits<double>::infinity();
    std::int64_t nearestCover = 0;
    for (const QRect& area : areas) {
        if (area.isEmpty())
            continue;
        const Span areaAcross{area.left(), std::int64_t{area.left()} + area.width()};
        const Span areaDown{area.top(), std::int64_t{area.top()} + area.height()};
        const std::int64_t coverAcross = Overlap(across, areaAcross);
        const std::int64_t coverDown = Overlap(down, areaDown);
        if (coverAcross >= needAcross && coverDown >= needDown)
            return saved;
        const auto dx = double(Gap(across, areaAcross));
        const auto dy = double(Gap(down, areaDown));
        const double distance = dx * dx + dy * dy;
        // Of areas equally near (each showing a little of the window), the one
        // that shows most of it.
        const std::int64_t cover = coverAcross * coverDown;
        if (distance < nearestDistance || (distance == nearestDistance && cover > nearestCover)) {
            nearest = &area;
            nearestDistance = distance;
            nearestCover = cover;
        }
    }
    if (!nearest)
        return saved;
    const Span areaAcross{nearest->left(), std::int64_t{nearest->left()} + nearest->width()};
    const Span areaDown{nearest->top(), std::int64_t{nearest->top()} + nearest->height()};
    return QPoint(int(Clamp(across, areaAcross)), int(Clamp(down, areaDown)));
}

} // namespace kino
