#pragma once
// A list of equally sized images, as the drop-down shows beside its items. It tells
// its users when its images change; users hold it through a QPointer, so a list
// that is destroyed is simply gone for them.
#include <QObject>
#include <QPixmap>

#include <vector>

class QPainter;

namespace kino {

class TdxfImageList : public QObject {
    Q_OBJECT
public:
    TdxfImageList(int width, int height, QObject* parent = nullptr);

    int Width() const { return width_; }
    int Height() const { return height_; }
    int Count() const { return int(images_.size()); }

    // Adds an image, scaled to the list's size when it differs; returns its index.
    int Add(const QPixmap& image);
    void Clear();
    // Draws image `index` at its own size with its top-left at (x, y); nothing for
    // an index outside the list.
    void Draw(QPainter& painter, int x, int y, int index) const;

signals:
    void changed(kino::TdxfImageList* sender);

private:
    int width_;
    int height_;
    std::vector<QPixmap> images_;
};

} // namespace kino
