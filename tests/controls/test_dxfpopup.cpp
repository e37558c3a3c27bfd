// The drop-down's popup under a real X server, driven by mouse input through the
// windows as the system delivers it: a press outside closes it and does nothing
// else, a row click chooses, a check-box click keeps it open, a drag from the face
// selects, losing the focus closes it.
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "controls/dxfComboBox.h"
#include "controls/dxfPopupWindow.h"
#include "controls/dxfRes.h"
#include "controls/dxfValueEdit.h"

using kino::TdxfComboBox;
using kino::TPopupWindow;

namespace {

// Mouse input through a widget's window, where the system delivers it.
QWindow* WindowOf(QWidget* w)
{
    return w->window()->windowHandle();
}

void Press(QWidget* w, const QPoint& at)
{
    QTest::mousePress(WindowOf(w), Qt::LeftButton, {}, w->mapTo(w->window(), at));
}

void Release(QWidget* w, const QPoint& at)
{
    QTest::mouseRelease(WindowOf(w), Qt::LeftButton, {}, w->mapTo(w->window(), at));
}

void Move(QWidget* w, const QPoint& at)
{
    QTest::mouseMove(WindowOf(w), w->mapTo(w->window(), at));
}

// The middle of a popup row, in the popup's coordinates (above the double rule
// that ends the recently used rows).
QPoint RowPoint(TPopupWindow* popup, int row, int x = -1)
{
    const QRect r = popup->RowRect(row).translated(popup->ListRect().topLeft());
    const int h = r.height() - (row == popup->MRUCount() - 1 ? 3 : 0);
    return QPoint(x < 0 ? r.center().x() : popup->ListRect().left() + x, r.top() + h / 2);
}

} // namespace

class TestDxfPopup : public QObject {
    Q_OBJECT

    QWidget* form = nullptr;
    TdxfComboBox* combo = nullptr;
    QPushButton* button = nullptr;
    QLineEdit* field = nullptr;
    QWidget* other = nullptr;

