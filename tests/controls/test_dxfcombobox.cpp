#include <QtTest>

#include "controls/dxfComboBox.h"

using kino::TdxfComboBox;

namespace {

// A parent that records the arrow keys the combo box passes on.
class KeyRecorder : public QWidget {
public:
    QList<int> keys;
protected:
    void keyPressEvent(QKeyEvent* e) override
    {
        if (e->key() == Qt::Key_Up || e->key() == Qt::Key_Down)
            keys << e->key();
    }
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
        const L mixed{"b", "Movie.AVI", sjis};   // sorted: the 8-bit name, b, Movie.AVI
        QTest::newRow("another item") << ab << 0 << B("index 1") << 1 << B("b") << L{"b"} << B("b");
        QTest::newRow("count changes nothing") << ab << 1 << B("index 2") << 1 << B("b") << L{} << B("b");
        QTest::newRow("below -1 ignored") << ab << 0 << B("index -2") << 0 << B("a") << L{} << B("a");
        QTest::newRow("-1 empties, keeps saved") << ab << 1 << B("index -1") << -1 << B() << L{""} << B("b");
        QTest::newRow("-1 when empty") << ab << -1 << B("index -1") << -1 << B() << L{} << B();
        QTest::newRow("0 on empty list") << L{} << -1 << B("index 0") << -1 << B() << L{} << B();
        QTest::newRow("same text other item") << L{"a", "a"} << 0 << B("index 1") << 1 << B("a") << L{} << B("a");
        QTest::newRow("delete predecessor") << abc << 1 << B("delete 0") << 1 << B("c") << L{"c"} << B("c");
        QTest::newRow("delete predecessor, same text") << L{"a", "x", "x"} << 1 << B("delete 0") << 1 << B("x") << L{} << B("x");
        QTest::newRow("delete selected last") << ab << 1 << B("delete 1") << -1 << B() << L{""} << B("b");
        QTest::newRow("clear") << ab << 1 << B("clear") << -1 << B() << L{""} << B("b");
        QTest::newRow("insert before") << ab << 0 << B("insert z") << 0 << B("z") << L{"z"} << B("z");
        QTest::newRow("add after") << ab << 0 << B("add c") << 0 << B("a") << L{} << B("a");
        QTest::newRow("object rewrite") << ab << 0 << B("object") << 0 << B("a") << L{} << B("a");
        QTest::newRow("replace items") << ab << 1 << B("assign q") << -1 << B() << L{""} << B("b");
        QTest::newRow("sorted on") << L{"c", "a", "b"} << 0 << B("sorted") << 0 << B("a") << L{"a"} << B("a");
        QTest::newRow("sorted on, in order") << ab << 1 << B("sorted") << 1 << B("b") << L{} << B("b");
        QTest::newRow("sorted refuses other case") << ab << 0 << B("sorted|add A|add B") << 0 << B("a") << L{} << B("a");
        QTest::newRow("text, other case") << mixed << -1 << B("text movie.avi") << 1 << B("Movie.AVI") << L{"Movie.AVI"} << B("Movie.AVI");
        QTest::newRow("text, other case, sorted") << mixed << 1 << B("sorted|text MOVIE.avi") << 2 << B("Movie.AVI") << L{"b", "Movie.AVI"} << B("Movie.AVI");
        QTest::newRow("text of shown item") << mixed << 0 << B("text B") << 0 << B("b") << L{} << B("b");
        QTest::newRow("text, 8-bit, sorted") << mixed << -1 << B("sorted|text ") + sjis << 0 << sjis << L{sjis} << sjis;
        QTest::newRow("text not found") << mixed << 0 << B("text zzz") << -1 << B("zzz") << L{"", "zzz"} << B("zzz");
        QTest::newRow("text not found, none shown") << mixed << -1 << B("text zzz") << -1 << B("zzz") << L{"zzz"} << B("zzz");
        QTest::newRow("text not found, 8-bit") << mixed << 0 << B("text \xff\xfe") << -1 << B("\xff\xfe") << L{"", "\xff\xfe"} << B("\xff\xfe");
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
        for (const QByteArray& action : actions.split('|')) {
            const int space = action.indexOf(' ');
            const QByteArray verb = space < 0 ? action : action.left(space);
            const std::string arg = space < 0 ? std::string() : action.mid(space + 1).toStdString();
            auto& items = combo.Items();
            if (verb == "index") combo.SetItemIndex(std::stoi(arg));
            else if (verb == "text") combo.SetText(arg);
            else if (verb == "delete") items.Delete(std::stoi(arg));
            else if (verb == "clear") items.Clear();
            else if (verb == "insert") items.Insert(0, arg);
            else if (verb == "add") items.Add(arg);
            else if (verb == "object") items.SetObject(0, 5);
            else if (verb == "sorted") combo.SetSorted(true);
            else if (verb == "assign") { kino::TdxfItems other; other.Add(arg); combo.SetItems(other); }
            else QFAIL(action.constData());
        }
        QCOMPARE(combo.ItemIndex(), index);
        QCOMPARE(QByteArray::fromStdString(combo.Text()), shown);
        QCOMPARE(log, changes);
        QCOMPARE(QByteArray::fromStdString(combo.SavedText()), saved);
        for (int i = 1; combo.Sorted() && i < combo.Items().Count(); ++i)
            QVERIFY(combo.Items().Compare(combo.Items().Strings(i - 1), combo.Items().Strings(i)) < 0);
    }

