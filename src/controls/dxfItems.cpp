#include "controls/dxfItems.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>
#include <QString>

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "platform/Text.h"

namespace kino {

namespace {

// A block never grows past kMaxBlock items; a full block is split in halves, and
// a freshly sorted list is cut into blocks of kFillBlock so that later sorted adds
// have room before the first split.
constexpr std::size_t kMaxBlock = 1024;
constexpr std::size_t kFillBlock = 512;

struct Item {
    std::string text;
    std::uintptr_t object;
    QCollatorSortKey key;   // made once, when the item enters the list
};

struct Block {
    std::vector<Item> items;
};

const std::string kNoText;

// What decides between texts whose collation keys are equal. The collator (case
// ignored) also ignores kana kind, width and normalisation, and every name that
// decodes neither as UTF-8 nor as Shift-JIS shows the same replacement characters;
// such texts are equal only when their case-folded display text is, and for an
// undecodable name its bytes but for ASCII letter case as well. Made only when two
// keys tie, which is rare, so that items need not hold it.
struct Tie {
    QString folded;          // the display text, case-folded
    bool decoded = true;     // valid UTF-8, or Shift-JIS without a replacement
    std::string bytes;       // an undecodable name's bytes, ASCII letters folded
};

Tie TieOf(const std::string& text)
{
    Tie tie;
    const QString shown = ToDisplay(text);
    tie.folded = shown.toCaseFolded();
    // A Shift-JIS decode yields U+FFFD only for bytes it cannot read.
    tie.decoded = IsValidUtf8(text) || !shown.contains(QChar(QChar::ReplacementCharacter));
    if (!tie.decoded) {
        tie.bytes = text;
        for (char& c : tie.bytes)
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
    }
    return tie;
}

// A total order: 0 exactly when the two texts are equal (as the header says).
int CompareTies(const Tie& a, const Tie& b)
{
    const int c = QString::compare(a.folded, b.folded, Qt::CaseSensitive);
    if (c != 0)
        return c;
    if (a.decoded != b.decoded)
        return a.decoded ? -1 : 1;
    return a.bytes.compare(b.bytes);
}

// A text's tie, made when first asked for.
class LazyTie {
public:
    explicit LazyTie(const std::string& text) : text_(text) {}
    const Tie& Get()
    {
        if (!tie_)
            tie_ = TieOf(text_);
        return *tie_;
    }

private:
    const std::string& text_;
    std::optional<Tie> tie_;
};

// The list's order of two items (or an item and a text): keys first, ties after.
int CompareItems(const QCollatorSortKey& aKey, const std::string& aText, const QCollatorSortKey& bKey,
                 LazyTie& bTie)
{
    const int c = aKey.compare(bKey);
    if (c != 0)
        return c;
    return CompareTies(TieOf(aText), bTie.Get());
}

} // namespace

struct TdxfItems::Impl {
    Impl() : collator(QLocale())
    {
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        // Without a real locale the collator's compare() folds case but its sort
        // keys do not; folding the text first makes the keys agree with it.
        foldFirst = collator.locale().language() == QLocale::C;
    }

    QCollator collator;
    bool foldFirst = false;

    std::vector<Block> blocks;
    std::vector<int> starts;   // starts[b]: index of the first item of blocks[b]
    int count = 0;

    bool sorted = false;
    int tracked = -1;          // see TrackedIndex()
    int updateCount = 0;
    bool changedInUpdate = false;

    QCollatorSortKey KeyOf(const std::string& text) const
    {
        QString shown = ToDisplay(text);
        if (foldFirst)
            shown = shown.toCaseFolded();
        return collator.sortKey(shown);
    }

    bool SameCollation(const Impl& other) const
    {
        return foldFirst == other.foldFirst && collator.locale() == other.collator.locale();
    }

    void RestartFrom(std::size_t b)
    {
        starts.resize(blocks.size());
        int start = b == 0 ? 0 : starts[b - 1] + int(blocks[b - 1].items.size());
        for (std::size_t i = b; i < blocks.size(); ++i) {
            starts[i] = start;
            start += int(blocks[i].items.size());
        }
        count = start;
    }

    // Block and offset of an index in [0, count).
    std::pair<std::size_t, std::size_t> Locate(int index) const
    {
        auto it = std::upper_bound(starts.begin(), starts.end(), index);
        std::size_t b = std::size_t(it - starts.begin()) - 1;
        return {b, std::size_t(index - starts[b])};
    }

    Item& At(int index)
    {
        auto [b, o] = Locate(index);
        return blocks[b].items[o];
    }
    const Item& At(int index) const
    {
        auto [b, o] = Locate(index);
        return blocks[b].items[o];
    }

    void Append(Item&& item)
    {
        if (blocks.empty() || blocks.back().items.size() >= kMaxBlock) {
            blocks.emplace_back();
            blocks.back().items.reserve(kMaxBlock);
            starts.push_back(count);
        }
        blocks.back().items.push_back(std::move(item));
        ++count;
    }

