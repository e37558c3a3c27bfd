#include <QtTest>

#include "controls/dxfComboBox.h"
#include "controls/dxfPopupWindow.h"
#include "controls/dxfValueEdit.h"

using kino::TdxfComboBox;

namespace {

// A parent that records the keys the drop-down passes on.
class KeyRecorder : public QWidget {
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent* e) override
    {
        const int key = e->key();
        if (key != Qt::Key_Shift && key != Qt::Key_Control && key != Qt::Key_Alt && key != Qt::Key_Meta)
            keys << key;
    }
};

// Applies one action of the tables, "verb argument": index N, text T, delete N, clear,
// insert T (at 0), insertat N T, add T, object, sorted, sort (once), assign T, begin, end.
void Apply(TdxfComboBox& combo, const QByteArray& action)
{
    const int space = action.indexOf(' ');
    const QByteArray verb = space < 0 ? action : action.left(space);
    const std::string arg = space < 0 ? std::string() : action.mid(space + 1).toStdString();
    auto& items = combo.Items();
    if (verb == "index")
        combo.SetItemIndex(std::stoi(arg));
    else if (verb == "text")
        combo.SetText(arg);
    else if (verb == "delete")
        items.Delete(std::stoi(arg));
    else if (verb == "clear")
        items.Clear();
    else if (verb == "insert")
        items.Insert(0, arg);
    else if (verb == "insertat")
        items.Insert(std::stoi(arg), arg.substr(arg.find(' ') + 1));
    else if (verb == "add")
        items.Add(arg);
    else if (verb == "object")
        items.SetObject(0, 5);
    else if (verb == "sorted")
        combo.SetSorted(true);
    else if (verb == "sort")
        items.Sort();
    else if (verb == "assign") {
        kino::TdxfItems other;
        other.Add(arg);
        combo.SetItems(other);
    } else if (verb == "begin")
        items.BeginUpdate();
    else if (verb == "end")
        items.EndUpdate();
    else
        QFAIL(action.constData());
}

// Applies the "|"-joined actions in turn; false once one has failed the test.
bool ApplyAll(TdxfComboBox& combo, const QByteArray& actions)
{
    for (const QByteArray& action : actions.split('|')) {
        Apply(combo, action);
        if (QTest::currentTestFailed())
            return false;
    }
    return true;
}

// Distinct names that a Japanese collator (case ignored), or the display of bytes that
// decode neither as UTF-8 nor as Shift-JIS, makes alike.
struct NamePair {
    const char* name;
    QByteArray a, b;
};
const NamePair kNamePairs[] = {
    {"hiragana, katakana", "あ.avi", "ア.avi"},
    {"digit width", "第1話.avi", "第１話.avi"},
    {"letter width", "A.avi", "Ａ.avi"},
    {"NFC, NFD", "caf\xc3\xa9.avi", "cafe\xcc\x81.avi"},
    {"undecodable bytes", "caf\xe9.avi", "caf\xe8.avi"},
};

} // namespace

