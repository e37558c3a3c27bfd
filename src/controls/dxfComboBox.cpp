// The drop-down's face: construction, properties, the item list and selection, the
// layout of its parts and its painting. Opening, closing and input are in
// dxfComboBoxInput.cpp; item data, the recently used list and the stored lists in
// dxfItemData.cpp.
#include "controls/dxfComboBox.h"

#include <QApplication>
#include <QEvent>
#include <QFontInfo>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <qdrawutil.h>

#include "controls/dxfPopupWindow.h"
#include "controls/dxfRes.h"
#include "controls/dxfValueEdit.h"
#include "platform/Text.h"

namespace kino {

QWidget* GetParentForm(QWidget* control)
{
    QWidget* w = control;
    while (w && w->parentWidget())
        w = w->parentWidget();
    return w;
}

TdxfComboBox::TdxfComboBox(QWidget* parent) : TdxfCustomComboBox(parent) {}

TdxfCustomComboBox::TdxfCustomComboBox(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    buttonWidth_ = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    mruListColor_ = palette().color(QPalette::Base);
    popupFont_ = font();
    checkRects_ = std::make_unique<TdxfRectsList>();
    edit_ = new TValueEdit(this);
    edit_->setObjectName(QStringLiteral("ValueEdit"));
    setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(edit_);
    items_.OnChange = [this](TdxfItems* sender) { ChangeItems(sender); };
    focusWatch_ = connect(qApp, &QApplication::focusChanged, this, [this] { FocusChanged(); });
    resize(145, TextHeight() + 8);
    popupWidth_ = std::max(width(), minPopupWidth_);
    ApplyColours();
    SetItemIndex(-1);
}

TdxfCustomComboBox::~TdxfCustomComboBox()
{
    QObject::disconnect(focusWatch_);
    items_.OnChange = nullptr;
    if (TPopupWindow* popup = popup_) {
        popup_ = nullptr;
        droppedDown_ = false;
        popup->Hide();
        popup->Detach();
        if (TPopupWindow::Current() == popup)
            TPopupWindow::SetCurrent(nullptr);
        // It may be inside its own handler (a choice whose handler destroys us).
        popup->deleteLater();
    }
    // The edit field goes first, while the control it reports to is whole.
    delete edit_;
    edit_ = nullptr;
    checkRects_->Clear();
}

TdxfComboBox* TdxfCustomComboBox::Self()
{
    // Every control is a TdxfComboBox: the base cannot be made on its own.
    return static_cast<TdxfComboBox*>(this);
}

void TdxfCustomComboBox::Loaded()
{
    loading_ = false;
    AdjustHeight();
    ApplyColours();
    UpdateImageRect();
    UpdateEditBounds();
    currentImage_ = GetImageIndex(itemIndex_);
    InvalidateImage();
    update();
}

// ----- Items and selection -----

void TdxfCustomComboBox::SetItems(const TdxfItems& items)
{
    items_.Assign(items);
}

std::string TdxfCustomComboBox::Text() const
{
    return edit_->RawText();
}

std::string TdxfCustomComboBox::SavedText() const
{
    return edit_->SavedText;
}

void TdxfCustomComboBox::SetEditText(const std::string& text, bool saved)
{
    if (saved)
        edit_->SavedText = text;
    edit_->SetRawText(text);
}

void TdxfCustomComboBox::RaiseChange()
{
    if (OnChange) {
        // A copy, so that a handler may rebind OnChange while it runs.
        auto handler = OnChange;
        handler(Self());
    }
    emit changed(this);
}

void TdxfCustomComboBox::SetItemIndex(int value)
{
    if (value >= items_.Count() || value < -1)
        return;
    itemIndex_ = value;
    items_.SetTrackedIndex(value); // the list keeps it with its entry
    if (value == -1) {
        SetEditText(std::string(), false); // the saved text stays
    } else if (!droppedDown_) {
        // A copy: an OnChange handler may change the list under us.
        SetEditText(std::string(items_.Strings(value)), true);
    } else {
        // A choice from the open list.
        std::string chosen = items_.Strings(value);
        if (OnCloseUp)
            OnCloseUp(Self(), chosen);
        SetEditText(chosen, true);
        InsertMRUChoice(value);
    }
    // The open list shows the selection: the player moving on to the next entry
    // while it is open highlights that entry's row.
    if (popup_)
        popup_->FollowSelection();
    if (style_ == dcsDropDownList)
        InvalidateEditRect();
    currentImage_ = GetImageIndex(itemIndex_);
    InvalidateImage();
}

void TdxfCustomComboBox::SetText(const std::string& value)
{
    const std::string text = value; // `value` may live in the list
    const int index = items_.IndexOf(text);
    if (index >= 0) {
        SetItemIndex(index); // shows the item's own spelling
        return;
    }
    // No item: straight from the text shown before to this one, so OnChange is
    // raised once at most (not for an empty text in between).
    itemIndex_ = -1;
    items_.SetTrackedIndex(-1);
    SetEditText(text, true);
    if (style_ == dcsDropDownList)
        InvalidateEditRect();
    currentImage_ = -1;
    InvalidateImage();
}

void TdxfCustomComboBox::SetSorted(bool value)
{
    // The selection moves with its entry (ChangeItems), so the shown text stays.
    items_.SetSorted(value);
    sorted_ = value;
}

void TdxfCustomComboBox::ChangeItems(TdxfItems*)
{
    if (popup_)
        popup_->BuildRows();
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
    const std::string before = Text();
    const int imageBefore = currentImage_;
    SetEditText(std::string(items_.Strings(itemIndex_)), true);
    currentImage_ = GetImageIndex(itemIndex_);
    if (currentImage_ != imageBefore)
        InvalidateImage();
    if (Text() != before)
        RepaintTextStrip();
}

// ----- Properties -----

void TdxfCustomComboBox::SetStyle(TdxfComboBoxStyle value)
{
    style_ = value;
    edit_->setReadOnly(value == dcsDropDownList);
    UpdateEditBounds();
    RepaintTextStrip();
}

void TdxfCustomComboBox::SetMRUListCount(int value)
{
    mruListCount_ = value;
}

void TdxfCustomComboBox::SetMRUListColor(const QColor& value)
{
    mruListColor_ = value;
}

void TdxfCustomComboBox::SetPopupWidth(int value)
{
    if (value != popupWidth_ && value >= minPopupWidth_)
        popupWidth_ = value;
}

void TdxfCustomComboBox::SetPopupHeight(int value)
{
    if (value != popupHeight_ && value >= minPopupHeight_)
        popupHeight_ = value;
}

void TdxfCustomComboBox::SetMinPopupWidth(int value)
{
    if (value < 0)
        return;
    minPopupWidth_ = value;
    if (value > popupWidth_)
        popupWidth_ = value;
}

void TdxfCustomComboBox::SetMinPopupHeight(int value)
{
    if (value < 0)
        return;
    minPopupHeight_ = value;
    if (value > popupHeight_)
        popupHeight_ = value;
}

void TdxfCustomComboBox::SetResizePopup(bool value)
{
    resizePopup_ = value;
}

void TdxfCustomComboBox::SetResizeHeight(bool value)
{
    resizeHeight_ = value;
    if (value) {
        // The height is the caller's again.
        setMinimumHeight(0);
        setMaximumHeight(QWIDGETSIZE_MAX);
        return;
    }
    AdjustHeight();
    UpdateEditBounds();
    update();
}

void TdxfCustomComboBox::SetPopupWindowFont(const QFont& font, const QColor& color)
{
    popupFont_ = font;
    popupFontColor_ = color;
    parentFont_ = false;
}

void TdxfCustomComboBox::SetParentFont(bool value)
{
    parentFont_ = value;
}

void TdxfCustomComboBox::SetMaxLength(int value)
{
    if (value < 0)
        return;
    maxLength_ = value;
    edit_->SetLimit(value);
}

QColor TdxfCustomComboBox::Color() const
{
    if (parentColor_)
        if (const QWidget* parent = parentWidget())
            return parent->palette().color(parent->backgroundRole());
    return color_;
}

void TdxfCustomComboBox::SetColor(const QColor& value)
{
    color_ = value;
    parentColor_ = false;
    ApplyColours();
    update();
}

void TdxfCustomComboBox::SetParentColor(bool value)
{
    if (value == parentColor_)
        return;
    parentColor_ = value;
    ApplyColours();
    if (popup_)
        popup_->update();
    update();
}

void TdxfCustomComboBox::SetFontColor(const QColor& value)
{
    fontColor_ = value;
    ApplyColours();
    update();
}

void TdxfCustomComboBox::ApplyColours()
{
    QPalette p = edit_->palette();
    p.setColor(QPalette::Base, Color());
    p.setColor(QPalette::Text, fontColor_);
    edit_->setPalette(p);
}

void TdxfCustomComboBox::SetDragMode(TDragMode value)
{
    dragMode_ = value;
    edit_->SetAutomaticDrag(value == dmAutomatic);
}

void TdxfCustomComboBox::SetImages(TdxfImageList* value)
{
    if (images_)
        disconnect(images_, nullptr, this, nullptr);
    images_ = value;
    if (value) {
        connect(value, &TdxfImageList::changed, this, &TdxfCustomComboBox::ImageListChange);
        // A list destroyed elsewhere is simply gone.
        connect(value, &QObject::destroyed, this, [this] {
            UpdateEditBounds();
            update();
        });
    }
    if (!loading_)
        ImageListChange(value);
}

void TdxfCustomComboBox::ImageListChange(TdxfImageList*)
{
    UpdateImageRect();
    UpdateEditBounds();
    update();
}

void TdxfCustomComboBox::SetShowImage(bool value)
{
    if (value == showImage_)
        return;
    showImage_ = value;
    UpdateEditBounds();
    update();
}

void TdxfCustomComboBox::SetShowCheckBoxes(bool value)
{
    showCheckBoxes_ = value;
}

void TdxfCustomComboBox::SetMultiLineText(bool value)
{
    if (value == multiLineText_)
        return;
    multiLineText_ = value;
    UpdateEditBounds();
    RepaintTextStrip();
}

void TdxfCustomComboBox::SetAutoSearch(bool value)
{
    autoSearch_ = value;
}

// ----- Layout -----

int TdxfCustomComboBox::TextHeight() const
{
    return QFontInfo(font()).pixelSize();
}

QSize TdxfCustomComboBox::sizeHint() const
{
    // The text height and a one-pixel border eight times over: 20 for a 12-px font.
    return QSize(145, TextHeight() + 8);
}

void TdxfCustomComboBox::AdjustHeight()
{
    if (!resizeHeight_)
        setFixedHeight(TextHeight() + 8);
}

void TdxfCustomComboBox::SetHeightValue(int h)
{
    if (resizeHeight_)
        resize(width(), h);
    else
        setFixedHeight(h);
}

TRect TdxfCustomComboBox::ButtonRect() const
{
    return TRect{width() - 4 - buttonWidth_, 0, width() - 4, height() - 4};
}

void TdxfCustomComboBox::UpdateImageRect()
{
    if (!images_ || images_->Height() <= 0) {
        imageRect_ = TRect{};
        return;
    }
    const int a = std::min(images_->Height(), height() - 8);
    const int w = int(double(a) * images_->Width() / images_->Height());
    const int top = (height() - a) / 2 - 2;
    imageRect_ = TRect{2, top, 2 + w, top + a};
}

void TdxfCustomComboBox::UpdateEditBounds()
{
    const int t = TextHeight() + 8 - 6;
    const int top = (height() - 6 - t) / 2 + 2;
    const int left = images_ && showImage_ ? imageRect_.Right + 2 : 2;
    editRect_ = TRect{left, top, width() - buttonWidth_ - 6, top + t};
    if (style_ == dcsDropDown) {
        edit_->setGeometry(ToWidget(editRect_));
        return;
    }
    if (multiLineText_) {
        editRect_.Top = 2;
        editRect_.Bottom = height() - 4;
    }
    // The face draws the text; the field only keeps it and the focus.
    edit_->setGeometry(0, 0, 0, 0);
}

void TdxfCustomComboBox::InvalidateImage()
{
    if (images_)
        update(ToWidget(imageRect_));
}

void TdxfCustomComboBox::InvalidateEditRect()
{
    TRect r = editRect_.Inflated(1);
    r.Bottom -= 2;
    update(ToWidget(r));
}

void TdxfCustomComboBox::RepaintTextStrip()
{
    update(ToWidget(TRect{imageRect_.Right, 0, ButtonRect().Left, height() - 4}));
}

// ----- Painting -----

void TdxfCustomComboBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Color());
    qDrawWinPanel(&painter, rect(), palette(), true); // the sunken edge
    painter.translate(2, 2);
    Paint(painter);
}