    void InsertAt(int index, Item&& item)
    {
        if (tracked >= index)
            ++tracked;
        if (index == count) {
            Append(std::move(item));
            return;
        }
        auto [b, o] = Locate(index);
        auto& items = blocks[b].items;
        items.insert(items.begin() + std::ptrdiff_t(o), std::move(item));
        if (items.size() > kMaxBlock) {
            Block tail;
            tail.items.reserve(kMaxBlock);
            auto half = items.begin() + std::ptrdiff_t(items.size() / 2);
            std::move(half, items.end(), std::back_inserter(tail.items));
            items.erase(half, items.end());
            blocks.insert(blocks.begin() + std::ptrdiff_t(b) + 1, std::move(tail));
        }
        RestartFrom(b);
    }

    void EraseAt(int index)
    {
        auto [b, o] = Locate(index);
        auto& items = blocks[b].items;
        items.erase(items.begin() + std::ptrdiff_t(o));
        if (items.empty())
            blocks.erase(blocks.begin() + std::ptrdiff_t(b));
        RestartFrom(b);
        // The tracked entry itself deleted: the index stays, the next entry takes it.
        if (tracked > index)
            --tracked;
        else if (tracked >= count)
            tracked = -1;
    }

    void RemoveAll()
    {
        blocks.clear();
        starts.clear();
        count = 0;
        tracked = -1;
    }

    // First index whose item is not below the text (count when none), and whether
    // the item there is equal to it. Only meaningful while the list is in order.
    std::pair<int, bool> LowerBound(const QCollatorSortKey& key, LazyTie& tie) const
    {
        auto below = [&](const Item& item) { return CompareItems(item.key, item.text, key, tie) < 0; };
        auto block = std::partition_point(blocks.begin(), blocks.end(),
                                          [&](const Block& blk) { return below(blk.items.back()); });
        if (block == blocks.end())
            return {count, false};
        const auto& items = block->items;
        auto it = std::partition_point(items.begin(), items.end(), below);
        // Some item of this block is not below the text, so `it` is inside it.
        const int index = starts[std::size_t(block - blocks.begin())] + int(it - items.begin());
        return {index, CompareItems(it->key, it->text, key, tie) == 0};
    }

