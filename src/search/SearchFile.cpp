#include "search/SearchFile.h"

#include <set>
#include <utility>

#include "platform/FileTimes.h"
#include "platform/FolderListing.h"
#include "search/FolderCache.h"

namespace kino {

namespace {

// Holds a component's busy flag for one search, whichever way the search ends.
class BusyScope {
public:
    explicit BusyScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~BusyScope() { flag_ = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& flag_;
};

void SetTime(std::optional<double> value, bool& valid, double& time)
{
    valid = value.has_value();
    time = value.value_or(0.0);
}

TSearchFileData MakeSearchFileData(const std::string& name, const FindData& found)
{
    TSearchFileData data;
    data.LongName = name;
    data.ShortName = name;
    data.Size = found.Size;
    if (found.HasCreationTime)
        SetTime(FileTimeToDateTime(found.CreationTime), data.CreationTimeValid, data.CreationTime);
    SetTime(FileTimeToDateTime(found.LastWriteTime), data.LastWriteTimeValid, data.LastWriteTime);
    SetTime(FileTimeToDateTime(found.LastAccessTime), data.LastAccessTimeValid, data.LastAccessTime);
    data.IsDirectory = found.IsDirectory;
    data.IsReadOnly = found.IsReadOnly;
    data.IsHidden = found.IsHidden;
    data.IsSystem = found.IsSystem;
    data.IsArchive = found.IsArchive;
    return data;
}

// The folder ready to take a name: "/" added unless it already ends with one.
std::string WithSeparator(const std::string& folder)
{
    return !folder.empty() && folder.back() == '/' ? folder : folder + '/';
}

// Closes the folder's handle when the search leaves the folder, however it leaves.
class FolderScope {
public:
    explicit FolderScope(FolderContents& contents) : contents_(contents) {}
    ~FolderScope() { contents_.CloseHandle(); }
    FolderScope(const FolderScope&) = delete;
    FolderScope& operator=(const FolderScope&) = delete;

private:
    FolderContents& contents_;
};

// A folder's listing: the cache's when there is one, else read afresh into `own`.
FolderContents& ListingOf(TFolderCache* cache, const std::string& folder, FolderContents& own)
{
    if (cache)
        return cache->Contents(folder);
    own = FolderContents(folder);
    return own;
}

} // namespace

// ---------------------------------------------------------------- TSearchDir

TSearchDir::TSearchDir(QObject* owner) : QObject(owner) {}

bool TSearchDir::Search()
{
    if (searching_ || !OnFind)
        return false;
    const std::string base = FullPathOf(baseDir_);
    if (!PathExists(base))
        return false;
    const BusyScope busy(searching_);
    pendingDirs_.clear();
    try {
        Walk(base);
    } catch (const ESearchAbort&) {
        return false;
    }
    return true;
}

void TSearchDir::Walk(const std::string& base)
{
    // A handler may drop the cache from the component; the walk keeps it alive.
    const std::shared_ptr<TFolderCache> cache = cache_;
    // Folders already reported, by what they are rather than by path, so that a
    // symbolic link back into the tree neither loops nor reports a folder twice.
    std::set<std::pair<std::uint64_t, std::uint64_t>> reported;

    TSearchFileData baseData;
    if (const auto baseEntry = LookUpEntry(base)) {
        baseData = MakeSearchFileData(baseEntry->Name, baseEntry->Data);
        reported.insert({baseEntry->Data.Device, baseEntry->Data.Inode});
    }
    bool ignoreSubDir = false;
    bool cont = true;
    DoFind(base, baseData, ignoreSubDir, cont);
    if (!cont)
        throw ESearchAbort();
    if (!ignoreSubDir)
        pendingDirs_.push_back(base);

    FolderContents own;
    while (!pendingDirs_.empty()) {
        const std::string folder = std::move(pendingDirs_.front());
        pendingDirs_.pop_front();
        FolderContents& contents = ListingOf(cache.get(), folder, own);
        const FolderScope scope(contents);
        const std::string prefix = WithSeparator(folder);
        for (std::size_t i = 0; i < contents.Count(); ++i) {
            if (!contents.IsFolder(i))
                continue;
            const FindData* found = contents.Data(i);
            if (!found || !reported.insert({found->Device, found->Inode}).second)
                continue;
            const std::string path = prefix + contents.Name(i);
            ignoreSubDir = false;
            DoFind(path, MakeSearchFileData(contents.Name(i), *found), ignoreSubDir, cont);
            if (!cont)
                throw ESearchAbort();
            if (!ignoreSubDir)
                pendingDirs_.push_back(path);
        }
    }
}

void TSearchDir::DoFind(const std::string& name, const TSearchFileData& data, bool& ignoreSubDir, bool& cont)
{
    if (OnFind)
        OnFind(this, name, data, ignoreSubDir, cont);
}

// ---------------------------------------------------------------- TSearchFile

TSearchFile::TSearchFile(QObject* owner) : QObject(owner), dirSearcher_(new TSearchDir(this))
{
    dirSearcher_->setObjectName(QStringLiteral("DirSearcher"));
    dirSearcher_->OnFind = [this](TSearchDir* sender, const std::string& name, const TSearchFileData& data,
                                  bool& ignoreSubDir,
                                  bool& cont) { SearchDirOnFind(sender, name, data, ignoreSubDir, cont); };
}

void TSearchFile::SetListingCache(std::shared_ptr<TFolderCache> cache)
{
    cache_ = std::move(cache);
    dirSearcher_->SetListingCache(cache_);
}

bool TSearchFile::Search()
{
    if (searching_ || !OnFind)
        return false;
    const BusyScope busy(searching_);
    folderList_.clear();
    if (recursive_) {
        // A missing tree simply gives no folders; the walk's own answer is not needed.
        dirSearcher_->SetBaseDir(directory_);
        dirSearcher_->Search();
    } else {
        folderList_.push_back(FullPathOf(directory_));
    }
    try {
        SearchFolders(searchName_.empty() ? std::string("*.*") : searchName_);
    } catch (const ESearchAbort&) {
        return false;
    }
    return true;
}

void TSearchFile::SearchFolders(const std::string& pattern)
{
    const std::shared_ptr<TFolderCache> cache = cache_;
    bool cont = true;
    FolderContents own;
    for (std::size_t f = 0; f < folderList_.size(); ++f) {
        const std::string folder = folderList_[f];
        FolderContents& contents = ListingOf(cache.get(), folder, own);
        const FolderScope scope(contents);
        const std::string prefix = WithSeparator(folder);
        for (std::size_t i = 0; i < contents.Count(); ++i) {
            const std::string& name = contents.Name(i);
            if (!MatchesPattern(name, pattern))
                continue;
            const FindData* found = contents.Data(i);
            if (!found)
                continue;
            DoFind(prefix + name, MakeSearchFileData(name, *found), cont);
            if (!cont)
                throw ESearchAbort();
        }
    }
}

void TSearchFile::SearchDirOnFind(TSearchDir* /*sender*/, const std::string& name, const TSearchFileData& data,
                                  bool& ignoreSubDir, bool& /*cont*/)
{
    // The folder handler can prune the walk and skip a folder's own entries, but
    // cannot stop the walk.
    bool skip = false;
    DoFindDir(name, data, skip, ignoreSubDir);
    if (!skip)
        folderList_.push_back(name);
}

void TSearchFile::DoFind(const std::string& name, const TSearchFileData& data, bool& cont)
{
    if (OnFind)
        OnFind(this, name, data, cont);
}

void TSearchFile::DoFindDir(const std::string& name, const TSearchFileData& data, bool& skip, bool& ignoreSubDir)
{
    if (OnFindDir)
        OnFindDir(this, name, data, skip, ignoreSubDir);
}

} // namespace kino
