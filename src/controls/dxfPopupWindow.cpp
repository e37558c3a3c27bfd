#include "controls/dxfPopupWindow.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>

#include "controls/dxfGripBar.h"
#include "controls/dxfRes.h"
#include "controls/dxfValueEdit.h"
#include "platform/Text.h"

namespace kino {

namespace {

TPopupWindow* g_current = nullptr;

// Closes the open popup at a press anywhere outside it and swallows the press, so
// the pressed control gets neither the press nor the focus. It watches our windows
// before their widgets see anything; presses elsewhere on the screen (a title bar,
// another program) reach the popup through its pointer grab and land here as well.
class PopupMouseHook : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonRelease:
            break;
        default:
            return false;
        }
        if (!watched->isWindowType())
            return false;
        TPopupWindow* popup = TPopupWindow::Current();
        if (!popup)
            return false;
        const QPoint global = static_cast<QMouseEvent*>(e)->globalPosition().toPoint();
        if (popup->geometry().contains(global))
            return false;
        popup->Hide();
        if (TPopupWindow* still = TPopupWindow::Current())
            if (TdxfCustomComboBox* owner = still->OwnerCombo())
                owner->CloseUp();
        return true;
    }
};

PopupMouseHook& Hook()
{
    static PopupMouseHook hook;
    return hook;
}

} // namespace

TPopupWindow* TPopupWindow::Current()
{
    return g_current;
}

void TPopupWindow::SetCurrent(TPopupWindow* popup)
{
    g_current = popup;
}

TPopupWindow::TPopupWindow(TdxfCustomComboBox* owner)
    : QWidget(GetParentForm(owner)), owner_(owner), vbar_(new QScrollBar(Qt::Vertical, this))
{
    setObjectName(QStringLiteral("PopupWindow"));
    // Override-redirect: placed exactly where asked, never framed or activated by
    // a window manager, and on top of the program's windows.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::BypassWindowManagerHint |
                   Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    vbar_->setFocusPolicy(Qt::NoFocus);
    vbar_->setSingleStep(1);
    vbar_->hide();
    // The user's scrolling through the bar or the wheel; our own settings of the bar
    // come with its signals blocked.
    connect(vbar_, &QScrollBar::valueChanged, this, &TPopupWindow::ScrollTo);
    UpdateLayout();
}

TPopupWindow::~TPopupWindow()
{
    if (g_current == this)
        g_current = nullptr;
    if (shown_)
        qApp->removeEventFilter(&Hook());
}

void TPopupWindow::Show()
{
    if (owner_) {
        // The grip goes to the corner away from the control, as the list was placed,
        // and stays there while it is open: a list above the control keeps its bar
        // on top however the user sizes it.
        const QPoint at = owner_->mapToGlobal(QPoint(0, 0));
        const TRect control{at.x(), at.y(), at.x() + owner_->width(), at.y() + owner_->height()};
        corner_ = GetCornerForRects(control, TRect::FromQRect(geometry()));
    }
    UpdateLayout();
    UpdateScrollRange();
    qApp->installEventFilter(&Hook());
    shown_ = true;
    show();
    raise();
    TryGrabPointer();
}

void TPopupWindow::Hide()
{
    if (grabbed_) {
        if (QWindow* w = windowHandle())
            w->setMouseGrabEnabled(false);
        grabbed_ = false;
    }
    if (isVisible())
        hide();
    if (shown_) {
        qApp->removeEventFilter(&Hook());
        shown_ = false;
    }
}

void TPopupWindow::TryGrabPointer()
{
    // Presses outside all of our windows come to us too, so a press on a title bar
    // or another program closes the list rather than doing its own work. A window
    // that is not mapped yet cannot grab; the first paint tries again.
    if (grabbed_ || !shown_ || !isVisible())
        return;
    if (QWindow* w = windowHandle())
        grabbed_ = w->setMouseGrabEnabled(true);
}

void TPopupWindow::SetRowFont(const QFont& font, const QColor& textColor)
{
    font_ = font;
    textColor_ = textColor;
    setFont(font);
    BuildRows();
}

int TPopupWindow::RowCount() const
{
    return owner_ ? MRUCount() + owner_->items_.Count() : 0;
}

int TPopupWindow::ItemOfRow(int row) const
{
    const int m = MRUCount();
    if (row < 0 || row >= RowCount())
        return -1;
    return row < m ? mruRows_[std::size_t(row)] : row - m;
}

