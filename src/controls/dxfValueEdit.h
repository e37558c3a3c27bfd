#pragma once
// The drop-down's two helpers: the borderless edit field that holds the shown text
// and is the control's keyboard focus, and the list of check-box rectangles that
// the popup records as it draws its rows.
#include <QLineEdit>

#include <string>
#include <vector>

#include "controls/dxfPopupPlacement.h"

namespace kino {

class TdxfCustomComboBox;

// A growable list of rectangles, one a popup row.
class TdxfRectsList {
public:
    // Stores `r` at `index`; rows below it that had none yet get `r` as well.
    void SetRect(int index, const TRect& r);
    // The rectangle at `index`; the empty one (0, 0, 0, 0) beyond the end.
    TRect GetRect(int index) const;
    void Clear();
    int Count() const { return int(rects_.size()); }

private:
    std::vector<TRect> rects_;
};

class TValueEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TValueEdit(TdxfCustomComboBox* owner);

    TdxfCustomComboBox* const OwnerCombo;
    // The text the control last set, and the text at the end of each key release.
    std::string SavedText;
    // The selection's length at the end of the last key release.
    int LastSelLength = 0;

    // The shown text byte for byte. Setting it raises the control's change event
    // when the bytes change, even when two texts look alike on the screen.
    const std::string& RawText() const { return raw_; }
    void SetRawText(const std::string& text);

    // Stops (true) and restarts (false) drawing while the text is completed.
    void SetUpdateState(bool updating);
    // 0: no limit. Texts set by the control are never cut; typing stops at it.
    void SetLimit(int length);
    void SetAutomaticDrag(bool automatic) { automaticDrag_ = automatic; }

    // The end of a key release: first-letter selection and text tracking; `typed`
    // is the text the key typed (empty for arrows, function keys and modifiers).
    void KeyUp(int key, Qt::KeyboardModifiers shift, const QString& typed);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void AChange();
    void UserEdited();
    QPoint ToOwner(const QPoint& p) const;
    void StartAutomaticDrag(const QPoint& at);
    // The first item whose text begins with `prefix`, letter case ignored; -1.
    int PrefixSearch(const QString& prefix) const;
    // The first item whose text is `text` byte for byte; -1.
    int ExactSearch(const std::string& text) const;
    void PointPopupAt(int item);

    std::string raw_;
    bool settingText_ = false;
    bool automaticDrag_ = false;
    QPoint pressAt_;
    bool pressed_ = false;
};

} // namespace kino
