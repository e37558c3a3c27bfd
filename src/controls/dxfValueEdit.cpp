#include "controls/dxfValueEdit.h"

#include <QDrag>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QMimeData>
#include <QMouseEvent>
#include <QStyleHints>
#include <QValidator>

#include "controls/dxfComboBox.h"
#include "controls/dxfPopupWindow.h"
#include "platform/Text.h"

namespace kino {

void TdxfRectsList::SetRect(int index, const TRect& r)
{
    if (index < 0)
        return;
    if (std::size_t(index) >= rects_.size())
        rects_.resize(std::size_t(index) + 1, r);
    rects_[std::size_t(index)] = r;
}

TRect TdxfRectsList::GetRect(int index) const
{
    if (index < 0 || std::size_t(index) >= rects_.size())
        return TRect{};
    return rects_[std::size_t(index)];
}

void TdxfRectsList::Clear()
{
    rects_.clear();
    rects_.shrink_to_fit();
}

namespace {

// Typing stops at the limit; texts the control sets are never cut.
class LengthLimit : public QValidator {
public:
    using QValidator::QValidator;
    int limit = 0;
    State validate(QString& input, int&) const override
    {
        return limit > 0 && input.size() > limit ? Invalid : Acceptable;
    }
};

bool IsEnter(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

TValueEdit::TValueEdit(TdxfCustomComboBox* owner) : QLineEdit(owner), OwnerCombo(owner)
{
    setFrame(false);
    move(2, 2);
    setValidator(new LengthLimit(this));
    setContextMenuPolicy(Qt::NoContextMenu);
    connect(this, &QLineEdit::textEdited, this, [this] { UserEdited(); });
}

void TValueEdit::SetRawText(const std::string& text)
{
    if (text == raw_)
        return;
    raw_ = text;
    settingText_ = true;
    setText(ToDisplay(raw_));
    settingText_ = false;
    AChange();
}

void TValueEdit::UserEdited()
{
    if (settingText_)
        return;
    raw_ = FromDisplay(text());
    AChange();
}

void TValueEdit::AChange()
{
    OwnerCombo->RaiseChange();
}

void TValueEdit::SetUpdateState(bool updating)
{
    setUpdatesEnabled(!updating);
    if (!updating)
        repaint();
}

void TValueEdit::SetLimit(int length)
{
    static_cast<LengthLimit*>(const_cast<QValidator*>(validator()))->limit = length;
}

bool TValueEdit::event(QEvent* e)
{
    // In list style the field is invisible and shows nothing to copy or edit: the
    // window's own shortcuts (copying the frame with Ctrl+C, say) go first.
    if (e->type() == QEvent::ShortcutOverride && OwnerCombo->Style() == dcsDropDownList) {
        e->ignore();
        return false;
    }
    return QLineEdit::event(e);
}

void TValueEdit::keyPressEvent(QKeyEvent* e)
{
    int key = e->key();
    OwnerCombo->KeyDown(key, e->modifiers());
    if (key == 0) {
        e->accept();
        return;
    }
    // Never to the line edit, where they would beep or move the caret; unused by the
    // control they pass on to its parents.
    if (IsEnter(key) || key == Qt::Key_Escape || key == Qt::Key_Up || key == Qt::Key_Down) {
        e->ignore();
        return;
    }
    const QString typed = e->text();
    if (!typed.isEmpty()) {
        QString chars = typed;
        OwnerCombo->KeyPress(chars);
        chars.remove(QLatin1Char('\r'));
        chars.remove(QChar(0x1b));
        if (chars.isEmpty()) {
            e->accept();
            return;
        }
        if (chars != typed) {
            QKeyEvent changed(e->type(), e->key(), e->modifiers(), chars, e->isAutoRepeat(), ushort(e->count()));
            QLineEdit::keyPressEvent(&changed);
            e->setAccepted(changed.isAccepted());
            return;
        }
    }
    QLineEdit::keyPressEvent(e);
}

void TValueEdit::keyReleaseEvent(QKeyEvent* e)
{
    QLineEdit::keyReleaseEvent(e);
    // A held key repeats its press; only its last release is the key's release.
    if (e->isAutoRepeat())
        return;
    int key = e->key();
    OwnerCombo->KeyUp(key, e->modifiers());
    KeyUp(key, e->modifiers(), e->text());
}

void TValueEdit::KeyUp(int key, Qt::KeyboardModifiers, const QString& typed)
{
    TdxfCustomComboBox& combo = *OwnerCombo;
    if (IsEnter(key) && !combo.DroppedDown() && hasSelectedText())
        setCursorPosition(selectionStart());

    // First-letter selection by the character the key typed; keys that type nothing
    // (arrows, function keys, modifiers) or a control character select nothing.
    if (combo.Style() == dcsDropDownList && typed.size() > 0 && typed.at(0).isPrint()) {
        const int i = PrefixSearch(typed);
        if (i >= 0) {
            if (combo.DroppedDown())
                PointPopupAt(i);
            else
                combo.SetItemIndex(i);
        }
    }

    if (combo.Style() == dcsDropDown && raw_ != SavedText) {
        std::string t = combo.Text();
        if (!combo.AutoSearch()) {
            const int i = ExactSearch(t);
            combo.itemIndex_ = i;
            combo.items_.SetTrackedIndex(i);
            combo.currentImage_ = combo.GetImageIndex(i);
            combo.InvalidateImage();
        } else {
            // Backspace has just removed the completed tail; it takes back the last
            // typed character too, a whole character however many bytes it has.
            if (key == Qt::Key_Backspace && LastSelLength > 0 && !t.empty()) {
                QString shown = ToDisplay(t);
                int cut = 1;
                if (shown.size() >= 2 && shown.at(shown.size() - 1).isLowSurrogate() &&
                    shown.at(shown.size() - 2).isHighSurrogate())
                    cut = 2;
                shown.chop(cut);
                t = FromDisplay(shown);
                combo.SetText(t);
            }
            int i = t.empty() ? -1 : PrefixSearch(ToDisplay(t));
            if (key == Qt::Key_Delete)
                i = ExactSearch(t);
            if (i == -1) {
                combo.itemIndex_ = -1;
                combo.items_.SetTrackedIndex(-1);
                combo.currentImage_ = -1;
                combo.InvalidateImage();
            } else if (combo.DroppedDown()) {
                PointPopupAt(i);
            } else {
                // The item's whole text, its tail after the typed part selected so
                // that the next character typed replaces it.
                SetUpdateState(true);
                combo.SetItemIndex(i);
                const int full = text().size();
                const int typedLength = std::min(int(ToDisplay(t).size()), full);
                setSelection(full, typedLength - full);
                SetUpdateState(false);
            }
        }
    }

    SavedText = raw_;
    LastSelLength = int(selectedText().size());
}

int TValueEdit::PrefixSearch(const QString& prefix) const
{
    const TdxfItems& items = OwnerCombo->items_;
    const QLocale locale;
    const QString wanted = locale.toUpper(prefix);
    bool ascii = true;
    for (QChar c : wanted)
        ascii = ascii && c.unicode() < 0x80;
    const int n = int(wanted.size());
    for (int i = 0; i < items.Count(); ++i) {
        const std::string& s = items.Strings(i);
        // Most names begin with ASCII: compared byte by byte without decoding.
        bool plain = ascii && int(s.size()) >= n;
        for (int k = 0; plain && k < n; ++k)
            plain = static_cast<unsigned char>(s[std::size_t(k)]) < 0x80;
        if (plain) {
            bool same = true;
            for (int k = 0; same && k < n; ++k) {
                char c = s[std::size_t(k)];
                if (c >= 'a' && c <= 'z')
                    c = char(c - 'a' + 'A');
                same = c == char(wanted.at(k).unicode());
            }
            if (same)
                return i;
            continue;
        }
        const QString shown = ToDisplay(s);
        if (shown.size() >= n && locale.toUpper(shown.left(n)) == wanted)
            return i;
    }
    return -1;
}

int TValueEdit::ExactSearch(const std::string& text) const
{
    const TdxfItems& items = OwnerCombo->items_;
    for (int i = 0; i < items.Count(); ++i)
        if (items.Strings(i) == text)
            return i;
    return -1;
}

void TValueEdit::PointPopupAt(int item)
{
    if (TPopupWindow* popup = OwnerCombo->Popup())
        popup->SetCurrentRow(item + popup->MRUCount());
}

QPoint TValueEdit::ToOwner(const QPoint& p) const
{
    return OwnerCombo->mapFromGlobal(mapToGlobal(p));
}

void TValueEdit::mousePressEvent(QMouseEvent* e)
{
    pressed_ = e->button() == Qt::LeftButton;
    pressAt_ = e->position().toPoint();
    QLineEdit::mousePressEvent(e);
}

void TValueEdit::mouseMoveEvent(QMouseEvent* e)
{
    if (automaticDrag_ && pressed_ && (e->buttons() & Qt::LeftButton) &&
        (e->position().toPoint() - pressAt_).manhattanLength() >= QGuiApplication::styleHints()->startDragDistance()) {
        pressed_ = false;
        StartAutomaticDrag(pressAt_);
        return;
    }
    QLineEdit::mouseMoveEvent(e);
}

void TValueEdit::StartAutomaticDrag(const QPoint&)
{
    TdxfComboBox* combo = OwnerCombo->Self();
    QObject* dragObject = nullptr;
    if (OwnerCombo->OnStartDrag)
        OwnerCombo->OnStartDrag(combo, dragObject);
    auto* drag = new QDrag(this);
    auto* mime = new QMimeData;
    mime->setText(text());
    drag->setMimeData(mime);
    drag->exec(Qt::CopyAction);
    QObject* target = drag->target();
    const QPoint at = OwnerCombo->mapFromGlobal(QCursor::pos());
    if (OwnerCombo->OnEndDrag)
        OwnerCombo->OnEndDrag(combo, target, at.x(), at.y());
}

void TValueEdit::mouseReleaseEvent(QMouseEvent* e)
{
    pressed_ = false;
    QLineEdit::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && OwnerCombo->OnClick)
        OwnerCombo->OnClick(OwnerCombo->Self());
}

void TValueEdit::mouseDoubleClickEvent(QMouseEvent* e)
{
    QLineEdit::mouseDoubleClickEvent(e);
    if (OwnerCombo->OnDblClick)
        OwnerCombo->OnDblClick(OwnerCombo->Self());
}

void TValueEdit::focusOutEvent(QFocusEvent* e)
{
    QLineEdit::focusOutEvent(e);
    // The focus has gone elsewhere: the list closes and leaves it there.
    if (OwnerCombo->DroppedDown())
        OwnerCombo->CloseUpLeavingFocus();
}

void TValueEdit::dragEnterEvent(QDragEnterEvent* e)
{
    if (!OwnerCombo->OnDragOver) {
        QLineEdit::dragEnterEvent(e);
        return;
    }
    dragMoveEvent(e);
}

void TValueEdit::dragMoveEvent(QDragMoveEvent* e)
{
    if (!OwnerCombo->OnDragOver) {
        QLineEdit::dragMoveEvent(e);
        return;
    }
    const QPoint at = ToOwner(e->position().toPoint());
    bool accept = false;
    OwnerCombo->OnDragOver(OwnerCombo->Self(), OwnerCombo, at.x(), at.y(), accept);
    if (accept)
        e->acceptProposedAction();
    else
        e->ignore();
}

void TValueEdit::dropEvent(QDropEvent* e)
{
    if (!OwnerCombo->OnDragDrop) {
        QLineEdit::dropEvent(e);
        return;
    }
    const QPoint at = ToOwner(e->position().toPoint());
    OwnerCombo->OnDragDrop(OwnerCombo->Self(), OwnerCombo, at.x(), at.y());
    e->acceptProposedAction();
}

} // namespace kino