int TPopupWindow::RowOfItem(int item) const
{
    if (!owner_ || item < 0 || item >= owner_->items_.Count())
        return -1;
    const auto held = std::find(mruRows_.begin(), mruRows_.end(), item);
    return held != mruRows_.end() ? int(held - mruRows_.begin()) : MRUCount() + item;
}

void TPopupWindow::MeasureItem(int row, int& height) const
{
    const int m = MRUCount();
    height = QFontMetrics(font_).height();
    if (owner_->showCheckBoxes_)
        height += 4;
    if (owner_->images_)
        height = std::max(height, owner_->images_->Height() + 2);
    if (row == m - 1)
        height += 3;
    if (owner_->OnMeasureItem)
        owner_->OnMeasureItem(owner_->Self(), ItemOfRow(row), row < m, row == m - 1, height);
}

void TPopupWindow::BuildRows()
{
    if (!owner_)
        return;
    owner_->ValidateMRUList();
    // A choice made while the list is open goes to the front of the owner's list
    // even past its count (cut at the next drop-down); no more rows show than the count.
    const std::size_t shown = std::min(owner_->mru_.size(), std::size_t(std::max(0, owner_->mruListCount_)));
    mruRows_.assign(owner_->mru_.begin(), owner_->mru_.begin() + std::ptrdiff_t(shown));
    const int n = RowCount();
    const int m = MRUCount();
    rowTops_.clear();
    if (owner_->OnMeasureItem) {
        // Rows measured by the owner may each differ: their places are summed once.
        rowTops_.resize(std::size_t(n) + 1);
        int top = 0;
        for (int r = 0; r < n; ++r) {
            rowTops_[std::size_t(r)] = top;
            int h = 0;
            MeasureItem(r, h);
            top += std::max(1, h);
        }
        rowTops_[std::size_t(n)] = top;
    } else {
        // Every row is as high as the first full-list row; only the last recently
        // used one is 3 pixels taller.
        int h = 0;
        MeasureItem(m, h);
        rowHeight_ = std::max(1, h);
    }
    if (current_ >= n)
        current_ = n - 1;
    UpdateScrollRange();
    update(listRect_);
}

int TPopupWindow::RowTopInList(int row) const
{
    if (!rowTops_.empty())
        return rowTops_[std::size_t(std::clamp(row, 0, int(rowTops_.size()) - 1))];
    const int m = MRUCount();
    return row * rowHeight_ + (m > 0 && row >= m ? 3 : 0);
}

int TPopupWindow::RowAtInList(int y) const
{
    if (!rowTops_.empty()) {
        auto it = std::upper_bound(rowTops_.begin(), rowTops_.end(), y);
        return int(it - rowTops_.begin()) - 1;
    }
    const int m = MRUCount();
    int r = y / rowHeight_;
    if (m > 0 && r >= m) {
        r = (y - 3) / rowHeight_;
        if (r < m)
            r = m - 1;
    }
    return r;
}

QRect TPopupWindow::ListRect() const
{
    return listRect_;
}

QRect TPopupWindow::RowRect(int row) const
{
    const int top = RowTopInList(row) - RowTopInList(TopRow());
    int h = rowHeight_ + (row == MRUCount() - 1 ? 3 : 0);
    if (!rowTops_.empty())
        h = row >= 0 && row + 1 < int(rowTops_.size()) ? rowTops_[std::size_t(row) + 1] - rowTops_[std::size_t(row)]
                                                       : 0;
    return QRect(0, top, listRect_.width(), h);
}

int TPopupWindow::RowAt(const QPoint& pos) const
{
    if (pos.y() < 0 || pos.x() < 0 || pos.x() >= listRect_.width())
        return -1;
    const int row = RowAtInList(pos.y() + RowTopInList(TopRow()));
    return row >= 0 && row < RowCount() ? row : -1;
}

bool TPopupWindow::RowWhollyVisible(int row) const
{
    const QRect r = RowRect(row);
    return r.top() >= 0 && r.top() + r.height() <= ListHeight();
}

int TPopupWindow::WhollyVisibleRowsFrom(int top) const
{
    const int base = RowTopInList(top);
    const int n = RowCount();
    int count = 0;
    for (int r = top; r < n && RowTopInList(r + 1) - base <= ListHeight(); ++r)
        ++count;
    return std::max(1, count);
}

