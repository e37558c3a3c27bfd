#include "app/MovieWindow1.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QVBoxLayout>

#include "app/Dialogs.h"
#include "app/KinoApplication.h"
#include "app/WindowPlacement.h"
#include "controls/dxfComboBox.h"
#include "platform/AppPaths.h"
#include "platform/IniFile.h"
#include "platform/PathRules.h"
#include "platform/Text.h"
#include "player/TGKitMSPlay.h"
#include "region/CutWindow1.h"
#include "search/SearchFile.h"

namespace kino {

TMovieForm1* MovieForm1 = nullptr;
TInfoForm1* InfoForm1 = nullptr;
TCutForm1* CutForm1 = nullptr;

namespace {

constexpr int kDesignLeft = 40;
constexpr int kDesignTop = 40;
constexpr int kClientWidth = 300;
constexpr int kClientHeight = 340;
constexpr int kMinClientWidth = 92;     // outer 100 less the frame
constexpr int kMinClientHeight = 196;   // outer 250 less caption, menu and frame
constexpr int kStripHeight = 20;
const char* const kSection = "SET0";

} // namespace

TMovieForm1::TMovieForm1(IDialogs* dialogs, QWidget* parent)
    : QMainWindow(parent), dialogs_(dialogs ? dialogs : &TKinoApplication::Dialogs())
{
    if (!MovieForm1)
        MovieForm1 = this;
    BuildDesign();
    FileExt.clear();
    ProgramFolder = FolderOf(ExecutablePath());
    settingsPath_ = SettingsFilePath(ProgramFolder);
    setAcceptDrops(true);
}

TMovieForm1::~TMovieForm1()
{
    if (MovieForm1 == this)
        MovieForm1 = nullptr;
}

void TMovieForm1::BuildDesign()
{
    setObjectName(QStringLiteral("MovieForm1"));
    setWindowTitle(QStringLiteral("KINOLITE"));
    setFont(DesignFont(12));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    auto* column = new QVBoxLayout(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Player1 = new TGKitMSPlay(client);
    Player1->setObjectName(QStringLiteral("Player1"));
    Player1->OnClick = [this](TGKitMSPlay* s) { Player1Click(s); };
    Player1->OnNotify = [this](TGKitMSPlay* s, std::int16_t st, std::int32_t d) { Player1Notify(s, st, d); };

    Panel1 = new QWidget(client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(kStripHeight);
    auto* strip = new QVBoxLayout(Panel1);
    strip->setContentsMargins(0, 0, 0, 0);
    strip->setSpacing(0);

    // The playlist: a list-style drop-down, lime on black, whose popup opens at
    // 300 x 150 and can be resized down to 10 x 10, with no recently used rows.
    const QColor lime(0, 255, 0);
    ComboBox1 = new TdxfComboBox(Panel1);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->SetStyle(dcsDropDownList);
    ComboBox1->SetColor(Qt::black);
    ComboBox1->setFont(DesignFont(12));
    ComboBox1->SetFontColor(lime);
    ComboBox1->SetPopupWindowFont(DesignFont(12), lime);
    ComboBox1->SetParentFont(false);
    ComboBox1->SetMinPopupWidth(10);
    ComboBox1->SetMinPopupHeight(10);
    ComboBox1->SetPopupWidth(300);
    ComboBox1->SetPopupHeight(150);
    ComboBox1->SetMRUListCount(0);
    ComboBox1->SetMRUListColor(Qt::black);
    ComboBox1->SetResizeHeight(false);
    ComboBox1->SetResizePopup(true);
    ComboBox1->SetShowImage(true);
    ComboBox1->SetShowCheckBoxes(false);
    ComboBox1->SetCheckBoxStyle(0);
    ComboBox1->SetAutoSearch(false);
    ComboBox1->SetMultiLineText(false);
    ComboBox1->SetSorted(false);
    ComboBox1->SetMaxLength(0);
    ComboBox1->setToolTip(QStringLiteral("プレイリスト"));
    ComboBox1->OnChange = [this](TdxfComboBox* s) { ComboBox1Change(s); };
    strip->addWidget(ComboBox1);
    ComboBox1->Loaded();

    Search1 = new TSearchFile(this);
    Search1->setObjectName(QStringLiteral("Search1"));
    Search1->SetRecursive(true);
    Search1->OnFind = [this](TSearchFile* s, const std::string& name, const TSearchFileData& data, bool& cont) {
        Search1Find(s, name, data, cont);
    };

    column->addWidget(Player1, 1);
    column->addWidget(Panel1);
    setCentralWidget(client);
    setTabOrder(Player1, ComboBox1);

    BuildMenu();

    const int menuHeight = menuBar()->sizeHint().height();
    setMinimumSize(kMinClientWidth, kMinClientHeight + menuHeight);
    resize(kClientWidth, kClientHeight + menuHeight);
    move(kDesignLeft, kDesignTop);
}

void TMovieForm1::BuildMenu()
{
    // Check marks are plain: a handler sets them itself, so Qt's own toggle on a click
    // is undone before the handler runs.
    auto item = [this](QMenu* menu, QAction*& member, const char* name, const QString& caption,
                       const QKeySequence& shortcut, int checked, void (TMovieForm1::*handler)()) {
        member = menu->addAction(caption);
        member->setObjectName(QString::fromLatin1(name));
        if (!shortcut.isEmpty()) {
            member->setShortcut(shortcut);
            member->setShortcutContext(Qt::WindowShortcut);
        }
        if (checked >= 0) {
            member->setCheckable(true);
            member->setChecked(checked == 1);
        }
        QAction* a = member;
        connect(a, &QAction::triggered, this, [this, a, handler](bool on) {
            if (a->isCheckable()) {
                QSignalBlocker block(a);
                a->setChecked(!on);
            }
            if (handler)
                (this->*handler)();
        });
    };
    auto separator = [](QMenu* menu, QAction*& member, const char* name) {
        member = menu->addSeparator();
        member->setObjectName(QString::fromLatin1(name));
    };
    auto submenu = [](QMenu* parent, QMenu*& member, const char* name, const QString& caption) {
        member = parent->addMenu(caption);
        member->setObjectName(QString::fromLatin1(name));
    };
    auto top = [this](QMenu*& member, const char* name, const QString& caption) {
        member = menuBar()->addMenu(caption);
        member->setObjectName(QString::fromLatin1(name));
    };
    const QKeySequence none;
    using K = QKeySequence;

    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    // Narrow item padding, so all five menus fit the designed 300-pixel width.
    menuBar()->setStyleSheet(QStringLiteral("QMenuBar { padding: 0px; spacing: 0px; } QMenuBar::item { padding: 2px 2px; }"));
    top(File1, "File1", QStringLiteral("ファイル(&F)"));
    item(File1, N18, "N18", QStringLiteral("プレイリストに追加(&O)..."), K(Qt::CTRL | Qt::Key_O), -1, &TMovieForm1::N18Click);
    item(File1, CDROM1, "CDROM1", QStringLiteral("プレイリストに追加<サブフォルダ展開>(&S)..."),
         K(Qt::CTRL | Qt::ALT | Qt::Key_O), -1, &TMovieForm1::CDROM1Click);
    item(File1, URLU1, "URLU1", QStringLiteral("プレイリストにURLを追加(&U)..."), K(Qt::CTRL | Qt::Key_U), -1, &TMovieForm1::URLU1Click);
    separator(File1, N28, "N28");
    item(File1, N19, "N19", QStringLiteral("プレイリストの初期化(&R)..."), K(Qt::CTRL | Qt::Key_R), -1, &TMovieForm1::N19Click);
    separator(File1, N20, "N20");
    item(File1, N27, "N27", QStringLiteral("プレイリストの自動ソート(&S)"), none, 0, &TMovieForm1::N27Click);
    submenu(File1, N23, "N23", QStringLiteral("サブフォルダ展開の取得形式(&F)"));
    item(N23, N24, "N24", QStringLiteral("すべてのメディアファイル(&F)"), none, 1, &TMovieForm1::N24Click);
    item(N23, AVI1, "AVI1", QStringLiteral("AVI ファイル(&A)"), none, 0, &TMovieForm1::AVI1Click);
    item(N23, MPEG1, "MPEG1", QStringLiteral("MPEG ファイル(&M)"), none, 0, &TMovieForm1::MPEG1Click);
    item(N23, WAVE1, "WAVE1", QStringLiteral("WAVE ファイル(&W)"), none, 0, &TMovieForm1::WAVE1Click);
    item(N23, MIDI1, "MIDI1", QStringLiteral("MIDI ファイル(&D)"), none, 0, &TMovieForm1::MIDI1Click);
    separator(File1, N25, "N25");
    item(File1, Exit1, "Exit1", QStringLiteral("終了(&X)"), none, -1, &TMovieForm1::Exit1Click);

    top(Show1, "Show1", QStringLiteral("ビュー(&V)"));
    item(Show1, N2, "N2", QStringLiteral("ウィンドウの大きさに合わせる(&F)"), none, 1, &TMovieForm1::N2Click);
    separator(Show1, N15, "N15");
    item(Show1, N9, "N9", QStringLiteral("コントロールバー(&C)"), none, 1, &TMovieForm1::N9Click);
    item(Show1, N8, "N8", QStringLiteral("ステータスバー(&S)"), none, 1, &TMovieForm1::N8Click);
    item(Show1, N7, "N7", QStringLiteral("プレイリスト(&L)"), none, 1, &TMovieForm1::N7Click);
    separator(Show1, N16, "N16");
    item(Show1, N29, "N29", QStringLiteral("矩形再生範囲の指定(&R)..."), none, -1, &TMovieForm1::N29Click);

    top(P1, "P1", QStringLiteral("プレイ(&P)"));
    item(P1, N3, "N3", QStringLiteral("プレイ/ポーズ(&P)"), K(Qt::CTRL | Qt::Key_P), -1, &TMovieForm1::N3Click);
    item(P1, S1, "S1", QStringLiteral("ストップ(&S)"), K(Qt::CTRL | Qt::Key_S), -1, &TMovieForm1::S1Click);
    separator(P1, N4, "N4");
    item(P1, N5, "N5", QStringLiteral("前のトラック(&B)"), K(Qt::CTRL | Qt::Key_B), -1, &TMovieForm1::N5Click);
    item(P1, N6, "N6", QStringLiteral("次のトラック(&F)"), K(Qt::CTRL | Qt::Key_F), -1, &TMovieForm1::N6Click);
    item(P1, N10, "N10", QStringLiteral("巻き戻し(&R)"), K(Qt::CTRL | Qt::ALT | Qt::Key_B), -1, &TMovieForm1::N10Click);
    item(P1, A1, "A1", QStringLiteral("早送り(&A)"), K(Qt::CTRL | Qt::ALT | Qt::Key_F), -1, &TMovieForm1::A1Click);
    separator(P1, N11, "N11");
    item(P1, N14, "N14", QStringLiteral("連続プレイ(&T)"), K(Qt::CTRL | Qt::Key_T), 0, &TMovieForm1::N14Click);
    separator(P1, N1, "N1");
    submenu(P1, N12, "N12", QStringLiteral("プレイ速度(&D)"));
    item(N12, N051, "N051", QStringLiteral("0.5倍速(&H)"), none, 0, &TMovieForm1::N051Click);
    item(N12, N13, "N13", QStringLiteral("標準(&N)"), none, 1, &TMovieForm1::N13Click);
    item(N12, N21, "N21", QStringLiteral("1.5倍速(&C)"), none, 0, &TMovieForm1::N21Click);
    item(N12, N22, "N22", QStringLiteral("2倍速(&T)"), none, 0, &TMovieForm1::N22Click);

    top(Tool1, "Tool1", QStringLiteral("ツール(&T)"));
    item(Tool1, Copy1, "Copy1", QStringLiteral("現在のフレームをコピー(&C)"), K(Qt::CTRL | Qt::Key_C), -1, &TMovieForm1::Copy1Click);
    item(Tool1, N26, "N26", QStringLiteral("フォルダを開く(&A)"), none, -1, &TMovieForm1::N26Click);

    top(Help1, "Help1", QStringLiteral("ヘルプ(&H)"));
    item(Help1, G1, "G1", QStringLiteral("ユーザーズガイド(&G)"), K(Qt::Key_F1), -1, &TMovieForm1::G1Click);
    separator(Help1, N17, "N17");
    item(Help1, A2, "A2", QStringLiteral("ソフトウェア情報(&A)..."), none, -1, &TMovieForm1::A2Click);
}

void TMovieForm1::setVisible(bool visible)
{
    // The first showing runs before the window exists on the screen: a position given
    // then is the frame's, as FormClose saved it, and the window manager puts the frame
    // there. Moved once it exists, the window would place its client area there instead
    // and open a title bar higher at every start.
    if (visible && !shown_) {
        shown_ = true;
        FormShow();
    }
    QMainWindow::setVisible(visible);
}

void TMovieForm1::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void TMovieForm1::FormShow()
{
    IniFile ini(settingsPath_);
    const int top = ini.ReadInteger(kSection, "M_TOP", y());
    const int left = ini.ReadInteger(kSection, "M_LEFT", x());
    // A position saved on a screen that is gone, or a value no screen holds, would
    // open the window where no one can see it, start after start.
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.append(screen->availableGeometry());
    move(PositionOnScreen(QPoint(left, top), frameGeometry().size(), areas));

    {
        // The arguments are added as one change of the list, like every other add.
        TdxfItems& items = ComboBox1->Items();
        items.BeginUpdate();
        for (const std::string& arg : arguments_)
            AddPath(arg);
        items.EndUpdate();
    }
    N14->setChecked(true);
    AfterAddSelection();
}

void TMovieForm1::FormClose()
{
    IniFile ini(settingsPath_);
    // The position is written top first; a file that cannot be written is reported,
    // and the window closes all the same so the user can always quit.
    if (!ini.WriteInteger(kSection, "M_TOP", y()) || !ini.WriteInteger(kSection, "M_LEFT", x()))
        dialogs_->ShowError(this, QStringLiteral("%1 に書き込めません").arg(ToDisplay(settingsPath_)));
}

} // namespace kino
