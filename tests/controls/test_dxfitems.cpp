#include <QtTest>

#include <algorithm>
#include <random>

#include "controls/dxfItems.h"
#include "platform/Text.h"

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

// Pairs of distinct names that the collator (case ignored) of a Japanese locale, or
// the display of undecodable bytes, makes alike; and pairs that are the same name but
// for letter case. Each row runs under the collation of "ja_JP" and of "C".
struct NamePair {
    const char* name;
    QByteArray a, b;
    bool equal;
};
const NamePair kNamePairs[] = {
    {"hiragana, katakana", "あ.avi", "ア.avi", false},
    {"digit width", "第1話.avi", "第１話.avi", false},
    {"letter width", "A.avi", "Ａ.avi", false},
    {"NFC, NFD", "caf\xc3\xa9.avi", "cafe\xcc\x81.avi", false},
    {"undecodable bytes", "caf\xe9.avi", "caf\xe8.avi", false},
    {"Shift-JIS hiragana, katakana", "\x82\xa0.avi", "\x83\x41.avi", false},
    {"letter case", "MOVIE.AVI", "movie.avi", true},
    {"letter case, beyond ASCII", "\xc3\x89T\xc3\x89.avi", "\xc3\xa9t\xc3\xa9.avi", true},
    {"letter case, undecodable", "CAF\xe9.AVI", "caf\xe9.avi", true},
};

// Texts named with the pairs above, and ordinary neighbours, in a mixed order.
std::vector<std::string> ConfusableNames(unsigned seed, int n)
{
    std::mt19937 rng(seed);
    std::vector<std::string> stems;
    for (const auto& p : kNamePairs) {
        stems.push_back(p.a.toStdString());
        stems.push_back(p.b.toStdString());
    }
    for (const char* s : {"a.avi", "b.avi", "z.avi", "\xe3\x81\x84.avi", "caf.avi", "cafe.avi"})
        stems.push_back(s);
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
        std::string s = "/m/" + std::to_string(rng() % 40) + "/" + stems[rng() % stems.size()];
        out.push_back(s);
    }
    return out;
}

} // namespace

class TestDxfItems : public QObject {
    Q_OBJECT
    QLocale initialLocale;

private slots:
    void initTestCase() { initialLocale = QLocale(); }
    void cleanup() { QLocale::setDefault(initialLocale); }

