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

void TMovieForm1::N2Click()
{
    N2->setChecked(!N2->isChecked());
    Player1->SetViewStyle(N2->isChecked() ? 1 : 0);
}

void TMovieForm1::N9Click()
{
    N9->setChecked(!N9->isChecked());
    Player1->SetControlBar(N9->isChecked() ? kTrue : kFalse);
}

void TMovieForm1::N8Click()
{
    N8->setChecked(!N8->isChecked());
    Player1->SetStatusBar(N8->isChecked() ? kTrue : kFalse);
}

void TMovieForm1::N7Click()
{
    N7->setChecked(!N7->isChecked());
    // The picture takes the strip's 20 pixels while it is hidden, and gives them back.
    Panel1->setVisible(N7->isChecked());
}

void TMovieForm1::Copy1Click()
{
    if (Player1->MediaFormat() != TGKitMSPlay::AviMovie) {
        Shell().Beep();
        dialogs_->ShowMessage(this, QStringLiteral("AVI ファイル以外の形式はコピーできません。"));
        return;
    }
    Player1->CopyToClipboard(Player1->GetCurrentPos());
}

void TMovieForm1::N26Click()
{
    const std::string shown = ComboBox1->Text();
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

void TMovieForm1::G1Click()
{
    Shell().Open(ProgramFolder + "/Readme.txt");
}

void TMovieForm1::A2Click()
{
    if (InfoForm1)
        InfoForm1->ShowModal();
}

void TMovieForm1::N29Click()
{
    if (!CutForm1)
        return;
    const int format = Player1->MediaFormat();
    if (format != TGKitMSPlay::AviMovie && format != TGKitMSPlay::OtherMovie) {
        // No picture: the beep, and the navigator hides without restoring anything.
        Shell().Beep();
        CutForm1->hide();
        return;
    }
    const QRect available = screen() ? screen()->availableGeometry() : QRect();
    if (!CutForm1->isVisible())
        CutForm1->move(x() + 6, y() + 52);
    CutForm1->SetUp(Player1->MovieWidth(), Player1->MovieHeight(), available);
    CutForm1->show();
}

void TMovieForm1::AttachNavigator(TCutForm1* navigator)
{
    navigator->OnApply = [this](std::int16_t x, std::int16_t y, std::int16_t w, std::int16_t h) {
        Player1->SetSourceRect(x, y, w, h);
    };
    navigator->OnRestore = [this] { Player1->SetSourceRect(0, 0, Player1->MovieWidth(), Player1->MovieHeight()); };
}

void TMovieForm1::Exit1Click()
{
    close();
}

} // namespace kino
