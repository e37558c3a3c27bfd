// The drop-down's popup opening and closing, and its mouse and keyboard.
#include <QGuiApplication>
#include <QMouseEvent>

#include "controls/dxfComboBox.h"
#include "controls/dxfPopupWindow.h"
#include "controls/dxfValueEdit.h"

namespace kino {

void TdxfCustomComboBox::DropDown()
{
    if (droppedDown_)
        return;
    // One list open in the process at a time.
    if (TPopupWindow* other = TPopupWindow::Current())
        if (TdxfCustomComboBox* owner = other->OwnerCombo())
            owner->CloseUp();
    if (OnDropDown)
        OnDropDown(Self());
    if (droppedDown_)
        return;
    edit_->setFocus(Qt::OtherFocusReason);

    while (int(mru_.size()) > std::max(0, mruListCount_)) {
        mru_.pop_back();
        mruTexts_.pop_back();
    }
    popup_ = new TPopupWindow(this);
    if (parentFont_)
        popup_->SetRowFont(font(), fontColor_);
    else
        popup_->SetRowFont(popupFont_, popupFontColor_);
    TPopupWindow::SetCurrent(popup_);

    const QPoint at = mapToGlobal(QPoint(0, 0));
    const TRect r = GetPopupRect(at, TRect{0, 0, popupWidth_, popupHeight_}, height());
    popupWidth_ = r.Width();
    popupHeight_ = r.Height();
    popup_->setGeometry(r.ToQRect());
    popup_->Show();
    droppedDown_ = true;
    if (itemIndex_ != -1)
        popup_->SetCurrentRow(popup_->RowOfItem(itemIndex_));
    if (style_ == dcsDropDownList)
        InvalidateEditRect();
    emit droppedDown(this);
}

void TdxfCustomComboBox::CloseUp()
{
    CloseUpImpl(true);
}

void TdxfCustomComboBox::CloseUpLeavingFocus()
{
    CloseUpImpl(false);
}

void TdxfCustomComboBox::CloseUpImpl(bool giveFocus)
{
    if (!popup_ || !droppedDown_)
        return;
    droppedDown_ = false;
    // The size the user gave the list is used again at the next drop-down.
    popupWidth_ = popup_->width();
    popupHeight_ = popup_->height();
    TPopupWindow* popup = popup_;
    popup_ = nullptr;
    popup->Hide();
    popup->Detach();
    if (TPopupWindow::Current() == popup)
        TPopupWindow::SetCurrent(nullptr);
    // Often reached from inside the popup's own handling: it goes once that is done.
    popup->deleteLater();
    if (giveFocus)
        edit_->setFocus(Qt::OtherFocusReason);
    if (style_ == dcsDropDownList)
        InvalidateEditRect();
    if (buttonDown_) {
        buttonDown_ = false;
        update(ToWidget(ButtonRect()));
    }
    emit closedUp(this);
}

// ----- Mouse -----

void TdxfCustomComboBox::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint() - QPoint(2, 2);
    MouseDown(event->button(), event->modifiers(), p.x(), p.y());
    event->accept();
}

void TdxfCustomComboBox::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint() - QPoint(2, 2);
    MouseMove(event->buttons(), p.x(), p.y());
}

void TdxfCustomComboBox::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint() - QPoint(2, 2);
    MouseUp(event->button(), p.x(), p.y());
}

void TdxfCustomComboBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Its press has been handled already; only the double click is left.
    event->accept();
    if (OnDblClick)
        OnDblClick(Self());
}

void TdxfCustomComboBox::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y)
{
    setFocus(Qt::MouseFocusReason);
    if (button != Qt::LeftButton)
        return;
    const bool onButton = ButtonRect().Contains(QPoint(x, y));
    if (!onButton && style_ != dcsDropDownList)
        return;
    if (onButton) {
        buttonDown_ = true;
        repaint(ToWidget(ButtonRect()));
    }
    if (droppedDown_)
        CloseUp();
    else
        DropDown();
}

