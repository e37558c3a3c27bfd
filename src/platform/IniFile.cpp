#include "platform/IniFile.h"

#include "platform/PathRules.h"
#include "platform/UniqueFd.h"

// Keys and values are 8-bit text kept byte for byte: no conversion, so names
// that are not UTF-8 survive a read and a write unchanged.
#define SI_NO_CONVERSION
#include <SimpleIni.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <random>
#include <utility>
#include <vector>

namespace kino {

namespace {

// A settings file holds a handful of keys, but other programs' sections may share
// it. Past this size it cannot be a settings file by mistake: it is neither parsed
// nor replaced.
constexpr off_t kMaxSettingsSize = off_t{64} * 1024 * 1024;

// A temporary file a write left behind (killed between writing and renaming) is
// removed by a later write once it is this old; a write in progress renames its
// temporary within moments.
constexpr time_t kStaleTemporaryAge = 60;
constexpr std::string_view kTemporaryInfix = ".tmp";
constexpr std::size_t kTemporarySuffixLength = 6;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Sets `value` from hexadecimal digits; false when there are none, when a
// character is not a digit, or when the value needs more than 32 bits.
bool ParseHex(std::string_view digits, int& value)
{
    if (digits.empty())
        return false;
    std::uint64_t v = 0;
    for (const char c : digits) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * 16 + static_cast<std::uint64_t>(d);
        if (v > 0xFFFFFFFFu)
            return false;
    }
    // Eight hex digits are a 32-bit pattern: 0xFFFFFFFF is -1, as the value
    // a 32-bit integer holds after the same digits are read into it.
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return true;
}

bool ParseDecimal(std::string_view text, int& value)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return false;
    std::int64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
        if (v > std::int64_t{INT32_MAX} + 1)
            return false;
    }
    if (negative)
        v = -v;
    if (v > INT32_MAX || v < INT32_MIN)
        return false;
    value = static_cast<int>(v);
    return true;
}

// What was found at the settings path.
enum class Content { Missing, Text, NotText, TooLarge, NotRegular, Unreadable };

struct Loaded {
    Content content = Content::Missing;
    std::string text;
    mode_t mode = 0;
};

// Reads the whole file when it is a regular file within the size limit without
// NUL bytes. O_NONBLOCK keeps a FIFO at the path from blocking the open; the type
// is checked on the opened descriptor so it cannot change in between.
Loaded LoadSettingsText(const std::string& path)
{
    Loaded loaded;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.IsOpen()) {
        struct stat st {};
        if (errno == ENOENT || errno == ENOTDIR)
            loaded.content = Content::Missing;
        else if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            loaded.content = Content::NotRegular;
        else
            loaded.content = Content::Unreadable;
        return loaded;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) {
        loaded.content = Content::Unreadable;
        return loaded;
    }
    if (!S_ISREG(st.st_mode)) {
        loaded.content = Content::NotRegular;
        return loaded;
    }
    loaded.mode = st.st_mode & 07777;
    if (st.st_size > kMaxSettingsSize) {
        loaded.content = Content::TooLarge;
        return loaded;
    }
    // The size is checked again while reading, in case the file grew since fstat.
    std::string text;
    char chunk[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            loaded.content = Content::Unreadable;
            return loaded;
        }
        if (n == 0)
            break;
        text.append(chunk, static_cast<std::size_t>(n));
        if (text.size() > static_cast<std::size_t>(kMaxSettingsSize)) {
            loaded.content = Content::TooLarge;
            return loaded;
        }
    }
    if (text.find('\0') != std::string::npos) {
        loaded.content = Content::NotText;
        return loaded;
    }
    loaded.content = Content::Text;
    loaded.text = std::move(text);
    return loaded;
}

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// One section header or key of the file as the parser finds it, by its place in
// the text, so a write can change one value and leave every other byte alone.
struct IniItem {
    bool isSection = false;
    // A "[" line without "]": the parser then files the keys after it, up to the
    // next header, under a name that holds a line break, which no write can name.
    bool broken = false;        // such a line, or a key after it
    std::string_view name;      // the section's or key's name, trimmed
    std::string_view section;   // for a key: the section it belongs to
    std::size_t lineStart = 0;  // where its line begins
    std::size_t valueBegin = 0; // for a key: its value, trimmed
    std::size_t valueEnd = 0;
    std::size_t end = 0; // the end of its line, before the line break
};