void TPopupWindow::UpdateScrollRange()
{
    const int n = RowCount();
    const int vh = ListHeight();
    const int total = RowTopInList(n);
    int maxTop = 0;
    if (n > 0 && total > vh) {
        maxTop = RowAtInList(total - vh);
        if (RowTopInList(maxTop) < total - vh)
            ++maxTop;
        maxTop = std::min(maxTop, n - 1);
    }
    maxTop_ = maxTop;
    // The scroll bar shows only when there is something to scroll. It takes width
    // alone, so the range above holds with it or without it.
    const bool needed = maxTop > 0;
    if (needed != vbar_->isVisibleTo(this)) {
        vbar_->setVisible(needed);
        UpdateLayout();
    }
    // A list grown taller may show the last row from a higher top: the rows come down.
    if (top_ > maxTop_) {
        top_ = maxTop_;
        update(listRect_);
    }
    SyncScrollBar();
}

void TPopupWindow::ScrollTo(int top)
{
    top = std::clamp(top, 0, maxTop_);
    if (top != top_) {
        top_ = top;
        // Rows scroll whole: the rows now in view are drawn afresh.
        update(listRect_);
    }
    SyncScrollBar();
}

void TPopupWindow::SyncScrollBar()
{
    const QSignalBlocker quiet(vbar_);
    vbar_->setRange(0, maxTop_);
    vbar_->setPageStep(WhollyVisibleRowsFrom(top_));
    vbar_->setValue(top_);
}

void TPopupWindow::SetCurrentRow(int row)
{
    if (row < 0 || row >= RowCount())
        return;
    HighlightRow(row);
    // Into view: at the top when above it, as the last whole row when below it.
    if (row < TopRow()) {
        ScrollTo(row);
    } else if (!RowWhollyVisible(row)) {
        int top = RowAtInList(RowTopInList(row + 1) - ListHeight());
        if (RowTopInList(row + 1) - RowTopInList(top) > ListHeight())
            ++top;
        ScrollTo(std::min(top, row));
    }
}

void TPopupWindow::HighlightRow(int row)
{
    if (row == current_)
        return;
    InvalidateRow(current_);
    current_ = row;
    InvalidateRow(current_);
}

void TPopupWindow::FollowSelection()
{
    if (!owner_)
        return;
    // A choice may have added a recently used row, moving every row below it.
    BuildRows();
    HighlightRow(RowOfItem(owner_->itemIndex_));
}

void TPopupWindow::InvalidateRow(int row)
{
    if (row < 0 || row >= RowCount())
        return;
    const QRect r = RowRect(row);
    if (r.bottom() >= 0 && r.top() < ListHeight())
        update(r.translated(listRect_.topLeft()).intersected(listRect_));
}

QColor TPopupWindow::OwnColor() const
{
    // The popup's own colour: the list's default, or its form's with ParentColor.
    if (owner_ && owner_->ParentColor())
        if (QWidget* form = GetParentForm(owner_))
            return form->palette().color(QPalette::Window);
    return palette().color(QPalette::Base);
}

