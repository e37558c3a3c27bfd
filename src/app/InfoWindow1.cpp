#include "app/InfoWindow1.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <qdrawutil.h>

#include <algorithm>

#include "app/InfoLogo.h"
#include "app/KinoApplication.h"
#include "platform/Shell.h"

namespace kino {

namespace {

const QColor kLinkColour(255, 128, 0);

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QColor& colour)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setFont(DesignFont(11));
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
    label->setAutoFillBackground(false);
    return label;
}

TSpeedButton* MakeLinkButton(QWidget* parent, const char* name, const QString& hint)
{
    auto* button = new TSpeedButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->SetFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setToolTip(hint);
    return button;
}

// A link line: the label is as wide as its text (the design's labels size themselves
// to their text), centred where the design put it, and its button keeps the design's
// margins around it, so the whole text is readable and every part of it clickable.
void PlaceLinkLine(QLabel* label, QWidget* button, const QRect& labelDesign, const QRect& buttonDesign,
                   const QRect& inside)
{
    const QFontMetrics fm(label->font());
    const int textWidth = std::max(fm.horizontalAdvance(label->text()), fm.boundingRect(label->text()).width());
    if (textWidth <= labelDesign.width()) {
        label->setGeometry(labelDesign);
        button->setGeometry(buttonDesign);
        return;
    }
    QRect labelRect(labelDesign.left() + (labelDesign.width() - textWidth) / 2, labelDesign.top(), textWidth,
                    labelDesign.height());
    labelRect.moveLeft(
        std::clamp(labelRect.left(), inside.left(), std::max(inside.left(), inside.right() + 1 - textWidth)));
    label->setGeometry(labelRect);
    label->setAlignment(Qt::AlignCenter);

    QRect buttonRect(buttonDesign);
    buttonRect.setLeft(std::max(inside.left(), labelRect.left() - (labelDesign.left() - buttonDesign.left())));
    buttonRect.setRight(std::min(inside.right(), labelRect.right() + (buttonDesign.right() - labelDesign.right())));
    button->setGeometry(buttonRect);
}

bool IsFramed(const QWidget* window)
{
    return window->frameGeometry() != window->geometry();
}

QMargins MarginsOf(const QWidget* window)
{
    const QRect frame = window->frameGeometry(), client = window->geometry();
    return QMargins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                    frame.bottom() - client.bottom());
}

} // namespace

TSpeedButton::TSpeedButton(QWidget* parent) : QToolButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
}

void TSpeedButton::paintEvent(QPaintEvent* event)
{
    if (!Flat()) {
        QToolButton::paintEvent(event);
        return;
    }
    // Flat: transparent, with a one-pixel frame only while pointed at or pressed.
    const bool down = isDown() || isChecked();
    if (!down && !(underMouse() && isEnabled()))
        return;
    QPainter p(this);
    qDrawShadeRect(&p, rect(), palette(), down, 1);
}

TInfoForm1::TInfoForm1(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    BuildDesign();
}

void TInfoForm1::BuildDesign()
{
    setObjectName(QStringLiteral("InfoForm1"));
    setWindowTitle(QStringLiteral("KINOLITE Ver.2.4"));
    setFont(DesignFont(12));
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setSizeGripEnabled(false);

    panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setGeometry(0, 0, 248, 128);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(2);
    QPalette white = panel->palette();
    white.setColor(QPalette::Window, Qt::white);
    panel->setPalette(white);
    panel->setBackgroundRole(QPalette::Window);
    panel->setAutoFillBackground(true);

    logo = new QLabel(panel);
    logo->setObjectName(QStringLiteral("Image1"));
    logo->setGeometry(8, 4, 200, 54);
    logo->setPixmap(QPixmap::fromImage(InfoLogo()));
    logo->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // The credit line lies over the logo's blank lowest rows; created after the logo
    // so it is drawn on top.
    creditLabel = MakeLabel(panel, "Label1", QStringLiteral("© 2026 ORBENT  All rights reserved."), Qt::blue);
    creditLabel->setGeometry(44, 52, 201, 11);

    const QRect inside = panel->contentsRect();

    mailLabel = MakeLabel(panel, "Label3", QStringLiteral("mail : ") + QString::fromLatin1(kMailAddress), kLinkColour);
    mailButton = MakeLinkButton(panel, "SpeedButton3", QStringLiteral("ORBENTにメールを送信"));
    PlaceLinkLine(mailLabel, mailButton, QRect(70, 69, 111, 11), QRect(65, 69, 120, 11), inside);

    webSiteLabel = MakeLabel(panel, "Label2", QStringLiteral("url : ") + QString::fromLatin1(kWebSite), kLinkColour);
    webSiteButton = MakeLinkButton(panel, "SpeedButton1", QStringLiteral("ORBENTのサイトにアクセス"));
    PlaceLinkLine(webSiteLabel, webSiteButton, QRect(81, 86, 87, 11), QRect(76, 86, 96, 11), inside);

    // The buttons are the clickable area of their lines: above the labels.
    mailButton->raise();
    webSiteButton->raise();

    closeButton = new TSpeedButton(panel);
    closeButton->setObjectName(QStringLiteral("SpeedButton2"));
    closeButton->setText(QStringLiteral("CLOSE (&X)"));
    closeButton->setFont(DesignFont(11));
    QPalette black = closeButton->palette();
    black.setColor(QPalette::ButtonText, Qt::black);
    closeButton->setPalette(black);
    closeButton->setToolTip(QStringLiteral("閉じる"));
    closeButton->setGeometry(85, 104, 77, 16);

    connect(webSiteButton, &QAbstractButton::clicked, this, [this] { OpenWebSite(); });
    connect(closeButton, &QAbstractButton::clicked, this, &QWidget::close);
    connect(mailButton, &QAbstractButton::clicked, this, [this] { SendMail(); });

    setFixedSize(248, 128);
}

int TInfoForm1::ShowModal()
{
    centreWhenFramed_ = true;
    Centre();
    return exec();
}

void TInfoForm1::Centre()
{
    QScreen* screen = parentWidget() ? parentWidget()->screen() : this->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // A window's position is its frame's: the frame is centred.
    QRect frame(QPoint(0, 0), size().grownBy(FrameMargins()));
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

QMargins TInfoForm1::FrameMargins() const
{
    if (IsFramed(this))
        return MarginsOf(this);
    if (framed_)
        return lastMargins_;
    // Not framed yet: the window manager frames the owner much alike.
    if (const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr; owner && owner->isVisible())
        return MarginsOf(owner);
    return {};
}

void TInfoForm1::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    // The first frame the window manager gives a showing may differ from the guess:
    // centred again by the real one, once, before the user could have moved it.
    if (!centreWhenFramed_ || !IsFramed(this))
        return;
    centreWhenFramed_ = false;
    lastMargins_ = FrameMargins();
    framed_ = true;
    Centre();
}

void TInfoForm1::hideEvent(QHideEvent* event)
{
    centreWhenFramed_ = false;
    QDialog::hideEvent(event);
}

void TInfoForm1::OpenWebSite()
{
    Shell().Open(kWebSite);
}

void TInfoForm1::SendMail()
{
    Shell().Open(std::string("MailTo:") + kMailAddress);
}

} // namespace kino
