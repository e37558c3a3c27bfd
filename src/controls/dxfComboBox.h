#pragma once
// The drop-down control: a one-line face that shows the chosen item's text (and its
// image), a drop button at its right end, and a popup list that exists only while
// the control is dropped down. The text lives in a borderless child edit field,
// which is the control's real keyboard focus and the only source of its change
// event. TdxfCustomComboBox holds every behaviour; TdxfComboBox publishes the rest.
//
// Items are 8-bit texts held byte for byte; they become Unicode only where they are
// drawn. Rectangles named by the layout (button, image, edit) are in client
// coordinates: the face less its two-pixel sunken edge.
#include <QColor>
#include <QFont>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/dxfImageList.h"
#include "controls/dxfItems.h"
#include "controls/dxfPopupPlacement.h"

class QPainter;

namespace kino {

class TdxfComboBox;
class TdxfRectsList;
class TPopupWindow;
class TValueEdit;

// dcsDropDown: the edit field is shown and typed into. dcsDropDownList: it is
// read-only and shrunk to nothing, and the face paints the text itself.
enum TdxfComboBoxStyle : unsigned char { dcsDropDown, dcsDropDownList };
enum TDragMode : unsigned char { dmManual, dmAutomatic };
// What a popup row is when it is drawn.
enum TOwnerDrawStateFlag : unsigned { odSelected = 1, odFocused = 2 };
using TOwnerDrawState = unsigned;

// The outermost widget reached by following parents.
QWidget* GetParentForm(QWidget* control);

class TdxfCustomComboBox : public QWidget {
    Q_OBJECT
    friend class TdxfComboBox;
    friend class TPopupWindow;
    friend class TValueEdit;

public:
    ~TdxfCustomComboBox() override;

    // The popup: opened below or above the face, closed again without an event.
    void DropDown();
    void CloseUp();
    bool DroppedDown() const { return droppedDown_; }
    TPopupWindow* Popup() const { return popup_; }

    // The end of building the control: the height fits the font, the parts are laid
    // out. Until then size changes are ignored and font changes keep the height.
    void Loaded();

