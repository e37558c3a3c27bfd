// The main window's View, Tool and Help commands and Exit.
#include "app/MovieWindow1.h"

#include <QAction>
#include <QScreen>

#include "app/Dialogs.h"
#include "app/InfoWindow1.h"
#include "controls/dxfComboBox.h"
#include "platform/PathRules.h"
#include "platform/Shell.h"
#include "player/TGKitMSPlay.h"
#include "region/CutWindow1.h"

namespace kino {

void TMovieForm1::ToggleFitToWindow()
{
    fitToWindowAction->setChecked(!fitToWindowAction->isChecked());
    player->SetViewStyle(fitToWindowAction->isChecked() ? 1 : 0);
}

void TMovieForm1::ToggleControlBar()
{
    controlBarAction->setChecked(!controlBarAction->isChecked());
    player->SetControlBar(controlBarAction->isChecked() ? kTrue : kFalse);
}

void TMovieForm1::ToggleStatusBar()
{
    statusBarAction->setChecked(!statusBarAction->isChecked());
    player->SetStatusBar(statusBarAction->isChecked() ? kTrue : kFalse);
}

void TMovieForm1::TogglePlaylistStrip()
{
    playlistStripAction->setChecked(!playlistStripAction->isChecked());
    // The picture takes the strip's 20 pixels while it is hidden, and gives them back.
    playlistStrip->setVisible(playlistStripAction->isChecked());
}

void TMovieForm1::CopyCurrentFrame()
{
    if (player->MediaFormat() != TGKitMSPlay::AviMovie) {
        Shell().Beep();
        dialogs_->ShowMessage(this, QStringLiteral("AVI ファイル以外の形式はコピーできません。"));
        return;
    }
    player->CopyToClipboard(player->GetCurrentPos());
}

void TMovieForm1::OpenContainingFolder()
{
    const std::string shown = playlist->Text();
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
    Shell().Open(programFolder + "/Readme.txt");
}

void TMovieForm1::ShowAbout()
{
    if (InfoForm1)
        InfoForm1->ShowModal();
}

void TMovieForm1::ShowRegionNavigator()
{
    if (!CutForm1)
        return;
    const int format = player->MediaFormat();
    if (format != TGKitMSPlay::AviMovie && format != TGKitMSPlay::OtherMovie) {
        // No picture: the beep, and the navigator hides without restoring anything.
        Shell().Beep();
        CutForm1->hide();
        return;
    }
    const QRect available = screen() ? screen()->availableGeometry() : QRect();
    if (!CutForm1->isVisible())
        CutForm1->move(x() + 6, y() + 52);
    CutForm1->SetUp(player->MovieWidth(), player->MovieHeight(), available);
    CutForm1->show();
}

void TMovieForm1::AttachNavigator(TCutForm1* navigator)
{
    navigator->OnApply = [this](std::int16_t x, std::int16_t y, std::int16_t w, std::int16_t h) {
        player->SetSourceRect(x, y, w, h);
    };
    navigator->OnRestore = [this] { player->SetSourceRect(0, 0, player->MovieWidth(), player->MovieHeight()); };
}

void TMovieForm1::Exit()
{
    close();
}

} // namespace kino
