#pragma once
// The message boxes and dialogs that commands open go through this interface, so
// tests can answer them instead of waiting for a click.
#include <QString>

#include <string>
#include <vector>

class QWidget;

namespace kino {

class IDialogs {
public:
    virtual ~IDialogs() = default;
    // The application's standard error box: title "KINOLITE", error icon, one OK button.
    virtual void ShowError(QWidget* owner, const QString& text) = 0;
    // The open-file dialog; false when cancelled. Paths are 8-bit, as the system names them.
    virtual bool OpenFiles(QWidget* owner, std::vector<std::string>& files) = 0;
    // The folder browser; the empty text when cancelled.
    virtual std::string BrowseFolder(QWidget* owner) = 0;
    // The URL box; the text typed, or the empty text when cancelled.
    virtual std::string InputUrl(QWidget* owner) = 0;
    // The reset confirmation; true only for "はい".
    virtual bool ConfirmReset(QWidget* owner) = 0;
    // A simple message box: title "KINOLITE", no icon, one OK button, centred on the screen.
    virtual void ShowMessage(QWidget* owner, const QString& text) = 0;
};

// Qt's real dialogs and boxes.
class QtDialogs : public IDialogs {
public:
    void ShowError(QWidget* owner, const QString& text) override;
    bool OpenFiles(QWidget* owner, std::vector<std::string>& files) override;
    std::string BrowseFolder(QWidget* owner) override;
    std::string InputUrl(QWidget* owner) override;
    bool ConfirmReset(QWidget* owner) override;
    void ShowMessage(QWidget* owner, const QString& text) override;
};

// The filters of the open-file dialog, the first selected when it opens.
QStringList OpenDialogFilters();

// The text of the standard error box: a "." is added when the text is not empty and
// its last byte sorts after "." (as the last byte of every Japanese character does).
QString StandardErrorText(const QString& text);

} // namespace kino
