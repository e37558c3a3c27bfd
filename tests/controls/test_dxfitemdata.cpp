// What the drop-down keeps beside each item's text: the packed image index and
// check state, the recently used list and the popup rows it gives, the check-box
// rectangles the popup records, and the three stored lists.
#include <QtTest>

#include "controls/dxfComboBox.h"
#include "controls/dxfPopupWindow.h"
#include "controls/dxfRes.h"
#include "controls/dxfValueEdit.h"

using kino::TdxfComboBox;
using kino::TRect;

Q_DECLARE_METATYPE(TRect)

namespace {

void Fill(TdxfComboBox& combo, int count)
{
    for (int i = 0; i < count; ++i)
        combo.Items().Add(std::string(1, char('a' + i)) + ".avi");
}

QList<int> ToList(const std::vector<int>& v)
{
    return QList<int>(v.begin(), v.end());
}

} // namespace

class TestDxfItemData : public QObject {
    Q_OBJECT
private slots:
    // The slot holds (image index + 1) * 2 + checked.
    void packing_data()
    {
        QTest::addColumn<qint64>("slot");
        QTest::addColumn<QByteArray>("change");
        QTest::addColumn<qint64>("stored");
        QTest::addColumn<int>("image");
        QTest::addColumn<bool>("checked");
        QTest::newRow("added without object") << 0LL << QByteArray() << 0LL << -1 << false;
        QTest::newRow("image 3, checked") << 9LL << QByteArray() << 9LL << 3 << true;
        QTest::newRow("unchecked keeps the image") << 9LL << QByteArray("check 0") << 8LL << 3 << false;
        QTest::newRow("no image keeps the check") << 9LL << QByteArray("image -1") << 1LL << -1 << true;
        QTest::newRow("image -1, unchecked") << 8LL << QByteArray("image -1") << 0LL << -1 << false;
        QTest::newRow("checked from nothing") << 0LL << QByteArray("check 1") << 1LL << -1 << true;
        QTest::newRow("negative slot") << qint64(0xFFFFFFFDLL) << QByteArray() << qint64(0xFFFFFFFDLL) << -2 << false;
        QTest::newRow("outside the items: no change") << 9LL << QByteArray("outside") << 9LL << 3 << true;
    }
    void packing()
    {
        QFETCH(qint64, slot);
        QFETCH(QByteArray, change);
        QFETCH(qint64, stored);
        QFETCH(int, image);
        QFETCH(bool, checked);
        TdxfComboBox combo;
        combo.Items().AddObject("a", std::uintptr_t(slot));
        if (change.startsWith("check"))
            combo.SetChecked(0, change.endsWith('1'));
        else if (change.startsWith("image"))
            combo.SetImageIndex(0, change.mid(6).toInt());
        else if (change == "outside") {
            combo.SetChecked(1, false);
            combo.SetImageIndex(-1, 5);
            QCOMPARE(combo.GetImageIndex(1), -1);
            QCOMPARE(combo.GetChecked(-1), false);
        }
        QCOMPARE(qint64(combo.Items().Objects(0)), stored);
        QCOMPARE(combo.GetImageIndex(0), image);
        QCOMPARE(combo.GetChecked(0), checked);
    }

