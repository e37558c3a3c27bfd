#include "controls/dxfItems.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>
#include <QString>

#include <algorithm>
#include <iterator>
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
    }

    void RemoveAll()
    {
        blocks.clear();
        starts.clear();
        count = 0;
    }

    // First index whose key is not below `key` (count when none), and whether the
    // item there is equal to it. Only meaningful while the list is in order.
    std::pair<int, bool> LowerBound(const QCollatorSortKey& key) const
    {
        auto block = std::partition_point(blocks.begin(), blocks.end(), [&](const Block& blk) {
            return blk.items.back().key.compare(key) < 0;
        });
        if (block == blocks.end())
            return {count, false};
        const auto& items = block->items;
        auto it = std::partition_point(items.begin(), items.end(), [&](const Item& item) {
            return item.key.compare(key) < 0;
        });
        // Some item of this block is not below the key, so `it` is inside it.
        const int index = starts[std::size_t(block - blocks.begin())] + int(it - items.begin());
        return {index, it->key.compare(key) == 0};
    }

    // Returns whether any item moved.
    bool SortNow()
    {
        if (count < 2)
            return false;
        std::vector<Item> all;
        all.reserve(std::size_t(count));
        for (auto& blk : blocks)
            std::move(blk.items.begin(), blk.items.end(), std::back_inserter(all));
        auto less = [](const Item& a, const Item& b) { return a.key.compare(b.key) < 0; };
        const bool moved = !std::is_sorted(all.begin(), all.end(), less);
        // Stable, so texts that collate equal keep the order they were added in.
        if (moved)
            std::stable_sort(all.begin(), all.end(), less);
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
        auto [at, equal] = d->LowerBound(item.key);
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
                if (last && last->key.compare(item.key) == 0)
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
    if (d->sorted) {
        auto [at, equal] = d->LowerBound(key);
        return equal ? at : -1;
    }
    int index = 0;
    for (const auto& blk : d->blocks)
        for (const auto& item : blk.items) {
            if (item.key.compare(key) == 0)
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
    // Through the keys, so that this is exactly the order the list keeps.
    const int c = d->KeyOf(a).compare(d->KeyOf(b));
    return c < 0 ? -1 : c > 0 ? 1 : 0;
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
}

} // namespace kino
