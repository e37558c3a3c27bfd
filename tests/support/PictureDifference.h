#pragma once
// How far two pictures are apart, colour by colour, both seen at `at`: the mean
// difference, 0 to 255.
#include <QImage>

#include <cstdlib>

inline double MeanDifference(const QImage& a, const QImage& b, QSize at)
{
    const QImage x =
        a.convertToFormat(QImage::Format_RGB32).scaled(at, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage y =
        b.convertToFormat(QImage::Format_RGB32).scaled(at, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double sum = 0;
    for (int row = 0; row < at.height(); ++row)
        for (int col = 0; col < at.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * at.width() * at.height());
}