    // Actions: "choose N" (a choice from the open list), "insert N"
    // (InsertInMRUList), "clear", "delete N" (an item), "drop" (open and close).
    // `rows` are the items of the first popup rows at the next drop-down, `current`
    // its current row.
    void recentlyUsed_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QByteArray>("actions");
        QTest::addColumn<QList<int>>("mru");
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<int>("current");
        using L = QList<int>;
        QTest::newRow("choices, latest first")
            << 3 << QByteArray("choose 5|choose 7|choose 5|choose 9") << L{9, 5, 7} << L{9, 5, 7, 0, 1} << 0;
        QTest::newRow("a choice may pass the limit until the next drop-down")
            << 1 << QByteArray("choose 1|choose 2") << L{2, 1} << L{2, 0} << 0;
        QTest::newRow("no recently used rows with limit 0")
            << 0 << QByteArray("choose 1|choose 2") << L{2} << L{0, 1, 2} << 2;
        QTest::newRow("insert cuts to the limit")
            << 2 << QByteArray("insert 1|insert 2|insert 3") << L{3, 2} << L{3, 2, 0} << -1;
        QTest::newRow("insert the item count: nothing") << 2 << QByteArray("insert 10") << L{} << L{0} << -1;
        QTest::newRow("insert moves a held entry to the front")
            << 3 << QByteArray("insert 1|insert 2|insert 1") << L{1, 2} << L{1, 2, 0} << -1;
        QTest::newRow("clear") << 3 << QByteArray("insert 1|clear") << L{} << L{0} << -1;
        QTest::newRow("selected item held: its first recently used row")
            << 3 << QByteArray("insert 4|choose 4|insert 5") << L{5, 4} << L{5, 4, 0} << 1;
        QTest::newRow("selected item not held: its full-list row")
            << 2 << QByteArray("choose 4|insert 1|insert 2") << L{2, 1} << L{2, 1, 0} << 6;
        QTest::newRow("entries whose items moved are dropped")
            << 3 << QByteArray("choose 1|choose 2|delete 0") << L{2, 1} << L{0, 1} << 1;
        QTest::newRow("entries past the end are dropped")
            << 3 << QByteArray("choose 8|choose 9|delete 9") << L{9, 8} << L{8, 0} << -1;
    }
    void recentlyUsed()
    {
        QFETCH(int, limit);
        QFETCH(QByteArray, actions);
        QFETCH(QList<int>, mru);
        QFETCH(QList<int>, rows);
        QFETCH(int, current);
        TdxfComboBox combo;
        Fill(combo, 10);
        combo.Loaded();
        combo.SetMRUListCount(limit);
        for (const QByteArray& action : actions.split('|')) {
            const QList<QByteArray> words = action.split(' ');
            const int n = words.size() > 1 ? words[1].toInt() : 0;
            if (words[0] == "choose") {
                combo.DropDown();
                combo.SetItemIndex(n);
                combo.CloseUp();
            } else if (words[0] == "insert") {
                combo.InsertInMRUList(n);
            } else if (words[0] == "clear") {
                combo.ClearMRUList();
            } else if (words[0] == "delete") {
                combo.Items().Delete(n);
            }
        }
        QCOMPARE(ToList(combo.MRUList()), mru);
        combo.DropDown();
        kino::TPopupWindow* popup = combo.Popup();
        QVERIFY(popup);
        QList<int> shown;
        for (int r = 0; r < rows.size(); ++r)
            shown << popup->ItemOfRow(r);
        QCOMPARE(shown, rows);
        QCOMPARE(popup->RowCount(), popup->MRUCount() + combo.Items().Count());
        QCOMPARE(popup->CurrentRow(), current);
        // The last recently used row is 3 pixels taller, the others alike.
        const int m = popup->MRUCount();
        const int h = popup->RowRect(m).height();
        for (int r = 0; r < m; ++r)
            QCOMPARE(popup->RowRect(r).height(), r == m - 1 ? h + 3 : h);
        combo.CloseUp();
    }

    void rectsList_data()
    {
        QTest::addColumn<QByteArray>("actions");
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<TRect>>("rects"); // elements 0 .. count, the last one past the end
        const TRect r{1, 2, 3, 4}, s{5, 6, 7, 8}, none;
        QTest::newRow("a gap is filled with the rectangle")
            << QByteArray("set 3 r") << 4 << QList<TRect>{r, r, r, r, none};
        QTest::newRow("then one element changes")
            << QByteArray("set 3 r|set 1 s") << 4 << QList<TRect>{r, s, r, r, none};
        QTest::newRow("cleared") << QByteArray("set 2 s|clear") << 0 << QList<TRect>{none};
    }
    void rectsList()
    {
        QFETCH(QByteArray, actions);
        QFETCH(int, count);
        QFETCH(QList<TRect>, rects);
        kino::TdxfRectsList list;
        for (const QByteArray& action : actions.split('|')) {
            const QList<QByteArray> words = action.split(' ');
            if (words[0] == "clear")
                list.Clear();
            else
                list.SetRect(words[1].toInt(), words[2] == "r" ? TRect{1, 2, 3, 4} : TRect{5, 6, 7, 8});
        }
        QCOMPARE(list.Count(), count);
        for (int i = 0; i < rects.size(); ++i)
            QVERIFY2(list.GetRect(i) == rects[i], QByteArray::number(i).constData());
    }

    // Three items; `read` empty means only writing.
    void storedLists_data()
    {
        QTest::addColumn<QByteArray>("read");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QByteArray>("written");
        const QByteArray plain("ImageIndexes = (-1, -1, -1)\nChecked = (False, False, False)\nHeight = 20\n");
        QTest::newRow("written as they are") << QByteArray() << true << plain;
        QTest::newRow("a shorter list leaves the rest")
            << QByteArray("Checked = (True)") << true
            << QByteArray("ImageIndexes = (-1, -1, -1)\nChecked = (True, False, False)\nHeight = 20\n");
        QTest::newRow("values parted by spaces, lines")
            << QByteArray("ImageIndexes = (\n 2\n -1\n 7)\nHeight = 26") << true
            << QByteArray("ImageIndexes = (2, -1, 7)\nChecked = (False, False, False)\nHeight = 26\n");
        QTest::newRow("empty lists") << QByteArray("ImageIndexes = ()\nChecked = ()\nHeight = 20") << true << plain;
        QTest::newRow("a longer list: error, nothing changed")
            << QByteArray("Checked = (True)\nImageIndexes = (1, 2, 3, 4)") << false << plain;
        QTest::newRow("unknown name") << QByteArray("Checked = (True)\nWidth = 3") << false << plain;
        QTest::newRow("not a boolean") << QByteArray("Checked = (Yes)") << false << plain;
        QTest::newRow("unclosed list") << QByteArray("ImageIndexes = (1, 2") << false << plain;
    }
    void storedLists()
    {
        QFETCH(QByteArray, read);
        QFETCH(bool, ok);
        QFETCH(QByteArray, written);
        QWidget form;
        auto* combo = new TdxfComboBox(&form);
        QFont font = combo->font();
        font.setPixelSize(12);
        combo->setFont(font);
        Fill(*combo, 3);
        combo->Loaded();
        int changes = 0;
        connect(&combo->Items(), &kino::TdxfItems::changed, this, [&] { ++changes; });
        std::string error;
        if (!read.isEmpty()) {
            QCOMPARE(combo->ReadStoredLists(read.toStdString(), &error), ok);
            QCOMPARE(error.empty(), ok);
            if (!ok)
                QCOMPARE(changes, 0);
        }
        QCOMPARE(QByteArray::fromStdString(combo->WriteStoredLists()), written);
    }

    void checkBoxStyleClamp_data()
    {
        QTest::addColumn<bool>("stripLoads");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("style");
        QTest::newRow("within the strip") << true << 5 << 5;
        QTest::newRow("the last style") << true << 14 << 14;
        QTest::newRow("above the strip") << true << 20 << 14;
        QTest::newRow("negative") << true << -1 << 0;
        QTest::newRow("strip failed to load") << false << 3 << 0;
    }
    void checkBoxStyleClamp()
    {
        QFETCH(bool, stripLoads);
        QFETCH(int, value);
        QFETCH(int, style);
        kino::dxfres::LoadCheckBoxStrip(stripLoads ? QStringLiteral(":/dxfres/checkbox.png")
                                                   : QStringLiteral(":/dxfres/none.png"));
        auto restore = qScopeGuard([] { kino::dxfres::LoadCheckBoxStrip(); });
        QCOMPARE(kino::dxfres::CheckBoxStyleCount(), stripLoads ? 14 : 0);
        TdxfComboBox combo;
        combo.SetCheckBoxStyle(value);
        QCOMPARE(combo.CheckBoxStyle(), style);
    }
};

QTEST_MAIN(TestDxfItemData)
#include "test_dxfitemdata.moc"
