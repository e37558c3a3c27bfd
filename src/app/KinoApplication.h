#pragma once
// The application object: the program's title, font and Qt's own texts in Japanese,
// and the standard error box for anything a handler throws, so no exception unwinds
// through the event loop.
#include <QApplication>
#include <QTranslator>

namespace kino {

class IDialogs;

class TKinoApplication : public QApplication {
    Q_OBJECT
public:
    TKinoApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Qt's own texts (dialog buttons, the file dialogs, message boxes) in Japanese,
    // whatever the user's locale, from Qt's translations in `folder`: the program speaks
    // Japanese throughout. False, with Qt's English texts, when the folder has none.
    bool InstallQtTranslation(const QString& folder);

    // Shows `text` in the standard error box (through the main dialogs when set).
    static void ShowException(const QString& text);
    static void SetDialogs(IDialogs* dialogs);
    static IDialogs& Dialogs();

private:
    QTranslator qtTranslator_;
};

// The Qt platform the program asks for, given the user's own choice (QT_QPA_PLATFORM),
// DISPLAY and WAYLAND_DISPLAY: "xcb" when the user chose none and an X display is at
// hand, since Wayland gives programs no window positions and the saved position would
// mean nothing there; otherwise empty (Qt's own choice stands).
QByteArray PreferredPlatform(const QByteArray& chosen, const QByteArray& display, const QByteArray& wayland);
// Applies PreferredPlatform to this process; call before the application object exists.
void ChoosePlatform();

// The design font "ＭＳ Ｐゴシック" is drawn with the installed Japanese Gothic font.
void InstallDesignFont();
// The design font at a pixel size.
QFont DesignFont(int pixelSize);

} // namespace kino
