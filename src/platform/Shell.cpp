#include "platform/Shell.h"

#include "platform/FolderListing.h"
#include "platform/PathRules.h"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>

#include <atomic>

namespace kino {

namespace {

std::atomic<IShell*> g_shell{nullptr};

DesktopShell& TheDesktopShell()
{
    static DesktopShell shell;
    return shell;
}

bool IsUnreservedOrSlash(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~' || c == '/';
}

// A folder that cannot be read leaves "/" to resolve against, as the shell would.
std::string WorkingFolderOrRoot()
{
    std::string folder = CurrentFolder();
    return folder.empty() ? std::string("/") : folder;
}

} // namespace

IShell& Shell()
{
    IShell* shell = g_shell.load();
    return shell ? *shell : TheDesktopShell();
}

void SetShell(IShell* shell)
{
    g_shell.store(shell);
}

std::string ShellUrlFor(const std::string& target)
{
    if (target.empty() || HasUriScheme(target))
        return target;

    const std::string path = target.front() == '/' ? target : JoinPath(WorkingFolderOrRoot(), target);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    url.reserve(url.size() + path.size() * 3);
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsUnreservedOrSlash(c)) {
            url.push_back(ch);
        } else {
            url.push_back('%');
            url.push_back(kHex[c >> 4]);
            url.push_back(kHex[c & 0x0F]);
        }
    }
    return url;
}

void DesktopShell::Open(const std::string& target)
{
    // Both need the GUI application; without one there is no desktop to ask.
    if (target.empty() || !qGuiApp)
        return;
    const std::string url = ShellUrlFor(target);
    QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray(url.data(), static_cast<qsizetype>(url.size()))));
}

void DesktopShell::Beep()
{
    if (qGuiApp)
        QApplication::beep();
}

} // namespace kino
