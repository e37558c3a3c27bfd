#include "region/CutWindow1.h"

namespace kino {

TCutForm1::TCutForm1(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("CutForm1"));
    setWindowTitle(QStringLiteral("矩形再生ナビ"));
    move(145, 376);
    setFixedSize(239, 190);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
}

} // namespace kino
