// The about window: its layout, its two links through the shell, and its modal showing.
#include <QAbstractButton>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/InfoLogo.h"
#include "app/InfoWindow1.h"
#include "app/KinoApplication.h"
#include "platform/Shell.h"

using kino::TInfoForm1;

namespace {

class Recorder : public kino::IShell {
public:
    std::vector<std::string> opened;
    int beeps = 0;
    void Open(const std::string& target) override { opened.push_back(target); }
    void Beep() override { ++beeps; }
};

} // namespace

class InfoWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> owner;
    std::unique_ptr<TInfoForm1> form;
    Recorder shell;

    QWidget* Child(const char* name) const { return form->findChild<QWidget*>(QString::fromLatin1(name)); }
    QAbstractButton* Button(const char* name) const
    {
        return form->findChild<QAbstractButton*>(QString::fromLatin1(name));
    }

private slots:
    void init()
    {
        owner = std::make_unique<QWidget>();
        form = std::make_unique<TInfoForm1>(owner.get());
        shell.opened.clear();
        shell.beeps = 0;
        kino::SetShell(&shell);
    }
    void cleanup()
    {
        kino::SetShell(nullptr);
        form.reset();
        owner.reset();
    }

    void isASmallFixedToolWindowWithItsCaption()
    {
        QCOMPARE(form->windowTitle(), QStringLiteral("KINOLITE Ver.2.4"));
        QVERIFY(form->isHidden());
        QCOMPARE(form->windowType(), Qt::Tool);
        QVERIFY(form->windowFlags().testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(form->font().pixelSize(), 12);
        QVERIFY2(QFontMetrics(form->font()).inFont(QChar(u'閉')), "no Japanese glyphs in the window's font");
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QCOMPARE(form->size(), QSize(248, 128));
        QCOMPARE(form->minimumSize(), QSize(248, 128));
        QCOMPARE(form->maximumSize(), QSize(248, 128));
    }

    void childIsPlacedAsDesigned_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::newRow("Panel1") << "Panel1" << QRect(0, 0, 248, 128);
        QTest::newRow("Image1") << "Image1" << QRect(8, 4, 200, 54);
        QTest::newRow("Label1") << "Label1" << QRect(44, 52, 201, 11);
        QTest::newRow("SpeedButton2") << "SpeedButton2" << QRect(85, 104, 77, 16);
    }
    void childIsPlacedAsDesigned()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QWidget* child = form->findChild<QWidget*>(name);
        QVERIFY(child);
        QCOMPARE(child->geometry(), geometry);
        if (name != QLatin1String("Panel1"))
            QCOMPARE(child->parentWidget(), Child("Panel1"));
    }

    void panelIsWhiteAndSunken()
    {
        auto* panel = qobject_cast<QFrame*>(Child("Panel1"));
        QVERIFY(panel);
        QCOMPARE(panel->frameShadow(), QFrame::Sunken);
        QCOMPARE(panel->lineWidth(), 2);
        QVERIFY(panel->autoFillBackground());
        QCOMPARE(panel->palette().color(panel->backgroundRole()), QColor(Qt::white));
    }

    // The link lines keep the design's centre, line and button margins, and each label
    // is wide enough for its whole text, however wide the installed font draws it.
    void linkLineShowsWholeTextUnderItsButton_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("labelDesign");
        QTest::addColumn<QRect>("buttonDesign");
        QTest::newRow("mail") << "Label3"
                              << "SpeedButton3"
                              << "mail : support@orbent.example" << QRect(70, 69, 111, 11) << QRect(65, 69, 120, 11);
        QTest::newRow("web site") << "Label2"
                                  << "SpeedButton1"
                                  << "url : https://www.orbent.example/kinolite/" << QRect(81, 86, 87, 11)
                                  << QRect(76, 86, 96, 11);
    }
    void linkLineShowsWholeTextUnderItsButton()
    {
        QFETCH(QString, label);
        QFETCH(QString, button);
        QFETCH(QString, text);
        QFETCH(QRect, labelDesign);
        QFETCH(QRect, buttonDesign);
        auto* l = form->findChild<QLabel*>(label);
        QWidget* b = form->findChild<QWidget*>(button);
        QVERIFY(l && b);
        QCOMPARE(l->text(), text);
        QCOMPARE(l->palette().color(QPalette::WindowText), QColor(255, 128, 0));
        QCOMPARE(l->font().pixelSize(), 11);

        const QRect lr = l->geometry();
        QCOMPARE(lr.top(), labelDesign.top());
        QCOMPARE(lr.height(), labelDesign.height());
        QVERIFY2(l->fontMetrics().horizontalAdvance(text) <= lr.width(), "text clipped");
        QVERIFY(qAbs((lr.left() + lr.right()) - (labelDesign.left() + labelDesign.right())) <= 1);
        QVERIFY(Child("Panel1")->contentsRect().contains(lr));

        const QRect br = b->geometry();
        QCOMPARE(br.top(), buttonDesign.top());
        QCOMPARE(br.height(), buttonDesign.height());
        QVERIFY(br.contains(lr));
        QCOMPARE(lr.left() - br.left(), labelDesign.left() - buttonDesign.left());
        QCOMPARE(br.right() - lr.right(), buttonDesign.right() - labelDesign.right());

        // A click anywhere on the label's line reaches the button, not the label.
        QWidget* panel = Child("Panel1");
        for (const QPoint& at :
             {lr.center(), QPoint(lr.left() + 1, lr.center().y()), QPoint(lr.right() - 1, lr.center().y())})
            QCOMPARE(panel->childAt(at), b);

        // The flat button is see-through while not pointed at: the orange text shows.
        const QImage line = panel->grab(lr).toImage();
        bool orange = false;
        for (int y = 0; y < line.height() && !orange; ++y)
            for (int x = 0; x < line.width() && !orange; ++x)
                orange = line.pixelColor(x, y) == QColor(255, 128, 0);
        QVERIFY2(orange, "the link text is hidden by its button");
    }

    void creditLineFitsAndShowsThroughOverTheLogo()
    {
        auto* credit = qobject_cast<QLabel*>(Child("Label1"));
        QVERIFY(credit);
        QVERIFY(!credit->text().isEmpty());
        QCOMPARE(credit->palette().color(QPalette::WindowText), QColor(Qt::blue));
        QCOMPARE(credit->font().pixelSize(), 11);
        QVERIFY(!credit->autoFillBackground());
        QVERIFY2(credit->fontMetrics().horizontalAdvance(credit->text()) <= credit->width(), "credit clipped");
        // Stacked above the logo, which is blank where the credit's text lies on it.
        QCOMPARE(Child("Panel1")->childAt(credit->geometry().center()), credit);
        const QImage logo = kino::InfoLogo();
        const QRect image = Child("Image1")->geometry();
        QRect text = credit->geometry().intersected(image);
        text.setRight(std::min(text.right(), credit->x() + credit->fontMetrics().horizontalAdvance(credit->text())));
        text.translate(-image.topLeft());
        QVERIFY(!text.isEmpty());
        const QRgb background = logo.pixel(text.topLeft());
        QCOMPARE(QColor(background), QColor(Qt::white));
        for (int y = text.top(); y <= text.bottom(); ++y)
            for (int x = text.left(); x <= text.right(); ++x)
                QCOMPARE(logo.pixel(x, y), background);
    }

    void buttonShowsHandAndHint_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<bool>("hand");
        QTest::newRow("mail") << "SpeedButton3"
                              << "ORBENTにメールを送信" << true;
        QTest::newRow("web site") << "SpeedButton1"
                                  << "ORBENTのサイトにアクセス" << true;
        QTest::newRow("close") << "SpeedButton2"
                               << "閉じる" << false;
    }
    void buttonShowsHandAndHint()
    {
        QFETCH(QString, name);
        QFETCH(QString, hint);
        QFETCH(bool, hand);
        auto* b = form->findChild<QAbstractButton*>(name);
        QVERIFY(b);
        QCOMPARE(b->toolTip(), hint);
        QCOMPARE(b->cursor().shape() == Qt::PointingHandCursor, hand);
        QCOMPARE(b->focusPolicy(), Qt::NoFocus);
    }

    void linkButtonsHaveNoCaption()
    {
        for (const char* name : {"SpeedButton1", "SpeedButton3"}) {
            QAbstractButton* b = Button(name);
            QVERIFY(b);
            QVERIFY(b->text().isEmpty());
            QVERIFY(b->icon().isNull());
        }
        QAbstractButton* close = Button("SpeedButton2");
        QCOMPARE(close->text(), QStringLiteral("CLOSE (&X)"));
        QCOMPARE(close->font().pixelSize(), 11);
        QCOMPARE(close->palette().color(QPalette::ButtonText), QColor(Qt::black));
    }

    void linkOpensOneShellRequest_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("target");
        QTest::newRow("web site") << "SpeedButton1"
                                  << "https://www.orbent.example/kinolite/";
        QTest::newRow("mail") << "SpeedButton3"
                              << "MailTo:support@orbent.example";
    }
    void linkOpensOneShellRequest()
    {
        QFETCH(QString, button);
        QFETCH(QString, target);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        auto* b = form->findChild<QAbstractButton*>(button);
        QVERIFY(b);
        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(shell.opened, std::vector<std::string>{target.toStdString()});
        QCOMPARE(shell.beeps, 0);
        QVERIFY(form->isVisible());
    }

    void closeButtonEndsModalShowingCentredOnScreen_data()
    {
        QTest::addColumn<QPoint>("ownerAt");
        QTest::newRow("owner at top left") << QPoint(0, 0);
        QTest::newRow("owner near bottom right") << QPoint(900, 700);
    }
    void closeButtonEndsModalShowingCentredOnScreen()
    {
        QFETCH(QPoint, ownerAt);
        owner->setGeometry(QRect(ownerAt, QSize(300, 200)));
        owner->show();
        QVERIFY(QTest::qWaitForWindowExposed(owner.get()));

        // Shown twice: each close hides the window and the next showing centres it again.
        for (int round = 0; round < 2; ++round) {
            bool shownModal = false;
            QRect seen;
            QTimer::singleShot(0, form.get(), [&] {
                shownModal = form->isVisible() && form->isModal();
                seen = form->frameGeometry();
                Button("SpeedButton2")->click();
            });
            form->ShowModal();
            QVERIFY(shownModal);
            QVERIFY(form->isHidden());
            const QRect screen = form->screen()->availableGeometry();
            QVERIFY2(qAbs(seen.center().x() - screen.center().x()) <= 1 &&
                         qAbs(seen.center().y() - screen.center().y()) <= 1,
                     qPrintable(QStringLiteral("window at %1,%2 %3x%4")
                                    .arg(seen.x())
                                    .arg(seen.y())
                                    .arg(seen.width())
                                    .arg(seen.height())));
        }
        QVERIFY(shell.opened.empty());
    }

    void closeButtonAnswersItsAccelerator()
    {
        bool active = false, closedByKey = false;
        QTimer::singleShot(0, form.get(), [&] {
            active = QTest::qWaitForWindowActive(form.get());
            QTest::keyClick(form.get(), Qt::Key_X, Qt::AltModifier);
            // A mnemonic animates the click: the button is released a moment later.
            closedByKey = QTest::qWaitFor([&] { return form->isHidden(); });
            if (!closedByKey)
                form->reject(); // ends the showing so a failure cannot hang the run
        });
        form->ShowModal();
        QVERIFY(active);
        QVERIFY(closedByKey);
    }

    void logoIsA256ColourPicture()
    {
        const QImage logo = kino::InfoLogo();
        QCOMPARE(logo.size(), QSize(200, 54));
        QCOMPARE(logo.format(), QImage::Format_Indexed8);
        QVERIFY(logo.colorCount() > 0 && logo.colorCount() <= 256);
        QSet<int> used;
        for (int y = 0; y < logo.height(); ++y)
            for (int x = 0; x < logo.width(); ++x)
                used.insert(logo.pixelIndex(x, y));
        QVERIFY2(used.size() >= 16, "logo is a flat picture");
        const QPixmap shown = qobject_cast<QLabel*>(Child("Image1"))->pixmap();
        QCOMPARE(shown.size(), QSize(200, 54));
        QCOMPARE(shown.toImage().convertToFormat(QImage::Format_RGB32), logo.convertToFormat(QImage::Format_RGB32));
    }
};

int main(int argc, char** argv)
{
    kino::TKinoApplication app(argc, argv);
    InfoWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_infowindow.moc"
