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
constexpr int kMinClientWidth = 92;   // outer 100 less the frame
constexpr int kMinClientHeight = 196; // outer 250 less caption, menu and frame
constexpr int kStripHeight = 20;
const char* const kSection = "SET0";

} // namespace

TMovieForm1::TMovieForm1(IDialogs* dialogs, QWidget* parent)
    : QMainWindow(parent), dialogs_(dialogs ? dialogs : &TKinoApplication::Dialogs())
{
    if (!MovieForm1)
        MovieForm1 = this;
    BuildDesign();
    programFolder = FolderOf(ExecutablePath());
    settingsPath_ = SettingsFilePath(programFolder);
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

    player = new TGKitMSPlay(client);
    player->setObjectName(QStringLiteral("Player1"));
    // A click on the picture is play/pause.
    player->OnClick = [this](TGKitMSPlay*) { PlayPause(); };
    player->OnNotify = [this](TGKitMSPlay*, std::int16_t status, std::int32_t) { FollowPlayerStatus(status); };

    playlistStrip = new QWidget(client);
    playlistStrip->setObjectName(QStringLiteral("Panel1"));
    playlistStrip->setFixedHeight(kStripHeight);
    auto* strip = new QVBoxLayout(playlistStrip);
    strip->setContentsMargins(0, 0, 0, 0);
    strip->setSpacing(0);

    // The playlist: a list-style drop-down, lime on black, whose popup opens at
    // 300 x 150 and can be resized down to 10 x 10, with no recently used rows.
    const QColor lime(0, 255, 0);
    playlist = new TdxfComboBox(playlistStrip);
    playlist->setObjectName(QStringLiteral("ComboBox1"));
    playlist->SetStyle(dcsDropDownList);
    playlist->SetColor(Qt::black);
    playlist->setFont(DesignFont(12));
    playlist->SetFontColor(lime);
    playlist->SetPopupWindowFont(DesignFont(12), lime);
    playlist->SetParentFont(false);
    playlist->SetMinPopupWidth(10);
    playlist->SetMinPopupHeight(10);
    playlist->SetPopupWidth(300);
    playlist->SetPopupHeight(150);
    playlist->SetMRUListCount(0);
    playlist->SetMRUListColor(Qt::black);
    playlist->SetResizeHeight(false);
    playlist->SetResizePopup(true);
    playlist->SetShowImage(true);
    playlist->SetShowCheckBoxes(false);
    playlist->SetCheckBoxStyle(0);
    playlist->SetAutoSearch(false);
    playlist->SetMultiLineText(false);
    playlist->SetSorted(false);
    playlist->SetMaxLength(0);
    playlist->setToolTip(QStringLiteral("プレイリスト"));
    playlist->OnChange = [this](TdxfComboBox*) { OpenChosenEntry(); };
    strip->addWidget(playlist);
    playlist->Loaded();

    folderSearch = new TSearchFile(this);
    folderSearch->setObjectName(QStringLiteral("Search1"));
    folderSearch->SetRecursive(true);
    folderSearch->OnFind = [this](TSearchFile*, const std::string& name, const TSearchFileData& data, bool&) {
        AddFoundFile(name, data);
    };

    column->addWidget(player, 1);
    column->addWidget(playlistStrip);
    setCentralWidget(client);
    setTabOrder(player, playlist);

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
    auto separator = [](QMenu* menu, const char* name) {
        menu->addSeparator()->setObjectName(QString::fromLatin1(name));
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
    menuBar()->setStyleSheet(
        QStringLiteral("QMenuBar { padding: 0px; spacing: 0px; } QMenuBar::item { padding: 2px 2px; }"));
    top(fileMenu, "File1", QStringLiteral("ファイル(&F)"));
    item(fileMenu, addFilesAction, "N18", QStringLiteral("プレイリストに追加(&O)..."), K(Qt::CTRL | Qt::Key_O), -1,
         &TMovieForm1::AddFiles);
    item(fileMenu, addFolderTreeAction, "CDROM1", QStringLiteral("プレイリストに追加<サブフォルダ展開>(&S)..."),
         K(Qt::CTRL | Qt::ALT | Qt::Key_O), -1, &TMovieForm1::AddFolderTree);
    item(fileMenu, addUrlAction, "URLU1", QStringLiteral("プレイリストにURLを追加(&U)..."), K(Qt::CTRL | Qt::Key_U), -1,
         &TMovieForm1::AddUrl);
    separator(fileMenu, "N28");
    item(fileMenu, resetPlaylistAction, "N19", QStringLiteral("プレイリストの初期化(&R)..."), K(Qt::CTRL | Qt::Key_R),
         -1, &TMovieForm1::ResetPlaylist);
    separator(fileMenu, "N20");
    item(fileMenu, autoSortAction, "N27", QStringLiteral("プレイリストの自動ソート(&S)"), none, 0,
         &TMovieForm1::ToggleAutoSort);
    submenu(fileMenu, mediaFilterMenu, "N23", QStringLiteral("サブフォルダ展開の取得形式(&F)"));
    item(mediaFilterMenu, allMediaFilterAction, "N24", QStringLiteral("すべてのメディアファイル(&F)"), none, 1,
         &TMovieForm1::FilterAllMedia);
    item(mediaFilterMenu, aviFilterAction, "AVI1", QStringLiteral("AVI ファイル(&A)"), none, 0,
         &TMovieForm1::FilterAvi);
    item(mediaFilterMenu, mpegFilterAction, "MPEG1", QStringLiteral("MPEG ファイル(&M)"), none, 0,
         &TMovieForm1::FilterMpeg);
    item(mediaFilterMenu, waveFilterAction, "WAVE1", QStringLiteral("WAVE ファイル(&W)"), none, 0,
         &TMovieForm1::FilterWave);
    item(mediaFilterMenu, midiFilterAction, "MIDI1", QStringLiteral("MIDI ファイル(&D)"), none, 0,
         &TMovieForm1::FilterMidi);
    separator(fileMenu, "N25");
    item(fileMenu, exitAction, "Exit1", QStringLiteral("終了(&X)"), none, -1, &TMovieForm1::Exit);

    top(viewMenu, "Show1", QStringLiteral("ビュー(&V)"));
    item(viewMenu, fitToWindowAction, "N2", QStringLiteral("ウィンドウの大きさに合わせる(&F)"), none, 1,
         &TMovieForm1::ToggleFitToWindow);
    separator(viewMenu, "N15");
    item(viewMenu, controlBarAction, "N9", QStringLiteral("コントロールバー(&C)"), none, 1,
         &TMovieForm1::ToggleControlBar);
    item(viewMenu, statusBarAction, "N8", QStringLiteral("ステータスバー(&S)"), none, 1, &TMovieForm1::ToggleStatusBar);
    item(viewMenu, playlistStripAction, "N7", QStringLiteral("プレイリスト(&L)"), none, 1,
         &TMovieForm1::TogglePlaylistStrip);
    separator(viewMenu, "N16");
    item(viewMenu, regionNavigatorAction, "N29", QStringLiteral("矩形再生範囲の指定(&R)..."), none, -1,
         &TMovieForm1::ShowRegionNavigator);

    top(playMenu, "P1", QStringLiteral("プレイ(&P)"));
    item(playMenu, playPauseAction, "N3", QStringLiteral("プレイ/ポーズ(&P)"), K(Qt::CTRL | Qt::Key_P), -1,
         &TMovieForm1::PlayPause);
    item(playMenu, stopAction, "S1", QStringLiteral("ストップ(&S)"), K(Qt::CTRL | Qt::Key_S), -1, &TMovieForm1::Stop);
    separator(playMenu, "N4");
    item(playMenu, previousTrackAction, "N5", QStringLiteral("前のトラック(&B)"), K(Qt::CTRL | Qt::Key_B), -1,
         &TMovieForm1::PreviousTrack);
    item(playMenu, nextTrackAction, "N6", QStringLiteral("次のトラック(&F)"), K(Qt::CTRL | Qt::Key_F), -1,
         &TMovieForm1::NextTrack);
    item(playMenu, rewindAction, "N10", QStringLiteral("巻き戻し(&R)"), K(Qt::CTRL | Qt::ALT | Qt::Key_B), -1,
         &TMovieForm1::Rewind);
    item(playMenu, fastForwardAction, "A1", QStringLiteral("早送り(&A)"), K(Qt::CTRL | Qt::ALT | Qt::Key_F), -1,
         &TMovieForm1::FastForward);
    separator(playMenu, "N11");
    item(playMenu, continuousPlayAction, "N14", QStringLiteral("連続プレイ(&T)"), K(Qt::CTRL | Qt::Key_T), 0,
         &TMovieForm1::ToggleContinuousPlay);
    separator(playMenu, "N1");
    submenu(playMenu, speedMenu, "N12", QStringLiteral("プレイ速度(&D)"));
    item(speedMenu, halfSpeedAction, "N051", QStringLiteral("0.5倍速(&H)"), none, 0, &TMovieForm1::PlayAtHalfSpeed);
    item(speedMenu, normalSpeedAction, "N13", QStringLiteral("標準(&N)"), none, 1, &TMovieForm1::PlayAtNormalSpeed);
    item(speedMenu, oneAndHalfSpeedAction, "N21", QStringLiteral("1.5倍速(&C)"), none, 0,
         &TMovieForm1::PlayAtOneAndHalfSpeed);
    item(speedMenu, doubleSpeedAction, "N22", QStringLiteral("2倍速(&T)"), none, 0, &TMovieForm1::PlayAtDoubleSpeed);

    top(toolMenu, "Tool1", QStringLiteral("ツール(&T)"));
    item(toolMenu, copyFrameAction, "Copy1", QStringLiteral("現在のフレームをコピー(&C)"), K(Qt::CTRL | Qt::Key_C), -1,
         &TMovieForm1::CopyCurrentFrame);
    item(toolMenu, openContainingFolderAction, "N26", QStringLiteral("フォルダを開く(&A)"), none, -1,
         &TMovieForm1::OpenContainingFolder);

    top(helpMenu, "Help1", QStringLiteral("ヘルプ(&H)"));
    item(helpMenu, userGuideAction, "G1", QStringLiteral("ユーザーズガイド(&G)"), K(Qt::Key_F1), -1,
         &TMovieForm1::OpenUserGuide);
    separator(helpMenu, "N17");
    item(helpMenu, aboutAction, "A2", QStringLiteral("ソフトウェア情報(&A)..."), none, -1, &TMovieForm1::ShowAbout);
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
        TdxfItems& items = playlist->Items();
        items.BeginUpdate();
        for (const std::string& arg : arguments_)
            AddPath(arg);
        items.EndUpdate();
    }
    continuousPlayAction->setChecked(true);
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
