#pragma once
// File search components. TSearchDir walks a folder tree breadth first and reports
// every folder of it, the starting folder first. TSearchFile reports the entries of
// one folder, or of every folder of a tree, whose names match a pattern. Both run
// synchronously inside Search and report through their events.
#include <QObject>

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kino {

class TFolderCache;

// One entry found by a search. Times are date-time values (days since 30 December
// 1899, the fraction being the time of day) in local time; a time that cannot be
// given in that form (before 1980, say) has its valid flag false.
struct TSearchFileData {
    std::string LongName;  // the entry's name, not its path
    std::string ShortName; // no short aliases here: the long name
    std::int64_t Size = 0;
    bool CreationTimeValid = false;
    double CreationTime = 0;
    bool LastWriteTimeValid = false;
    double LastWriteTime = 0;
    bool LastAccessTimeValid = false;
    double LastAccessTime = 0;
    // Symbolic links followed: a link to a folder is a folder; a link that leads
    // nowhere (or loops), like a FIFO or device, is neither a regular file nor a
    // folder and so counts as a system entry.
    bool IsDirectory = false;
    bool IsReadOnly = false;
    bool IsHidden = false;
    bool IsSystem = false;
    bool Reserved = false;
    bool IsArchive = false;
};

// The silent stop of a search: raised when a handler answers Continue = false and
// caught by the Search that is running, which then returns false.
class ESearchAbort : public std::exception {
public:
    const char* what() const noexcept override { return "search stopped"; }
};

class TSearchDir : public QObject {
    Q_OBJECT
public:
    using TSearchDirEvent = std::function<void(TSearchDir* sender, const std::string& name, const TSearchFileData& data,
                                               bool& ignoreSubDir, bool& cont)>;

    explicit TSearchDir(QObject* owner = nullptr);

    // Walks the tree below BaseDir. False when the walk did not start (already
    // searching, no OnFind handler, BaseDir does not exist) or was stopped.
    bool Search();

    const std::string& BaseDir() const { return baseDir_; }
    void SetBaseDir(const std::string& value) { baseDir_ = value; }

    // Listings to share with other searches; nullptr reads every folder afresh.
    const std::shared_ptr<TFolderCache>& ListingCache() const { return cache_; }
    void SetListingCache(std::shared_ptr<TFolderCache> cache) { cache_ = std::move(cache); }

    TSearchDirEvent OnFind;

protected:
    virtual void DoFind(const std::string& name, const TSearchFileData& data, bool& ignoreSubDir, bool& cont);

private:
    void Walk(const std::string& base);

    std::deque<std::string> pendingDirs_;
    std::string baseDir_;
    bool searching_ = false;
    std::shared_ptr<TFolderCache> cache_;
};

class TSearchFile : public QObject {
    Q_OBJECT
public:
    using TFindFileEvent =
        std::function<void(TSearchFile* sender, const std::string& name, const TSearchFileData& data, bool& cont)>;
    using TFindDirEvent = std::function<void(TSearchFile* sender, const std::string& name, const TSearchFileData& data,
                                             bool& skip, bool& ignoreSubDir)>;

    explicit TSearchFile(QObject* owner = nullptr);

    // Reports every entry matching SearchName in Directory, or with Recursive in
    // every folder of the tree below it (all OnFindDir calls first). False when
    // the search did not start (already searching, no OnFind handler) or was
    // stopped; true otherwise, also when nothing was found.
    bool Search();

    const std::string& Directory() const { return directory_; }
    void SetDirectory(const std::string& value) { directory_ = value; }
    bool Recursive() const { return recursive_; }
    void SetRecursive(bool value) { recursive_ = value; }
    // "*" and "?" wildcards, letter case ignored; empty means every entry. One
    // pattern: ";" is an ordinary character.
    const std::string& SearchName() const { return searchName_; }
    void SetSearchName(const std::string& value) { searchName_ = value; }

    // Listings to share with other searches, for the walk as well; nullptr reads
    // every folder afresh.
    const std::shared_ptr<TFolderCache>& ListingCache() const { return cache_; }
    void SetListingCache(std::shared_ptr<TFolderCache> cache);

    // The walk's report of one folder: asks OnFindDir, then keeps the folder for
    // the search unless the handler skipped it.
    void SearchDirOnFind(TSearchDir* sender, const std::string& name, const TSearchFileData& data, bool& ignoreSubDir,
                         bool& cont);

    TFindFileEvent OnFind;
    TFindDirEvent OnFindDir;

protected:
    virtual void DoFind(const std::string& name, const TSearchFileData& data, bool& cont);
    virtual void DoFindDir(const std::string& name, const TSearchFileData& data, bool& skip, bool& ignoreSubDir);

private:
    void SearchFolders(const std::string& pattern);

    TSearchDir* dirSearcher_;
    std::vector<std::string> folderList_;
    std::string directory_;
    bool recursive_ = false;
    bool searching_ = false;
    std::string searchName_;
    std::shared_ptr<TFolderCache> cache_;
};

} // namespace kino
