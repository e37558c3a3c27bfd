#include "search/FolderCache.h"

namespace kino {

FolderContents& TFolderCache::Contents(const std::string& folder)
{
    auto found = folders_.find(folder);
    if (found == folders_.end())
        found = folders_.emplace(folder, FolderContents(folder)).first;
    return found->second;
}

} // namespace kino
