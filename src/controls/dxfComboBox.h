#pragma once
// The playlist drop-down: its item list, selection and shown text, and a plain
// face (the shown text and a drop button) that takes the focus and moves the
// selection with Up and Down.
#include <QColor>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "controls/dxfItems.h"

namespace kino {

class TdxfComboBox : public QWidget {
    Q_OBJECT
public:
    explicit TdxfComboBox(QWidget* parent = nullptr);
    ~TdxfComboBox() override;

    TdxfItems& Items();
    const TdxfItems& Items() const;
    void SetItems(const TdxfItems& items);      // copies the list

    int ItemIndex() const;
    void SetItemIndex(int value);               // value >= Count: nothing at all; < -1: ignored

    std::string Text() const;                   // the shown text
    void SetText(const std::string& value);     // raises OnChange once at most
    std::string SavedText() const;              // the last text the control itself set

    bool Sorted() const;
    void SetSorted(bool value);

    // The item list's change notification: the selection follows its entry when
    // entries are inserted or deleted before it or the list is sorted (the shown text
    // stays, no OnChange); when the entry itself is deleted the entry now at its index
    // is shown (-1 past the end).
    void ChangeItems(TdxfItems* sender);

    QColor Color() const;                       // background of the face
    void SetColor(const QColor& color);
    QColor FontColor() const;                   // text colour
    void SetFontColor(const QColor& color);

    std::function<void(TdxfComboBox* sender)> OnChange;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

    void Paint(QPainter& painter);
    // Returns true when the key was used (the selection moved).
    bool KeyDown(int key, Qt::KeyboardModifiers shift);

private:
    void SetEditText(const std::string& text);  // raises OnChange on a real change
    void AdjustHeight();                        // the height follows the font
    QRect ButtonRect() const;
    QRect TextRect() const;                     // the highlighted area behind the text

    TdxfItems items_;
    int itemIndex_ = -1;
    std::string text_;
    std::string savedText_;
    bool sorted_ = false;
    QColor color_ = Qt::white;
    QColor fontColor_ = Qt::black;
};

} // namespace kino
