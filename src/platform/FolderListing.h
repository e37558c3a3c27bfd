#pragma once
// Folder listings for the file search: the entries of a folder in natural name
// order, each with its find data (attributes, size, three file times). Names and
// paths are 8-bit text, byte for byte as the file system gives them.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/UniqueFd.h"

namespace kino {

// What the search learns of one entry. Symbolic links are followed, as a file
// manager does; a link that leads nowhere describes the link itself.
struct FindData {
    std::int64_t Size = 0;         // 0 for a folder
    bool HasCreationTime = false;  // only where the file system keeps it
    std::int64_t CreationTime = 0; // times: seconds since 1970-01-01 UTC
    std::int64_t LastWriteTime = 0;
    std::int64_t LastAccessTime = 0;
    bool IsDirectory = false;
    bool IsReadOnly = false; // the user may not write it
    bool IsHidden = false;   // the name starts with "."
    bool IsSystem = false;   // neither a regular file nor a folder
    bool IsArchive = false;  // no counterpart here; always false
    // Identity of what the entry leads to, so a walk can tell a folder it has
    // already been in under another path.
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
};

struct FolderEntry {
    std::string Name;
    FindData Data;
};

// Whether `name` matches `pattern`: "*" matches any run of characters, "?" one
// character, other characters themselves with ASCII letter case ignored; "*.*"
// matches every name, also one without a dot. A character is a whole UTF-8
// sequence where there is one, else a single byte.
bool MatchesPattern(std::string_view name, std::string_view pattern);

// Natural name order: ASCII letter case ignored, runs of digits compared as
// numbers (ep2 before ep10), ties broken by the bytes. Negative, zero or positive.
int CompareNatural(std::string_view a, std::string_view b);

// The names of one folder, read once, in natural order ("." and ".." left out).
// An entry's find data is read the first time it is asked for and then kept, so
// that a search looks only at the entries it reports. A folder that cannot be
// read has no entries.
class FolderContents {
public:
    FolderContents() = default;
    explicit FolderContents(std::string folder);

    const std::string& Folder() const { return folder_; }
    std::size_t Count() const { return entries_.size(); }
    const std::string& Name(std::size_t index) const { return entries_[index].name; }

    // Whether the entry leads to a folder. Reads the entry only when the listing
    // itself did not tell (a symbolic link, or a file system that keeps no types).
    bool IsFolder(std::size_t index);

    // The entry's find data; nullptr when the entry can no longer be looked at
    // (removed since the folder was read, or no permission to look).
    const FindData* Data(std::size_t index);

    // Looking at entries keeps a handle of the folder open, which spares the
    // system a walk along the whole path for every entry. A search closes it when
    // it is done with the folder, so that a cache of many folders holds no handles.
    void CloseHandle();

private:
    enum class Kind : unsigned char { Folder, Other, Unknown };
    struct Entry {
        std::string name;
        Kind kind = Kind::Unknown;
        bool lookedAt = false;
        std::unique_ptr<FindData> data;
    };

    std::string folder_;
    std::vector<Entry> entries_;
    UniqueFd handle_;
    bool handleTried_ = false;
    int lookups_ = 0; // entries looked at since the handle was last closed
};

// The entries of `folder` whose names match `pattern`, with their find data, in
// natural order. Nothing when the folder cannot be read.
std::vector<FolderEntry> ListFolder(const std::string& folder, std::string_view pattern);

// The entry of `path` itself: its name (the last part of the path; "/" for the
// root folder) and find data. Nothing when there is no such entry.
std::optional<FolderEntry> LookUpEntry(const std::string& path);

// Whether `path` leads to something (symbolic links followed).
bool PathExists(const std::string& path);

// The full path of `path`: a relative path is taken from the current folder;
// "." and ".." parts and repeated separators are resolved by the text alone
// (symbolic links are left as they are); a trailing "/" is kept. The empty text
// stays empty.
std::string FullPathOf(std::string_view path);

// The process's working folder, empty when it cannot be read (removed, no access).
std::string CurrentFolder();

} // namespace kino
