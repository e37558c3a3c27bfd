#pragma once
// Shell requests and the beep: opening a folder, document or URL with the
// desktop's handler, and the default system beep. Tests install a recorder.
#include <functional>
#include <string>

class QString;
class QUrl;
class QWidget;

namespace kino {

class IShell {
public:
    virtual ~IShell() = default;
    // `target` is 8-bit text: an absolute local path, or a text with a URI scheme
    // ("http://...", "MailTo:..."). Never passed through a shell command line.
    virtual void Open(const std::string& target) = 0;
    virtual void Beep() = 0;
};

// The shell the program uses; the desktop's one unless a test replaced it.
IShell& Shell();
// Replaces the shell (nullptr restores the desktop's one). Not owned.
void SetShell(IShell* shell);

// The desktop's shell: QDesktopServices::openUrl and QApplication::beep. When no
// program takes a request (a desktop without a file viewer or mail program), it says
// so in a box with what could not be opened, as a desktop's shell does, so the user
// can open it by hand.
class DesktopShell : public IShell {
public:
    using Opener = std::function<bool(const QUrl& url)>;
    using Reporter = std::function<void(const QString& text)>;
    // Empty: the desktop's opener, and a warning box over the active window.
    explicit DesktopShell(Opener opener = {}, Reporter reporter = {});
    void Open(const std::string& target) override;
    void Beep() override;

private:
    Opener opener_;
    Reporter reporter_;
};

// The URL handed to the desktop for `target`: a local path becomes a file URL with
// its bytes percent-encoded (all but letters, digits, "-._~" and "/"; lossless for
// names that are not UTF-8), a relative one taken from the current folder; a text
// with a scheme is taken as it stands.
std::string ShellUrlFor(const std::string& target);

} // namespace kino