bool IsIniSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool IsLineBreak(char c)
{
    return c == '\r' || c == '\n';
}

constexpr std::string_view kUtf8Signature = "\xEF\xBB\xBF";

// The sections and keys of `text`, found by the parser's own rules (which the
// reads go by): blanks and empty lines skipped, ";" and "#" lines are comments,
// "[name]" opens a section, "name=value" is a key; a line without "=" or with an
// empty name is ignored; "\r" alone also ends a line. Names and values are
// trimmed of blanks.
std::vector<IniItem> ScanItems(std::string_view text)
{
    std::vector<IniItem> items;
    std::string_view section;
    bool broken = false;
    const std::size_t n = text.size();
    std::size_t p = text.substr(0, kUtf8Signature.size()) == kUtf8Signature ? kUtf8Signature.size() : 0;
    std::size_t lineStart = p;
    const auto trimEnd = [&](std::size_t begin, std::size_t end) {
        while (end > begin && IsIniSpace(text[end - 1]))
            --end;
        return end;
    };
    const auto toLineEnd = [&] {
        while (p < n && !IsLineBreak(text[p]))
            ++p;
    };
    while (p < n) {
        while (p < n && IsIniSpace(text[p])) {
            if (IsLineBreak(text[p]))
                lineStart = p + 1;
            ++p;
        }
        if (p == n)
            break;
        if (text[p] == ';' || text[p] == '#') {
            toLineEnd();
            continue;
        }
        IniItem item;
        item.lineStart = lineStart;
        if (text[p] == '[') {
            ++p;
            while (p < n && IsIniSpace(text[p]))
                ++p;
            const std::size_t nameBegin = p;
            while (p < n && text[p] != ']' && !IsLineBreak(text[p]))
                ++p;
            item.isSection = true;
            if (p == n || text[p] != ']') {
                item.broken = broken = true;
                item.end = p;
                items.push_back(item);
                continue;
            }
            item.name = text.substr(nameBegin, trimEnd(nameBegin, p) - nameBegin);
            section = item.name;
            broken = false;
            toLineEnd();
            item.end = p;
            items.push_back(item);
            continue;
        }
        const std::size_t keyBegin = p;
        while (p < n && text[p] != '=' && !IsLineBreak(text[p]))
            ++p;
        if (p == n || text[p] != '=')
            continue;
        if (p == keyBegin) {
            toLineEnd();
            continue;
        }
        item.name = text.substr(keyBegin, trimEnd(keyBegin, p) - keyBegin);
        item.section = section;
        item.broken = broken;
        ++p;
        while (p < n && !IsLineBreak(text[p]) && IsIniSpace(text[p]))
            ++p;
        item.valueBegin = p;
        toLineEnd();
        item.valueEnd = trimEnd(item.valueBegin, p);
        item.end = p;
        items.push_back(item);
    }
    return items;
}

// Names compare as the parser compares them: ASCII letter case ignored.
bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return fold(x) == fold(y);
           });
}

// The line break the file uses at `at`, or its first one, or "\n".
std::string_view LineBreakAt(std::string_view text, std::size_t at)
{
    if (at >= text.size() || !IsLineBreak(text[at])) {
        at = text.find_first_of("\r\n");
        if (at == std::string_view::npos)
            return "\n";
    }
    if (text.compare(at, 2, "\r\n") == 0)
        return "\r\n";
    return text[at] == '\r' ? "\r" : "\n";
}

