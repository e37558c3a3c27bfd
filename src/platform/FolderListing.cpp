#include "platform/FolderListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/Text.h"

namespace kino {

namespace {

char FoldAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Bytes taken by the character at `at`: a whole UTF-8 sequence, else one byte.
std::size_t CharLength(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (length > 1 && at + length <= text.size() && IsValidUtf8(text.substr(at, length)))
        return length;
    return 1;
}

std::string JoinName(const std::string& folder, std::string_view name)
{
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

// The find data of `path`, taken from the folder `dirFd` (or the current folder).
std::optional<FindData> ReadFindData(int dirFd, const char* path, std::string_view name)
{
    constexpr unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    struct statx info {};
    // Follow links like a normal listing; a link that leads nowhere is still an entry.
    if (statx(dirFd, path, 0, mask, &info) != 0 && statx(dirFd, path, AT_SYMLINK_NOFOLLOW, mask, &info) != 0)
        return std::nullopt;

    FindData data;
    const unsigned type = info.stx_mode & S_IFMT;
    data.IsDirectory = type == S_IFDIR;
    data.IsSystem = type != S_IFDIR && type != S_IFREG;
    data.IsHidden = !name.empty() && name.front() == '.';
    // The access check, not the mode bits: it knows the user, groups, ACLs and
    // read-only mounts.
    data.IsReadOnly = faccessat(dirFd, path, W_OK, 0) != 0;
    data.Size = data.IsDirectory ? 0 : static_cast<std::int64_t>(info.stx_size);
    if (info.stx_mask & STATX_BTIME) {
        data.HasCreationTime = true;
        data.CreationTime = info.stx_btime.tv_sec;
    }
    data.LastWriteTime = info.stx_mtime.tv_sec;
    data.LastAccessTime = info.stx_atime.tv_sec;
    data.Device = makedev(info.stx_dev_major, info.stx_dev_minor);
    data.Inode = info.stx_ino;
    return data;
}

} // namespace

bool MatchesPattern(std::string_view name, std::string_view pattern)
{
    if (pattern == "*.*")
        return true;
    constexpr auto none = std::string_view::npos;
    std::size_t n = 0, p = 0;
    // Where the last "*" was and how much of the name it has taken so far.
    std::size_t starPattern = none, starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starPattern = ++p;
            starName = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            n += CharLength(name, n);
            ++p;
        } else if (p < pattern.size() && FoldAscii(pattern[p]) == FoldAscii(name[n])) {
            ++n;
            ++p;
        } else if (starPattern != none) {
            starName += CharLength(name, starName);
            n = starName;
            p = starPattern;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

int CompareNatural(std::string_view a, std::string_view b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            // Compare the numbers' values: leading zeros dropped, then the longer
            // run is the larger, then digit by digit.
            while (i < a.size() && a[i] == '0')
                ++i;
            while (j < b.size() && b[j] == '0')
                ++j;
            std::size_t endA = i, endB = j;
            while (endA < a.size() && IsDigit(a[endA]))
                ++endA;
            while (endB < b.size() && IsDigit(b[endB]))
                ++endB;
            if (endA - i != endB - j)
                return endA - i < endB - j ? -1 : 1;
            const int digits = a.substr(i, endA - i).compare(b.substr(j, endB - j));
            if (digits != 0)
                return digits;
            i = endA;
            j = endB;
            continue;
        }
        const auto ca = static_cast<unsigned char>(FoldAscii(a[i]));
        const auto cb = static_cast<unsigned char>(FoldAscii(b[j]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return a.compare(b);
}

FolderContents::FolderContents(std::string folder) : folder_(std::move(folder))
{
    if (folder_.empty())
        return;
    DIR* dir = opendir(folder_.c_str());
    if (!dir)
        return;
    while (const dirent* item = readdir(dir)) {
        const std::string_view name(item->d_name);
        if (name == "." || name == "..")
            continue;
        Entry entry;
        entry.name.assign(name);
        // The listing's own type spares a look at each entry for the folder test.
        switch (item->d_type) {
        case DT_DIR:
            entry.kind = Kind::Folder;
            break;
        case DT_LNK:
        case DT_UNKNOWN:
            entry.kind = Kind::Unknown;
            break;
        default:
            entry.kind = Kind::Other;
            break;
        }
        entries_.push_back(std::move(entry));
    }
    closedir(dir);
    std::sort(entries_.begin(), entries_.end(),
              [](const Entry& x, const Entry& y) { return CompareNatural(x.name, y.name) < 0; });
}

bool FolderContents::IsFolder(std::size_t index)
{
    switch (entries_[index].kind) {
    case Kind::Folder:
        return true;
    case Kind::Other:
        return false;
    case Kind::Unknown:
        break;
    }
    const FindData* data = Data(index);
    return data && data->IsDirectory;
}

const FindData* FolderContents::Data(std::size_t index)
{
    Entry& entry = entries_[index];
    if (!entry.lookedAt) {
        entry.lookedAt = true;
        // The first look goes along the whole path; a second one in the same visit
        // makes a folder handle worth opening.
        if (!handleTried_ && lookups_++ > 0) {
            handleTried_ = true;
            handle_ = UniqueFd(open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        }
        auto data = handle_.IsOpen() ? ReadFindData(handle_.Get(), entry.name.c_str(), entry.name)
                                     : ReadFindData(AT_FDCWD, JoinName(folder_, entry.name).c_str(), entry.name);
        if (data)
            entry.data = std::make_unique<FindData>(*data);
    }
    return entry.data.get();
}

void FolderContents::CloseHandle()
{
    handle_.Close();
    handleTried_ = false;
    lookups_ = 0;
}

std::vector<FolderEntry> ListFolder(const std::string& folder, std::string_view pattern)
{
    FolderContents contents(folder);
    std::vector<FolderEntry> found;
    for (std::size_t i = 0; i < contents.Count(); ++i) {
        if (!MatchesPattern(contents.Name(i), pattern))
            continue;
        if (const FindData* data = contents.Data(i))
            found.push_back({contents.Name(i), *data});
    }
    return found;
}

std::optional<FolderEntry> LookUpEntry(const std::string& path)
{
    std::string_view trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.remove_suffix(1);
    if (trimmed.empty())
        return std::nullopt;
    const auto slash = trimmed.rfind('/');
    std::string name(slash == std::string_view::npos || trimmed == "/" ? trimmed : trimmed.substr(slash + 1));
    auto data = ReadFindData(AT_FDCWD, path.c_str(), name);
    if (!data)
        return std::nullopt;
    return FolderEntry{std::move(name), *data};
}

bool PathExists(const std::string& path)
{
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

std::string CurrentFolder()
{
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string FullPathOf(std::string_view path)
{
    if (path.empty())
        return {};
    std::string whole;
    if (path.front() != '/') {
        whole = CurrentFolder();
        if (whole.empty())
            return {};
        whole += '/';
    }
    whole += path;

    std::vector<std::string_view> parts;
    std::string_view rest = whole;
    while (!rest.empty()) {
        const auto slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string full;
    for (const auto part : parts) {
        full += '/';
        full += part;
    }
    if (full.empty() || path.back() == '/')
        full += '/';
    return full;
}

} // namespace kino
