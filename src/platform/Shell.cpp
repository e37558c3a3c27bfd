#include "platform/Shell.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

#include <atomic>
#include <utility>

#include "platform/FolderListing.h"
#include "platform/PathRules.h"
#include "platform/Text.h"

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

// A local path made absolute against the current folder; a text with a scheme as it is.
std::string AbsoluteTarget(const std::string& target)
{
    if (target.empty() || HasUriScheme(target) || target.front() == '/')
        return target;
    return JoinPath(WorkingFolderOrRoot(), target);
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

    const std::string path = AbsoluteTarget(target);
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

DesktopShell::DesktopShell(Opener opener, Reporter reporter)
    : opener_(std::move(opener)), reporter_(std::move(reporter))
{
    if (!opener_)
        opener_ = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    if (!reporter_)
        reporter_ = [](const QString& text) {
            QMessageBox::warning(QApplication::activeWindow(), QApplication::applicationDisplayName(), text);
        };
}

void DesktopShell::Open(const std::string& target)
{
    // Both need the GUI application; without one there is no desktop to ask.
    if (target.empty() || !qGuiApp)
        return;
    const std::string url = ShellUrlFor(target);
    if (opener_(QUrl::fromEncoded(QByteArray(url.data(), static_cast<qsizetype>(url.size())))))
        return;
    reporter_(QStringLiteral("「%1」を開くプログラムが見つかりません。").arg(ToDisplay(AbsoluteTarget(target))));
}

void DesktopShell::Beep()
{
    if (qGuiApp)
        QApplication::beep();
}

} // namespace kino