    // Returns whether any item moved. The tracked index follows its entry.
    bool SortNow()
    {
        if (count < 2)
            return false;
        std::vector<Item> all;
        all.reserve(std::size_t(count));
        for (auto& blk : blocks)
            std::move(blk.items.begin(), blk.items.end(), std::back_inserter(all));

        // The tracked entry is found again by its text and how many equal texts stand
        // before it, which a stable sort keeps.
        std::optional<Item> trackedItem;
        int equalBefore = 0;
        if (tracked >= 0) {
            trackedItem = all[std::size_t(tracked)];
            LazyTie tie(trackedItem->text);
            for (int i = 0; i < tracked; ++i)
                equalBefore += CompareItems(all[std::size_t(i)].key, all[std::size_t(i)].text, trackedItem->key, tie) == 0;
        }

        bool moved = false;
        for (std::size_t i = 1; i < all.size() && !moved; ++i) {
            const int c = all[i - 1].key.compare(all[i].key);
            moved = c > 0 || (c == 0 && CompareTies(TieOf(all[i - 1].text), TieOf(all[i].text)) > 0);
        }
        if (moved) {
            // Stable, so texts that are equal keep the order they were added in. Keys
            // first; then ties only within each run of equal keys, so that ties are
            // made for few items.
            std::stable_sort(all.begin(), all.end(),
                             [](const Item& a, const Item& b) { return a.key.compare(b.key) < 0; });
            std::vector<std::pair<Tie, std::size_t>> ties;
            std::vector<Item> run;
            for (std::size_t first = 0; first < all.size();) {
                std::size_t last = first + 1;
                while (last < all.size() && all[first].key.compare(all[last].key) == 0)
                    ++last;
                if (last - first > 1) {
                    ties.clear();
                    for (std::size_t i = first; i < last; ++i)
                        ties.emplace_back(TieOf(all[i].text), i);
                    std::stable_sort(ties.begin(), ties.end(), [](const auto& a, const auto& b) {
                        return CompareTies(a.first, b.first) < 0;
                    });
                    run.clear();
                    for (const auto& t : ties)
                        run.push_back(std::move(all[t.second]));
                    std::move(run.begin(), run.end(), all.begin() + std::ptrdiff_t(first));
                }
                first = last;
            }
        }

        int trackedAt = -1;
        if (trackedItem) {
            LazyTie tie(trackedItem->text);
            auto it = std::partition_point(all.begin(), all.end(), [&](const Item& item) {
                return CompareItems(item.key, item.text, trackedItem->key, tie) < 0;
            });
            trackedAt = int(it - all.begin()) + equalBefore;
        }

        RemoveAll();
        for (std::size_t i = 0; i < all.size(); i += kFillBlock) {
            Block blk;
            const std::size_t end = std::min(all.size(), i + kFillBlock);
            blk.items.reserve(kMaxBlock);
            std::move(all.begin() + std::ptrdiff_t(i), all.begin() + std::ptrdiff_t(end),
                      std::back_inserter(blk.items));
            starts.push_back(count);
            count += int(blk.items.size());
            blocks.push_back(std::move(blk));
        }
        tracked = trackedAt;
        return moved;
    }
};

TdxfItems::TdxfItems() : d(new Impl) {}

TdxfItems::~TdxfItems()
{
    delete d;
}

int TdxfItems::Count() const
{
    return d->count;
}

const std::string& TdxfItems::Strings(int index) const
{
    if (index < 0 || index >= d->count)
        return kNoText;
    return d->At(index).text;
}

std::uintptr_t TdxfItems::Objects(int index) const
{
    if (index < 0 || index >= d->count)
        return 0;
    return d->At(index).object;
}

void TdxfItems::SetObject(int index, std::uintptr_t object)
{
    if (index < 0 || index >= d->count)
        return;
    d->At(index).object = object;
    Changed();
}

int TdxfItems::Add(const std::string& text)
{
    return AddObject(text, 0);
}

int TdxfItems::AddObject(const std::string& text, std::uintptr_t object)
{
    Item item{text, object, d->KeyOf(text)};
    int index = d->count;
    if (d->sorted) {
        LazyTie tie(item.text);
        auto [at, equal] = d->LowerBound(item.key, tie);
        if (equal)
            return at;
        index = at;
    }
    d->InsertAt(index, std::move(item));
    Changed();
    return index;
}

void TdxfItems::Insert(int index, const std::string& text)
{
    // A place chosen by the caller would break the order of a sorted list.
    if (d->sorted || index < 0 || index > d->count)
        return;
    d->InsertAt(index, Item{text, 0, d->KeyOf(text)});
    Changed();
}

void TdxfItems::Delete(int index)
{
    if (index < 0 || index >= d->count)
        return;
    d->EraseAt(index);
    Changed();
}

void TdxfItems::Clear()
{
    if (d->count == 0)
        return;
    d->RemoveAll();
    Changed();
}

void TdxfItems::Assign(const TdxfItems& other)
{
    if (&other == this)
        return;
    BeginUpdate();
    Clear();
    const bool reuseKeys = d->SameCollation(*other.d);
    if (!d->sorted && reuseKeys) {
        for (const auto& blk : other.d->blocks)
            for (const auto& item : blk.items)
                d->Append(Item(item));
        if (d->count > 0)
            Changed();
    } else if (d->sorted && other.d->sorted && reuseKeys) {
        // Already in order: equal texts stand together, and a sorted add keeps
        // only the first of them.
        const Item* last = nullptr;
        for (const auto& blk : other.d->blocks)
            for (const auto& item : blk.items) {
                LazyTie tie(item.text);
                if (last && CompareItems(last->key, last->text, item.key, tie) == 0)
                    continue;
                d->Append(Item(item));
                last = &item;
            }
        if (d->count > 0)
            Changed();
    } else {
        for (const auto& blk : other.d->blocks)
            for (const auto& item : blk.items)
                AddObject(item.text, item.object);
    }
    EndUpdate();
}

int TdxfItems::IndexOf(const std::string& text) const
{
    const QCollatorSortKey key = d->KeyOf(text);
    LazyTie tie(text);
    if (d->sorted) {
        auto [at, equal] = d->LowerBound(key, tie);
        return equal ? at : -1;
    }
    int index = 0;
    for (const auto& blk : d->blocks)
        for (const auto& item : blk.items) {
            if (CompareItems(item.key, item.text, key, tie) == 0)
                return index;
            ++index;
        }
    return -1;
}

bool TdxfItems::Sorted() const
{
    return d->sorted;
}

void TdxfItems::SetSorted(bool sorted)
{
    if (sorted == d->sorted)
        return;
    d->sorted = sorted;
    if (sorted && d->SortNow())
        Changed();
}

void TdxfItems::Sort()
{
    // A sorted list is always in order already.
    if (!d->sorted && d->SortNow())
        Changed();
}

void TdxfItems::BeginUpdate()
{
    ++d->updateCount;
}

void TdxfItems::EndUpdate()
{
    if (d->updateCount == 0)
        return;
    if (--d->updateCount == 0 && d->changedInUpdate) {
        d->changedInUpdate = false;
        Changed();
    }
}

int TdxfItems::Compare(const std::string& a, const std::string& b) const
{
    // Through the keys and ties, so that this is exactly the order the list keeps.
    LazyTie tie(b);
    const int c = CompareItems(d->KeyOf(a), a, d->KeyOf(b), tie);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int TdxfItems::TrackedIndex() const
{
    return d->tracked;
}

void TdxfItems::SetTrackedIndex(int index)
{
    d->tracked = index >= 0 && index < d->count ? index : -1;
}

void TdxfItems::Changed()
{
    if (d->updateCount > 0) {
        d->changedInUpdate = true;
        return;
    }
    if (OnChange) {
        // A copy, so that a handler may rebind or clear OnChange while it runs.
        auto handler = OnChange;
        handler(this);
    }
    emit changed(this);
}

} // namespace kino
