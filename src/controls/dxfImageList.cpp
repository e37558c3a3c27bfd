#include "controls/dxfImageList.h"

#include <QPainter>

namespace kino {

TdxfImageList::TdxfImageList(int width, int height, QObject* parent)
    : QObject(parent), width_(std::max(1, width)), height_(std::max(1, height))
{}

int TdxfImageList::Add(const QPixmap& image)
{
    QPixmap sized = image;
    if (image.size() != QSize(width_, height_))
        sized = image.scaled(width_, height_, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    images_.push_back(sized);
    emit changed(this);
    return Count() - 1;
}

void TdxfImageList::Clear()
{
    if (images_.empty())
        return;
    images_.clear();
    emit changed(this);
}

void TdxfImageList::Draw(QPainter& painter, int x, int y, int index) const
{
    if (index < 0 || index >= Count())
        return;
    painter.drawPixmap(x, y, images_[std::size_t(index)]);
}

} // namespace kino
