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
    BuildDesign();
    programFolder_ = FolderOf(ExecutablePath());
    settingsPath_ = SettingsFilePath(programFolder_);
    setAcceptDrops(true);
}

TMovieForm1::~TMovieForm1() = default;

QSize TMovieForm1::DesignClientSize()
{
    return {kClientWidth, kClientHeight};
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

    player_ = new TGKitMSPlay(client);
    player_->setObjectName(QStringLiteral("Player1"));
    // A click on the picture is play/pause.
    player_->OnClick = [this](TGKitMSPlay*) { PlayPause(); };
    player_->OnNotify = [this](TGKitMSPlay*, std::int16_t status, std::int32_t) { FollowPlayerStatus(status); };
    player_->OnFollowing = [this](TGKitMSPlay*) { return FollowingEntry(); };

    playlistStrip_ = new QWidget(client);
    playlistStrip_->setObjectName(QStringLiteral("Panel1"));
    playlistStrip_->setFixedHeight(kStripHeight);
    auto* strip = new QVBoxLayout(playlistStrip_);
    strip->setContentsMargins(0, 0, 0, 0);
    strip->setSpacing(0);

    // The playlist: a list-style drop-down, lime on black, whose popup opens at
    // 300 x 150 and can be resized down to 10 x 10, with no recently used rows.
    const QColor lime(0, 255, 0);
    playlist_ = new TdxfComboBox(playlistStrip_);
    playlist_->setObjectName(QStringLiteral("ComboBox1"));
    playlist_->SetStyle(dcsDropDownList);
    playlist_->SetColor(Qt::black);
    playlist_->setFont(DesignFont(12));
    playlist_->SetFontColor(lime);
    playlist_->SetPopupWindowFont(DesignFont(12), lime);
    playlist_->SetParentFont(false);
    playlist_->SetMinPopupWidth(10);
    playlist_->SetMinPopupHeight(10);
    playlist_->SetPopupWidth(300);
    playlist_->SetPopupHeight(150);
    playlist_->SetMRUListCount(0);
    playlist_->SetMRUListColor(Qt::black);
    playlist_->SetResizeHeight(false);
    playlist_->SetResizePopup(true);
    playlist_->SetShowImage(true);
    playlist_->SetShowCheckBoxes(false);
    playlist_->SetCheckBoxStyle(0);
    playlist_->SetAutoSearch(false);
    playlist_->SetMultiLineText(false);
    playlist_->SetSorted(false);
    playlist_->SetMaxLength(0);
    playlist_->setToolTip(QStringLiteral("プレイリスト"));
    playlist_->OnChange = [this](TdxfComboBox*) { OpenChosenEntry(); };
    strip->addWidget(playlist_);
    playlist_->Loaded();

    folderSearch_ = new TSearchFile(this);
    folderSearch_->setObjectName(QStringLiteral("Search1"));
    folderSearch_->SetRecursive(true);
    folderSearch_->OnFind = [this](TSearchFile*, const std::string& name, const TSearchFileData& data, bool&) {
        AddFoundFile(name, data);
    };

    column->addWidget(player_, 1);
    column->addWidget(playlistStrip_);
    setCentralWidget(client);
    setTabOrder(player_, playlist_);

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
    top(fileMenu_, "File1", QStringLiteral("ファイル(&F)"));
    item(fileMenu_, addFilesAction_, "N18", QStringLiteral("プレイリストに追加(&O)..."), K(Qt::CTRL | Qt::Key_O), -1,
         &TMovieForm1::AddFiles);
    item(fileMenu_, addFolderTreeAction_, "CDROM1", QStringLiteral("プレイリストに追加<サブフォルダ展開>(&S)..."),
         K(Qt::CTRL | Qt::ALT | Qt::Key_O), -1, &TMovieForm1::AddFolderTree);
    item(fileMenu_, addUrlAction_, "URLU1", QStringLiteral("プレイリストにURLを追加(&U)..."), K(Qt::CTRL | Qt::Key_U),
         -1, &TMovieForm1::AddUrl);
    separator(fileMenu_, "N28");
    item(fileMenu_, resetPlaylistAction_, "N19", QStringLiteral("プレイリストの初期化(&R)..."), K(Qt::CTRL | Qt::Key_R),
         -1, &TMovieForm1::ResetPlaylist);
    separator(fileMenu_, "N20");
    item(fileMenu_, autoSortAction_, "N27", QStringLiteral("プレイリストの自動ソート(&S)"), none, 0,
         &TMovieForm1::ToggleAutoSort);
    submenu(fileMenu_, mediaFilterMenu_, "N23", QStringLiteral("サブフォルダ展開の取得形式(&F)"));
    item(mediaFilterMenu_, allMediaFilterAction_, "N24", QStringLiteral("すべてのメディアファイル(&F)"), none, 1,
         &TMovieForm1::FilterAllMedia);
    item(mediaFilterMenu_, aviFilterAction_, "AVI1", QStringLiteral("AVI ファイル(&A)"), none, 0,
         &TMovieForm1::FilterAvi);
    item(mediaFilterMenu_, mpegFilterAction_, "MPEG1", QStringLiteral("MPEG ファイル(&M)"), none, 0,
         &TMovieForm1::FilterMpeg);
    item(mediaFilterMenu_, waveFilterAction_, "WAVE1", QStringLiteral("WAVE ファイル(&W)"), none, 0,
         &TMovieForm1::FilterWave);
    item(mediaFilterMenu_, midiFilterAction_, "MIDI1", QStringLiteral("MIDI ファイル(&D)"), none, 0,
         &TMovieForm1::FilterMidi);
    separator(fileMenu_, "N25");
    item(fileMenu_, exitAction_, "Exit1", QStringLiteral("終了(&X)"), none, -1, &TMovieForm1::Exit);

    top(viewMenu_, "Show1", QStringLiteral("ビュー(&V)"));
    item(viewMenu_, fitToWindowAction_, "N2", QStringLiteral("ウィンドウの大きさに合わせる(&F)"), none, 1,
         &TMovieForm1::ToggleFitToWindow);
    separator(viewMenu_, "N15");
    item(viewMenu_, controlBarAction_, "N9", QStringLiteral("コントロールバー(&C)"), none, 1,
         &TMovieForm1::ToggleControlBar);
    item(viewMenu_, statusBarAction_, "N8", QStringLiteral("ステータスバー(&S)"), none, 1,
         &TMovieForm1::ToggleStatusBar);
    item(viewMenu_, playlistStripAction_, "N7", QStringLiteral("プレイリスト(&L)"), none, 1,
         &TMovieForm1::TogglePlaylistStrip);
    separator(viewMenu_, "N16");
    item(viewMenu_, regionNavigatorAction_, "N29", QStringLiteral("矩形再生範囲の指定(&R)..."), none, -1,
         &TMovieForm1::ShowRegionNavigator);

    top(playMenu_, "P1", QStringLiteral("プレイ(&P)"));
    item(playMenu_, playPauseAction_, "N3", QStringLiteral("プレイ/ポーズ(&P)"), K(Qt::CTRL | Qt::Key_P), -1,
         &TMovieForm1::PlayPause);
    item(playMenu_, stopAction_, "S1", QStringLiteral("ストップ(&S)"), K(Qt::CTRL | Qt::Key_S), -1, &TMovieForm1::Stop);
    separator(playMenu_, "N4");
    item(playMenu_, previousTrackAction_, "N5", QStringLiteral("前のトラック(&B)"), K(Qt::CTRL | Qt::Key_B), -1,
         &TMovieForm1::PreviousTrack);
    item(playMenu_, nextTrackAction_, "N6", QStringLiteral("次のトラック(&F)"), K(Qt::CTRL | Qt::Key_F), -1,
         &TMovieForm1::NextTrack);
    item(playMenu_, rewindAction_, "N10", QStringLiteral("巻き戻し(&R)"), K(Qt::CTRL | Qt::ALT | Qt::Key_B), -1,
         &TMovieForm1::Rewind);
    item(playMenu_, fastForwardAction_, "A1", QStringLiteral("早送り(&A)"), K(Qt::CTRL | Qt::ALT | Qt::Key_F), -1,
         &TMovieForm1::FastForward);
    separator(playMenu_, "N11");
    item(playMenu_, continuousPlayAction_, "N14", QStringLiteral("連続プレイ(&T)"), K(Qt::CTRL | Qt::Key_T), 0,
         &TMovieForm1::ToggleContinuousPlay);
    separator(playMenu_, "N1");
    submenu(playMenu_, speedMenu_, "N12", QStringLiteral("プレイ速度(&D)"));
    item(speedMenu_, halfSpeedAction_, "N051", QStringLiteral("0.5倍速(&H)"), none, 0, &TMovieForm1::PlayAtHalfSpeed);
    item(speedMenu_, normalSpeedAction_, "N13", QStringLiteral("標準(&N)"), none, 1, &TMovieForm1::PlayAtNormalSpeed);
    item(speedMenu_, oneAndHalfSpeedAction_, "N21", QStringLiteral("1.5倍速(&C)"), none, 0,
         &TMovieForm1::PlayAtOneAndHalfSpeed);
    item(speedMenu_, doubleSpeedAction_, "N22", QStringLiteral("2倍速(&T)"), none, 0, &TMovieForm1::PlayAtDoubleSpeed);

    top(toolMenu_, "Tool1", QStringLiteral("ツール(&T)"));
    item(toolMenu_, copyFrameAction_, "Copy1", QStringLiteral("現在のフレームをコピー(&C)"), K(Qt::CTRL | Qt::Key_C),
         -1, &TMovieForm1::CopyCurrentFrame);
    item(toolMenu_, openContainingFolderAction_, "N26", QStringLiteral("フォルダを開く(&A)"), none, -1,
         &TMovieForm1::OpenContainingFolder);

    top(helpMenu_, "Help1", QStringLiteral("ヘルプ(&H)"));
    item(helpMenu_, userGuideAction_, "G1", QStringLiteral("ユーザーズガイド(&G)"), K(Qt::Key_F1), -1,
         &TMovieForm1::OpenUserGuide);
    separator(helpMenu_, "N17");
    item(helpMenu_, aboutAction_, "A2", QStringLiteral("ソフトウェア情報(&A)..."), none, -1, &TMovieForm1::ShowAbout);
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
        TdxfItems& items = playlist_->Items();
        items.BeginUpdate();
        for (const std::string& arg : arguments_)
            AddPath(arg);
        items.EndUpdate();
    }
    continuousPlayAction_->setChecked(true);
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
