#include "controls/dxfItems.h"

#include <QCoreApplication>
#include <QLocale>
#include <QString>

#include <malloc.h>
#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Text.h"

namespace kino {

namespace {

// A block never grows past kMaxBlock items; a full block is split in halves, and a
// list built at once (a sort, a merge) is cut into blocks of kFillBlock. Blocks hold
// only what they use, give or take a quarter, since a large list is mostly blocks.
constexpr std::size_t kMaxBlock = 1024;
constexpr std::size_t kFillBlock = 512;

// Texts in list order; an object slot only in blocks where some object is not 0,
// which is rare. No collation key and no display text: keys are made for a batch of
// texts at a time and dropped after it, a single text is compared from its bytes.
struct Block {
    std::vector<std::string> texts;
    std::vector<std::uintptr_t> objects; // empty, or one for each text

    std::size_t Size() const { return texts.size(); }
    std::uintptr_t Object(std::size_t o) const { return objects.empty() ? 0 : objects[o]; }
    void SetObject(std::size_t o, std::uintptr_t object)
    {
        if (objects.empty() && object != 0)
            objects.assign(texts.size(), 0);
        if (!objects.empty())
            objects[o] = object;
    }
    void Insert(std::size_t o, std::string&& text, std::uintptr_t object)
    {
        // Room grows by a quarter at a time: a large list is mostly blocks.
        if (texts.size() == texts.capacity())
            texts.reserve(std::min(kMaxBlock, std::max<std::size_t>(16, texts.size() + texts.size() / 4)));
        texts.insert(texts.begin() + std::ptrdiff_t(o), std::move(text));
        if (object != 0 || !objects.empty()) {
            objects.resize(texts.size() - 1); // the slots before it, when there were none
            objects.insert(objects.begin() + std::ptrdiff_t(o), object);
        }
    }
    void Erase(std::size_t o)
    {
        texts.erase(texts.begin() + std::ptrdiff_t(o));
        if (!objects.empty())
            objects.erase(objects.begin() + std::ptrdiff_t(o));
    }
    // Moves the items from `from` on into a new block, each half with room to grow.
    Block SplitAt(std::size_t from)
    {
        Block tail;
        tail.texts.reserve(texts.size() - from + kMaxBlock / 8);
        std::move(texts.begin() + std::ptrdiff_t(from), texts.end(), std::back_inserter(tail.texts));
        std::vector<std::string> head;
        head.reserve(from + kMaxBlock / 8);
        std::move(texts.begin(), texts.begin() + std::ptrdiff_t(from), std::back_inserter(head));
        texts.swap(head);
        if (!objects.empty()) {
            tail.objects.assign(objects.begin() + std::ptrdiff_t(from), objects.end());
            objects.resize(from);
        }
        return tail;
    }
};

const std::string kNoText;

// A change of this many entries at once lets go of enough memory to hand it back.
constexpr std::size_t kReleaseAfter = 10000;

// After a change of many entries at once the heap holds what was let go: the texts a
// dialog answered and their copies, a batch's keys, the entries cleared. glibc keeps
// such memory resident for reuse, so once the event loop has finished with the
// command (and its caller has dropped its own copies) it is handed back.
void ReleaseFreedMemorySoon()
{
    static std::atomic<bool> pending{false};
    if (pending.exchange(true))
        return;
    auto release = [] {
        pending = false;
        malloc_trim(0);
    };
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, release, Qt::QueuedConnection);
    else
        release();
}

int Sign(int c)
{
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

bool IsAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// The locale's collation, letter case ignored, on the shown form of each text. It is
// the order of QCollator's sort keys: with a real locale ICU's collator set up as
// QCollator sets up its own (secondary strength, normalisation on); for the C locale
// the case-folded text's UTF-8 bytes, compared as bytes.
class Collation {
public:
    explicit Collation(const QLocale& locale)
        : isC_(locale.language() == QLocale::C), name_(locale.bcp47Name().replace(u'-', u'_').toLatin1())
    {
        if (isC_)
            return;
        UErrorCode status = U_ZERO_ERROR;
        collator_.reset(ucol_open(name_.constData(), &status));
        if (U_FAILURE(status)) {
            // As QCollator: no collator, every text collates alike, the ties decide.
            collator_.reset();
            return;
        }
        ucol_setAttribute(collator_.get(), UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
        ucol_setAttribute(collator_.get(), UCOL_STRENGTH, UCOL_SECONDARY, &status);
        ucol_setAttribute(collator_.get(), UCOL_NUMERIC_COLLATION, UCOL_OFF, &status);
        ucol_setAttribute(collator_.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
    }

    bool Same(const Collation& other) const { return isC_ == other.isC_ && name_ == other.name_; }

    int Compare(std::string_view a, std::string_view b) const
    {
        if (isC_) {
            if (IsAscii(a) && IsAscii(b)) {
                const std::size_t n = std::min(a.size(), b.size());
                for (std::size_t i = 0; i < n; ++i) {
                    const auto x = static_cast<unsigned char>(AsciiLower(a[i]));
                    const auto y = static_cast<unsigned char>(AsciiLower(b[i]));
                    if (x != y)
                        return x < y ? -1 : 1;
                }
                return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
            }
            const QByteArray x = FoldedUtf8(a), y = FoldedUtf8(b);
            return Sign(std::string_view(x.constData(), std::size_t(x.size()))
                            .compare(std::string_view(y.constData(), std::size_t(y.size()))));
        }
        if (!collator_)
            return 0;
        UErrorCode status = U_ZERO_ERROR;
        if (IsValidUtf8(a) && IsValidUtf8(b))
            return ucol_strcollUTF8(collator_.get(), a.data(), int32_t(a.size()), b.data(), int32_t(b.size()), &status);
        const QString x = ToDisplay(a), y = ToDisplay(b);
        return ucol_strcoll(collator_.get(), reinterpret_cast<const UChar*>(x.utf16()), int32_t(x.size()),
                            reinterpret_cast<const UChar*>(y.utf16()), int32_t(y.size()));
    }

    // Appends the text's sort key to `out`; keys compare as bytes in the order Compare
    // gives (ICU's keys end in a 0 byte and hold no other).
    void AppendKey(std::string_view text, std::string& out) const
    {
        if (isC_) {
            if (IsAscii(text)) {
                std::transform(text.begin(), text.end(), std::back_inserter(out), AsciiLower);
            } else {
                const QByteArray key = FoldedUtf8(text);
                out.append(key.constData(), std::size_t(key.size()));
            }
            return;
        }
        if (!collator_)
            return;
        const UChar* source = nullptr;
        int32_t length = 0;
        QString shown;
        if (IsValidUtf8(text)) {
            // UTF-16 never needs more units than UTF-8 has bytes.
            utf16_.resize(std::max<std::size_t>(1, text.size()));
            UErrorCode status = U_ZERO_ERROR;
            u_strFromUTF8(utf16_.data(), int32_t(utf16_.size()), &length, text.data(), int32_t(text.size()), &status);
            source = utf16_.data();
        } else {
            shown = ToDisplay(text);
            source = reinterpret_cast<const UChar*>(shown.utf16());
            length = int32_t(shown.size());
        }
        const std::size_t at = out.size();
        std::size_t room = 16 + std::size_t(length) + std::size_t(length) / 4;
        for (;;) {
            out.resize(at + room);
            const int32_t size = ucol_getSortKey(collator_.get(), source, length,
                                                 reinterpret_cast<uint8_t*>(out.data() + at), int32_t(room));
            if (std::size_t(size) <= room) {
                out.resize(at + std::size_t(size));
                return;
            }
            room = std::size_t(size);
        }
    }

private:
    static QByteArray FoldedUtf8(std::string_view text) { return ToDisplay(text).toCaseFolded().toUtf8(); }

    bool isC_;
    QByteArray name_;
    struct CloseCollator {
        void operator()(UCollator* collator) const { ucol_close(collator); }
    };
    std::unique_ptr<UCollator, CloseCollator> collator_;
    mutable std::vector<UChar> utf16_; // AppendKey's conversion buffer
};

// What decides between texts that collate alike. The collator (case ignored) also
// ignores kana kind, width and normalisation, and every name that decodes neither as
// UTF-8 nor as Shift-JIS shows the same replacement characters; such texts are equal
// only when their case-folded display text is, and for an undecodable name its bytes
// but for ASCII letter case as well. Made only when two texts collate alike, which is
// rare, so that items need not hold it.
struct Tie {
    QString folded;      // the display text, case-folded
    bool decoded = true; // valid UTF-8, or Shift-JIS without a replacement
    std::string bytes;   // an undecodable name's bytes, ASCII letters folded
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
        std::transform(tie.bytes.begin(), tie.bytes.end(), tie.bytes.begin(), AsciiLower);
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

// Sort keys of a batch of texts, end to end in one buffer, made for one sort or merge
// and dropped after it.
class KeyTable {
public:
    KeyTable(const Collation& collation, std::size_t count, const std::function<const std::string&(std::size_t)>& text)
    {
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < count; ++i)
            bytes += text(i).size() + text(i).size() / 4 + 4;
        bytes_.reserve(bytes);
        ends_.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            collation.AppendKey(text(i), bytes_);
            ends_.push_back(bytes_.size());
        }
    }

    std::string_view operator[](std::size_t i) const
    {
        const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
        return std::string_view(bytes_).substr(begin, ends_[i] - begin);
    }

private:
    std::string bytes_;
    std::vector<std::size_t> ends_;
};

// The list's order of a batch: `order` gets the indices of texts [0, count) sorted by
// key, then by tie, then by index, so that equal texts keep the order they came in;
// same[i] tells whether the i-th of that order is equal to the one before it.
void SortBatch(const KeyTable& keys, const std::function<const std::string&(std::size_t)>& text, std::size_t count,
               std::vector<std::uint32_t>& order, std::vector<bool>& same)
{
    struct Entry {
        std::string_view key;
        std::uint32_t index;
    };
    std::vector<Entry> entries;
    entries.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        entries.push_back({keys[i], std::uint32_t(i)});
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const int c = a.key.compare(b.key);
        return c != 0 ? c < 0 : a.index < b.index;
    });
    order.resize(count);
    same.assign(count, false);
    std::vector<std::pair<Tie, std::uint32_t>> run;
    for (std::size_t first = 0; first < count;) {
        std::size_t last = first + 1;
        while (last < count && entries[last].key == entries[first].key)
            ++last;
        if (last - first == 1) {
            order[first] = entries[first].index;
        } else {
            run.clear();
            for (std::size_t i = first; i < last; ++i)
                run.emplace_back(TieOf(text(entries[i].index)), entries[i].index);
            std::sort(run.begin(), run.end(), [](const auto& a, const auto& b) {
                const int c = CompareTies(a.first, b.first);
                return c != 0 ? c < 0 : a.second < b.second;
            });
            for (std::size_t i = 0; i < run.size(); ++i) {
                order[first + i] = run[i].second;
                same[first + i] = i > 0 && CompareTies(run[i - 1].first, run[i].first) == 0;
            }
        }
        first = last;
    }
}

// Blocks of a list built at once.
class BlockFiller {
public:
    void Push(std::string&& text, std::uintptr_t object)
    {
        if (blocks.empty() || blocks.back().Size() == kFillBlock) {
            blocks.emplace_back();
            blocks.back().texts.reserve(kFillBlock);
        }
        blocks.back().Insert(blocks.back().Size(), std::move(text), object);
    }
    std::vector<Block> blocks;
};

} // namespace