    bool Open()
    {
        Press(combo, QPoint(20, 10));
        Release(combo, QPoint(20, 10));
        return combo->DroppedDown() && QTest::qWaitForWindowExposed(combo->Popup());
    }

private slots:
    void init()
    {
        form = new QWidget;
        form->setGeometry(100, 100, 400, 300);
        combo = new TdxfComboBox(form);
        combo->SetStyle(kino::dcsDropDownList);
        combo->setGeometry(10, 10, 300, 20);
        for (int i = 0; i < 20; ++i)
            combo->Items().Add("entry " + std::to_string(i));
        combo->SetPopupWidth(300);
        combo->SetPopupHeight(150);
        combo->Loaded();
        combo->SetItemIndex(1);
        button = new QPushButton(QStringLiteral("button"), form);
        button->setGeometry(10, 250, 100, 30);
        field = new QLineEdit(form);
        field->setGeometry(200, 250, 100, 30);
        other = new QWidget;
        other->setGeometry(700, 100, 200, 200);
        other->show();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(other));
        QVERIFY(QTest::qWaitForWindowExposed(form));
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form));
        combo->setFocus();
        QTRY_VERIFY(combo->Edit()->hasFocus());
    }
    void cleanup()
    {
        delete form;
        delete other;
        QCOMPARE(TPopupWindow::Current(), nullptr);
    }

    void pressOutsideClosesAndDoesNothingElse_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("another control") << QStringLiteral("button");
        QTest::newRow("the control itself") << QStringLiteral("combo");
        QTest::newRow("another of our windows") << QStringLiteral("other");
        QTest::newRow("elsewhere on the screen, through the pointer grab") << QStringLiteral("screen");
    }
    void pressOutsideClosesAndDoesNothingElse()
    {
        QFETCH(QString, where);
        QVERIFY(Open());
        QSignalSpy clicked(button, &QPushButton::clicked);
        QSignalSpy changed(combo, &kino::TdxfCustomComboBox::changed);
        QWidget* target = where == "button"  ? static_cast<QWidget*>(button)
                          : where == "combo" ? static_cast<QWidget*>(combo)
                          : where == "other" ? other
                                             : combo->Popup();
        const QPoint at = where == "screen" ? QPoint(-40, -40) : QPoint(15, 10);
        Press(target, at);
        QVERIFY(!combo->DroppedDown());
        QCOMPARE(TPopupWindow::Current(), nullptr);
        if (where != "screen")
            Release(target, at);
        QVERIFY(!combo->DroppedDown());
        QVERIFY(!button->isDown());
        QCOMPARE(clicked.size(), 0);
        QCOMPARE(changed.size(), 0);
        QCOMPARE(combo->ItemIndex(), 1);
        QCOMPARE(QApplication::focusWidget(), combo->Edit());
    }

    // Hovering makes wholly visible rows current without scrolling; a release on a
    // row chooses it and closes the list.
    void rowClickChooses()
    {
        QVERIFY(Open());
        TPopupWindow* popup = combo->Popup();
        QCOMPARE(popup->CurrentRow(), 1);
        Move(popup, RowPoint(popup, 4));
        QTRY_COMPARE(popup->CurrentRow(), 4);
        int cut = 0;
        while (popup->RowWhollyVisible(cut))
            ++cut;
        QVERIFY(cut < popup->RowCount());
        Move(popup, QPoint(30, popup->ListRect().bottom() - 1));
        QCOMPARE(popup->CurrentRow(), 4);
        QCOMPARE(popup->TopRow(), 0);
        QSignalSpy changed(combo, &kino::TdxfCustomComboBox::changed);
        Press(popup, RowPoint(popup, 3));
        Release(popup, RowPoint(popup, 3));
        QVERIFY(!combo->DroppedDown());
        QCOMPARE(combo->ItemIndex(), 3);
        QCOMPARE(combo->Text(), std::string("entry 3"));
        QCOMPARE(changed.size(), 1);
        QTRY_COMPARE(TPopupWindow::Current(), nullptr);
    }

    void dragFromTheFaceSelects()
    {
        Press(combo, QPoint(20, 10));
        QVERIFY(combo->DroppedDown());
        TPopupWindow* popup = combo->Popup();
        QVERIFY(QTest::qWaitForWindowExposed(popup));
        const QPoint onRow = combo->mapFromGlobal(popup->mapToGlobal(RowPoint(popup, 5)));
        Move(combo, onRow - QPoint(0, 20));
        Move(combo, onRow);
        QCOMPARE(popup->CurrentRow(), 5);
        Release(combo, onRow);
        QVERIFY(!combo->DroppedDown());
        QCOMPARE(combo->ItemIndex(), 5);
    }

    // A click on a row's check box changes the item's check, shown in both of its
    // rows (recently used and full list), and the list stays open, the choice kept.
    void checkBoxClickKeepsTheListOpen()
    {
        combo->SetShowCheckBoxes(true);
        combo->SetMRUListCount(2);
        combo->InsertInMRUList(4);
        QVERIFY(Open());
        TPopupWindow* popup = combo->Popup();
        QCOMPARE(popup->ItemOfRow(0), 4);
        const int fullRow = popup->MRUCount() + 4;
        QVERIFY(popup->RowWhollyVisible(fullRow));
        QTRY_VERIFY(!popup->grab().isNull());
        const int boxX = 3 + kino::dxfres::SystemCheckSize() / 2;
        auto cell = [&](int row) {
            const QPoint c = RowPoint(popup, row, boxX);
            return popup->grab(QRect(c - QPoint(3, 3), QSize(7, 7))).toImage();
        };
        const QImage before = cell(fullRow);
        QCOMPARE(cell(0), before);
        Press(popup, RowPoint(popup, 0, boxX));
        Release(popup, RowPoint(popup, 0, boxX));
        QVERIFY(combo->DroppedDown());
        QVERIFY(combo->GetChecked(4));
        QCOMPARE(combo->ItemIndex(), 1);
        QTRY_VERIFY(cell(fullRow) != before);
        QCOMPARE(cell(0), cell(fullRow));
    }

    // Dragging the grip in the bottom-right corner resizes the popup from there; the
    // top-left corner stays, the size stops at the minimum, and the next drop-down
    // opens at the size reached.
    void gripDragResizes_data()
    {
        QTest::addColumn<QPoint>("drag");
        QTest::addColumn<QSize>("size");
        QTest::newRow("grows") << QPoint(60, 40) << QSize(360, 190);
        QTest::newRow("shrinks") << QPoint(-80, -50) << QSize(220, 100);
        QTest::newRow("stops at the minimum") << QPoint(-400, -400) << QSize(120, 80);
        QTest::newRow("narrower only") << QPoint(-250, 20) << QSize(120, 170);
    }
    void gripDragResizes()
    {
        QFETCH(QPoint, drag);
        QFETCH(QSize, size);
        combo->SetMinPopupWidth(120);
        combo->SetMinPopupHeight(80);
        QVERIFY(Open());
        TPopupWindow* popup = combo->Popup();
        QCOMPARE(int(popup->Corner()), int(kino::coBottomRight));
        QCOMPARE(popup->size(), QSize(300, 150));
        const QPoint topLeft = popup->geometry().topLeft();
        const QPoint grip = popup->GripRect().ToQRect().center();
        Move(popup, grip);
        Press(popup, grip);
        Move(popup, grip + drag / 2);
        Move(popup, grip + drag);
        Release(popup, grip + drag);
        QVERIFY(combo->DroppedDown());
        QCOMPARE(popup->size(), size);
        QCOMPARE(popup->geometry().topLeft(), topLeft);
        QCOMPARE(combo->ItemIndex(), 1);
        combo->CloseUp();
        QCOMPARE(QSize(combo->PopupWidth(), combo->PopupHeight()), size);
        QVERIFY(Open());
        QCOMPARE(combo->Popup()->size(), size);
        QCOMPARE(combo->Popup()->geometry().topLeft(), topLeft);
    }

    // Press on the close button, then release on it: the list closes, nothing
    // chosen. Released elsewhere: the list stays open.
    void closeButton_data()
    {
        QTest::addColumn<bool>("releaseOnIt");
        QTest::newRow("released on it") << true;
        QTest::newRow("released elsewhere") << false;
    }
    void closeButton()
    {
        QFETCH(bool, releaseOnIt);
        QVERIFY(Open());
        TPopupWindow* popup = combo->Popup();
        QSignalSpy changed(combo, &kino::TdxfCustomComboBox::changed);
        const QPoint button = popup->CloseRect().ToQRect().center();
        const QPoint away(popup->BarRect().center().x(), button.y());
        Move(popup, button);
        QVERIFY(popup->CloseHot());
        Press(popup, button);
        QVERIFY(popup->ClosePushed());
        const QPoint at = releaseOnIt ? button : away;
        Move(popup, at);
        QCOMPARE(popup->CloseHot(), releaseOnIt);
        Release(popup, at);
        QCOMPARE(combo->DroppedDown(), !releaseOnIt);
        QCOMPARE(combo->ItemIndex(), 1);
        QCOMPARE(changed.size(), 0);
        if (!releaseOnIt)
            QVERIFY(!popup->ClosePushed());
    }

    // Without ResizePopup the bar has no grip, only the close button, and a drag
    // where the grip would be does not resize.
    void noGripWithoutResizePopup()
    {
        combo->SetResizePopup(false);
        QVERIFY(Open());
        TPopupWindow* popup = combo->Popup();
        QVERIFY(popup->GripRect().IsEmpty());
        const QRect bar = popup->BarRect();
        const QRect corner(bar.right() - 20, bar.top(), 20, bar.height());
        const QImage image = popup->grab(corner).toImage();
        const QColor face = popup->palette().color(QPalette::Button);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                QCOMPARE(image.pixelColor(x, y), face);
        const QPoint where = corner.center();
        Press(popup, where);
        Move(popup, where + QPoint(40, 40));
        Release(popup, where + QPoint(40, 40));
        QVERIFY(combo->DroppedDown());
        QCOMPARE(popup->size(), QSize(300, 150));
    }

    // Sized short, then large, by the grip while the player moves on: a click chooses what is painted.
    void resizedListShowsWhatAClickChooses_data()
    {
        QTest::addColumn<bool>("above"); // the bar on top, the list growing upward
        QTest::newRow("below the control") << false;
        QTest::newRow("above the control") << true;
    }
    void resizedListShowsWhatAClickChooses()
    {
        QFETCH(bool, above);
        combo->SetMinPopupHeight(10);
        combo->SetMRUListCount(3);
        combo->InsertInMRUList(4);
        form->move(100, above ? form->screen()->geometry().bottom() - 60 : 100);
        QVERIFY(Open());
        TPopupWindow* popup = combo->Popup();
        QCOMPARE(kino::IsTopCorner(popup->Corner()), above);
        for (const QPoint& by : {QPoint(200, above ? 122 : -122), QPoint(100, above ? -222 : 222)}) {
            QTRY_COMPARE(popup->windowHandle()->geometry(), popup->geometry());
            const QPoint grip = popup->mapToGlobal(popup->GripRect().ToQRect().center());
            // Move, press, move, move, release, the pointer still on the screen as the list moves.
            for (int step = 0; step < 5; ++step) {
                const QPoint at = popup->windowHandle()->mapFromGlobal(grip + by * std::clamp(step - 1, 0, 2) / 2);
                step == 1 ? Press(popup, at) : step == 4 ? Release(popup, at) : Move(popup, at);
            }
            combo->SetItemIndex(combo->ItemIndex() + 1); // the next entry plays
        }
        QCOMPARE(popup->ItemOfRow(popup->CurrentRow()), combo->ItemIndex());
        const QPoint pointer = RowPoint(popup, popup->TopRow() + 3);
        Move(popup, pointer);
        QTRY_COMPARE(popup->screen()->grabWindow(popup->winId()).toImage(), popup->grab().toImage());
        const int item = popup->ItemOfRow(popup->RowAt(pointer - popup->ListRect().topLeft()));
        QTest::mouseClick(popup->windowHandle(), Qt::LeftButton, {}, pointer);
        QCOMPARE(combo->ItemIndex(), item);
    }

    void focusLossCloses_data()
    {
        QTest::addColumn<bool>("otherWindow");
        QTest::newRow("another control of the window") << false;
        QTest::newRow("another window") << true;
    }
    void focusLossCloses()
    {
        QFETCH(bool, otherWindow);
        QVERIFY(Open());
        if (otherWindow) {
            other->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(other));
        } else {
            field->setFocus();
        }
        QTRY_VERIFY(!combo->DroppedDown());
        // The focus stays where it went.
        if (!otherWindow)
            QTRY_VERIFY(field->hasFocus());
        QCOMPARE(combo->ItemIndex(), 1);
    }
};

QTEST_MAIN(TestDxfPopup)
#include "test_dxfpopup.moc"