class TestDxfComboBox : public QObject {
    Q_OBJECT
private slots:
    // Each action is "verb argument", several joined by "|"; `changes` logs the
    // text shown at each OnChange the actions raise.
    void selectionAndShownText_data()
    {
        QTest::addColumn<QByteArrayList>("texts");
        QTest::addColumn<int>("start");
        QTest::addColumn<QByteArray>("actions");
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("shown");
        QTest::addColumn<QByteArrayList>("changes");
        QTest::addColumn<QByteArray>("saved");
        using L = QByteArrayList;
        using B = QByteArray;
        const L ab{"a", "b"}, abc{"a", "b", "c"};
        const B sjis("/m/\x83\x76\x83\x8c.avi");
        const L mixed{"b", "Movie.AVI", sjis}; // sorted: the 8-bit name, b, Movie.AVI
        QTest::newRow("another item") << ab << 0 << B("index 1") << 1 << B("b") << L{"b"} << B("b");
        QTest::newRow("count changes nothing") << ab << 1 << B("index 2") << 1 << B("b") << L{} << B("b");
        QTest::newRow("below -1 ignored") << ab << 0 << B("index -2") << 0 << B("a") << L{} << B("a");
        QTest::newRow("-1 empties, keeps saved") << ab << 1 << B("index -1") << -1 << B() << L{""} << B("b");
        QTest::newRow("-1 when empty") << ab << -1 << B("index -1") << -1 << B() << L{} << B();
        QTest::newRow("0 on empty list") << L{} << -1 << B("index 0") << -1 << B() << L{} << B();
        QTest::newRow("same text other item") << L{"a", "a"} << 0 << B("index 1") << 1 << B("a") << L{} << B("a");
        QTest::newRow("delete predecessor") << abc << 1 << B("delete 0") << 0 << B("b") << L{} << B("b");
        QTest::newRow("delete predecessor, same text")
            << L{"a", "x", "x"} << 1 << B("delete 0") << 0 << B("x") << L{} << B("x");
        QTest::newRow("delete selected last") << ab << 1 << B("delete 1") << -1 << B() << L{""} << B("b");
        QTest::newRow("clear") << ab << 1 << B("clear") << -1 << B() << L{""} << B("b");
        QTest::newRow("insert before") << ab << 0 << B("insert z") << 1 << B("a") << L{} << B("a");
        QTest::newRow("add after") << ab << 0 << B("add c") << 0 << B("a") << L{} << B("a");
        QTest::newRow("object rewrite") << ab << 0 << B("object") << 0 << B("a") << L{} << B("a");
        QTest::newRow("replace items") << ab << 1 << B("assign q") << -1 << B() << L{""} << B("b");
        QTest::newRow("sorted on") << L{"c", "a", "b"} << 0 << B("sorted") << 2 << B("c") << L{} << B("c");
        QTest::newRow("sorted on, in order") << ab << 1 << B("sorted") << 1 << B("b") << L{} << B("b");
        QTest::newRow("sorted refuses other case")
            << ab << 0 << B("sorted|add A|add B") << 0 << B("a") << L{} << B("a");
        QTest::newRow("text, other case")
            << mixed << -1 << B("text movie.avi") << 1 << B("Movie.AVI") << L{"Movie.AVI"} << B("Movie.AVI");
        QTest::newRow("text, other case, sorted")
            << mixed << 1 << B("sorted|text MOVIE.avi") << 2 << B("Movie.AVI") << L{} << B("Movie.AVI");
        QTest::newRow("text of shown item") << mixed << 0 << B("text B") << 0 << B("b") << L{} << B("b");
        QTest::newRow("text, 8-bit, sorted") << mixed << -1 << B("sorted|text ") + sjis << 0 << sjis << L{sjis} << sjis;
        QTest::newRow("text not found") << mixed << 0 << B("text zzz") << -1 << B("zzz") << L{"zzz"} << B("zzz");
        QTest::newRow("text not found, none shown")
            << mixed << -1 << B("text zzz") << -1 << B("zzz") << L{"zzz"} << B("zzz");
        QTest::newRow("text not found, 8-bit")
            << mixed << 0 << B("text \xff\xfe") << -1 << B("\xff\xfe") << L{"\xff\xfe"} << B("\xff\xfe");
    }
    void selectionAndShownText()
    {
        QFETCH(QByteArrayList, texts);
        QFETCH(int, start);
        QFETCH(QByteArray, actions);
        QFETCH(int, index);
        QFETCH(QByteArray, shown);
        QFETCH(QByteArrayList, changes);
        QFETCH(QByteArray, saved);
        TdxfComboBox combo;
        for (const auto& t : texts)
            combo.Items().Add(t.toStdString());
        combo.SetItemIndex(start);
        QByteArrayList log;
        combo.OnChange = [&](TdxfComboBox* sender) {
            QCOMPARE(sender, &combo);
            log << QByteArray::fromStdString(combo.Text());
        };
        if (!ApplyAll(combo, actions))
            return;
        QCOMPARE(combo.ItemIndex(), index);
        QCOMPARE(QByteArray::fromStdString(combo.Text()), shown);
        QCOMPARE(log, changes);
        QCOMPARE(QByteArray::fromStdString(combo.SavedText()), saved);
        for (int i = 1; combo.Sorted() && i < combo.Items().Count(); ++i)
            QVERIFY(combo.Items().Compare(combo.Items().Strings(i - 1), combo.Items().Strings(i)) < 0);
    }

