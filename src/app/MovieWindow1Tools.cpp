// The main window's View, Tool and Help commands and Exit.
#include <QAction>
#include <QScreen>

#include "app/Dialogs.h"
#include "app/InfoWindow1.h"
#include "app/MovieWindow1.h"
#include "controls/dxfComboBox.h"
#include "platform/PathRules.h"
#include "platform/Shell.h"
#include "player/TGKitMSPlay.h"
#include "region/CutWindow1.h"

namespace kino {

void TMovieForm1::ToggleFitToWindow()
{
    fitToWindowAction_->setChecked(!fitToWindowAction_->isChecked());
    player_->SetViewStyle(fitToWindowAction_->isChecked() ? 1 : 0);
}

void TMovieForm1::ToggleControlBar()
{
    controlBarAction_->setChecked(!controlBarAction_->isChecked());
    player_->SetControlBar(controlBarAction_->isChecked() ? kTrue : kFalse);
}

void TMovieForm1::ToggleStatusBar()
{
    statusBarAction_->setChecked(!statusBarAction_->isChecked());
    player_->SetStatusBar(statusBarAction_->isChecked() ? kTrue : kFalse);
}

void TMovieForm1::TogglePlaylistStrip()
{
    playlistStripAction_->setChecked(!playlistStripAction_->isChecked());
    // The picture takes the strip's 20 pixels while it is hidden, and gives them back.
    playlistStrip_->setVisible(playlistStripAction_->isChecked());
}

void TMovieForm1::CopyCurrentFrame()
{
    if (player_->MediaFormat() != TGKitMSPlay::AviMovie) {
        Shell().Beep();
        dialogs_->ShowMessage(this, QStringLiteral("AVI ファイル以外の形式はコピーできません。"));
        return;
    }
    player_->CopyToClipboard(player_->GetCurrentPos());
}

void TMovieForm1::OpenContainingFolder()
{
    const std::string shown = playlist_->Text();
    if (shown.empty()) {
        Shell().Beep();
        dialogs_->ShowMessage(this, QStringLiteral("プレイリストにファイルが登録されていません。"));
        return;
    }
    // A URL without a path ("http://host") lies in its site; its last "/" is in the "//".
    const std::string site = UrlSite(shown);
    if (!site.empty() && (shown.size() == site.size() || shown[site.size()] != '/')) {
        Shell().Open(site);
        return;
    }
    // An entry named without any folder lies in the current folder.
    const std::string folder = FolderOf(shown);
    Shell().Open(folder.empty() ? std::string(".") : folder);
}

void TMovieForm1::OpenUserGuide()
{
    Shell().Open(programFolder_ + "/Readme.txt");
}

void TMovieForm1::ShowAbout()
{
    if (!about_ && makeAbout_)
        about_ = makeAbout_();
    if (about_)
        about_->ShowModal();
}

void TMovieForm1::ShowRegionNavigator()
{
    if (!navigator_)
        return;
    const int format = player_->MediaFormat();
    if (format != TGKitMSPlay::AviMovie && format != TGKitMSPlay::OtherMovie) {
        // No picture: the beep, and the navigator hides without restoring anything.
        Shell().Beep();
        navigator_->hide();
        return;
    }
    const QRect available = screen() ? screen()->availableGeometry() : QRect();
    if (!navigator_->isVisible())
        navigator_->move(x() + 6, y() + 52);
    navigator_->SetUp(player_->MovieWidth(), player_->MovieHeight(), available);
    navigator_->show();
}

void TMovieForm1::AttachNavigator(TCutForm1* navigator)
{
    navigator_ = navigator;
    navigator->OnApply = [this](std::int16_t x, std::int16_t y, std::int16_t w, std::int16_t h) {
        player_->SetSourceRect(x, y, w, h);
    };
    navigator->OnRestore = [this] { player_->SetSourceRect(0, 0, player_->MovieWidth(), player_->MovieHeight()); };
}

void TMovieForm1::Exit()
{
    close();
}

} // namespace kino
