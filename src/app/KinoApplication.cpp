#include "app/KinoApplication.h"

#include <QFont>

#include <exception>

#include "app/Dialogs.h"

namespace kino {

namespace {
QtDialogs g_qtDialogs;
IDialogs* g_dialogs = nullptr;
const QString kDesignFont = QStringLiteral("ＭＳ Ｐゴシック");
}

TKinoApplication::TKinoApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("KINOLITE"));
    setApplicationDisplayName(QStringLiteral("KINOLITE"));
    InstallDesignFont();
}

bool TKinoApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowException(QStringLiteral("予期しないエラーが発生しました"));
    }
    return false;
}

void TKinoApplication::ShowException(const QString& text)
{
    Dialogs().ShowError(QApplication::activeWindow(), text);
}

void TKinoApplication::SetDialogs(IDialogs* dialogs)
{
    g_dialogs = dialogs;
}

IDialogs& TKinoApplication::Dialogs()
{
    return g_dialogs ? *g_dialogs : g_qtDialogs;
}

void InstallDesignFont()
{
    QFont::insertSubstitutions(kDesignFont, {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                                             QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic")});
    QApplication::setFont(DesignFont(12));
}

QFont DesignFont(int pixelSize)
{
    QFont font(kDesignFont);
    font.setPixelSize(pixelSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace kino