    // The selection follows its entry when entries are inserted or deleted before it or
    // the list is sorted: the shown text stays and no OnChange is raised. When the
    // entry itself goes, the one now at its index is shown (-1 past the end).
    void selectionFollowsItsEntry_data()
    {
        QTest::addColumn<bool>("sorted");
        QTest::addColumn<QByteArrayList>("texts");
        QTest::addColumn<int>("start");
        QTest::addColumn<QByteArray>("actions");
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("shown");
        QTest::addColumn<QByteArrayList>("changes");
        using L = QByteArrayList;
        using B = QByteArray;
        const L abc{"a", "b", "c"}, mn{"m", "n"};
        QTest::newRow("insert before") << false << abc << 1 << B("insertat 0 z") << 2 << B("b") << L{};
        QTest::newRow("insert at the selection") << false << abc << 1 << B("insertat 1 z") << 2 << B("b") << L{};
        QTest::newRow("insert after") << false << abc << 1 << B("insertat 2 z") << 1 << B("b") << L{};
        QTest::newRow("append") << false << abc << 2 << B("add z") << 2 << B("c") << L{};
        QTest::newRow("sorted add before") << true << mn << 1 << B("add a") << 2 << B("n") << L{};
        QTest::newRow("sorted add after") << true << mn << 0 << B("add z") << 0 << B("m") << L{};
        QTest::newRow("sorted add between") << true << mn << 1 << B("add mm") << 2 << B("n") << L{};
        QTest::newRow("sorted add equal, refused") << true << mn << 1 << B("add N") << 1 << B("n") << L{};
        QTest::newRow("sorted adds before, one batch")
            << true << L{"m1", "m2", "m3", "m4"} << 3 << B("begin|add a3|add a1|add z|add a2|end") << 6 << B("m4")
            << L{};
        QTest::newRow("delete before") << false << abc << 2 << B("delete 0") << 1 << B("c") << L{};
        QTest::newRow("delete after") << false << abc << 0 << B("delete 2") << 0 << B("a") << L{};
        QTest::newRow("delete the selected one") << false << abc << 1 << B("delete 1") << 1 << B("c") << L{"c"};
        QTest::newRow("delete the selected one, same text after")
            << false << L{"a", "x", "x"} << 1 << B("delete 1") << 1 << B("x") << L{};
        QTest::newRow("delete the selected last one") << false << abc << 2 << B("delete 2") << -1 << B() << L{""};
        QTest::newRow("delete before and the selected one, one batch")
            << false << L{"a", "b", "c", "d"} << 2 << B("begin|delete 0|delete 1|end") << 1 << B("d") << L{"d"};
        QTest::newRow("insert and delete before, one batch")
            << false << abc << 1 << B("begin|insertat 0 y|insertat 0 z|delete 1|end") << 2 << B("b") << L{};
        QTest::newRow("sort on") << false << L{"c", "a", "b"} << 0 << B("sorted") << 2 << B("c") << L{};
        QTest::newRow("sort on, first of equal texts")
            << false << L{"b", "a", "B"} << 0 << B("sorted") << 1 << B("b") << L{};
        QTest::newRow("sort on, second of equal texts")
            << false << L{"b", "a", "B"} << 2 << B("sorted") << 2 << B("B") << L{};
        QTest::newRow("sorted once") << false << L{"c", "a", "b"} << 1 << B("sort") << 0 << B("a") << L{};
        QTest::newRow("sort on, then add before")
            << false << L{"c", "a", "b"} << 0 << B("sorted|add 0") << 3 << B("c") << L{};
        QTest::newRow("clear") << false << abc << 1 << B("clear") << -1 << B() << L{""};
        QTest::newRow("clear, sorted") << true << abc << 1 << B("clear") << -1 << B() << L{""};
        QTest::newRow("nothing selected")
            << false << abc << -1 << B("insertat 0 z|sorted|delete 0") << -1 << B() << L{};
    }
    void selectionFollowsItsEntry()
    {
        QFETCH(bool, sorted);
        QFETCH(QByteArrayList, texts);
        QFETCH(int, start);
        QFETCH(QByteArray, actions);
        QFETCH(int, index);
        QFETCH(QByteArray, shown);
        QFETCH(QByteArrayList, changes);
        TdxfComboBox combo;
        combo.SetSorted(sorted);
        for (const auto& t : texts)
            combo.Items().Add(t.toStdString());
        combo.SetItemIndex(start);
        QCOMPARE(combo.ItemIndex(), start);
        QByteArrayList log;
        combo.OnChange = [&](TdxfComboBox*) { log << QByteArray::fromStdString(combo.Text()); };
        if (!ApplyAll(combo, actions))
            return;
        QCOMPARE(combo.ItemIndex(), index);
        QCOMPARE(QByteArray::fromStdString(combo.Text()), shown);
        if (index >= 0) {
            QCOMPARE(QByteArray::fromStdString(combo.Items().Strings(index)), shown);
            QCOMPARE(QByteArray::fromStdString(combo.SavedText()), shown);
        }
        QCOMPARE(log, changes);
        // Steps from there go on from the followed entry.
        if (index >= 0 && index + 1 < combo.Items().Count()) {
            combo.SetItemIndex(index + 1);
            QCOMPARE(combo.Text(), combo.Items().Strings(index + 1));
        }
    }