void TdxfCustomComboBox::Paint(QPainter& painter)
{
    // The drop button, pushed while held.
    const QRect button = ButtonRect().ToQRect();
    QStyleOptionButton face;
    face.initFrom(this);
    face.rect = button;
    face.state = (isEnabled() ? QStyle::State_Enabled : QStyle::State_None) |
                 (buttonDown_ ? QStyle::State_Sunken : QStyle::State_Raised);
    style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &face, &painter, this);
    QStyleOption arrow = face;
    arrow.rect = button.adjusted(3, 3, -3, -3).translated(buttonDown_ ? 1 : 0, buttonDown_ ? 1 : 0);
    style()->drawPrimitive(QStyle::PE_IndicatorArrowDown, &arrow, &painter, this);

    // The chosen item's image.
    if (images_ && itemIndex_ != -1 && showImage_) {
        if (images_->Height() == imageRect_.Width()) {
            images_->Draw(painter, imageRect_.Left, imageRect_.Top, currentImage_);
        } else {
            QPixmap image(images_->Width(), images_->Height());
            image.fill(Color());
            QPainter imagePainter(&image);
            images_->Draw(imagePainter, 0, 0, currentImage_);
            imagePainter.end();
            painter.drawPixmap(imageRect_.ToQRect(), image);
        }
    }

    if (style_ != dcsDropDownList)
        return;
    // The text area, highlighted while the control has the focus and the list is
    // closed (the list then shows the choice).
    TRect area = editRect_.Inflated(1);
    area.Bottom -= 2;
    const QRect r = area.ToQRect();
    const bool highlighted = hasFocus() && !droppedDown_;
    const QColor brush = highlighted ? palette().color(QPalette::Active, QPalette::Highlight) : Color();
    const QColor textColour = highlighted ? palette().color(QPalette::Active, QPalette::HighlightedText) : fontColor_;
    painter.fillRect(r, brush);
    painter.setFont(font());
    painter.setPen(textColour);
    const QString shown = ToDisplay(Text());
    if (multiLineText_) {
        dxfres::DrawMultiLineText(painter, r.adjusted(2, 2, -2, -2), shown);
    } else if (r.width() > 1 && !shown.isEmpty()) {
        painter.save();
        painter.setClipRect(r);
        // One pixel in, unless the font's descent would then touch the focus
        // rectangle at the bottom.
        const int inset = std::clamp(r.height() - painter.fontMetrics().height() - 1, 0, 1);
        const QRect text(r.left() + 1, r.top() + inset, r.width() - 2, r.height() - inset);
        painter.drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                         painter.fontMetrics().elidedText(shown, Qt::ElideRight, text.width()));
        painter.restore();
    }
    if (highlighted) {
        painter.setPen(QPen(textColour, 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(r.adjusted(0, 0, -1, -1));
    }
}

// ----- Reactions -----

void TdxfCustomComboBox::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (loading_)
        return;
    AdjustHeight();
    UpdateImageRect();
    UpdateEditBounds();
}

void TdxfCustomComboBox::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
        if (!loading_)
            AdjustHeight();
        if (popup_)
            popup_->SetRowFont(font(), fontColor_);
        UpdateEditBounds();
        updateGeometry();
        update();
        break;
    case QEvent::EnabledChange:
        update(ToWidget(ButtonRect()));
        update();
        break;
    case QEvent::PaletteChange:
    case QEvent::ParentChange:
        if (parentColor_)
            ApplyColours();
        update();
        break;
    default:
        break;
    }
}

void TdxfCustomComboBox::FocusChanged()
{
    if (style_ == dcsDropDownList)
        InvalidateEditRect();
}

} // namespace kino