void TPopupWindow::DrawItem(QPainter& painter, int row, const QRect& rect, TOwnerDrawState state)
{
    TdxfCustomComboBox& owner = *owner_;
    const int w = rect.width(), h = rect.height();
    const int m = MRUCount();
    const int item = ItemOfRow(row);
    const bool lastMRU = row == m - 1;
    QImage& buffer = dxfres::RowBuffer(w, h);

    int imageIndex = owner.GetImageIndex(item);
    bool checked = owner.GetChecked(item);
    std::string text = owner.items_.Strings(item);
    QColor color = row < m ? owner.MRUListColor() : owner.Color();
    if (owner.ParentColor())
        color = OwnColor();
    if (state & odSelected)
        color = palette().color(QPalette::Active, QPalette::Highlight);
    const QColor textColor =
        (state & odSelected) ? palette().color(QPalette::Active, QPalette::HighlightedText) : textColor_;

    QPainter canvas(&buffer);
    canvas.setFont(font_);
    canvas.setPen(textColor);
    canvas.fillRect(0, 0, w, h, owner.Color());
    bool done = true;
    if (owner.OnDrawItem) {
        QFont font = font_;
        owner.OnDrawItem(owner.Self(), item, row < m, lastMRU, imageIndex, checked, state, text, canvas,
                         QRect(0, 0, w, h), color, font, done);
        canvas.setFont(font);
    }
    const int hh = lastMRU ? h - 3 : h;
    if (done) {
        canvas.fillRect(0, 0, w, h, owner.Color());
        canvas.fillRect(0, 0, w, hh, color);
        int x = 0;
        if (TdxfImageList* images = owner.images_) {
            x = images->Width();
            images->Draw(canvas, 1, (hh - images->Height()) / 2, imageIndex);
        }
        if (owner.showCheckBoxes_) {
            const int c = owner.checkBoxStyle_ == 0 ? dxfres::SystemCheckSize() : dxfres::CustomCheckSize();
            const int d = (hh - c) / 2;
            const TRect box{x + 3, d, x + 3 + c, hh - d};
            dxfres::DrawCheckBox(canvas, box.ToQRect(), owner.checkBoxStyle_, checked);
            owner.checkRects_->SetRect(row, box.Translated(rect.left(), rect.top()));
            x += c + 6;
        }
        const QString shown = ToDisplay(text);
        if (owner.multiLineText_) {
            dxfres::DrawMultiLineText(canvas, QRect(QPoint(x + 3, 2), QPoint(w - 3, hh - 3)), shown);
        } else {
            const int th = canvas.fontMetrics().height();
            canvas.drawText(QRect(x + 3, (hh - th) / 2, std::max(0, w - x - 3), th),
                            Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, shown);
        }
        if (lastMRU) {
            // The recently used rows end in a black double rule.
            canvas.fillRect(0, hh, w, 1, Qt::black);
            canvas.fillRect(0, hh + 2, w, 1, Qt::black);
        }
    }
    canvas.end();
    painter.drawImage(rect.topLeft(), buffer, QRect(0, 0, w, h));
}

void TPopupWindow::paintEvent(QPaintEvent* e)
{
    QPainter painter(this);
    PaintFrame(painter);
    // Only the rows in the parts asked for: a move of the current row repaints
    // its old and new rows, not all between them.
    if (owner_)
        for (const QRect& part : e->region()) {
            const QRect dirty = part.intersected(listRect_);
            if (dirty.isEmpty())
                continue;
            painter.save();
            painter.setClipRect(dirty);
            painter.translate(listRect_.topLeft());
            PaintRows(painter, dirty.translated(-listRect_.topLeft()));
            painter.restore();
        }
    painter.end();
    TryGrabPointer();
    emit painted();
}

void TPopupWindow::PaintRows(QPainter& painter, const QRect& area)
{
    const int n = RowCount();
    if (n == 0) {
        painter.fillRect(area, OwnColor());
        return;
    }
    const int top = TopRow();
    for (int row = std::max(top, RowAtInList(area.top() + RowTopInList(top))); row < n; ++row) {
        const QRect r = RowRect(row);
        if (r.top() > area.bottom())
            break;
        const TOwnerDrawState state = row == current_ ? (odSelected | odFocused) : 0;
        DrawItem(painter, row, r, state);
    }
    // Below the last row the control's own colour.
    const QRect last = RowRect(n - 1);
    const int below = last.top() + last.height();
    if (below < ListHeight())
        painter.fillRect(QRect(0, below, listRect_.width(), ListHeight() - below), owner_->Color());
}

void TPopupWindow::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    UpdateLayout();
    UpdateScrollRange();
}

void TPopupWindow::wheelEvent(QWheelEvent* e)
{
    QCoreApplication::sendEvent(vbar_, e);
}

void TPopupWindow::mousePressEvent(QMouseEvent* e)
{
    e->accept();
    if (e->button() != Qt::LeftButton)
        return;
    const QPoint pos = e->position().toPoint();
    HitTest(pos);
    if (!listRect_.contains(pos)) {
        BarPress(pos, e->globalPosition().toPoint());
        return;
    }
    // In the list a press chooses nothing yet: it makes the row under it current,
    // as hovering does.
    MouseMove(ToList(e->position()));
}