    void upDownStepThroughItems_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("index");
        const int down = Qt::Key_Down, up = Qt::Key_Up, none = Qt::NoModifier;
        QTest::newRow("down from none") << 3 << -1 << down << none << 0;
        QTest::newRow("down") << 3 << 1 << down << none << 2;
        QTest::newRow("down at last") << 3 << 2 << down << none << 2;
        QTest::newRow("down on empty") << 0 << -1 << down << none << -1;
        QTest::newRow("up") << 3 << 2 << up << none << 1;
        QTest::newRow("up at first") << 3 << 0 << up << none << 0;
        QTest::newRow("up from none") << 3 << -1 << up << none << -1;
        QTest::newRow("alt down") << 3 << 0 << down << int(Qt::AltModifier) << 0;
    }
    void upDownStepThroughItems()
    {
        QFETCH(int, count);
        QFETCH(int, start);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, index);
        KeyRecorder parent;
        auto* combo = new TdxfComboBox(&parent);
        for (int i = count; i > 0; --i)
            combo->Items().Add("entry" + std::to_string(i));
        combo->SetItemIndex(start);
        parent.show();
        QTest::keyClick(combo, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(combo->ItemIndex(), index);
        QCOMPARE(parent.keys, index == start ? QList<int>{key} : QList<int>{});
    }

    void heightFollowsFont_data()
    {
        QTest::addColumn<int>("pixels");
        QTest::addColumn<int>("height");
        QTest::newRow("12 px") << 12 << 20;
        QTest::newRow("16 px") << 16 << 24;
    }
    void heightFollowsFont()
    {
        QFETCH(int, pixels);
        QFETCH(int, height);
        TdxfComboBox combo;
        QFont font = combo.font();
        font.setPixelSize(pixels);
        combo.setFont(font);
        QCOMPARE(combo.sizeHint().height(), height);
        QCOMPARE(combo.height(), combo.sizeHint().height());
    }

    void faceShowsColourThenFocusHighlight()
    {
        QWidget window;
        auto* combo = new TdxfComboBox(&window);
        auto* other = new QWidget(&window);
        other->setFocusPolicy(Qt::StrongFocus);
        other->setGeometry(0, 40, 20, 20);
        combo->SetColor(Qt::black);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const QPoint inText(combo->width() / 2, combo->height() / 2);
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
        QCOMPARE(combo->grab().toImage().pixelColor(inText), QColor(Qt::black));
        QTest::mouseClick(combo, Qt::LeftButton, {}, inText);
        QTRY_VERIFY(combo->hasFocus());
        QCOMPARE(combo->grab().toImage().pixelColor(inText), combo->palette().color(QPalette::Active, QPalette::Highlight));
    }
};

QTEST_MAIN(TestDxfComboBox)
#include "test_dxfcombobox.moc"
