#pragma once
// The main window as window tests build it: its boxes answered by RecordingDialogs, its
// settings in a file of its own in a temporary folder, its playlist holding the entries
// a test starts from. A test class derives from QObject first, then from this.
#include <QAction>
#include <QMenu>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

#include "app/MovieWindow1.h"
#include "controls/dxfComboBox.h"
#include "support/RecordingDialogs.h"

// The parts of a main window that tests drive, found by the design names they keep
// as their object names.
struct MovieFormParts {
    MovieFormParts() = default;
    explicit MovieFormParts(const kino::TMovieForm1& form)
        : player(form.Player()), playlist(form.Playlist()),
          playlistStrip(form.findChild<QWidget*>(QStringLiteral("Panel1"))), fileMenu(Menu(form, "File1")),
          mediaFilterMenu(Menu(form, "N23")), speedMenu(Menu(form, "N12")), addFilesAction(Action(form, "N18")),
          addFolderTreeAction(Action(form, "CDROM1")), addUrlAction(Action(form, "URLU1")),
          resetPlaylistAction(Action(form, "N19")), autoSortAction(Action(form, "N27")),
          midiFilterAction(Action(form, "MIDI1")), exitAction(Action(form, "Exit1")),
          fitToWindowAction(Action(form, "N2")), controlBarAction(Action(form, "N9")),
          statusBarAction(Action(form, "N8")), playlistStripAction(Action(form, "N7")),
          regionNavigatorAction(Action(form, "N29")), playPauseAction(Action(form, "N3")),
          stopAction(Action(form, "S1")), nextTrackAction(Action(form, "N6")), rewindAction(Action(form, "N10")),
          fastForwardAction(Action(form, "A1")), continuousPlayAction(Action(form, "N14")),
          halfSpeedAction(Action(form, "N051")), normalSpeedAction(Action(form, "N13")),
          oneAndHalfSpeedAction(Action(form, "N21")), doubleSpeedAction(Action(form, "N22")),
          copyFrameAction(Action(form, "Copy1")), openContainingFolderAction(Action(form, "N26")),
          userGuideAction(Action(form, "G1"))
    {}

    kino::TGKitMSPlay* player = nullptr;
    kino::TdxfComboBox* playlist = nullptr;
    QWidget* playlistStrip = nullptr;
    QMenu* fileMenu = nullptr;
    QMenu* mediaFilterMenu = nullptr;
    QMenu* speedMenu = nullptr;
    QAction* addFilesAction = nullptr;
    QAction* addFolderTreeAction = nullptr;
    QAction* addUrlAction = nullptr;
    QAction* resetPlaylistAction = nullptr;
    QAction* autoSortAction = nullptr;
    QAction* midiFilterAction = nullptr;
    QAction* exitAction = nullptr;
    QAction* fitToWindowAction = nullptr;
    QAction* controlBarAction = nullptr;
    QAction* statusBarAction = nullptr;
    QAction* playlistStripAction = nullptr;
    QAction* regionNavigatorAction = nullptr;
    QAction* playPauseAction = nullptr;
    QAction* stopAction = nullptr;
    QAction* nextTrackAction = nullptr;
    QAction* rewindAction = nullptr;
    QAction* fastForwardAction = nullptr;
    QAction* continuousPlayAction = nullptr;
    QAction* halfSpeedAction = nullptr;
    QAction* normalSpeedAction = nullptr;
    QAction* oneAndHalfSpeedAction = nullptr;
    QAction* doubleSpeedAction = nullptr;
    QAction* copyFrameAction = nullptr;
    QAction* openContainingFolderAction = nullptr;
    QAction* userGuideAction = nullptr;

private:
    static QAction* Action(const kino::TMovieForm1& form, const char* name)
    {
        return form.findChild<QAction*>(QString::fromLatin1(name));
    }
    static QMenu* Menu(const kino::TMovieForm1& form, const char* name)
    {
        return form.findChild<QMenu*>(QString::fromLatin1(name));
    }
};

class MainWindowFixture {
protected:
    RecordingDialogs dialogs;
    std::unique_ptr<kino::TMovieForm1> form;
    // The parts of `form`, once made.
    MovieFormParts parts;

    QString SettingsFolder() const { return settingsFolder_.path(); }
    QString SettingsFile() const { return settingsFolder_.filePath(QStringLiteral("KINOLITE.ini")); }

    // A new window, not yet shown, with `entries` in its playlist.
    kino::TMovieForm1& MakeForm(const std::vector<std::string>& entries = {})
    {
        form = std::make_unique<kino::TMovieForm1>(&dialogs);
        parts = MovieFormParts(*form);
        form->SetSettingsPath(SettingsFile().toStdString());
        for (const std::string& e : entries)
            parts.playlist->Items().Add(e);
        return *form;
    }

private:
    QTemporaryDir settingsFolder_;
};
