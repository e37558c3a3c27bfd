// The main window's playlist building: files, folder trees, URLs, drops and the
// command line, the reset, the sort switch and the media type filter.
#include <QAction>
#include <QCollator>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <memory>

#include "app/Dialogs.h"
#include "app/MovieWindow1.h"
#include "controls/dxfComboBox.h"
#include "platform/PathRules.h"
#include "platform/Text.h"
#include "player/TGKitMSPlay.h"
#include "search/FolderCache.h"
#include "search/SearchFile.h"

namespace kino {

namespace {

const char* const kMediaExtensions[] = {".AVI", ".MPG", ".MPEG", ".WAV", ".WAVE", ".MID", ".MIDI"};

bool AsciiEqualIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

// Groups the changes of one command, so the list notifies (and the player is handed an
// entry) at most once however many entries it adds. The entries are handed to the list
// together when the command ends, so that a sorted list sorts them once and merges them
// in instead of searching for each one's place. Batches nest; the outermost adds.
class ListBatch {
public:
    explicit ListBatch(TdxfItems& items) : items_(items), outer_(current_)
    {
        items_.BeginUpdate();
        current_ = this;
    }
    ~ListBatch()
    {
        current_ = outer_;
        try {
            if (outer_ && &outer_->items_ == &items_)
                std::move(pending_.begin(), pending_.end(), std::back_inserter(outer_->pending_));
            else
                items_.AddStrings(std::move(pending_));
        } catch (...) {
            // Only memory can run out here, and a destructor must not throw: the
            // entries found are not added, the list stays as it was.
        }
        items_.EndUpdate();
    }
    ListBatch(const ListBatch&) = delete;
    ListBatch& operator=(const ListBatch&) = delete;

