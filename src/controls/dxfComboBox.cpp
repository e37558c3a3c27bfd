#include "controls/dxfComboBox.h"

#include <QEvent>
#include <QFocusEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <qdrawutil.h>

#include "platform/Text.h"

namespace kino {

namespace {

// The width of a vertical scroll bar on a 96-dpi desktop, as drop buttons have.
constexpr int kButtonWidth = 17;

} // namespace

TdxfComboBox::TdxfComboBox(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    items_.OnChange = [this](TdxfItems* sender) { ChangeItems(sender); };
    resize(145, sizeHint().height());
    AdjustHeight();
}

TdxfComboBox::~TdxfComboBox()
{
    items_.OnChange = nullptr;
}

TdxfItems& TdxfComboBox::Items()
{
    return items_;
}

const TdxfItems& TdxfComboBox::Items() const
{
    return items_;
}

void TdxfComboBox::SetItems(const TdxfItems& items)
{
    items_.Assign(items);
}

int TdxfComboBox::ItemIndex() const
{
    return itemIndex_;
}

void TdxfComboBox::SetItemIndex(int value)
{
    if (value >= items_.Count() || value < -1)
        return;
    itemIndex_ = value;
    items_.SetTrackedIndex(value);   // the list keeps it with its entry
    if (value == -1) {
        // SavedText keeps the last text the control chose.
        SetEditText(std::string());
    } else {
        // A copy: an OnChange handler may change the list under us.
        const std::string text = items_.Strings(value);
        savedText_ = text;
        SetEditText(text);
    }
    update(TextRect());
}

std::string TdxfComboBox::Text() const
{
    return text_;
}

std::string TdxfComboBox::SavedText() const
{
    return savedText_;
}

void TdxfComboBox::SetText(const std::string& value)
{
    const std::string text = value;   // `value` may live in the list
    const int index = items_.IndexOf(text);
    if (index >= 0) {
        SetItemIndex(index);   // shows the item's own spelling
        return;
    }
    // No item: straight from the text shown before to this one, so OnChange is
    // raised once at most (not for an empty text in between).
    itemIndex_ = -1;
    items_.SetTrackedIndex(-1);
    savedText_ = text;
    SetEditText(text);
}

bool TdxfComboBox::Sorted() const
{
    return sorted_;
}

void TdxfComboBox::SetSorted(bool value)
{
    // The selection moves with its entry (ChangeItems), so the shown text stays.
    items_.SetSorted(value);
    sorted_ = value;
}

void TdxfComboBox::ChangeItems(TdxfItems* /*sender*/)
{
    if (itemIndex_ == -1)
        return;
    // The list has moved the selection with its entry through inserts, deletes and
    // sorts; it stayed at its index when the entry itself was deleted, and is -1
    // when nothing stands there any more.
    const int index = items_.TrackedIndex();
    if (index < 0) {
        SetItemIndex(-1);
        return;
    }
    itemIndex_ = index;
    const std::string before = text_;
    const std::string text = items_.Strings(itemIndex_);
    savedText_ = text;
    SetEditText(text);
    if (text_ != before)
        update(TextRect());
}

QColor TdxfComboBox::Color() const
{
    return color_;
}

void TdxfComboBox::SetColor(const QColor& color)
{
    if (color == color_)
        return;
    color_ = color;
    update();
}

QColor TdxfComboBox::FontColor() const
{
    return fontColor_;
}

void TdxfComboBox::SetFontColor(const QColor& color)
{
    if (color == fontColor_)
        return;
    fontColor_ = color;
    update();
}

QSize TdxfComboBox::sizeHint() const
{
    // The text height and a one-pixel border eight times over: 20 for a 12-px font.
    return QSize(145, QFontInfo(font()).pixelSize() + 8);
}

void TdxfComboBox::SetEditText(const std::string& text)
{
    if (text == text_)
        return;
    text_ = text;
    update(TextRect());
    if (OnChange) {
        auto handler = OnChange;
        handler(this);
    }
}

void TdxfComboBox::AdjustHeight()
{
    setFixedHeight(sizeHint().height());
}

QRect TdxfComboBox::ButtonRect() const
{
    return QRect(width() - kButtonWidth, 0, kButtonWidth, height());
}

QRect TdxfComboBox::TextRect() const
{
    return QRect(QPoint(1, 2), QPoint(ButtonRect().left() - 3, height() - 3));
}

void TdxfComboBox::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    Paint(painter);
}

void TdxfComboBox::Paint(QPainter& painter)
{
    painter.fillRect(rect(), color_);

    // Drop button: a raised push-button face with a small down arrow.
    const QRect button = ButtonRect();
    const QBrush face = palette().brush(QPalette::Button);
    qDrawWinButton(&painter, button, palette(), false, &face);
    const int arrowWidth = 7;
    const int ax = button.left() + (button.width() - arrowWidth) / 2;
    const int ay = button.top() + (button.height() - 4) / 2;
    auto drawArrow = [&](int dx, int dy, const QColor& colour) {
        for (int row = 0; row < 4; ++row)
            painter.fillRect(ax + dx + row, ay + dy + row, arrowWidth - 2 * row, 1, colour);
    };
    if (isEnabled()) {
        drawArrow(0, 0, palette().color(QPalette::Active, QPalette::ButtonText));
    } else {
        drawArrow(1, 1, palette().color(QPalette::Light));
        drawArrow(0, 0, palette().color(QPalette::Disabled, QPalette::ButtonText));
    }

    // Text area: highlighted as a focused drop-down list shows its choice.
    const QRect area = TextRect();
    const bool highlighted = hasFocus();
    QColor textColour = fontColor_;
    if (highlighted) {
        painter.fillRect(area, palette().color(QPalette::Active, QPalette::Highlight));
        textColour = palette().color(QPalette::Active, QPalette::HighlightedText);
    }
    const QRect textRect = area.adjusted(1, 0, -1, 0);
    if (!text_.empty() && textRect.width() > 0) {
        painter.save();
        painter.setClipRect(area);
        painter.setFont(font());
        painter.setPen(textColour);
        const QString shown = QFontMetrics(font()).elidedText(
            ToDisplay(text_), Qt::ElideRight, textRect.width());
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
        painter.restore();
    }
    if (highlighted) {
        QPen dots(textColour, 1, Qt::DotLine);
        painter.setPen(dots);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(area.adjusted(0, 0, -1, -1));
    }
}

void TdxfComboBox::keyPressEvent(QKeyEvent* event)
{
    if (KeyDown(event->key(), event->modifiers()))
        event->accept();
    else
        QWidget::keyPressEvent(event);
}

bool TdxfComboBox::KeyDown(int key, Qt::KeyboardModifiers shift)
{
    // Alt with Up or Down belongs to opening the list, never to stepping.
    if (shift & Qt::AltModifier)
        return false;
    if (key == Qt::Key_Down && itemIndex_ < items_.Count() - 1) {
        SetItemIndex(itemIndex_ + 1);
        return true;
    }
    if (key == Qt::Key_Up && itemIndex_ > 0) {
        SetItemIndex(itemIndex_ - 1);
        return true;
    }
    return false;
}

void TdxfComboBox::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    setFocus(Qt::MouseFocusReason);
    event->accept();
}

void TdxfComboBox::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    update(TextRect());
}

void TdxfComboBox::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    update(TextRect());
}

void TdxfComboBox::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
        AdjustHeight();
        updateGeometry();
        update();
        break;
    case QEvent::EnabledChange:
    case QEvent::PaletteChange:
        update();
        break;
    default:
        break;
    }
}

} // namespace kino