// `text` with the key set to `stored`, every other byte as it was: the first
// occurrence of the key (the one reads find) gets the new value; a new key goes
// after the last entry of the section's first occurrence; a new section after
// the file's last entry, so closing comments stay last.
std::string WithValue(std::string text, const std::string& section, const std::string& key, const std::string& stored)
{
    const std::vector<IniItem> items = ScanItems(text);
    for (const IniItem& item : items) {
        if (!item.isSection && !item.broken && SameName(item.section, section) && SameName(item.name, key))
            return text.replace(item.valueBegin, item.valueEnd - item.valueBegin, stored);
    }
    const std::string entry = key + '=' + stored;
    // The last entry of the section's first occurrence; keys before any header
    // belong to the section without a name.
    const IniItem* last = nullptr;
    bool inSection = section.empty();
    for (const IniItem& item : items) {
        if (item.isSection) {
            if (last || inSection)
                break;
            inSection = !item.broken && SameName(item.name, section);
        }
        if (inSection)
            last = &item;
    }
    if (last) {
        const std::string lineBreak(LineBreakAt(text, last->end));
        return text.insert(last->end, lineBreak + entry);
    }
    if (section.empty() && !items.empty()) {
        // No key before the first header yet: the new one goes just before it.
        const std::string lineBreak(LineBreakAt(text, items.front().end));
        return text.insert(items.front().lineStart, entry + lineBreak);
    }
    const std::string header = section.empty() ? std::string() : '[' + section + ']';
    if (!items.empty() && items.back().broken && items.back().isSection) {
        // The parser would read on from a "[" line without "]" into the new
        // header; the new section goes before that line instead.
        const std::string lineBreak(LineBreakAt(text, items.back().end));
        return text.insert(items.back().lineStart, header + lineBreak + entry + lineBreak + lineBreak);
    }
    if (!items.empty()) {
        const std::string lineBreak(LineBreakAt(text, items.back().end));
        return text.insert(items.back().end, lineBreak + lineBreak + header + lineBreak + entry);
    }
    // Nothing but comments and blank lines, or nothing at all: the section is
    // added at the end.
    const std::string lineBreak(LineBreakAt(text, text.size()));
    std::string added;
    const std::size_t body = text.substr(0, kUtf8Signature.size()) == kUtf8Signature ? kUtf8Signature.size() : 0;
    if (text.size() > body) {
        if (!IsLineBreak(text.back()))
            added += lineBreak;
        added += lineBreak;
    }
    if (!header.empty())
        added += header + lineBreak;
    return text + added + entry + lineBreak;
}

// A value with blanks at its ends, or one that is itself quoted, is written in
// quotes, since reading drops both the blanks and one pair of quotes.
std::string StoredValue(const std::string& value)
{
    const bool quoted =
        value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    if (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || quoted))
        return '"' + value + '"';
    return value;
}

// Names and values that would not read back as the same entry: line breaks
// anywhere, an empty key, "=" in a key, "]" in a section name, blanks at the
// ends of a name (reading trims them), a key that reads as a comment or header.
bool CanStore(const std::string& section, const std::string& key, const std::string& value)
{
    const auto hasLineBreak = [](const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; };
    const auto blankAtEnds = [](const std::string& s) {
        return !s.empty() && (IsBlank(s.front()) || IsBlank(s.back()));
    };
    return !hasLineBreak(section) && !hasLineBreak(key) && !hasLineBreak(value) && !key.empty() &&
           key.find('=') == std::string::npos && section.find(']') == std::string::npos && !blankAtEnds(section) &&
           !blankAtEnds(key) && key.front() != ';' && key.front() != '#' && key.front() != '[';
}

