#include "app/InfoWindow1.h"

namespace kino {

TInfoForm1::TInfoForm1(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("InfoForm1"));
    setWindowTitle(QStringLiteral("KINOLITE Ver.2.4"));
    setFixedSize(248, 128);
}

} // namespace kino