void TPopupWindow::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    if (resizing_) {
        ResizeTo(e->globalPosition().toPoint());
        return;
    }
    if (pressed_) {
        // Held down on the close button: it shows pushed only while over it.
        const bool over = closeRect_.Contains(pos);
        if (over != hover_) {
            hover_ = over;
            RepaintBar();
        }
        return;
    }
    if (e->buttons() == Qt::NoButton)
        HitTest(pos);
    if (!barPress_)
        MouseMove(ToList(e->position()));
}

void TPopupWindow::mouseReleaseEvent(QMouseEvent* e)
{
    // A press that began on the bar ends there: it never chooses a row.
    if (barPress_) {
        if (e->button() == Qt::LeftButton)
            BarRelease();
        return;
    }
    MouseUp(e->button(), ToList(e->position()));
}

bool TPopupWindow::event(QEvent* e)
{
    switch (e->type()) {
    case QEvent::Leave:
        if (hover_ && !pressed_) {
            hover_ = false;
            RepaintBar();
        }
        break;
    case QEvent::UngrabMouse:
    case QEvent::Hide:
        CaptureLost();
        break;
    default:
        break;
    }
    return QWidget::event(e);
}

void TPopupWindow::UpdateBarRects()
{
    const TRect bar = TRect::FromQRect(BarRect());
    closeRect_ = CloseButtonRect(bar, corner_);
    if (owner_ && owner_->ResizePopup()) {
        const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        gripRect_ = SizeGripRect(bar, corner_, extent, extent);
        gripHitRect_ = SizeGripHitRect(gripRect_, bar);
    } else {
        gripRect_ = gripHitRect_ = TRect{};
    }
}

void TPopupWindow::HitTest(const QPoint& pos)
{
    if (gripHitRect_.Contains(pos)) {
        sizing_ = true;
        const bool falling = corner_ == coTopLeft || corner_ == coBottomRight;
        setCursor(falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
        return;
    }
    sizing_ = false;
    unsetCursor();
    const bool over = closeRect_.Contains(pos);
    if (over != hover_) {
        hover_ = over;
        RepaintBar();
    }
}

void TPopupWindow::BarPress(const QPoint&, const QPoint& global)
{
    barPress_ = true;
    if (sizing_ && owner_ && owner_->ResizePopup()) {
        // The corner stays where it is until the drag is over.
        resizing_ = true;
        pressGlobal_ = global;
        startGeometry_ = TRect::FromQRect(geometry());
        return;
    }
    if (hover_) {
        pressed_ = true;
        RepaintBar();
    }
}

void TPopupWindow::BarRelease()
{
    barPress_ = false;
    if (resizing_) {
        resizing_ = false;
        return;
    }
    if (!pressed_)
        return;
    pressed_ = false;
    if (hover_ && owner_) {
        // Closed without a choice: the selection stays as it was.
        owner_->CloseUp();
        return;
    }
    RepaintBar();
}

void TPopupWindow::ResizeTo(const QPoint& global)
{
    if (!owner_)
        return;
    // The corner follows the pointer; the opposite corner stays put, and the size
    // never goes below the owner's minimum.
    const QPoint d = global - pressGlobal_;
    const int minW = owner_->MinPopupWidth(), minH = owner_->MinPopupHeight();
    TRect r = startGeometry_;
    if (IsRightCorner(corner_)) {
        r.Right = std::max(r.Right + d.x(), r.Left + minW);
    } else {
        r.Left = std::min(r.Left + d.x(), r.Right - minW);
    }
    if (IsTopCorner(corner_)) {
        r.Top = std::min(r.Top + d.y(), r.Bottom - minH);
    } else {
        r.Bottom = std::max(r.Bottom + d.y(), r.Top + minH);
    }
    if (r.ToQRect() != geometry())
        setGeometry(r.ToQRect());
}

void TPopupWindow::CaptureLost()
{
    if (!pressed_ && !resizing_ && !barPress_)
        return;
    pressed_ = false;
    hover_ = false;
    resizing_ = false;
    barPress_ = false;
    RepaintBar();
}

void TPopupWindow::MouseMove(const QPoint& pos)
{
    if (!owner_ || !QRect(QPoint(0, 0), listRect_.size()).contains(pos))
        return;
    // Only rows wholly in view follow the pointer, so hovering never scrolls.
    const int row = RowAt(pos);
    if (row >= 0 && RowWhollyVisible(row))
        SetCurrentRow(row);
}

void TPopupWindow::MouseUp(Qt::MouseButton button, const QPoint& pos)
{
    draggingFromOwner_ = false;
    if (!owner_)
        return;
    TdxfCustomComboBox* owner = owner_;
    owner->buttonDown_ = false;
    owner->update(owner->ToWidget(owner->ButtonRect()));
    if (button != Qt::LeftButton || !QRect(QPoint(0, 0), listRect_.size()).contains(pos))
        return;
    const int row = RowAt(pos);
    if (row < 0)
        return;
    if (owner->showCheckBoxes_ && owner->checkRects_->GetRect(row).Contains(pos)) {
        // The check changes; the list stays open and the choice stays as it was.
        owner->ToggleRowCheck(row);
        return;
    }
    owner->SetItemIndex(ItemOfRow(row));
    owner->CloseUp();
}

void TPopupWindow::DragFromOwner(const QPoint& globalPos)
{
    draggingFromOwner_ = true;
    MouseMove(mapFromGlobal(globalPos) - listRect_.topLeft());
}

void TPopupWindow::ReleaseFromOwner(const QPoint& globalPos)
{
    MouseUp(Qt::LeftButton, mapFromGlobal(globalPos) - listRect_.topLeft());
}

void TPopupWindow::KeyDown(int& key, Qt::KeyboardModifiers)
{
    if (!owner_)
        return;
    const int n = RowCount();
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        key = 0;
        TdxfCustomComboBox* owner = owner_;
        owner->SetItemIndex(ItemOfRow(current_));
        owner->CloseUp();
        return;
    }
    case Qt::Key_Escape:
        key = 0;
        owner_->CloseUp();
        return;
    case Qt::Key_Up:
        SetCurrentRow(current_ < 0 ? 0 : std::max(0, current_ - 1));
        break;
    case Qt::Key_Down:
        SetCurrentRow(current_ < 0 ? 0 : std::min(n - 1, current_ + 1));
        break;
    case Qt::Key_PageUp: {
        const int page = std::max(1, WhollyVisibleRowsFrom(TopRow()) - 1);
        SetCurrentRow(current_ < 0 ? 0 : std::max(0, current_ - page));
        break;
    }
    case Qt::Key_PageDown: {
        const int page = std::max(1, WhollyVisibleRowsFrom(TopRow()) - 1);
        SetCurrentRow(current_ < 0 ? 0 : std::min(n - 1, current_ + page));
        break;
    }
    case Qt::Key_Home:
        SetCurrentRow(0);
        break;
    case Qt::Key_End:
        SetCurrentRow(n - 1);
        break;
    default:
        return;
    }
    key = 0;
}

