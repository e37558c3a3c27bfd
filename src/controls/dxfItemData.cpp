// The drop-down's item data (image index and check state packed into each item's
// object slot), its recently used list, and the three stored lists.
#include <cctype>
#include <cstdint>
#include <optional>

#include "controls/dxfComboBox.h"
#include "controls/dxfPopupWindow.h"
#include "controls/dxfRes.h"

namespace kino {

namespace {

std::int32_t Slot(const TdxfItems& items, int index)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(items.Objects(index)));
}

std::uintptr_t Pack(int imageIndex, bool checked)
{
    const std::int32_t value = std::int32_t((std::int64_t(imageIndex) + 1) * 2 + (checked ? 1 : 0));
    return std::uintptr_t(std::uint32_t(value));
}

} // namespace

int TdxfCustomComboBox::GetImageIndex(int index) const
{
    if (index < 0 || index >= items_.Count())
        return -1;
    return Slot(items_, index) / 2 - 1;
}

void TdxfCustomComboBox::SetImageIndex(int index, int value)
{
    if (index < 0 || index >= items_.Count())
        return;
    items_.SetObject(index, Pack(value, GetChecked(index)));
}

bool TdxfCustomComboBox::GetChecked(int index) const
{
    if (index < 0 || index >= items_.Count())
        return false;
    return Slot(items_, index) % 2 == 1;
}

void TdxfCustomComboBox::SetChecked(int index, bool value)
{
    if (index < 0 || index >= items_.Count())
        return;
    items_.SetObject(index, Pack(GetImageIndex(index), value));
}

void TdxfCustomComboBox::SetCheckBoxStyle(int value)
{
    // The system's own check box (0) needs no strip: it is read only for a drawn style.
    checkBoxStyle_ = value <= 0 ? 0 : std::min(value, dxfres::CheckBoxStyleCount());
}

// ----- Recently used list -----

void TdxfCustomComboBox::InsertMRUChoice(int index)
{
    if (index < 0 || index >= items_.Count())
        return;
    mru_.insert(mru_.begin(), index);
    mruTexts_.insert(mruTexts_.begin(), items_.Strings(index));
    for (std::size_t i = 1; i < mru_.size(); ++i)
        if (mru_[i] == index) {
            mru_.erase(mru_.begin() + std::ptrdiff_t(i));
            mruTexts_.erase(mruTexts_.begin() + std::ptrdiff_t(i));
            break;
        }
}

void TdxfCustomComboBox::InsertInMRUList(int index)
{
    if (index < 0 || index >= items_.Count())
        return;
    InsertMRUChoice(index);
    while (int(mru_.size()) > std::max(0, mruListCount_)) {
        mru_.pop_back();
        mruTexts_.pop_back();
    }
    if (popup_)
        popup_->BuildRows();
}

void TdxfCustomComboBox::ClearMRUList()
{
    mru_.clear();
    mruTexts_.clear();
    if (popup_)
        popup_->BuildRows();
}

void TdxfCustomComboBox::ValidateMRUList()
{
    // Entries are item indices: after items were deleted, inserted or sorted an
    // index may name another entry or none. Such entries go, rather than show a
    // wrong or empty row.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < mru_.size(); ++i) {
        const int index = mru_[i];
        if (index < items_.Count() && items_.Strings(index) == mruTexts_[i]) {
            if (kept != i) {
                mru_[kept] = index;
                mruTexts_[kept] = std::move(mruTexts_[i]);
            }
            ++kept;
        }
    }
    mru_.resize(kept);
    mruTexts_.resize(kept);
}

// ----- Stored lists -----

std::string TdxfCustomComboBox::WriteStoredLists() const
{
    std::string images = "ImageIndexes = (";
    std::string checks = "Checked = (";
    for (int i = 0; i < items_.Count(); ++i) {
        if (i > 0) {
            images += ", ";
            checks += ", ";
        }
        images += std::to_string(GetImageIndex(i));
        checks += GetChecked(i) ? "True" : "False";
    }
    return images + ")\n" + checks + ")\nHeight = " + std::to_string(height()) + "\n";
}