    // Adds through the innermost batch open on `items`, or at once without one.
    static void Add(TdxfItems& items, const std::string& text)
    {
        if (current_ && &current_->items_ == &items)
            current_->pending_.push_back(text);
        else
            items.Add(text);
    }

private:
    static inline ListBatch* current_ = nullptr; // commands run on the GUI thread alone
    TdxfItems& items_;
    ListBatch* const outer_;
    std::vector<std::string> pending_;
};

} // namespace

std::vector<std::string> PathsFromUriList(const QByteArray& uriList)
{
    std::vector<std::string> paths;
    for (QByteArray line : uriList.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (!line.startsWith("file:"))
            continue;
        QByteArray rest = line.mid(5);
        if (rest.startsWith("//")) {
            // file://host/path: only this machine's files ("" or "localhost") are paths here.
            const int slash = rest.indexOf('/', 2);
            if (slash < 0)
                continue;
            const QByteArray host = rest.mid(2, slash - 2);
            if (!host.isEmpty() && host != "localhost")
                continue;
            rest = rest.mid(slash);
        }
        // Decoded byte for byte. A "%" that starts no escape stands for itself; Qt would
        // take the two bytes after it as digits, so it is escaped first.
        QByteArray escaped;
        escaped.reserve(rest.size());
        for (qsizetype i = 0; i < rest.size(); ++i) {
            const bool escape = i + 2 < rest.size() && std::isxdigit(static_cast<unsigned char>(rest[i + 1])) &&
                                std::isxdigit(static_cast<unsigned char>(rest[i + 2]));
            if (rest[i] == '%' && !escape)
                escaped.append("%25");
            else
                escaped.append(rest[i]);
        }
        std::string path = QByteArray::fromPercentEncoding(escaped).toStdString();
        if (!path.empty() && path.find('\0') == std::string::npos)
            paths.push_back(std::move(path));
    }
    return paths;
}

bool TMovieForm1::IsMediaFile(const std::string& path)
{
    const std::string ext = ExtensionOf(path);
    if (ext.empty())
        return false;
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    const QString shown = ToDisplay(ext);
    for (const char* media : kMediaExtensions) {
        // Letter case is ignored by the user's locale; the plain ASCII test as well, so
        // a locale whose case rules differ for "I" still knows ".avi".
        if (AsciiEqualIgnoringCase(ext, media) || collator.compare(shown, QLatin1String(media)) == 0)
            return true;
    }
    return false;
}

std::vector<std::string> TMovieForm1::FilterPatterns() const
{
    if (aviFilterAction_->isChecked())
        return {"*.avi"};
    if (mpegFilterAction_->isChecked())
        return {"*.mpg", "*.mpeg"};
    if (waveFilterAction_->isChecked())
        return {"*.wav", "*.wave"};
    if (midiFilterAction_->isChecked())
        return {"*.mid", "*.midi"};
    return {"*.avi", "*.mpg", "*.mpeg", "*.wav", "*.wave", "*.mid", "*.midi"};
}

void TMovieForm1::FolderSearch(const std::string& folder)
{
    // One walk of the disk serves every pattern: the listings are kept for this search,
    // and the entries still arrive pattern by pattern, as separate walks would give them.
    ListBatch batch(playlist_->Items());
    folderSearch_->SetListingCache(std::make_shared<TFolderCache>());
    folderSearch_->SetDirectory(folder);
    for (const std::string& pattern : FilterPatterns()) {
        folderSearch_->SetSearchName(pattern);
        folderSearch_->Search();
    }
    folderSearch_->SetListingCache(nullptr);
}

void TMovieForm1::AddFoundFile(const std::string& name, const TSearchFileData& data)
{
    // Only what can be a medium: a regular file, or a link that leads to one (the
    // find data follows links). A folder named clip.avi, a link that leads nowhere
    // or loops, and a FIFO or device (whose opening would wait for a writer and
    // freeze the window) are left out.
    if (data.IsDirectory || data.IsSystem)
        return;
    ListBatch::Add(playlist_->Items(), name);
}

void TMovieForm1::AddPath(const std::string& path)
{
    // A location with a scheme (http://...) names no local entry; it is taken as the
    // URL command takes a typed one, so "kinolite URL" plays it.
    if (HasUriScheme(path) && path.rfind("file:", 0) != 0) {
        struct stat local {};
        if (::stat(path.c_str(), &local) != 0) {
            ListBatch::Add(playlist_->Items(), path);
            return;
        }
    }
    if (path.empty())
        return;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return;
    // Shell completion and file managers end a folder's path with "/": it is that folder.
    // A file's name never ends so. As in a folder search, only a regular file (or a
    // link to one) can be a medium.
    if (S_ISDIR(st.st_mode))
        FolderSearch(WithoutTrailingSlashes(path));
    else if (S_ISREG(st.st_mode) && path.back() != '/' && IsMediaFile(path))
        ListBatch::Add(playlist_->Items(), path);
}

void TMovieForm1::AfterAddSelection()
{
    if (playerStatus_ != TGKitMSPlay::Stopped)
        return;
    playlist_->SetItemIndex(0);
    RerunRegionCommand();
}

void TMovieForm1::AddFiles()
{
    std::vector<std::string> files;
    if (dialogs_->OpenFiles(this, files)) {
        // One change of the list; the texts move into it.
        playlist_->Items().AddStrings(std::move(files));
    }
    AfterAddSelection();
}

void TMovieForm1::AddFolderTree()
{
    const std::string folder = dialogs_->BrowseFolder(this);
    setWindowTitle(QStringLiteral("KINOLITE - 検索中......"));
    repaint();
    {
        ListBatch batch(playlist_->Items());
        if (!folder.empty())
            FolderSearch(folder);
    }
    continuousPlayAction_->setChecked(true);
    AfterAddSelection();
    setWindowTitle(QStringLiteral("KINOLITE"));
}

void TMovieForm1::AddUrl()
{
    const std::string url = dialogs_->InputUrl(this);
    if (!url.empty())
        playlist_->Items().Add(url);
    AfterAddSelection();
}

void TMovieForm1::DropFiles(const std::vector<std::string>& paths)
{
    {
        ListBatch batch(playlist_->Items());
        for (const std::string& p : paths)
            AddPath(p);
    }
    continuousPlayAction_->setChecked(true);
    AfterAddSelection();
}

void TMovieForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasFormat(QStringLiteral("text/uri-list")))
        event->acceptProposedAction();
}

void TMovieForm1::dropEvent(QDropEvent* event)
{
    // The raw bytes of the list, not QUrl: names that are not UTF-8 arrive intact.
    const auto paths = PathsFromUriList(event->mimeData()->data(QStringLiteral("text/uri-list")));
    event->acceptProposedAction();
    DropFiles(paths);
}

void TMovieForm1::ResetPlaylist()
{
    if (!dialogs_->ConfirmReset(this))
        return;
    playlist_->Items().Clear();
    player_->Stop();
    player_->SetFileName(std::string());
    RerunRegionCommand();
}

void TMovieForm1::ToggleAutoSort()
{
    autoSortAction_->setChecked(!autoSortAction_->isChecked());
    playlist_->SetSorted(autoSortAction_->isChecked());
}

void TMovieForm1::ChooseFilter(QAction* chosen)
{
    for (QAction* a : {allMediaFilterAction_, aviFilterAction_, mpegFilterAction_, waveFilterAction_, midiFilterAction_})
        a->setChecked(a == chosen);
}

void TMovieForm1::FilterAllMedia()
{
    ChooseFilter(allMediaFilterAction_);
}
void TMovieForm1::FilterAvi()
{
    ChooseFilter(aviFilterAction_);
}
void TMovieForm1::FilterMpeg()
{
    ChooseFilter(mpegFilterAction_);
}
void TMovieForm1::FilterWave()
{
    ChooseFilter(waveFilterAction_);
}
void TMovieForm1::FilterMidi()
{
    ChooseFilter(midiFilterAction_);
}

} // namespace kino