    TdxfComboBoxStyle Style() const { return style_; }
    void SetStyle(TdxfComboBoxStyle value);
    int MRUListCount() const { return mruListCount_; }
    void SetMRUListCount(int value);
    QColor MRUListColor() const { return mruListColor_; }
    void SetMRUListColor(const QColor& value);
    int PopupWidth() const { return popupWidth_; }
    void SetPopupWidth(int value); // ignored below MinPopupWidth
    int PopupHeight() const { return popupHeight_; }
    void SetPopupHeight(int value); // ignored below MinPopupHeight
    int MinPopupWidth() const { return minPopupWidth_; }
    void SetMinPopupWidth(int value); // >= 0; raises PopupWidth to it
    int MinPopupHeight() const { return minPopupHeight_; }
    void SetMinPopupHeight(int value);
    bool ResizePopup() const { return resizePopup_; }
    void SetResizePopup(bool value);
    bool ResizeHeight() const { return resizeHeight_; }
    void SetResizeHeight(bool value); // False: the height follows the font
    // The popup's font and text colour, used unless ParentFont is True.
    QFont PopupWindowFont() const { return popupFont_; }
    QColor PopupWindowFontColor() const { return popupFontColor_; }
    void SetPopupWindowFont(const QFont& font, const QColor& color);
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool value);
    int MaxLength() const { return maxLength_; }
    void SetMaxLength(int value); // 0: no limit; negative: ignored
    // Background of the face, the edit field and the rows; with ParentColor the
    // parent's background instead.
    QColor Color() const;
    void SetColor(const QColor& value);
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool value);
    QColor FontColor() const { return fontColor_; }
    void SetFontColor(const QColor& value);
    TDragMode DragMode() const { return dragMode_; }
    void SetDragMode(TDragMode value);

    // Each item's object slot packs its image index and check state:
    // (image index + 1) * 2 + checked. Outside the items: -1 / false, and no change.
    int GetImageIndex(int index) const;
    void SetImageIndex(int index, int value);
    bool GetChecked(int index) const;
    void SetChecked(int index, bool value);

    // The recently used items, most recent first, as item indices.
    const std::vector<int>& MRUList() const { return mru_; }
    void InsertInMRUList(int index);
    void ClearMRUList();

    // The three stored lists in the form's own notation, one a line:
    //   ImageIndexes = (-1, 2, -1)
    //   Checked = (False, True, False)
    //   Height = 20
    std::string WriteStoredLists() const;
    // Reads what WriteStoredLists writes. A shorter list leaves the remaining items
    // as they are; a longer list, an unknown name or a bad value is an error: false,
    // `error` says why, and nothing is changed.
    bool ReadStoredLists(const std::string& text, std::string* error = nullptr);

    // Layout, in client coordinates.
    void AdjustHeight();
    void UpdateImageRect();
    void UpdateEditBounds();
    TRect ButtonRect() const;
    TRect ImageRect() const { return imageRect_; }
    TRect EditRect() const { return editRect_; }
    void InvalidateImage();
    void InvalidateEditRect();

    void ChangeItems(TdxfItems* sender);
    void ImageListChange(TdxfImageList* sender);

    TValueEdit* Edit() const { return edit_; }
    int ButtonWidth() const { return buttonWidth_; }
    bool ButtonDown() const { return buttonDown_; }

    QSize sizeHint() const override;

    // Events; the sender is the control.
    std::function<void(TdxfComboBox* sender)> OnChange;
    std::function<void(TdxfComboBox* sender)> OnDropDown;
    std::function<void(TdxfComboBox* sender, std::string& value)> OnCloseUp;
    std::function<void(TdxfComboBox* sender, int index, bool itemInMRUList, bool lastItemInMRUList, int& height)>
        OnMeasureItem;
    std::function<void(TdxfComboBox* sender, int& key, Qt::KeyboardModifiers shift)> OnKeyDown;
    std::function<void(TdxfComboBox* sender, QString& key)> OnKeyPress;
    std::function<void(TdxfComboBox* sender, int& key, Qt::KeyboardModifiers shift)> OnKeyUp;
    std::function<void(TdxfComboBox* sender)> OnClick;
    std::function<void(TdxfComboBox* sender)> OnDblClick;
    // Drags over and drops on the face, at a point in the control's coordinates; the
    // source is the control itself.
    std::function<void(TdxfComboBox* sender, QObject* source, int x, int y, bool& accept)> OnDragOver;
    std::function<void(TdxfComboBox* sender, QObject* source, int x, int y)> OnDragDrop;
    // A drag of the shown text out of the edit field (DragMode dmAutomatic).
    std::function<void(TdxfComboBox* sender, QObject*& dragObject)> OnStartDrag;
    std::function<void(TdxfComboBox* sender, QObject* target, int x, int y)> OnEndDrag;

signals:
    // Beside OnChange, for observers other than the owner.
    void changed(kino::TdxfCustomComboBox* sender);
    void droppedDown(kino::TdxfCustomComboBox* sender);
    void closedUp(kino::TdxfCustomComboBox* sender);

