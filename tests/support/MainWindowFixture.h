#pragma once
// The main window as window tests build it: its boxes answered by RecordingDialogs, its
// settings in a file of its own in a temporary folder, its playlist holding the entries
// a test starts from. A test class derives from QObject first, then from this.
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

#include "app/MovieWindow1.h"
#include "controls/dxfComboBox.h"
#include "support/RecordingDialogs.h"

class MainWindowFixture {
protected:
    RecordingDialogs dialogs;
    std::unique_ptr<kino::TMovieForm1> form;

    QString SettingsFolder() const { return settingsFolder_.path(); }
    QString SettingsFile() const { return settingsFolder_.filePath(QStringLiteral("KINOLITE.ini")); }

    // A new window, not yet shown, with `entries` in its playlist.
    kino::TMovieForm1& MakeForm(const std::vector<std::string>& entries = {})
    {
        form = std::make_unique<kino::TMovieForm1>(&dialogs);
        form->SetSettingsPath(SettingsFile().toStdString());
        for (const std::string& e : entries)
            form->playlist->Items().Add(e);
        return *form;
    }

private:
    QTemporaryDir settingsFolder_;
};
