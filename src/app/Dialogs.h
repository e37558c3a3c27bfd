#pragma once
// The message boxes and dialogs that commands open go through this interface, so
// tests can answer them instead of waiting for a click.
#include <QString>

class QWidget;

namespace kino {

class IDialogs {
public:
    virtual ~IDialogs() = default;
    // The application's standard error box: title "KINOLITE", error icon, one OK button.
    virtual void ShowError(QWidget* owner, const QString& text) = 0;
};

// Qt's real boxes.
class QtDialogs : public IDialogs {
public:
    void ShowError(QWidget* owner, const QString& text) override;
};

// The text of the standard error box: a "." is added when the text is not empty and
// its last byte sorts after "." (as the last byte of every Japanese character does).
QString StandardErrorText(const QString& text);

} // namespace kino