namespace {

// The form's notation: names, "=", integers, True/False, and lists in parentheses
// whose values are parted by commas or white space.
class StoredListReader {
public:
    explicit StoredListReader(const std::string& text) : text_(text) {}

    bool AtEnd()
    {
        SkipSpace();
        return pos_ >= text_.size();
    }
    bool Take(char c)
    {
        SkipSpace();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    std::string Word()
    {
        SkipSpace();
        const std::size_t start = pos_;
        while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
            ++pos_;
        return text_.substr(start, pos_ - start);
    }
    std::optional<int> Integer()
    {
        SkipSpace();
        std::size_t p = pos_;
        bool negative = false;
        if (p < text_.size() && (text_[p] == '-' || text_[p] == '+'))
            negative = text_[p++] == '-';
        const std::size_t digits = p;
        long long value = 0;
        while (p < text_.size() && std::isdigit(static_cast<unsigned char>(text_[p])) && value <= 0x7fffffffLL + 1)
            value = value * 10 + (text_[p++] - '0');
        if (p == digits)
            return std::nullopt;
        value = negative ? -value : value;
        if (value < -0x80000000LL || value > 0x7fffffffLL)
            return std::nullopt;
        pos_ = p;
        return int(value);
    }

private:
    void SkipSpace()
    {
        while (pos_ < text_.size() && (std::isspace(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == ','))
            ++pos_;
    }
    const std::string& text_;
    std::size_t pos_ = 0;
};

bool SameName(const std::string& a, const char* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && !b[i];
}

} // namespace

bool TdxfCustomComboBox::ReadStoredLists(const std::string& text, std::string* error)
{
    auto fail = [error](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    // Everything is read first, so that an error changes nothing.
    std::optional<std::vector<int>> images;
    std::optional<std::vector<bool>> checks;
    std::optional<int> newHeight;
    StoredListReader in(text);
    const int count = items_.Count();
    while (!in.AtEnd()) {
        const std::string name = in.Word();
        if (name.empty() || !in.Take('='))
            return fail("a name and \"=\" expected");
        if (SameName(name, "Height")) {
            newHeight = in.Integer();
            if (!newHeight)
                return fail("Height: an integer expected");
            continue;
        }
        const bool isImages = SameName(name, "ImageIndexes");
        if (!isImages && !SameName(name, "Checked"))
            return fail("unknown property " + name);
        if (!in.Take('('))
            return fail(name + ": \"(\" expected");
        std::vector<int> numbers;
        std::vector<bool> flags;
        while (!in.Take(')')) {
            if (in.AtEnd())
                return fail(name + ": \")\" expected");
            if (int(isImages ? numbers.size() : flags.size()) >= count)
                return fail(name + ": more values than the " + std::to_string(count) + " items");
            if (isImages) {
                const std::optional<int> v = in.Integer();
                if (!v)
                    return fail(name + ": an integer expected");
                numbers.push_back(*v);
            } else {
                const std::string word = in.Word();
                if (SameName(word, "True"))
                    flags.push_back(true);
                else if (SameName(word, "False"))
                    flags.push_back(false);
                else
                    return fail(name + ": True or False expected");
            }
        }
        if (isImages)
            images = std::move(numbers);
        else
            checks = std::move(flags);
    }

    items_.BeginUpdate();
    if (images)
        for (std::size_t i = 0; i < images->size(); ++i)
            SetImageIndex(int(i), (*images)[i]);
    if (checks)
        for (std::size_t i = 0; i < checks->size(); ++i)
            SetChecked(int(i), (*checks)[i]);
    items_.EndUpdate();
    if (newHeight)
        SetHeightValue(*newHeight);
    return true;
}

} // namespace kino