void TdxfCustomComboBox::MouseMove(Qt::MouseButtons buttons, int x, int y)
{
    // A press on the face dragged into the open list goes on as a drag-selection
    // there, until the button is released.
    if (!droppedDown_ || !popup_ || !(buttons & Qt::LeftButton))
        return;
    const QPoint global = mapToGlobal(QPoint(x + 2, y + 2));
    if (popup_->DraggingFromOwner() || popup_->geometry().contains(global))
        popup_->DragFromOwner(global);
}

void TdxfCustomComboBox::MouseUp(Qt::MouseButton button, int x, int y)
{
    buttonDown_ = false;
    update(ToWidget(ButtonRect()));
    const QPoint global = mapToGlobal(QPoint(x + 2, y + 2));
    if (popup_ && popup_->DraggingFromOwner()) {
        if (button == Qt::LeftButton)
            popup_->ReleaseFromOwner(global);
        return;
    }
    if (button == Qt::LeftButton && rect().contains(QPoint(x + 2, y + 2)) && OnClick)
        OnClick(Self());
}

// ----- Keyboard -----

void TdxfCustomComboBox::KeyDown(int& key, Qt::KeyboardModifiers shift)
{
    if (OnKeyDown)
        OnKeyDown(Self(), key, shift);
    const Qt::KeyboardModifiers held = shift & ~Qt::KeypadModifier;
    const bool alt = held & Qt::AltModifier;
    if ((alt && (key == Qt::Key_Up || key == Qt::Key_Down)) ||
        (key == Qt::Key_F4 && held == Qt::NoModifier && QGuiApplication::mouseButtons() == Qt::NoButton)) {
        key = 0;
        if (droppedDown_)
            CloseUp();
        else
            DropDown();
    }
    if (key == Qt::Key_Escape && droppedDown_) {
        CloseUp();
        key = 0;
    }
    if (droppedDown_ && popup_) {
        // Home and End as well, where the edit field has no caret to move.
        const bool ends = style_ == dcsDropDownList && (key == Qt::Key_Home || key == Qt::Key_End);
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_PageUp || key == Qt::Key_PageDown ||
            key == Qt::Key_Up || key == Qt::Key_Down || ends) {
            int forwarded = key;
            popup_->KeyDown(forwarded, shift);
            key = 0;
        }
    }
    if (!droppedDown_) {
        if (key == Qt::Key_Down && itemIndex_ < items_.Count() - 1) {
            SetItemIndex(itemIndex_ + 1);
            key = 0;
        } else if (key == Qt::Key_Up && itemIndex_ > 0) {
            SetItemIndex(itemIndex_ - 1);
            key = 0;
        }
    }
    if (droppedDown_ && popup_ && style_ == dcsDropDownList && key == Qt::Key_Space && held == Qt::NoModifier) {
        if (popup_->CurrentRow() >= 0)
            ToggleRowCheck(popup_->CurrentRow());
        key = 0;
    }
}

void TdxfCustomComboBox::KeyPress(QString& key)
{
    if (OnKeyPress)
        OnKeyPress(Self(), key);
}

void TdxfCustomComboBox::KeyUp(int& key, Qt::KeyboardModifiers shift)
{
    if (OnKeyUp)
        OnKeyUp(Self(), key, shift);
}

void TdxfCustomComboBox::ToggleRowCheck(int row)
{
    if (!popup_)
        return;
    const int item = popup_->ItemOfRow(row);
    if (item < 0)
        return;
    const int m = popup_->MRUCount();
    SetChecked(item, !GetChecked(item));
    if (!popup_)
        return;
    // Both rows of the item show the new state.
    popup_->InvalidateRow(row);
    if (row < m) {
        popup_->InvalidateRow(m + item);
    } else {
        for (int r = 0; r < m; ++r)
            if (popup_->ItemOfRow(r) == item) {
                popup_->InvalidateRow(r);
                break;
            }
    }
}

} // namespace kino
