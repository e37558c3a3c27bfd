#pragma once
// The main window: the picture over almost all of the client area, the playlist in a
// 20-pixel strip beneath it, the menu from which every command is given, and the
// window position kept in the settings file.
#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "player/TGKitMSPlay.h"

class QAction;
class QByteArray;
class QMenu;

namespace kino {

class IDialogs;
class TCutForm1;
class TdxfComboBox;
class TInfoForm1;
class TMovieForm1;
class TSearchFile;
struct TSearchFileData;

class TMovieForm1 : public QMainWindow {
    Q_OBJECT
public:
    // `dialogs` answers the boxes commands open; nullptr means Qt's real ones.
    explicit TMovieForm1(IDialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~TMovieForm1() override;

    // The client area's size as designed, which the window opens at.
    static QSize DesignClientSize();

    // The player and the playlist, for the windows and services beside this one (the
    // desktop's media controls); the rest of the window is its own.
    TGKitMSPlay* Player() const { return player_; }
    TdxfComboBox* Playlist() const { return playlist_; }
    // The status the player last reported.
    TGKitMSPlay::StatusCode PlayerStatus() const { return playerStatus_; }
    // The about window and the region navigator the commands show; without them the
    // commands do nothing. The about window is made when first asked for: nothing of it
    // need be built before the first picture.
    void SetAboutWindow(std::function<TInfoForm1*()> make) { makeAbout_ = std::move(make); }

    // The command-line arguments handed over at the first showing, byte for byte.
    void SetArguments(std::vector<std::string> args) { arguments_ = std::move(args); }
    // The settings file; decided at construction from the program's folder.
    const std::string& SettingsPath() const { return settingsPath_; }
    void SetSettingsPath(std::string path) { settingsPath_ = std::move(path); }

    // The first showing runs FormShow before the window appears.
    void setVisible(bool visible) override;

    // The window's own events.
    void FormShow();
    void FormClose();
    // The chosen playlist entry goes to the player.
    void OpenChosenEntry();
    // Keeps the player's status; at the end of a track, continuous play moves on.
    void FollowPlayerStatus(std::int16_t status);
    std::string FollowingEntry() const;

    // File menu: building the playlist.
    void AddFiles();
    void AddFolderTree();
    void AddUrl();
    void ResetPlaylist();
    void ToggleAutoSort();
    // The media type filter of folder searches.
    void FilterAllMedia();
    void FilterAvi();
    void FilterMpeg();
    void FilterWave();
    void FilterMidi();
    // A file the folder search found.
    void AddFoundFile(const std::string& name, const TSearchFileData& data);

    // Paths dropped on the window (8-bit, in the order the drop lists them).
    void DropFiles(const std::vector<std::string>& paths);
    // A dropped path or command-line argument: a folder is searched, a media file added.
    void AddPath(const std::string& path);
    // Adds the media of a folder tree, pattern by pattern as the media type filter says.
    void FolderSearch(const std::string& folder);
    // A single file counts as media by its whole extension, letter case ignored.
    bool IsMediaFile(const std::string& path);
    // The last step of every add: start the first entry when the player is stopped.
    void AfterAddSelection();
    // The name patterns of the checked media type filter, in search order.
    std::vector<std::string> FilterPatterns() const;

    // Play menu.
    void PlayPause();
    void Stop();
    void PreviousTrack();
    void NextTrack();
    void Rewind();
    void FastForward();
    void ToggleContinuousPlay();
    void PlayAtHalfSpeed();
    void PlayAtNormalSpeed();
    void PlayAtOneAndHalfSpeed();
    void PlayAtDoubleSpeed();

    // View menu.
    void ToggleFitToWindow();
    void ToggleControlBar();
    void ToggleStatusBar();
    void TogglePlaylistStrip();
    // Tool, Help and Exit.
    void CopyCurrentFrame();
    void OpenContainingFolder();
    void OpenUserGuide();
    void ShowAbout();
    void Exit();

    // Region navigator: set up and show it for the current picture.
    void ShowRegionNavigator();
    // The navigator the region command shows; its release and close are bound to the
    // player.
    void AttachNavigator(TCutForm1* navigator);

    // Re-runs the region command while the navigator is shown.
    void RerunRegionCommand();

    IDialogs& Dialogs() const { return *dialogs_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The desktop's media controls drive the window as its menu does.
    friend class TMprisService;

    void BuildDesign();
    void BuildMenu();
    void ChangeSpeed(QAction* chosen, double value);
    void ChooseFilter(QAction* chosen);

    // The window's parts. Each keeps its design name as its objectName (the player
    // "Player1", the strip "Panel1", the list "ComboBox1", the search "Search1", every
    // menu and item its own), so a reader can trace it and a test find it.
    TGKitMSPlay* player_ = nullptr;
    QWidget* playlistStrip_ = nullptr;
    TdxfComboBox* playlist_ = nullptr;
    TSearchFile* folderSearch_ = nullptr;

    QMenu* fileMenu_ = nullptr;
    QAction* addFilesAction_ = nullptr;
    QAction* addFolderTreeAction_ = nullptr;
    QAction* addUrlAction_ = nullptr;
    QAction* resetPlaylistAction_ = nullptr;
    QAction* autoSortAction_ = nullptr;
    QMenu* mediaFilterMenu_ = nullptr;
    QAction* allMediaFilterAction_ = nullptr;
    QAction* aviFilterAction_ = nullptr;
    QAction* mpegFilterAction_ = nullptr;
    QAction* waveFilterAction_ = nullptr;
    QAction* midiFilterAction_ = nullptr;
    QAction* exitAction_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QAction* fitToWindowAction_ = nullptr;
    QAction* controlBarAction_ = nullptr;
    QAction* statusBarAction_ = nullptr;
    QAction* playlistStripAction_ = nullptr;
    QAction* regionNavigatorAction_ = nullptr;
    QMenu* playMenu_ = nullptr;
    QAction* playPauseAction_ = nullptr;
    QAction* stopAction_ = nullptr;
    QAction* previousTrackAction_ = nullptr;
    QAction* nextTrackAction_ = nullptr;
    QAction* rewindAction_ = nullptr;
    QAction* fastForwardAction_ = nullptr;
    QAction* continuousPlayAction_ = nullptr;
    QMenu* speedMenu_ = nullptr;
    QAction* halfSpeedAction_ = nullptr;
    QAction* normalSpeedAction_ = nullptr;
    QAction* oneAndHalfSpeedAction_ = nullptr;
    QAction* doubleSpeedAction_ = nullptr;
    QMenu* toolMenu_ = nullptr;
    QAction* copyFrameAction_ = nullptr;
    QAction* openContainingFolderAction_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QAction* userGuideAction_ = nullptr;
    QAction* aboutAction_ = nullptr;

    std::string programFolder_;
    TGKitMSPlay::StatusCode playerStatus_ = TGKitMSPlay::Stopped;
    std::function<TInfoForm1*()> makeAbout_;
    TInfoForm1* about_ = nullptr;
    TCutForm1* navigator_ = nullptr;

    IDialogs* dialogs_;
    std::vector<std::string> arguments_;
    std::string settingsPath_;
    bool shown_ = false;
};

// The local paths of a drop's "text/uri-list", byte for byte (percent-decoded, any
// length); entries that are not local files are left out.
std::vector<std::string> PathsFromUriList(const QByteArray& uriList);

} // namespace kino