    // Distinct names are kept apart, sorted or not, whatever the collator ignores;
    // IndexOf finds each of them.
    void equalOnlyWhenSameTextButCase_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("sorted");
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<bool>("equal");
        for (const char* locale : {"ja_JP", "C"})
            for (bool sorted : {true, false})
                for (const auto& p : kNamePairs)
                    QTest::newRow(
                        QByteArray(locale).append(sorted ? ", sorted, " : ", not sorted, ").append(p.name).constData())
                        << QString::fromLatin1(locale) << sorted << p.a << p.b << p.equal;
    }
    void equalOnlyWhenSameTextButCase()
    {
        QFETCH(QString, locale);
        QFETCH(bool, sorted);
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(bool, equal);
        QLocale::setDefault(QLocale(locale));
        const std::string ta = a.toStdString(), tb = b.toStdString();
        for (bool aFirst : {true, false}) {
            TdxfItems items;
            items.SetSorted(sorted);
            // Neighbours on both sides, so that the binary search has work to do.
            for (const char* n : {"0.avi", "b.avi", "caf.avi", "z.avi", "\xe3\x82\x93.avi", "\xe9\xbe\x9c.avi"})
                items.Add(n);
            items.Add(aFirst ? ta : tb);
            items.Add(aFirst ? tb : ta);
            QCOMPARE(items.Compare(ta, tb) == 0, equal);
            QCOMPARE(items.Compare(tb, ta), -items.Compare(ta, tb));
            if (equal) {
                QCOMPARE(items.Count(), sorted ? 7 : 8);
                QCOMPARE(items.IndexOf(tb), items.IndexOf(ta));
                QCOMPARE(items.Strings(items.IndexOf(ta)), aFirst ? ta : tb);
                if (!sorted)
                    QCOMPARE(items.IndexOf(ta), 6);
                continue;
            }
            QCOMPARE(items.Count(), 8);
            QVERIFY(items.IndexOf(ta) >= 0);
            QVERIFY(items.IndexOf(tb) >= 0);
            QCOMPARE(items.Strings(items.IndexOf(ta)), ta);
            QCOMPARE(items.Strings(items.IndexOf(tb)), tb);
            if (sorted) {
                // The same place whichever came first, and the order Compare tells.
                QCOMPARE(items.IndexOf(ta) < items.IndexOf(tb), items.Compare(ta, tb) < 0);
                for (int i = 1; i < items.Count(); ++i)
                    QVERIFY(items.Compare(items.Strings(i - 1), items.Strings(i)) < 0);
            }
        }
    }

    // Many confusable names over several blocks: a strict weak order that the sorted
    // list keeps, sorted adds, switching sorting on and IndexOf agreeing with it.
    void confusableNamesKeepAStrictOrder_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("ja_JP") << "ja_JP";
        QTest::newRow("C") << "C";
    }
    void confusableNamesKeepAStrictOrder()
    {
        QFETCH(QString, locale);
        QLocale::setDefault(QLocale(locale));
        TdxfItems items;
        std::vector<std::string> distinct;
        for (const auto& p : kNamePairs) {
            distinct.push_back(p.a.toStdString());
            distinct.push_back(p.b.toStdString());
        }
        // Irreflexive, antisymmetric and transitive on every triple.
        for (const auto& x : distinct) {
            QCOMPARE(items.Compare(x, x), 0);
            for (const auto& y : distinct) {
                QCOMPARE(items.Compare(y, x), -items.Compare(x, y));
                for (const auto& z : distinct) {
                    if (items.Compare(x, y) <= 0 && items.Compare(y, z) <= 0)
                        QVERIFY(items.Compare(x, z) <= 0);
                    if (items.Compare(x, y) == 0 && items.Compare(y, z) == 0)
                        QCOMPARE(items.Compare(x, z), 0);
                }
            }
        }

        const auto names = ConfusableNames(5, 4000);
        TdxfItems added, switched;
        added.SetSorted(true);
        for (const auto& n : names) {
            added.Add(n);
            switched.Add(n);
        }
        switched.SetSorted(true);
        auto expected = names;
        auto less = [&](const std::string& a, const std::string& b) { return items.Compare(a, b) < 0; };
        std::stable_sort(expected.begin(), expected.end(), less);
        for (int i = 0; i < switched.Count(); ++i)
            QCOMPARE(switched.Strings(i), expected[std::size_t(i)]);
        auto same = [&](const std::string& a, const std::string& b) { return items.Compare(a, b) == 0; };
        expected.erase(std::unique(expected.begin(), expected.end(), same), expected.end());
        QCOMPARE(added.Count(), int(expected.size()));
        for (int i = 0; i < added.Count(); ++i)
            QCOMPARE(added.Strings(i), expected[std::size_t(i)]);
        for (const auto& n : names) {
            const int at = added.IndexOf(n);
            QVERIFY(at >= 0);
            QCOMPARE(added.Compare(added.Strings(at), n), 0);
            const int first = switched.IndexOf(n);
            QCOMPARE(switched.Compare(switched.Strings(first), n), 0);
            QVERIFY(first == 0 || switched.Compare(switched.Strings(first - 1), n) < 0);
        }
    }

    // The tracked entry is followed through inserts, deletes and sorts over many blocks;
    // deleting it leaves the index where it was (-1 past the end).
    void trackedIndexFollowsItsEntry()
    {
        std::mt19937 rng(3);
        TdxfItems items;
        std::vector<std::string> model;
        int tracked = -1;
        for (int step = 0; step < 20000; ++step) {
            const int n = int(model.size());
            std::string text = "t";
            text += std::to_string(rng() % 100000);
            if (step % 500 == 0 && n > 0) {
                tracked = int(rng() % unsigned(n));
                items.SetTrackedIndex(tracked);
            }
            switch (rng() % (n < 3000 ? 2 : 4)) {
            case 0:
                items.Add(text);
                model.push_back(text);
                break;
            case 1: {
                const int at = int(rng() % unsigned(n + 1));
                items.Insert(at, text);
                model.insert(model.begin() + at, text);
                if (tracked >= at)
                    ++tracked;
                break;
            }
            default: {
                const int at = int(rng() % unsigned(n));
                items.Delete(at);
                model.erase(model.begin() + at);
                if (tracked > at)
                    --tracked;
                else if (tracked >= int(model.size()))
                    tracked = -1;
                break;
            }
            }
            QCOMPARE(items.TrackedIndex(), tracked);
        }
        QVERIFY(tracked >= 0);
        const std::string entry = model[std::size_t(tracked)];
        int sameBefore = 0; // equal texts before it keep their order: a stable sort
        for (int i = 0; i < tracked; ++i)
            sameBefore += items.Compare(model[std::size_t(i)], entry) == 0;
        items.SetSorted(true);
        QCOMPARE(items.Strings(items.TrackedIndex()), entry);
        QCOMPARE(items.TrackedIndex(), items.IndexOf(entry) + sameBefore);
        items.Add("a"); // sorts before every "t..."
        QCOMPARE(items.Strings(items.TrackedIndex()), entry);
        items.Clear();
        QCOMPARE(items.TrackedIndex(), -1);
        items.Add("x");
        items.SetTrackedIndex(1);
        QCOMPARE(items.TrackedIndex(), -1);
    }

    void sortedAddRefusesEqualTexts_data()
    {
        QTest::addColumn<QByteArrayList>("adds");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QList<int>>("expectedReturns");
        QTest::newRow("letter case ignored")
            << QByteArrayList{"b", "B", "a", "A", "b"} << QStringList{"a|0", "b|0"} << QList<int>{0, 0, 0, 0, 1};
        QTest::newRow("accents are not case")
            << QByteArrayList{"e", "\xc3\xa9", "E", "\xc3\x89"} << QStringList{"e|0", QString::fromLatin1("\xc3\xa9|0")}
            << QList<int>{0, 1, 0, 1};
        QTest::newRow("not byte order") << QByteArrayList{"b", "C", "a", "clip10", "clip1"}
                                        << QStringList{"a|0", "b|0", "C|0", "clip1|0", "clip10|0"}
                                        << QList<int>{0, 1, 0, 3, 3};
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
        items.OnChange = [&](TdxfItems* sender) {
            QCOMPARE(sender, &items);
            ++notifications;
        };
        switch (op) {
        case 0:
            items.Add("c");
            break;
        case 1:
            items.Insert(1, "c");
            break;
        case 2:
            items.SetSorted(true);
            items.Insert(0, "c");
            break;
        case 3:
            items.Delete(0);
            break;
        case 4:
            items.Delete(2);
            items.Delete(-1);
            break;
        case 5:
            items.Clear();
            items.Clear();
            break;
        case 6:
            items.SetObject(0, 9);
            break;
        case 7:
            items.Sort();
            items.SetSorted(true);
            items.Sort();
            break;
        case 8:
            items.BeginUpdate();
            items.Delete(1);
            items.BeginUpdate();
            items.Add("x");
            items.EndUpdate();
            QCOMPARE(notifications, 0);
            items.Delete(1);
            items.EndUpdate();
            break;
        case 9:
            items.BeginUpdate();
            items.Delete(5);
            items.EndUpdate();
            break;
        case 10:
            items.SetSorted(true);
            items.Add("A");
            items.Add("B");
            break;
        case 11:
            items.Assign(other);
            break;
        case 12:
            items.SetSorted(true);
            items.Assign(other);
            break;
        case 13:
            other.SetSorted(true);
            items.SetSorted(true);
            items.Assign(other);
            break;
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

    // A batch gives what adding each text in turn gives: texts, objects, tracked index,
    // and one notification when anything was added. The rows reach each way of placing
    // the new texts: into an empty list, by one walk beside the held texts' keys, by a
    // binary search for each into their blocks, and by a binary search and a merge.
    void addStringsEqualsAddOfEach_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("sorted");
        QTest::addColumn<int>("held");
        QTest::addColumn<int>("added");
        for (const char* locale : {"ja_JP", "C"}) {
            for (auto [held, added] : {std::pair{0, 3000}, {2000, 1000}, {3000, 20}, {3000, 200}, {500, 0}})
                QTest::addRow("%s, sorted, %d held, %d added", locale, held, added) << locale << true << held << added;
            QTest::addRow("%s, not sorted", locale) << locale << false << 1500 << 1500;
        }
    }
    void addStringsEqualsAddOfEach()
    {
        QFETCH(QString, locale);
        QFETCH(bool, sorted);
        QFETCH(int, held);
        QFETCH(int, added);
        QLocale::setDefault(QLocale(locale));
        // Confusable names and letter-case variants, equal texts among the new ones and
        // between them and the held ones.
        auto texts = ConfusableNames(17, held + added);
        const auto more = RandomPaths(19, held + added);
        for (std::size_t i = 0; i < texts.size(); i += 2)
            texts[i] = more[i];
        TdxfItems single, batch;
        for (TdxfItems* items : {&single, &batch}) {
            items->SetSorted(sorted);
            for (int i = 0; i < held; ++i)
                items->AddObject(texts[std::size_t(i)], i % 3 ? 0 : std::uintptr_t(i + 1));
            items->SetTrackedIndex(items->Count() / 2);
        }
        int singleNotes = 0, batchNotes = 0;
        single.OnChange = [&](TdxfItems*) { ++singleNotes; };
        batch.OnChange = [&](TdxfItems*) { ++batchNotes; };
        const std::vector<std::string> news(texts.begin() + held, texts.end());
        single.BeginUpdate();
        for (const auto& t : news)
            single.Add(t);
        single.EndUpdate();
        batch.AddStrings(news);
        QCOMPARE(Dump(batch), Dump(single));
        QCOMPARE(batch.TrackedIndex(), single.TrackedIndex());
        QCOMPARE(batchNotes, singleNotes);
        QCOMPARE(batchNotes, added > 0 ? 1 : 0);
    }

    // The list orders texts as QCollator's sort keys of the locale do (letter case
    // ignored, on the shown text); only texts whose keys are equal are left to the tie.
    void orderFollowsTheLocalesCollator_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("ja_JP") << "ja_JP";
        QTest::newRow("C") << "C";
        QTest::newRow("de_DE") << "de_DE";
    }
    void orderFollowsTheLocalesCollator()
    {
        QFETCH(QString, locale);
        QLocale::setDefault(QLocale(locale));
        std::vector<std::string> texts = ConfusableNames(23, 60);
        // Punctuation, digits, accents (whose order is not the code points'), kana and
        // kanji, a byte-order mark, a character beyond the BMP and one in the private
        // use area, sharp s, marks out of canonical order, and undecodable bytes.
        for (const char* t : {"",
                              "a",
                              "A",
                              "a b",
                              "a-b",
                              "ab",
                              "a10",
                              "a9",
                              "b",
                              "Z",
                              "_x",
                              "~x",
                              "\xc3\xa4",
                              "\xc3\xa0",
                              "\xc3\xa1",
                              "\xc3\xa2",
                              "\xe3\x81\x8b",
                              "\xe3\x81\x8c",
                              "\xe3\x82\xab",
                              "\xe6\x9c\xac",
                              "\xef\xbb\xbf"
                              "a",
                              "\xf0\x9f\x8e\xb5",
                              "\xee\x80\x80",
                              "stra\xc3\x9f"
                              "e",
                              "strasse",
                              "a\xcc\xa3\xcc\x82",
                              "a\xcc\x82\xcc\xa3",
                              "\xe1\xba\xad",
                              "\xe1\xba\xa5",
                              "\x82\xa0",
                              "\xff\xfe"})
            texts.push_back(t);
        QCollator collator{QLocale()};
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        const bool foldFirst = collator.locale().language() == QLocale::C; // C keys keep case
        std::vector<QCollatorSortKey> keys;
        for (const auto& t : texts) {
            const QString shown = kino::ToDisplay(t);
            keys.push_back(collator.sortKey(foldFirst ? shown.toCaseFolded() : shown));
        }
        TdxfItems items;
        for (std::size_t i = 0; i < texts.size(); ++i)
            for (std::size_t j = 0; j < texts.size(); ++j) {
                const int byKey = keys[i].compare(keys[j]);
                if (byKey != 0)
                    QCOMPARE(items.Compare(texts[i], texts[j]), byKey < 0 ? -1 : 1);
            }
    }

    // Objects stay with their texts through inserts, deletes, block splits and a sort,
    // set on a few entries only or on none.
    void objectsStayWithTheirTexts()
    {
        std::mt19937 rng(29);
        TdxfItems items;
        std::vector<std::pair<std::string, std::uintptr_t>> model;
        for (int step = 0; step < 12000; ++step) {
            const int n = int(model.size());
            std::string text = "t";
            text += std::to_string(rng() % 5000);
            const std::uintptr_t object = rng() % 50 == 0 ? rng() % 1000 + 1 : 0;
            switch (rng() % (n < 2500 ? 2 : 4)) {
            case 0:
                items.AddObject(text, object);
                model.emplace_back(text, object);
                break;
            case 1: {
                const int at = int(rng() % unsigned(n + 1));
                items.Insert(at, text);
                model.insert(model.begin() + at, {text, 0});
                break;
            }
            case 2: {
                const int at = int(rng() % unsigned(n));
                items.SetObject(at, object);
                model[std::size_t(at)].second = object;
                break;
            }
            default: {
                const int at = int(rng() % unsigned(n));
                items.Delete(at);
                model.erase(model.begin() + at);
                break;
            }
            }
        }
        auto dumpModel = [&] {
            QStringList out;
            for (const auto& [text, object] : model)
                out << QString::fromLatin1(text) + '|' + QString::number(object);
            return out;
        };
        QCOMPARE(Dump(items), dumpModel());
        items.Sort();
        std::stable_sort(model.begin(), model.end(),
                         [&](const auto& a, const auto& b) { return items.Compare(a.first, b.first) < 0; });
        QCOMPARE(Dump(items), dumpModel());
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
            text += std::to_string(step); // not "t" + ...: GCC 12 warns falsely on that form
            switch (rng() % (n < 3000 ? 2 : 4)) {
            case 0:
                items.Add(text);
                model.push_back(text);
                break;
            case 1: {
                int at = int(rng() % unsigned(n + 1));
                items.Insert(at, text);
                model.insert(model.begin() + at, text);
                break;
            }
            default: {
                int at = int(rng() % unsigned(n));
                items.Delete(at);
                model.erase(model.begin() + at);
                break;
            }
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
