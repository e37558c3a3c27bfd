#include <QtTest>

#include <algorithm>
#include <random>

#include "controls/dxfItems.h"

using kino::TdxfItems;

namespace {

// Texts and objects as one readable list; Latin-1 keeps every byte distinct.
QStringList Dump(const TdxfItems& items)
{
    QStringList out;
    for (int i = 0; i < items.Count(); ++i)
        out << QString::fromLatin1(items.Strings(i)) + '|' + QString::number(items.Objects(i));
    return out;
}

// Paths with letter-case variants of one another, some beyond ASCII.
std::vector<std::string> RandomPaths(unsigned seed, int n)
{
    std::mt19937 rng(seed);
    const char* folders[] = {"/home/user/Media/", "/home/user/media/", "/mnt/Été/", "/mnt/été/", "/x/"};
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
        std::string s = folders[rng() % 5] + std::string("clip") + std::to_string(rng() % (n / 2 + 1)) + ".avi";
        for (char& c : s)
            if (c >= 'a' && c <= 'z' && rng() % 4 == 0)
                c = char(c - 'a' + 'A');
        out.push_back(s);
    }
    return out;
}

} // namespace

class TestDxfItems : public QObject {
    Q_OBJECT
private slots:
    void sortedAddRefusesEqualTexts_data()
    {
        QTest::addColumn<QByteArrayList>("adds");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QList<int>>("expectedReturns");
        QTest::newRow("letter case ignored") << QByteArrayList{"b", "B", "a", "A", "b"}
            << QStringList{"a|0", "b|0"} << QList<int>{0, 0, 0, 0, 1};
        QTest::newRow("accents are not case") << QByteArrayList{"e", "\xc3\xa9", "E", "\xc3\x89"}
            << QStringList{"e|0", QString::fromLatin1("\xc3\xa9|0")} << QList<int>{0, 1, 0, 1};
        QTest::newRow("not byte order") << QByteArrayList{"b", "C", "a", "clip10", "clip1"}
            << QStringList{"a|0", "b|0", "C|0", "clip1|0", "clip10|0"} << QList<int>{0, 1, 0, 3, 3};
    }
    void sortedAddRefusesEqualTexts()
    {
        QFETCH(QByteArrayList, adds);
        QFETCH(QStringList, expected);
        QFETCH(QList<int>, expectedReturns);
        TdxfItems items;
        items.SetSorted(true);
        QList<int> returned;
        for (const auto& a : adds)
            returned << items.Add(a.toStdString());
        QCOMPARE(Dump(items), expected);
        QCOMPARE(returned, expectedReturns);
    }

