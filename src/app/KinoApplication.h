#pragma once
// The application object: the program's title and font, and the standard error box
// for anything a handler throws, so no exception unwinds through the event loop.
#include <QApplication>

namespace kino {

class IDialogs;

class TKinoApplication : public QApplication {
    Q_OBJECT
public:
    TKinoApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows `text` in the standard error box (through the main dialogs when set).
    static void ShowException(const QString& text);
    static void SetDialogs(IDialogs* dialogs);
    static IDialogs& Dialogs();
};

// The design font "ＭＳ Ｐゴシック" is drawn with the installed Japanese Gothic font.
void InstallDesignFont();
// The design font at a pixel size.
QFont DesignFont(int pixelSize);

} // namespace kino
