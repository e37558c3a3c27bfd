#pragma once
// The about window: the logo, the credit line, and the maker's mail address and web
// site, each opened through the shell. Created hidden; shown modally from the Help menu.
#include <QDialog>
#include <QMargins>
#include <QToolButton>

class QFrame;
class QLabel;

namespace kino {

// The maker's web site and support mail address the about window shows and opens.
inline constexpr const char* kWebSite = "https://www.orbent.example/kinolite/";
inline constexpr const char* kMailAddress = "support@orbent.example";

// A speed button: never takes the focus. A flat one paints nothing but a thin raised
// frame while the pointer is over it (sunken while pressed), so the text it lies over
// shows through.
class TSpeedButton : public QToolButton {
    Q_OBJECT
public:
    explicit TSpeedButton(QWidget* parent = nullptr);
    bool Flat() const { return autoRaise(); }
    void SetFlat(bool flat) { setAutoRaise(flat); }

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TInfoForm1 : public QDialog {
    Q_OBJECT
public:
    explicit TInfoForm1(QWidget* parent = nullptr);

    // Centres the window on its screen, shows it modally and returns when it is closed.
    int ShowModal();

    // The window's parts; each keeps its design name as its objectName.
    QFrame* panel = nullptr;
    QLabel* logo = nullptr;
    QLabel* creditLabel = nullptr;
    QLabel* mailLabel = nullptr;
    TSpeedButton* mailButton = nullptr;
    QLabel* webSiteLabel = nullptr;
    TSpeedButton* webSiteButton = nullptr;
    TSpeedButton* closeButton = nullptr;

    void OpenWebSite();
    void SendMail();

protected:
    void moveEvent(QMoveEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BuildDesign();
    // Centres the window's frame on the available area of its screen.
    void Centre();
    // The frame around the client area: the window manager's, once it has framed the
    // window; before, the last one seen or the owner's.
    QMargins FrameMargins() const;

    bool centreWhenFramed_ = false;
    bool framed_ = false;
    QMargins lastMargins_;
};

} // namespace kino
