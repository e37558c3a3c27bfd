#pragma once
// The list the drop-down opens: a top-level, always-on-top tool window with a
// one-pixel border that is never activated and never takes the keyboard focus (the
// control's edit field keeps it and forwards the navigation keys). It is a view over
// the control's items: the recently used rows first, then every item, each row's
// place computed from its index, and only the rows in view are drawn. A 19-pixel
// grip bar runs along its edge away from the control.
//
// While it is open a press anywhere outside it closes it and does nothing else.
#include <QColor>
#include <QFont>
#include <QWidget>

#include <vector>

#include "controls/dxfComboBox.h"

class QScrollBar;

namespace kino {

class TPopupWindow : public QWidget {
    Q_OBJECT
public:
    // The grip bar: an 18-pixel bar and a one-pixel line.
    static constexpr int kBarHeight = 18;
    static constexpr int kBarSpace = kBarHeight + 1;

    explicit TPopupWindow(TdxfCustomComboBox* owner);
    ~TPopupWindow() override;

    // The open popup of the process, or none.
    static TPopupWindow* Current();
    static void SetCurrent(TPopupWindow* popup);

    TdxfCustomComboBox* OwnerCombo() const { return owner_; }
    // The owner is done with it: no call reaches the owner any more.
    void Detach() { owner_ = nullptr; }

    // Shows it where it was placed, on top, without activating it, and starts
    // watching presses outside it; Hide stops that.
    void Show();
    void Hide();

    void SetRowFont(const QFont& font, const QColor& textColor);
    // The rows as the owner's items and recently used list now stand: the recently
    // used rows are taken here, at most the owner's MRUListCount of them, and change
    // only at the next call, so what is painted, the scroll bar and what a click
    // chooses all stay on the same rows. The owner calls it after every change of
    // either list while the popup is open.
    void BuildRows();
    // The owner's selection changed while the list is open: its row is highlighted,
    // without scrolling the rows under the pointer.
    void FollowSelection();

    int RowCount() const;
    int MRUCount() const { return int(mruRows_.size()); }
    int ItemOfRow(int row) const;
    // The item's first recently used row, else its full-list row; -1 for no item.
    int RowOfItem(int item) const;
    // The list area in the popup's coordinates: inside the border, less the grip
    // bar and the scroll bar. Rows are placed in list coordinates, whose origin is
    // the list area's top-left corner.
    QRect ListRect() const;
    QRect RowRect(int row) const;
    // The row at a point in list coordinates, -1 for none.
    int RowAt(const QPoint& pos) const;
    bool RowWhollyVisible(int row) const;
    int TopRow() const { return top_; }
    int CurrentRow() const { return current_; }
    // Highlights the row (not chosen) and scrolls it into view.
    void SetCurrentRow(int row);
    void InvalidateRow(int row);
    QScrollBar* VerticalScrollBar() const { return vbar_; }

    // Steps of the list; points in list coordinates.
    void MeasureItem(int row, int& height) const;
    void DrawItem(QPainter& painter, int row, const QRect& rect, TOwnerDrawState state);
    void MouseMove(const QPoint& pos);
    void MouseUp(Qt::MouseButton button, const QPoint& pos);
    void KeyDown(int& key, Qt::KeyboardModifiers shift);
    // A press on the face dragged into the list goes on as a drag-selection here.
    void DragFromOwner(const QPoint& globalPos);
    void ReleaseFromOwner(const QPoint& globalPos);
    bool DraggingFromOwner() const { return draggingFromOwner_; }

    TdxfCorner Corner() const { return corner_; }
    // The 18-pixel bar, in the popup's coordinates, and on it the size grip (empty
    // without ResizePopup) and the close button's edge.
    QRect BarRect() const;
    TRect GripRect() const { return gripRect_; }
    TRect CloseRect() const { return closeRect_; }
    // The pointer is over the close button; the button is held down.
    bool CloseHot() const { return hover_; }
    bool ClosePushed() const { return pressed_; }

signals:
    // The list area has been painted.
    void painted();

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    // The frame's layout: the bar's space, the list area and the scroll bar.
    void UpdateLayout();
    // The scroll range for the rows and the list's height; the top row kept inside it.
    void UpdateScrollRange();
    void ScrollTo(int top);
    // The scroll bar set to the top row, its page and range, without its signals:
    // every change of the top row is made and painted here, not by the bar.
    void SyncScrollBar();
    void HighlightRow(int row);
    void PaintFrame(QPainter& painter);
    void PaintRows(QPainter& painter, const QRect& dirty);
    void TryGrabPointer();
    int RowTopInList(int row) const;
    int RowAtInList(int y) const;
    int WhollyVisibleRowsFrom(int top) const;
    int ListHeight() const { return listRect_.height(); }
    QPoint ToList(const QPointF& p) const { return p.toPoint() - listRect_.topLeft(); }
    QColor OwnColor() const;

    // The grip bar's parts: where they are, what the pointer is over, a press and a
    // release on them, a resize through the grip, and losing the mouse mid-press.
    void UpdateBarRects();
    void HitTest(const QPoint& pos);
    void BarPress(const QPoint& pos, const QPoint& global);
    void BarRelease();
    void ResizeTo(const QPoint& global);
    void CaptureLost();
    void RepaintBar() { update(BarRect()); }

    TdxfCustomComboBox* owner_;
    QScrollBar* vbar_;
    QRect listRect_;
    QFont font_;
    QColor textColor_;
    int rowHeight_ = 1;
    std::vector<int> rowTops_; // only when the owner measures rows itself
    std::vector<int> mruRows_; // the items of the recently used rows
    int top_ = 0;
    int maxTop_ = 0;
    int current_ = -1;
    // From the placement at Show, kept while the list is open.
    TdxfCorner corner_ = coBottomRight;
    bool sizing_ = false;   // the last hit test was on the grip
    bool resizing_ = false; // a drag on the grip is under way
    bool hover_ = false;
    bool pressed_ = false;
    bool barPress_ = false; // a left press outside the list is under way
    TRect gripRect_;
    TRect gripHitRect_;
    TRect closeRect_;
    QPoint pressGlobal_;
    TRect startGeometry_;
    bool grabbed_ = false;
    bool shown_ = false;
    bool draggingFromOwner_ = false;
};

} // namespace kino