protected:
    explicit TdxfCustomComboBox(QWidget* parent = nullptr);

    // Published by TdxfComboBox.
    TdxfItems& Items() { return items_; }
    const TdxfItems& Items() const { return items_; }
    void SetItems(const TdxfItems& items);
    int ItemIndex() const { return itemIndex_; }
    void SetItemIndex(int value);
    std::string Text() const;
    void SetText(const std::string& value);
    std::string SavedText() const;
    bool Sorted() const { return sorted_; }
    void SetSorted(bool value);
    TdxfImageList* Images() const { return images_; }
    void SetImages(TdxfImageList* value);
    bool ShowImage() const { return showImage_; }
    void SetShowImage(bool value);
    bool ShowCheckBoxes() const { return showCheckBoxes_; }
    void SetShowCheckBoxes(bool value);
    int CheckBoxStyle() const { return checkBoxStyle_; }
    void SetCheckBoxStyle(int value);
    bool MultiLineText() const { return multiLineText_; }
    void SetMultiLineText(bool value);
    bool AutoSearch() const { return autoSearch_; }
    void SetAutoSearch(bool value);
    std::function<void(TdxfComboBox* sender, int index, bool itemInMRUList, bool lastItemInMRUList, int& imageIndex,
                       bool& checked, TOwnerDrawState state, std::string& text, QPainter& canvas, const QRect& rect,
                       QColor& color, QFont& font, bool& done)>
        OnDrawItem;

    // Steps of the face.
    void Paint(QPainter& painter);
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void MouseMove(Qt::MouseButtons buttons, int x, int y);
    void MouseUp(Qt::MouseButton button, int x, int y);
    // The control's keyboard handling; also reached for keys typed in the edit field.
    void KeyDown(int& key, Qt::KeyboardModifiers shift);
    void KeyPress(QString& key);
    void KeyUp(int& key, Qt::KeyboardModifiers shift);

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    TdxfComboBox* Self();
    void CloseUpLeavingFocus(); // the focus has gone elsewhere: it stays there
    void CloseUpImpl(bool giveFocus);
    // Drops recently used entries that no longer name the item they were made for.
    void ValidateMRUList();
    void InsertMRUChoice(int index);
    void SetHeightValue(int height);
    void RaiseChange(); // from the edit field's change notification
    void SetEditText(const std::string& text, bool saved);
    void RepaintTextStrip(); // from the image's right edge to the button's left edge
    int TextHeight() const;
    QRect ToWidget(const TRect& r) const { return r.Translated(2, 2).ToQRect(); }
    void FocusChanged();
    void ApplyColours();
    // Toggles the check of popup row `row` and repaints both rows of its item.
    void ToggleRowCheck(int row);

    TdxfItems items_;
    int itemIndex_ = -1;
    bool sorted_ = false;
    TValueEdit* edit_ = nullptr;
    TPopupWindow* popup_ = nullptr;
    std::unique_ptr<TdxfRectsList> checkRects_;
    std::vector<int> mru_;
    std::vector<std::string> mruTexts_; // the text of each entry's item when it was chosen
    QMetaObject::Connection focusWatch_;

    TdxfComboBoxStyle style_ = dcsDropDown;
    int mruListCount_ = 0;
    QColor mruListColor_;
    int popupWidth_ = 145;
    int popupHeight_ = 150;
    int minPopupWidth_ = 100;
    int minPopupHeight_ = 100;
    bool resizePopup_ = true;
    bool resizeHeight_ = false;
    QFont popupFont_;
    QColor popupFontColor_ = Qt::black;
    bool parentFont_ = true;
    int maxLength_ = 0;
    QColor color_ = Qt::white;
    bool parentColor_ = false;
    QColor fontColor_ = Qt::black;
    TDragMode dragMode_ = dmManual;
    QPointer<TdxfImageList> images_;
    bool showImage_ = true;
    bool showCheckBoxes_ = false;
    int checkBoxStyle_ = 0;
    bool multiLineText_ = false;
    bool autoSearch_ = false;

    int buttonWidth_ = 17;
    bool buttonDown_ = false;
    bool droppedDown_ = false;
    bool loading_ = true;
    int currentImage_ = -1;
    TRect imageRect_;
    TRect editRect_;
};

class TdxfComboBox final : public TdxfCustomComboBox {
    Q_OBJECT
public:
    explicit TdxfComboBox(QWidget* parent = nullptr);

    using TdxfCustomComboBox::Items;
    using TdxfCustomComboBox::SetItems;
    using TdxfCustomComboBox::ItemIndex;
    using TdxfCustomComboBox::SetItemIndex;
    using TdxfCustomComboBox::Text;
    using TdxfCustomComboBox::SetText;
    using TdxfCustomComboBox::SavedText;
    using TdxfCustomComboBox::Sorted;
    using TdxfCustomComboBox::SetSorted;
    using TdxfCustomComboBox::Images;
    using TdxfCustomComboBox::SetImages;
    using TdxfCustomComboBox::ShowImage;
    using TdxfCustomComboBox::SetShowImage;
    using TdxfCustomComboBox::ShowCheckBoxes;
    using TdxfCustomComboBox::SetShowCheckBoxes;
    using TdxfCustomComboBox::CheckBoxStyle;
    using TdxfCustomComboBox::SetCheckBoxStyle;
    using TdxfCustomComboBox::MultiLineText;
    using TdxfCustomComboBox::SetMultiLineText;
    using TdxfCustomComboBox::AutoSearch;
    using TdxfCustomComboBox::SetAutoSearch;
    using TdxfCustomComboBox::OnDrawItem;
};

} // namespace kino