    // SetText raises OnChange once at most: only when the text finally shown differs
    // from the one shown before, never for an empty text in between.
    void setTextRaisesChangeOnce_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArrayList>("changes");
        using L = QByteArrayList;
        using B = QByteArray;
        QTest::newRow("unknown, an item shown") << 1 << B() << B("zzz") << -1 << L{"zzz"};
        QTest::newRow("unknown, nothing shown") << -1 << B() << B("zzz") << -1 << L{"zzz"};
        QTest::newRow("unknown, another unknown shown") << -1 << B("yyy") << B("zzz") << -1 << L{"zzz"};
        QTest::newRow("unknown, the same shown") << -1 << B("zzz") << B("zzz") << -1 << L{};
        QTest::newRow("unknown, 8-bit, an item shown") << 0 << B() << B("\xff\xfe") << -1 << L{"\xff\xfe"};
        QTest::newRow("empty, an item shown") << 1 << B() << B() << -1 << L{""};
        QTest::newRow("empty, nothing shown") << -1 << B() << B() << -1 << L{};
        QTest::newRow("known, another item shown") << 0 << B() << B("B") << 1 << L{"b"};
        QTest::newRow("known, an unknown shown") << -1 << B("zzz") << B("a") << 0 << L{"a"};
        QTest::newRow("known, the item shown") << 0 << B() << B("A") << 0 << L{};
    }
    void setTextRaisesChangeOnce()
    {
        QFETCH(int, start);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, text);
        QFETCH(int, index);
        QFETCH(QByteArrayList, changes);
        TdxfComboBox combo;
        combo.Items().Add("a");
        combo.Items().Add("b");
        combo.SetItemIndex(start);
        if (!before.isEmpty())
            combo.SetText(before.toStdString());
        // A listener as the main window is: every change opens the text shown.
        QByteArrayList opened;
        combo.OnChange = [&](TdxfComboBox*) { opened << QByteArray::fromStdString(combo.Text()); };
        combo.SetText(text.toStdString());
        QCOMPARE(opened, changes);
        QCOMPARE(combo.ItemIndex(), index);
        QCOMPARE(QByteArray::fromStdString(combo.Text()),
                 index >= 0 ? QByteArray::fromStdString(combo.Items().Strings(index)) : text);
    }

    // Names that the collator makes alike are distinct entries: SetText picks the one
    // named, sorted or not, under a Japanese collation and the C one.
    void setTextFindsTheRightEntry_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("sorted");
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        for (const char* locale : {"ja_JP", "C"})
            for (bool sorted : {true, false})
                for (const auto& p : kNamePairs)
                    QTest::newRow(
                        QByteArray(locale).append(sorted ? ", sorted, " : ", not sorted, ").append(p.name).constData())
                        << QString::fromLatin1(locale) << sorted << p.a << p.b;
    }
    void setTextFindsTheRightEntry()
    {
        QFETCH(QString, locale);
        QFETCH(bool, sorted);
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        const QLocale initial;
        QLocale::setDefault(QLocale(locale));
        auto restore = qScopeGuard([&] { QLocale::setDefault(initial); });
        TdxfComboBox combo;
        combo.SetSorted(sorted);
        combo.Items().Add("0.avi");
        combo.Items().Add(a.toStdString());
        combo.Items().Add(b.toStdString());
        combo.Items().Add("z.avi");
        QCOMPARE(combo.Items().Count(), 4);
        QByteArrayList log;
        combo.OnChange = [&](TdxfComboBox*) { log << QByteArray::fromStdString(combo.Text()); };
        for (const QByteArray& name : {b, a, b}) {
            combo.SetText(name.toStdString());
            QVERIFY(combo.ItemIndex() >= 0);
            QCOMPARE(QByteArray::fromStdString(combo.Items().Strings(combo.ItemIndex())), name);
            QCOMPARE(QByteArray::fromStdString(combo.Text()), name);
        }
        QCOMPARE(log, (QByteArrayList{b, a, b}));
    }

    // Keys typed while the edit field has the focus. `open`: the list is open
    // first, its current row on the selected item. The parent records the keys that
    // pass on to it.
    void keysDriveTheList_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<bool>("open");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("dropped");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("row"); // the popup's current row when left open
        QTest::addColumn<bool>("passed");
        const int none = Qt::NoModifier, alt = Qt::AltModifier, shift = Qt::ShiftModifier;
        const int down = Qt::Key_Down, up = Qt::Key_Up;
        QTest::newRow("Alt+Down opens") << 1 << false << down << alt << true << 1 << 1 << false;
        QTest::newRow("Alt+Down closes") << 1 << true << down << alt << false << 1 << -1 << false;
        QTest::newRow("Alt+Up closes") << 1 << true << up << alt << false << 1 << -1 << false;
        QTest::newRow("F4 opens") << 1 << false << int(Qt::Key_F4) << none << true << 1 << 1 << false;
        QTest::newRow("Shift+F4 does nothing") << 1 << false << int(Qt::Key_F4) << shift << false << 1 << -1 << true;
        QTest::newRow("Escape closes, nothing chosen")
            << 1 << true << int(Qt::Key_Escape) << none << false << 1 << -1 << false;
        QTest::newRow("Escape while closed passes on")
            << 1 << false << int(Qt::Key_Escape) << none << false << 1 << -1 << true;
        QTest::newRow("Down in the list moves its row") << 1 << true << down << none << true << 1 << 2 << false;
        QTest::newRow("Page Down in the list") << 0 << true << int(Qt::Key_PageDown) << none << true << 0 << 2 << false;
        QTest::newRow("End in the list") << 0 << true << int(Qt::Key_End) << none << true << 0 << 2 << false;
        QTest::newRow("Enter chooses the row") << 1 << true << int(Qt::Key_Return) << none << false << 1 << -1 << false;
        QTest::newRow("Enter while closed passes on")
            << 1 << false << int(Qt::Key_Return) << none << false << 1 << -1 << true;
        QTest::newRow("Down selects the next") << 1 << false << down << none << false << 2 << -1 << false;
        QTest::newRow("Down from none selects the first") << -1 << false << down << none << false << 0 << -1 << false;
        QTest::newRow("Down at the last passes on") << 2 << false << down << none << false << 2 << -1 << true;
        QTest::newRow("Up selects the previous") << 1 << false << up << none << false << 0 << -1 << false;
        QTest::newRow("Up at the first passes on") << 0 << false << up << none << false << 0 << -1 << true;
    }
    void keysDriveTheList()
    {
        QFETCH(int, start);
        QFETCH(bool, open);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, dropped);
        QFETCH(int, index);
        QFETCH(int, row);
        QFETCH(bool, passed);
        KeyRecorder parent;
        auto* combo = new TdxfComboBox(&parent);
        combo->SetStyle(kino::dcsDropDownList);
        for (const char* name : {"alpha", "beta", "gamma"})
            combo->Items().Add(name);
        combo->Loaded();
        combo->SetItemIndex(start);
        parent.show();
        if (open)
            combo->DropDown();
        QSignalSpy changes(combo, &kino::TdxfCustomComboBox::changed);
        QTest::keyClick(combo->Edit(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(combo->DroppedDown(), dropped);
        QCOMPARE(combo->ItemIndex(), index);
        QCOMPARE(changes.size(), index == start ? 0 : 1);
        if (dropped)
            QCOMPARE(combo->Popup()->CurrentRow(), row);
        QCOMPARE(parent.keys.size(), passed ? 1 : 0);
        if (key == Qt::Key_Return && open) {
            // Enter chose the row that Down had moved to.
            combo->DropDown();
            QTest::keyClick(combo->Edit(), Qt::Key_Down);
            QTest::keyClick(combo->Edit(), Qt::Key_Return);
            QCOMPARE(combo->ItemIndex(), start + 1);
            QVERIFY(!combo->DroppedDown());
        }
    }

    // First-letter selection in list style takes the character the released key
    // typed. `open`: the list is open, and its current row moves instead.
    void firstLetterSelects_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("row");
        const int none = Qt::NoModifier;
        QTest::newRow("x: the first of either case") << false << int(Qt::Key_X) << none << 0 << -1;
        QTest::newRow("Shift+Y") << false << int(Qt::Key_Y) << int(Qt::ShiftModifier) << 1 << -1;
        QTest::newRow("a letter no entry begins with") << false << int(Qt::Key_Q) << none << -1 << -1;
        QTest::newRow("numeric-pad 1 types 1") << false << int(Qt::Key_1) << int(Qt::KeypadModifier) << 5 << -1;
        QTest::newRow("F1 types nothing") << false << int(Qt::Key_F1) << none << -1 << -1;
        QTest::newRow("Down released types nothing") << false << int(Qt::Key_Down) << none << -1 << -1;
        QTest::newRow("Shift released types nothing") << false << int(Qt::Key_Shift) << none << -1 << -1;
        QTest::newRow("open: the row moves, nothing chosen") << true << int(Qt::Key_Y) << none << -1 << 1;
    }
    void firstLetterSelects()
    {
        QFETCH(bool, open);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, index);
        QFETCH(int, row);
        TdxfComboBox combo;
        combo.SetStyle(kino::dcsDropDownList);
        // Names a key code's low byte would pick: a (numeric-pad 1), p (F1), ( (Down), 1.
        for (const char* name : {"x:\\a.avi", "y:\\b.avi", "X:\\c.avi", "a.avi", "p.avi", "1.avi", "(d).avi"})
            combo.Items().Add(name);
        combo.Loaded();
        combo.show();
        if (open)
            combo.DropDown();
        QTest::keyRelease(combo.Edit(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(combo.ItemIndex(), index);
        if (open)
            QCOMPARE(combo.Popup()->CurrentRow(), row);
    }

    // Editable style: typing keeps the selection in step; with AutoSearch the text is
    // completed, the completed tail selected so the next key replaces it.
    void typingTracksAndCompletes_data()
    {
        QTest::addColumn<bool>("autoSearch");
        QTest::addColumn<QString>("typed"); // "<" is Backspace, "~" Delete
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("selected");
        QTest::newRow("exact text") << false << QStringLiteral("beta") << 1 << QStringLiteral("beta") << QString();
        QTest::newRow("no such text") << false << QStringLiteral("betax") << -1 << QStringLiteral("betax") << QString();
        QTest::newRow("completed") << true << QStringLiteral("a") << 0 << QStringLiteral("alphabet")
                                   << QStringLiteral("lphabet");
        QTest::newRow("completed as typing goes on")
            << true << QStringLiteral("alp") << 0 << QStringLiteral("alphabet") << QStringLiteral("habet");
        QTest::newRow("Backspace takes back a character")
            << true << QStringLiteral("alp<") << 0 << QStringLiteral("alphabet") << QStringLiteral("phabet");
        QTest::newRow("Backspace takes a whole character")
            << true << QStringLiteral("日本<") << 2 << QStringLiteral("日本語") << QStringLiteral("本語");
        QTest::newRow("Delete does not complete again")
            << true << QStringLiteral("al~") << -1 << QStringLiteral("al") << QString();
    }
    void typingTracksAndCompletes()
    {
        QFETCH(bool, autoSearch);
        QFETCH(QString, typed);
        QFETCH(int, index);
        QFETCH(QString, shown);
        QFETCH(QString, selected);
        TdxfComboBox combo;
        combo.SetAutoSearch(autoSearch);
        for (const char* name : {"alphabet", "beta", "日本語"})
            combo.Items().Add(name);
        combo.Loaded();
        combo.show();
        QWidget* edit = combo.Edit();
        for (QChar c : typed) {
            if (c == QLatin1Char('<'))
                QTest::keyClick(edit, Qt::Key_Backspace);
            else if (c == QLatin1Char('~'))
                QTest::keyClick(edit, Qt::Key_Delete);
            else
                QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
        QCOMPARE(combo.ItemIndex(), index);
        QCOMPARE(QString::fromStdString(combo.Text()), shown);
        QCOMPARE(combo.Edit()->selectedText(), selected);
    }

    // Enter, Escape, Up and Down never reach the line edit; carriage return and
    // escape characters are never typed into it.
    void editNeverTakesEnterOrEscape()
    {
        TdxfComboBox combo;
        combo.Loaded();
        combo.show();
        QTest::keyClicks(combo.Edit(), QStringLiteral("ab"));
        QTest::keyClick(combo.Edit(), Qt::Key_Left);
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Up, Qt::Key_Down})
            QTest::keyClick(combo.Edit(), key);
        QTest::sendKeyEvent(QTest::Click, combo.Edit(), Qt::Key_M, QStringLiteral("\r"), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Click, combo.Edit(), Qt::Key_M, QStringLiteral("\x1b"), Qt::NoModifier);
        QCOMPARE(combo.Edit()->cursorPosition(), 1);
        QCOMPARE(combo.Text(), std::string("ab"));
    }

    void heightFollowsFont_data()
    {
        QTest::addColumn<int>("pixels");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("editTop");
        QTest::addColumn<int>("editBottom");
        QTest::newRow("12 px") << 12 << 20 << 2 << 16;
        QTest::newRow("16 px") << 16 << 24 << 2 << 20;
    }
    void heightFollowsFont()
    {
        QFETCH(int, pixels);
        QFETCH(int, height);
        QFETCH(int, editTop);
        QFETCH(int, editBottom);
        TdxfComboBox combo;
        QFont font = combo.font();
        font.setPixelSize(pixels);
        combo.setFont(font);
        combo.Loaded();
        QCOMPARE(combo.height(), height);
        QCOMPARE(combo.EditRect().Top, editTop);
        QCOMPARE(combo.EditRect().Bottom, editBottom);
    }

    // In list style the text is highlighted while the control has the focus and
    // the list is closed.
    void faceHighlightFollowsFocusAndList()
    {
        QWidget window;
        auto* combo = new TdxfComboBox(&window);
        combo->SetStyle(kino::dcsDropDownList);
        combo->Items().Add("entry");
        combo->SetItemIndex(0);
        combo->Loaded();
        auto* other = new QWidget(&window);
        other->setFocusPolicy(Qt::StrongFocus);
        other->setGeometry(0, 40, 20, 20);
        combo->SetColor(Qt::black);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const QPoint inText(combo->width() / 2, combo->height() / 2);
        const QColor highlight = combo->palette().color(QPalette::Active, QPalette::Highlight);
        auto face = [&] { return combo->grab().toImage().pixelColor(inText); };
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
        QCOMPARE(face(), QColor(Qt::black));
        combo->setFocus();
        QTRY_VERIFY(combo->Edit()->hasFocus());
        QTRY_COMPARE(face(), highlight);
        combo->DropDown();
        QTRY_COMPARE(face(), QColor(Qt::black));
        combo->CloseUp();
        QTRY_COMPARE(face(), highlight);
    }
};

QTEST_MAIN(TestDxfComboBox)
#include "test_dxfcombobox.moc"