bool WriteAll(int fd, const std::string& data)
{
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Creates a new file beside `target` (so that the rename stays on one file
// system). Created with mode 0666 so the user's umask applies, as it would to
// any new file; mkstemp's fixed 0600 would not.
UniqueFd CreateTemporaryBeside(const std::string& target, std::string& tempPath)
{
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> pick(0, sizeof kChars - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = target + std::string(kTemporaryInfix);
        for (std::size_t i = 0; i < kTemporarySuffixLength; ++i)
            tempPath.push_back(kChars[pick(random)]);
        UniqueFd fd(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.IsOpen() || errno != EEXIST)
            return fd;
    }
    return UniqueFd();
}

// Whether `name` is one CreateTemporaryBeside makes for the file named `base`.
bool IsOurTemporaryName(std::string_view name, std::string_view base)
{
    if (name.size() != base.size() + kTemporaryInfix.size() + kTemporarySuffixLength ||
        name.substr(0, base.size()) != base || name.substr(base.size(), kTemporaryInfix.size()) != kTemporaryInfix)
        return false;
    const std::string_view suffix = name.substr(base.size() + kTemporaryInfix.size());
    return std::all_of(suffix.begin(), suffix.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

// Removes the temporaries of earlier writes to `target` that were never renamed
// (the writer was killed in between): regular files of this user, named as this
// writer names them, untouched for a minute. A write in progress elsewhere has a
// fresh temporary and keeps it.
void RemoveStaleTemporaries(const std::string& target)
{
    const std::string folder = FolderOf(target);
    const auto slash = target.rfind('/');
    const std::string_view base =
        slash == std::string::npos ? std::string_view(target) : std::string_view(target).substr(slash + 1);
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return;
    const time_t now = ::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsOurTemporaryName(entry->d_name, base))
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid() && now - st.st_mtime >= kStaleTemporaryAge)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

// The file a write replaces: when the settings path is a symbolic link, the file
// it points to is replaced and the link kept.
std::string ReplacementTarget(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            std::string target(resolved);
            std::free(resolved);
            return target;
        }
    }
    return path;
}

void SyncFolder(const std::string& folder)
{
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.IsOpen())
        ::fsync(fd.Get());
}

} // namespace

int ParseIniInteger(std::string_view text, int def)
{
    text = TrimBlanks(text);
    int value = 0;
    bool ok;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        ok = ParseHex(text.substr(2), value);
    else if (!text.empty() && text[0] == '$')
        ok = ParseHex(text.substr(1), value);
    else
        ok = ParseDecimal(text, value);
    return ok ? value : def;
}

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const
{
    const Loaded loaded = LoadSettingsText(path_);
    if (loaded.content != Content::Text)
        return def;
    // Multi-key mode keeps every duplicate, so a key that appears twice reads as
    // its first occurrence.
    CSimpleIniA ini(false, true, false);
    if (ini.LoadData(loaded.text.data(), loaded.text.size()) < 0)
        return def;
    const char* value = ini.GetValue(section.c_str(), key.c_str(), nullptr);
    if (!value)
        return def;
    std::string_view v(value);
    // A value in matching quotes is read without them, so a value with
    // meaningful blanks at its ends can be stored.
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

int IniFile::ReadInteger(const std::string& section, const std::string& key, int def) const
{
    return ParseIniInteger(ReadString(section, key, std::string()), def);
}

bool IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    if (!CanStore(section, key, value))
        return false;
    const std::string target = ReplacementTarget(path_);
    const Loaded loaded = LoadSettingsText(target);
    // A folder or device at the path cannot be replaced; a file we may not read
    // would lose its contents.
    // A text file too large to be read is kept as it is.
    if (loaded.content == Content::NotRegular || loaded.content == Content::Unreadable ||
        loaded.content == Content::TooLarge)
        return false;
    // Only the key's value changes, so rounds of writes neither grow the file nor
    // reformat it. A file that is not text has nothing worth keeping: it is
    // replaced by a valid settings file.
    const std::string data =
        WithValue(loaded.content == Content::Text ? loaded.text : std::string(), section, key, StoredValue(value));

    RemoveStaleTemporaries(target);
    std::string tempPath;
    UniqueFd fd = CreateTemporaryBeside(target, tempPath);
    if (!fd.IsOpen())
        return false;
    bool ok = true;
    if (loaded.content != Content::Missing)
        ok = ::fchmod(fd.Get(), loaded.mode) == 0;
    ok = ok && WriteAll(fd.Get(), data) && ::fsync(fd.Get()) == 0;
    ok = fd.Close() && ok;
    ok = ok && ::rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
        return false;
    }
    const std::string folder = FolderOf(target);
    SyncFolder(folder.empty() ? "." : folder);
    return true;
}

bool IniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    return WriteString(section, key, std::to_string(value));
}

} // namespace kino
