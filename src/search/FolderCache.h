#pragma once
// Folder listings shared by several searches over the same tree. The main window
// looks for one media pattern after another in one command; with a cache each
// folder is read from the disk once for all of them, and each entry looked at
// once, while every search still reports exactly what it would report alone.
#include <string>
#include <unordered_map>

#include "platform/FolderListing.h"

namespace kino {

class TFolderCache {
public:
    // The contents of `folder` (a full path, spelt as the search spells it), read
    // on the first request and kept for the cache's lifetime. The reference stays
    // valid until Clear or the cache's end.
    FolderContents& Contents(const std::string& folder);

    // How many folders have been read.
    std::size_t FolderCount() const { return folders_.size(); }

    // Forgets every listing, so the next search reads the disk again. Not while a
    // search that uses the cache is running.
    void Clear() { folders_.clear(); }

private:
    std::unordered_map<std::string, FolderContents> folders_;
};

} // namespace kino
