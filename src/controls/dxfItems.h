#pragma once
// The drop-down's item list: 8-bit texts, each with an object slot. Texts are
// ordered by the user's locale, letter case ignored; two texts are equal only when
// they are the same text but for letter case (case-folded display text equal; for a
// name that decodes neither as UTF-8 nor as Shift-JIS, the bytes equal but for ASCII
// letter case). Texts the locale orders alike but which are not equal (kana kind,
// width, normalisation, undecodable names) follow one another in a fixed order by
// their case-folded text, then their bytes. While sorted the list keeps that order
// and ignores the addition of a text equal to one it holds. Built for 100,000
// entries: an entry holds its text and object alone, a sorted add finds its place by
// binary search and inserts without moving the whole list, and a batch of adds is
// sorted once and merged in.
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kino {

class TdxfItems : public QObject {
    Q_OBJECT
public:
    TdxfItems();
    ~TdxfItems();
    TdxfItems(const TdxfItems&) = delete;
    TdxfItems& operator=(const TdxfItems&) = delete;

    int Count() const;
    const std::string& Strings(int index) const; // index in [0, Count())
    std::uintptr_t Objects(int index) const;
    void SetObject(int index, std::uintptr_t object); // a change (notifies)

    // Appends (unsorted) or inserts at the sorted place. Sorted and an equal text
    // is held: nothing changes and the index of the held text is returned.
    int Add(const std::string& text);
    int AddObject(const std::string& text, std::uintptr_t object);
    // Adds each text in turn as Add does, as one change: the same list, tracked index
    // and a single notification, but while sorted the new texts are sorted once and
    // merged in rather than each searched for.
    void AddStrings(std::vector<std::string> texts);
    void Insert(int index, const std::string& text); // ignored while sorted
    void Delete(int index);
    void Clear();
    void Assign(const TdxfItems& other); // texts and objects

    // Index of the first text equal to `text` (letter case ignored, see above), or -1.
    // Binary search while sorted.
    int IndexOf(const std::string& text) const;

    bool Sorted() const;
    void SetSorted(bool sorted); // sorts at once when switched on
    void Sort();

    // Changes made between BeginUpdate and the matching EndUpdate raise OnChange
    // once, at the EndUpdate, when anything changed.
    void BeginUpdate();
    void EndUpdate();

    // <0, 0, >0 as a sorts before, equal to or after b: the order the sorted list
    // keeps (the locale's, case ignored, then the fixed tie order); 0 only for texts
    // equal as above.
    int Compare(const std::string& a, const std::string& b) const;

    // The entry the list follows for its owner (the drop-down's selection), or -1.
    // Inserts and deletes before it and sorting move the index with its entry. When
    // the entry itself is deleted the index stays where it was (the next entry takes
    // its place), or becomes -1 when that is past the end; Clear makes it -1.
    int TrackedIndex() const;
    void SetTrackedIndex(int index); // outside [0, Count()): -1

    // The owner's notification (the drop-down binds it); other observers connect to
    // changed(), which follows it, so they see the owner already up to date.
    std::function<void(TdxfItems* sender)> OnChange;

signals:
    void changed(kino::TdxfItems* sender);

private:
    void Changed(); // notifies now, or at the outermost EndUpdate

    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace kino
