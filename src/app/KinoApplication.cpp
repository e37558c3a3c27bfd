#include "app/KinoApplication.h"

#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>

#include <exception>

#include "app/Dialogs.h"

namespace kino {

namespace {
QtDialogs g_qtDialogs;
IDialogs* g_dialogs = nullptr;
const QString kDesignFont = QStringLiteral("ＭＳ Ｐゴシック");
// What stands in for the design's font where it is not installed, in order.
const QStringList kStandIns = {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                               QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic")};

// The design's family when installed, else the first stand-in that is. Asked for by a
// family that is not installed, the toolkit searches fontconfig's fallbacks for it, for
// every script, before it comes to the stand-ins: a quarter of the window's work before
// its first picture, for the same letters.
QString DesignFamily()
{
    static const QString family = [] {
        if (QFontDatabase::hasFamily(kDesignFont))
            return kDesignFont;
        for (const QString& standIn : kStandIns)
            if (QFontDatabase::hasFamily(standIn))
                return standIn;
        return kDesignFont;
    }();
    return family;
}
} // namespace

TKinoApplication::TKinoApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // The name only: a display name would be appended to every other window's caption.
    setApplicationName(QStringLiteral("KINOLITE"));
    InstallQtTranslation(QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    InstallDesignFont();
}

bool TKinoApplication::InstallQtTranslation(const QString& folder)
{
    removeTranslator(&qtTranslator_);
    if (!qtTranslator_.load(QStringLiteral("qtbase_ja"), folder))
        return false;
    installTranslator(&qtTranslator_);
    return true;
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

QByteArray PreferredPlatform(const QByteArray& chosen, const QByteArray& display, const QByteArray& wayland)
{
    if (!chosen.isEmpty() || display.isEmpty())
        return {};
    Q_UNUSED(wayland); // on a plain X session xcb is Qt's choice anyway
    return QByteArrayLiteral("xcb");
}

void ChoosePlatform()
{
    const QByteArray platform =
        PreferredPlatform(qgetenv("QT_QPA_PLATFORM"), qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY"));
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform);
}

void InstallDesignFont()
{
    QFont::insertSubstitutions(kDesignFont, kStandIns);
    QApplication::setFont(DesignFont(12));
}

QFont DesignFont(int pixelSize)
{
    QFont font(DesignFamily());
    font.setPixelSize(pixelSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace kino
