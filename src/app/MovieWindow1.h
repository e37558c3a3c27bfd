#pragma once
// The main window: the picture over almost all of the client area, the playlist in a
// 20-pixel strip beneath it, the menu from which every command is given, and the
// window position kept in the settings file.
#include <QMainWindow>

#include <cstdint>
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

// The program's three windows, filled as each is created.
extern TMovieForm1* MovieForm1;
extern TInfoForm1* InfoForm1;
extern TCutForm1* CutForm1;

class TMovieForm1 : public QMainWindow {
    Q_OBJECT
public:
    // `dialogs` answers the boxes commands open; nullptr means Qt's real ones.
    explicit TMovieForm1(IDialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~TMovieForm1() override;

    // Components, named as in the window's design.
    TGKitMSPlay* Player1 = nullptr;
    QWidget* Panel1 = nullptr;
    TdxfComboBox* ComboBox1 = nullptr;
    TSearchFile* Search1 = nullptr;

    QMenu* File1 = nullptr;
    QAction* N18 = nullptr;
    QAction* CDROM1 = nullptr;
    QAction* URLU1 = nullptr;
    QAction* N28 = nullptr;
    QAction* N19 = nullptr;
    QAction* N20 = nullptr;
    QAction* N27 = nullptr;
    QMenu* N23 = nullptr;
    QAction* N24 = nullptr;
    QAction* AVI1 = nullptr;
    QAction* MPEG1 = nullptr;
    QAction* WAVE1 = nullptr;
    QAction* MIDI1 = nullptr;
    QAction* N25 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* Show1 = nullptr;
    QAction* N2 = nullptr;
    QAction* N15 = nullptr;
    QAction* N9 = nullptr;
    QAction* N8 = nullptr;
    QAction* N7 = nullptr;
    QAction* N16 = nullptr;
    QAction* N29 = nullptr;
    QMenu* P1 = nullptr;
    QAction* N3 = nullptr;
    QAction* S1 = nullptr;
    QAction* N4 = nullptr;
    QAction* N5 = nullptr;
    QAction* N6 = nullptr;
    QAction* N10 = nullptr;
    QAction* A1 = nullptr;
    QAction* N11 = nullptr;
    QAction* N14 = nullptr;
    QAction* N1 = nullptr;
    QMenu* N12 = nullptr;
    QAction* N051 = nullptr;
    QAction* N13 = nullptr;
    QAction* N21 = nullptr;
    QAction* N22 = nullptr;
    QMenu* Tool1 = nullptr;
    QAction* Copy1 = nullptr;
    QAction* N26 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* G1 = nullptr;
    QAction* N17 = nullptr;
    QAction* A2 = nullptr;

    // Private state of the window, open to tests.
    std::string ProgramFolder;
    std::string FileExt;
    // The status the player last reported.
    enum TGKitMSPlay::Status PlayerStatus = TGKitMSPlay::Stopped;

    // The command-line arguments handed over at the first showing, byte for byte.
    void SetArguments(std::vector<std::string> args) { arguments_ = std::move(args); }
    // The settings file; decided at construction from the program's folder.
    const std::string& SettingsPath() const { return settingsPath_; }
    void SetSettingsPath(std::string path) { settingsPath_ = std::move(path); }

    // The first showing runs FormShow before the window appears.
    void setVisible(bool visible) override;

    // Handlers.
    void FormShow();
    void FormClose();
    void ComboBox1Change(TdxfComboBox* sender);
    void Player1Notify(TGKitMSPlay* sender, std::int16_t status, std::int32_t detail);
    void Player1Click(TGKitMSPlay* sender);

    // File menu: building the playlist.
    void N18Click();     // add files
    void CDROM1Click();  // add a folder tree
    void URLU1Click();   // add a URL
    void N19Click();     // reset
    void N27Click();     // automatic sort
    void N24Click();     // media type filter
    void AVI1Click();
    void MPEG1Click();
    void WAVE1Click();
    void MIDI1Click();
    void Search1Find(TSearchFile* sender, const std::string& name, const TSearchFileData& data, bool& cont);

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
    void N3Click();      // play/pause
    void S1Click();      // stop
    void N5Click();      // previous track
    void N6Click();      // next track
    void N10Click();     // rewind
    void A1Click();      // fast forward
    void N14Click();     // continuous play
    void N051Click();
    void N13Click();
    void N21Click();
    void N22Click();

    // View menu.
    void N2Click();      // fit to window
    void N9Click();      // control bar
    void N8Click();      // status bar
    void N7Click();      // playlist strip
    // Tool, Help and Exit.
    void Copy1Click();   // copy the current frame
    void N26Click();     // open the folder of the shown entry
    void G1Click();      // user's guide
    void A2Click();      // about window
    void Exit1Click();

    // Region navigator: set up and show it for the current picture.
    void N29Click();
    // Binds the navigator's release and close to the player.
    void AttachNavigator(TCutForm1* navigator);

    // Re-runs the region command while the navigator is shown.
    void RerunRegionCommand();

    IDialogs& Dialogs() const { return *dialogs_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildDesign();
    void BuildMenu();
    void ChangeSpeed(QAction* chosen, double value);
    void ChooseFilter(QAction* chosen);

    IDialogs* dialogs_;
    std::vector<std::string> arguments_;
    std::string settingsPath_;
    bool shown_ = false;
};

// The local paths of a drop's "text/uri-list", byte for byte (percent-decoded, any
// length); entries that are not local files are left out.
std::vector<std::string> PathsFromUriList(const QByteArray& uriList);

} // namespace kino
