#include "region/CutWindow1.h"

#include <QCloseEvent>
#include <QLabel>

#include <algorithm>

#include "region/SelShape.h"

namespace kino {

namespace {

QFont NavigatorFont(int pixelSize)
{
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace

TCutForm1::TCutForm1(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("CutForm1"));
    setWindowTitle(QStringLiteral("矩形再生ナビ"));
    setFont(NavigatorFont(12));
    move(145, 376);

    picturePanel = new QLabel(QStringLiteral("0 x 0 ピクセル"), this);
    picturePanel->setObjectName(QStringLiteral("Panel1"));
    picturePanel->setAlignment(Qt::AlignCenter);
    picturePanel->setFont(NavigatorFont(11));
    picturePanel->setAutoFillBackground(true);
    QPalette pal = picturePanel->palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, QColor(0xC0, 0xC0, 0xC0));
    picturePanel->setPalette(pal);
    picturePanel->setGeometry(0, 0, 239, 190);

    selection = new TSelShape(picturePanel);
    selection->setObjectName(QStringLiteral("SelShape1"));
    selection->setGeometry(0, 0, 239, 190);
    selection->setCursor(Qt::SizeAllCursor);
    selection->SetPen(QPen(QColor(0, 255, 255), 1, Qt::DotLine));
    selection->SetSizeSense(5);
    selection->SetMinWidth(16);
    selection->SetMinHeight(16);
    selection->SetMinTop(0);
    selection->SetMinLeft(0);
    selection->SetMaxBottom(0);
    selection->SetMaxRight(0);
    selection->SetSelOption(kSelOptAll);
    selection->OnMouseUp = [this](TSelShape*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { ApplySelection(); };

    setFixedSize(picturePanel->size());
}

void TCutForm1::SetUp(int width, int height, const QRect& available)
{
    pictureWidth_ = std::max(0, width);
    pictureHeight_ = std::max(0, height);
    picturePanel->setText(QStringLiteral("%1 x %2 ピクセル").arg(width).arg(height));

    // One navigator pixel per picture pixel, unless the picture would not leave room
    // on the screen: then the smallest whole divisor that fits two thirds of it.
    divisor_ = 1;
    if (!available.isEmpty()) {
        const int roomW = std::max(1, available.width() * 2 / 3);
        const int roomH = std::max(1, available.height() * 2 / 3);
        while (pictureWidth_ / divisor_ > roomW || pictureHeight_ / divisor_ > roomH)
            ++divisor_;
    }
    const int panelW = pictureWidth_ / divisor_;
    const int panelH = pictureHeight_ / divisor_;
    picturePanel->resize(panelW, panelH);
    selection->resize(panelW, panelH);
    // A window cannot be smaller than a pixel; a 0 × 0 picture leaves the panel empty.
    setFixedSize(std::max(1, panelW), std::max(1, panelH));
}

QRect TCutForm1::PictureRect() const
{
    const int d = divisor_;
    int x = selection->Left() * d;
    int y = selection->Top() * d;
    int right = (selection->Left() + selection->Width()) * d;
    int bottom = (selection->Top() + selection->Height()) * d;
    if (d > 1) {
        // A scaled panel drops the picture's last few pixels; a selection reaching the
        // panel's edge reaches the picture's, and nothing lies outside the picture.
        if (selection->Left() + selection->Width() >= picturePanel->width())
            right = pictureWidth_;
        if (selection->Top() + selection->Height() >= picturePanel->height())
            bottom = pictureHeight_;
        x = std::clamp(x, 0, pictureWidth_);
        y = std::clamp(y, 0, pictureHeight_);
        right = std::clamp(right, x, pictureWidth_);
        bottom = std::clamp(bottom, y, pictureHeight_);
    }
    return QRect(x, y, right - x, bottom - y);
}

void TCutForm1::ApplySelection()
{
    const QRect r = PictureRect();
    if (OnApply)
        OnApply(std::int16_t(r.x()), std::int16_t(r.y()), std::int16_t(r.width()), std::int16_t(r.height()));
}

void TCutForm1::FormClose()
{
    if (OnRestore)
        OnRestore();
}

void TCutForm1::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept(); // the window only hides: it lives as long as the program
}

} // namespace kino