    void notifiesOncePerRealChange_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("expectedNotes");
        QTest::addColumn<QStringList>("expected");
        const QStringList start{"b|1", "a|2"};
        QTest::newRow("add") << 0 << 1 << (start + QStringList{"c|0"});
        QTest::newRow("insert") << 1 << 1 << QStringList{"b|1", "c|0", "a|2"};
        QTest::newRow("insert while sorted is ignored") << 2 << 1 << QStringList{"a|2", "b|1"};
        QTest::newRow("delete") << 3 << 1 << QStringList{"a|2"};
        QTest::newRow("delete out of range") << 4 << 0 << start;
        QTest::newRow("clear") << 5 << 1 << QStringList{};
        QTest::newRow("set object") << 6 << 1 << QStringList{"b|9", "a|2"};
        QTest::newRow("sort") << 7 << 1 << QStringList{"a|2", "b|1"};
        QTest::newRow("nested update") << 8 << 1 << QStringList{"b|1"};
        QTest::newRow("update without change") << 9 << 0 << start;
        QTest::newRow("refused duplicate") << 10 << 1 << QStringList{"a|2", "b|1"};
        QTest::newRow("assign") << 11 << 1 << QStringList{"C|3", "a|4", "c|5"};
        QTest::newRow("assign into sorted") << 12 << 2 << QStringList{"a|4", "C|3"};
        QTest::newRow("assign sorted into sorted") << 13 << 2 << QStringList{"a|4", "C|3"};
    }
    void notifiesOncePerRealChange()
    {
        QFETCH(int, op);
        QFETCH(int, expectedNotes);
        QFETCH(QStringList, expected);
        TdxfItems items;
        items.AddObject("b", 1);
        items.AddObject("a", 2);
        TdxfItems other;
        other.AddObject("C", 3);
        other.AddObject("a", 4);
        other.AddObject("c", 5);
        int notifications = 0;
        items.OnChange = [&](TdxfItems* sender) { QCOMPARE(sender, &items); ++notifications; };
        switch (op) {
        case 0: items.Add("c"); break;
        case 1: items.Insert(1, "c"); break;
        case 2: items.SetSorted(true); items.Insert(0, "c"); break;
        case 3: items.Delete(0); break;
        case 4: items.Delete(2); items.Delete(-1); break;
        case 5: items.Clear(); items.Clear(); break;
        case 6: items.SetObject(0, 9); break;
        case 7: items.Sort(); items.SetSorted(true); items.Sort(); break;
        case 8:
            items.BeginUpdate(); items.Delete(1); items.BeginUpdate(); items.Add("x");
            items.EndUpdate(); QCOMPARE(notifications, 0); items.Delete(1); items.EndUpdate();
            break;
        case 9: items.BeginUpdate(); items.Delete(5); items.EndUpdate(); break;
        case 10: items.SetSorted(true); items.Add("A"); items.Add("B"); break;
        case 11: items.Assign(other); break;
        case 12: items.SetSorted(true); items.Assign(other); break;
        case 13: other.SetSorted(true); items.SetSorted(true); items.Assign(other); break;
        }
        QCOMPARE(notifications, expectedNotes);
        QCOMPARE(Dump(items), expected);
    }

    void batchEqualsOneByOne_data()
    {
        QTest::addColumn<bool>("sorted");
        QTest::addColumn<unsigned>("seed");
        for (unsigned seed : {1u, 2u, 3u}) {
            QTest::addRow("sorted %u", seed) << true << seed;
            QTest::addRow("unsorted %u", seed) << false << seed;
        }
    }
    void batchEqualsOneByOne()
    {
        QFETCH(bool, sorted);
        QFETCH(unsigned, seed);
        const auto paths = RandomPaths(seed, 3000);
        TdxfItems single, batch;
        single.SetSorted(sorted);
        batch.SetSorted(sorted);
        int singleNotes = 0, batchNotes = 0;
        single.OnChange = [&](TdxfItems*) { ++singleNotes; };
        batch.OnChange = [&](TdxfItems*) { ++batchNotes; };
        batch.BeginUpdate();
        for (std::size_t i = 0; i < paths.size(); ++i) {
            QCOMPARE(batch.AddObject(paths[i], i), single.AddObject(paths[i], i));
            QCOMPARE(batchNotes, 0);
        }
        batch.EndUpdate();
        QCOMPARE(Dump(batch), Dump(single));
        QCOMPARE(batchNotes, 1);
        QCOMPARE(singleNotes, single.Count());
    }

    void sortedOrderIsStableSortOfCompare_data()
    {
        QTest::addColumn<bool>("addWhileSorted");
        QTest::newRow("sorted afterwards keeps equal texts") << false;
        QTest::newRow("added while sorted drops later equals") << true;
    }
    void sortedOrderIsStableSortOfCompare()
    {
        QFETCH(bool, addWhileSorted);
        const auto paths = RandomPaths(7, 5000);
        TdxfItems items;
        items.SetSorted(addWhileSorted);
        for (const auto& p : paths)
            items.Add(p);
        items.SetSorted(true);
        auto expected = paths;
        auto less = [&](const std::string& a, const std::string& b) { return items.Compare(a, b) < 0; };
        std::stable_sort(expected.begin(), expected.end(), less);
        if (addWhileSorted) {
            auto same = [&](const std::string& a, const std::string& b) { return items.Compare(a, b) == 0; };
            expected.erase(std::unique(expected.begin(), expected.end(), same), expected.end());
        }
        QCOMPARE(items.Count(), int(expected.size()));
        for (int i = 0; i < items.Count(); ++i)
            QCOMPARE(items.Strings(i), expected[std::size_t(i)]);
        for (const auto& p : paths) {
            const int at = items.IndexOf(p);
            QCOMPARE(items.Compare(items.Strings(at), p), 0);
            QVERIFY(at == 0 || items.Compare(items.Strings(at - 1), p) < 0);
        }
    }

    // Inserts and deletes all over a list of several blocks match a plain vector.
    void editsMatchPlainList()
    {
        std::mt19937 rng(11);
        TdxfItems items;
        std::vector<std::string> model;
        for (int step = 0; step < 20000; ++step) {
            const int n = int(model.size());
            std::string text = "t";
            text += std::to_string(step);   // not "t" + ...: GCC 12 warns falsely on that form
            switch (rng() % (n < 3000 ? 2 : 4)) {
            case 0: items.Add(text); model.push_back(text); break;
            case 1: { int at = int(rng() % unsigned(n + 1)); items.Insert(at, text); model.insert(model.begin() + at, text); break; }
            default: { int at = int(rng() % unsigned(n)); items.Delete(at); model.erase(model.begin() + at); break; }
            }
        }
        QCOMPARE(items.Count(), int(model.size()));
        for (int i = 0; i < items.Count(); ++i)
            QCOMPARE(items.Strings(i), model[std::size_t(i)]);
        QCOMPARE(items.IndexOf(model.back()), int(model.size()) - 1);
    }
};

QTEST_GUILESS_MAIN(TestDxfItems)
#include "test_dxfitems.moc"
