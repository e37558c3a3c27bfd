#pragma once
// The drop-down's item list: 8-bit texts, each with an object slot, compared
// ignoring letter case by the user's locale. While sorted it keeps that order and
// ignores the addition of a text equal to one it holds. Built for 100,000 entries:
// a sorted add finds its place by binary search and inserts without moving the
// whole list.
#include <cstdint>
#include <functional>
#include <string>

namespace kino {

class TdxfItems {
public:
    TdxfItems();
    ~TdxfItems();
    TdxfItems(const TdxfItems&) = delete;
    TdxfItems& operator=(const TdxfItems&) = delete;

    int Count() const;
    const std::string& Strings(int index) const;      // index in [0, Count())
    std::uintptr_t Objects(int index) const;
    void SetObject(int index, std::uintptr_t object);  // a change (notifies)

    // Appends (unsorted) or inserts at the sorted place. Sorted and an equal text
    // is held: nothing changes and the index of the held text is returned.
    int Add(const std::string& text);
    int AddObject(const std::string& text, std::uintptr_t object);
    void Insert(int index, const std::string& text);   // ignored while sorted
    void Delete(int index);
    void Clear();
    void Assign(const TdxfItems& other);                // texts and objects

    // Index of the first text equal to `text` (letter case ignored), or -1.
    // Binary search while sorted.
    int IndexOf(const std::string& text) const;

    bool Sorted() const;
    void SetSorted(bool sorted);                        // sorts at once when switched on
    void Sort();

    // Changes made between BeginUpdate and the matching EndUpdate raise OnChange
    // once, at the EndUpdate, when anything changed.
    void BeginUpdate();
    void EndUpdate();

    // <0, 0, >0 as a sorts before, equal to or after b (locale-aware, case ignored).
    int Compare(const std::string& a, const std::string& b) const;

    std::function<void(TdxfItems* sender)> OnChange;

private:
    void Changed();   // notifies now, or at the outermost EndUpdate

    struct Impl;
    Impl* d;
};

} // namespace kino