struct TdxfItems::Impl {
    Impl() : collation(QLocale()) {}

    Collation collation;

    std::vector<Block> blocks;
    std::vector<int> starts; // starts[b]: index of the first item of blocks[b]
    int count = 0;

    bool sorted = false;
    int tracked = -1; // see TrackedIndex()
    int updateCount = 0;
    bool changedInUpdate = false;

    // The list's order of two texts: the collation first, the tie after.
    int Order(const std::string& a, const std::string& b, LazyTie& bTie) const
    {
        const int c = collation.Compare(a, b);
        if (c != 0)
            return c;
        return CompareTies(TieOf(a), bTie.Get());
    }

    bool Equal(const std::string& a, const std::string& b, LazyTie& bTie) const
    {
        // Texts of ASCII alone are equal exactly when their bytes are but for letter
        // case: then even the tie agrees.
        if (IsAscii(a) && IsAscii(b))
            return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                                      [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
        return Order(a, b, bTie) == 0;
    }

    void RestartFrom(std::size_t b)
    {
        starts.resize(blocks.size());
        int start = b == 0 ? 0 : starts[b - 1] + int(blocks[b - 1].Size());
        for (std::size_t i = b; i < blocks.size(); ++i) {
            starts[i] = start;
            start += int(blocks[i].Size());
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

    const std::string& TextAt(int index) const
    {
        auto [b, o] = Locate(index);
        return blocks[b].texts[o];
    }

    void Append(std::string&& text, std::uintptr_t object)
    {
        if (blocks.empty() || blocks.back().Size() >= kMaxBlock) {
            blocks.emplace_back();
            starts.push_back(count);
        }
        blocks.back().Insert(blocks.back().Size(), std::move(text), object);
        ++count;
    }

    void InsertAt(int index, std::string&& text, std::uintptr_t object)
    {
        if (tracked >= index)
            ++tracked;
        if (index == count) {
            Append(std::move(text), object);
            return;
        }
        auto [b, o] = Locate(index);
        const std::size_t first = b;
        if (blocks[b].Size() >= kMaxBlock) {
            const std::size_t half = blocks[b].Size() / 2;
            Block tail = blocks[b].SplitAt(half);
            blocks.insert(blocks.begin() + std::ptrdiff_t(b) + 1, std::move(tail));
            if (o >= half) {
                o -= half;
                ++b;
            }
        }
        blocks[b].Insert(o, std::move(text), object);
        RestartFrom(first);
    }

    void EraseAt(int index)
    {
        auto [b, o] = Locate(index);
        blocks[b].Erase(o);
        if (blocks[b].Size() == 0)
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

    // The blocks of a list built at once; the tracked index is the caller's.
    void Refill(BlockFiller&& filler)
    {
        blocks = std::move(filler.blocks);
        RestartFrom(0);
    }

    // First index whose item is not below the text (count when none), and whether
    // the item there is equal to it. Only meaningful while the list is in order.
    std::pair<int, bool> LowerBound(const std::string& text, LazyTie& tie) const
    {
        auto below = [&](const std::string& item) { return Order(item, text, tie) < 0; };
        auto block = std::partition_point(blocks.begin(), blocks.end(),
                                          [&](const Block& blk) { return below(blk.texts.back()); });
        if (block == blocks.end())
            return {count, false};
        const auto& texts = block->texts;
        auto it = std::partition_point(texts.begin(), texts.end(), below);
        // Some item of this block is not below the text, so `it` is inside it.
        const int index = starts[std::size_t(block - blocks.begin())] + int(it - texts.begin());
        return {index, Order(*it, text, tie) == 0};
    }

    // Returns whether any item moved. The tracked index follows its entry.
    bool SortNow()
    {
        if (count < 2)
            return false;
        if (std::size_t(count) >= kReleaseAfter)
            ReleaseFreedMemorySoon();
        std::vector<std::string> texts;
        std::vector<std::uintptr_t> objects;
        texts.reserve(std::size_t(count));
        objects.reserve(std::size_t(count));
        for (auto& blk : blocks) {
            for (std::size_t o = 0; o < blk.Size(); ++o)
                objects.push_back(blk.Object(o));
            std::move(blk.texts.begin(), blk.texts.end(), std::back_inserter(texts));
        }
        blocks.clear();

        std::vector<std::uint32_t> order;
        std::vector<bool> same;
        {
            auto text = [&](std::size_t i) -> const std::string& { return texts[i]; };
            const KeyTable keys(collation, texts.size(), text);
            SortBatch(keys, text, texts.size(), order, same);
        }
        // A stable sort: the tracked entry is where its old index went.
        bool moved = false;
        int trackedAt = -1;
        BlockFiller filler;
        for (std::size_t i = 0; i < order.size(); ++i) {
            moved = moved || order[i] != i;
            if (int(order[i]) == tracked)
                trackedAt = int(i);
            filler.Push(std::move(texts[order[i]]), objects[order[i]]);
        }
        Refill(std::move(filler));
        tracked = trackedAt;
        return moved;
    }

    // Adds texts (with their objects, or none) as AddObject of each in turn would.
    // Returns whether anything was added.
    bool AddBatch(std::vector<std::string>& texts, const std::vector<std::uintptr_t>* objects)
    {
        auto objectOf = [&](std::size_t i) { return objects ? (*objects)[i] : std::uintptr_t(0); };
        if (!sorted) {
            for (std::size_t i = 0; i < texts.size(); ++i)
                Append(std::move(texts[i]), objectOf(i));
            return !texts.empty();
        }
        if (texts.empty())
            return false;

        // The new texts in order, each kept only when no text before it is equal.
        std::vector<std::uint32_t> kept;
        {
            auto text = [&](std::size_t i) -> const std::string& { return texts[i]; };
            const KeyTable keys(collation, texts.size(), text);
            std::vector<std::uint32_t> order;
            std::vector<bool> same;
            SortBatch(keys, text, texts.size(), order, same);
            kept.reserve(order.size());
            for (std::size_t i = 0; i < order.size(); ++i)
                if (!same[i])
                    kept.push_back(order[i]);
        }
        auto newText = [&](std::size_t i) -> const std::string& { return texts[kept[i]]; };

        // Where each goes among the items held, or -1 when one of them is equal to it.
        std::vector<int> at(kept.size(), count);
        const std::size_t held = std::size_t(count);
        if (held > 0 && held <= 4 * kept.size()) {
            // Comparable in number: keys for the held items too, and one walk through both.
            std::vector<const std::string*> heldTexts;
            heldTexts.reserve(held);
            for (const auto& blk : blocks)
                for (const auto& t : blk.texts)
                    heldTexts.push_back(&t);
            auto heldText = [&](std::size_t i) -> const std::string& { return *heldTexts[i]; };
            const KeyTable heldKeys(collation, held, heldText);
            const KeyTable newKeys(collation, kept.size(), newText);
            std::size_t j = 0;
            for (std::size_t i = 0; i < kept.size(); ++i) {
                LazyTie tie(newText(i));
                int c = -1;
                for (; j < held; ++j) {
                    c = heldKeys[j].compare(newKeys[i]);
                    if (c == 0)
                        c = CompareTies(TieOf(heldText(j)), tie.Get());
                    if (c >= 0)
                        break;
                }
                at[i] = j < held && c == 0 ? -1 : int(j);
            }
        } else if (held > 0) {
            // Few new texts: a binary search for each.
            for (std::size_t i = 0; i < kept.size(); ++i) {
                LazyTie tie(newText(i));
                const auto [index, equal] = LowerBound(newText(i), tie);
                at[i] = equal ? -1 : index;
            }
        }

        const auto added = std::size_t(std::count_if(at.begin(), at.end(), [](int a) { return a >= 0; }));
        if (added == 0)
            return false;
        if (added * 64 < held) {
            // Into their blocks, the last first, so that the places found stay right.
            for (std::size_t i = kept.size(); i-- > 0;)
                if (at[i] >= 0)
                    InsertAt(at[i], std::move(texts[kept[i]]), objectOf(kept[i]));
            return true;
        }
        // Many: one merge into new blocks, each old block let go once emptied.
        BlockFiller filler;
        int trackedAt = tracked;
        std::size_t i = 0;
        int index = 0;
        auto pushNewUpTo = [&](int limit) {
            for (; i < kept.size() && at[i] <= limit; ++i)
                if (at[i] >= 0) {
                    filler.Push(std::move(texts[kept[i]]), objectOf(kept[i]));
                    if (at[i] <= tracked)
                        ++trackedAt;
                }
        };
        for (auto& blk : blocks) {
            for (std::size_t o = 0; o < blk.Size(); ++o, ++index) {
                pushNewUpTo(index);
                filler.Push(std::move(blk.texts[o]), blk.Object(o));
            }
            blk = Block();
        }
        pushNewUpTo(count);
        Refill(std::move(filler));
        tracked = trackedAt;
        return true;
    }

    // Every item in order, as (text, object).
    template <typename F>
    void ForEach(F&& f) const
    {
        for (const auto& blk : blocks)
            for (std::size_t o = 0; o < blk.Size(); ++o)
                f(blk.texts[o], blk.Object(o));
    }
};

TdxfItems::TdxfItems() : d(std::make_unique<Impl>()) {}

TdxfItems::~TdxfItems() = default;

int TdxfItems::Count() const
{
    return d->count;
}

const std::string& TdxfItems::Strings(int index) const
{
    if (index < 0 || index >= d->count)
        return kNoText;
    return d->TextAt(index);
}

std::uintptr_t TdxfItems::Objects(int index) const
{
    if (index < 0 || index >= d->count)
        return 0;
    auto [b, o] = d->Locate(index);
    return d->blocks[b].Object(o);
}

void TdxfItems::SetObject(int index, std::uintptr_t object)
{
    if (index < 0 || index >= d->count)
        return;
    auto [b, o] = d->Locate(index);
    d->blocks[b].SetObject(o, object);
    Changed();
}

int TdxfItems::Add(const std::string& text)
{
    return AddObject(text, 0);
}

int TdxfItems::AddObject(const std::string& text, std::uintptr_t object)
{
    int index = d->count;
    if (d->sorted) {
        LazyTie tie(text);
        auto [at, equal] = d->LowerBound(text, tie);
        if (equal)
            return at;
        index = at;
    }
    d->InsertAt(index, std::string(text), object);
    Changed();
    return index;
}

void TdxfItems::AddStrings(std::vector<std::string> texts)
{
    if (texts.size() >= kReleaseAfter)
        ReleaseFreedMemorySoon();
    if (d->AddBatch(texts, nullptr))
        Changed();
}

void TdxfItems::Insert(int index, const std::string& text)
{
    // A place chosen by the caller would break the order of a sorted list.
    if (d->sorted || index < 0 || index > d->count)
        return;
    d->InsertAt(index, std::string(text), 0);
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
    if (std::size_t(d->count) >= kReleaseAfter)
        ReleaseFreedMemorySoon();
    d->RemoveAll();
    Changed();
}

void TdxfItems::Assign(const TdxfItems& other)
{
    if (&other == this)
        return;
    if (std::size_t(other.d->count) >= kReleaseAfter)
        ReleaseFreedMemorySoon();
    BeginUpdate();
    Clear();
    if (!d->sorted) {
        other.d->ForEach([&](const std::string& text, std::uintptr_t object) { d->Append(std::string(text), object); });
        if (d->count > 0)
            Changed();
    } else if (other.d->sorted && d->collation.Same(other.d->collation)) {
        // Already in order: equal texts stand together, and a sorted add keeps
        // only the first of them.
        const std::string* last = nullptr;
        other.d->ForEach([&](const std::string& text, std::uintptr_t object) {
            LazyTie tie(text);
            if (last && d->Equal(*last, text, tie))
                return;
            d->Append(std::string(text), object);
            last = &text;
        });
        if (d->count > 0)
            Changed();
    } else {
        std::vector<std::string> texts;
        std::vector<std::uintptr_t> objects;
        texts.reserve(std::size_t(other.d->count));
        objects.reserve(std::size_t(other.d->count));
        other.d->ForEach([&](const std::string& text, std::uintptr_t object) {
            texts.push_back(text);
            objects.push_back(object);
        });
        if (d->AddBatch(texts, &objects))
            Changed();
    }
    EndUpdate();
}

int TdxfItems::IndexOf(const std::string& text) const
{
    LazyTie tie(text);
    if (d->sorted) {
        auto [at, equal] = d->LowerBound(text, tie);
        return equal ? at : -1;
    }
    int index = 0;
    for (const auto& blk : d->blocks)
        for (const auto& item : blk.texts) {
            if (d->Equal(item, text, tie))
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
    LazyTie tie(b);
    return Sign(d->Order(a, b, tie));
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