void TPopupWindow::UpdateLayout()
{
    const bool top = IsTopCorner(corner_);
    QRect inside = rect().adjusted(1, 1 + (top ? kBarSpace : 0), -1, -1 - (top ? 0 : kBarSpace));
    if (vbar_->isVisibleTo(this)) {
        const int w = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, vbar_);
        vbar_->setGeometry(inside.right() + 1 - w, inside.top(), w, std::max(0, inside.height()));
        inside.setRight(inside.right() - w);
    }
    if (inside != listRect_) {
        listRect_ = inside;
        update();
    }
    UpdateBarRects();
}

QRect TPopupWindow::BarRect() const
{
    const QRect inside = rect().adjusted(1, 1, -1, -1);
    if (IsTopCorner(corner_))
        return QRect(inside.left(), inside.top(), inside.width(), kBarHeight);
    return QRect(inside.left(), inside.bottom() + 1 - kBarHeight, inside.width(), kBarHeight);
}

void TPopupWindow::PaintFrame(QPainter& painter)
{
    const QColor frame = palette().color(QPalette::Shadow);
    painter.setPen(frame);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    const QRect bar = BarRect();
    const int line = IsTopCorner(corner_) ? bar.bottom() + 1 : bar.top() - 1;
    painter.fillRect(QRect(bar.left(), line, bar.width(), 1), frame);
    painter.fillRect(bar, palette().color(QPalette::Button));
    if (owner_ && owner_->ResizePopup()) {
        TRect grip = TRect::FromQRect(bar);
        DrawSizeGrip(painter, grip, corner_, style(), palette());
    }
    TRect close = TRect::FromQRect(bar);
    DrawCloseButton(painter, close, hover_ || pressed_, hover_ && pressed_, corner_, palette());
}

} // namespace kino
