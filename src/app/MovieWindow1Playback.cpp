// The main window's side of playback: handing the chosen entry to the player, the
// Play menu, and moving on through the playlist when a track ends.
#include "app/MovieWindow1.h"

#include <QAction>

#include "controls/dxfComboBox.h"
#include "player/TGKitMSPlay.h"
#include "region/CutWindow1.h"

namespace kino {

void TMovieForm1::ComboBox1Change(TdxfComboBox*)
{
    Player1->SetFileName(ComboBox1->Text());
    RerunRegionCommand();
}

void TMovieForm1::Player1Notify(TGKitMSPlay*, std::int16_t status, std::int32_t)
{
    PlayerStatus = static_cast<enum TGKitMSPlay::Status>(status);
    if (PlayerStatus != TGKitMSPlay::Ended || !N14->isChecked())
        return;
    const int index = ComboBox1->ItemIndex();
    if (index >= ComboBox1->Items().Count() - 1)
        return;
    const auto opened = Player1->Engine()->generation();
    ComboBox1->SetItemIndex(index + 1);
    // An entry equal to the one that just ended raises no change, so it is handed over
    // here; one the change event has just opened is not opened a second time.
    if (Player1->Engine()->generation() == opened)
        Player1->SetFileName(ComboBox1->Text());
    RerunRegionCommand();
}

void TMovieForm1::Player1Click(TGKitMSPlay*)
{
    N3Click();
}

void TMovieForm1::N3Click()
{
    if (PlayerStatus == TGKitMSPlay::Playing)
        Player1->Pause();
    // After the end, play/pause plays the entry again from its start, as the control
    // bar's own play button does.
    if (PlayerStatus == TGKitMSPlay::Paused || PlayerStatus == TGKitMSPlay::Stopped || PlayerStatus == TGKitMSPlay::Ended)
        Player1->Play();
}

void TMovieForm1::S1Click()
{
    Player1->Stop();
}

void TMovieForm1::N5Click()
{
    const int index = ComboBox1->ItemIndex();
    if (index > 0) {
        ComboBox1->SetItemIndex(index - 1);
        RerunRegionCommand();
    }
}

void TMovieForm1::N6Click()
{
    const int index = ComboBox1->ItemIndex();
    if (index < ComboBox1->Items().Count() - 1) {
        ComboBox1->SetItemIndex(index + 1);
        RerunRegionCommand();
    }
}

void TMovieForm1::N10Click()
{
    Player1->Reverse(5);
}

void TMovieForm1::A1Click()
{
    Player1->Forward(5);
}

void TMovieForm1::N14Click()
{
    N14->setChecked(!N14->isChecked());
}

void TMovieForm1::ChangeSpeed(QAction* chosen, double value)
{
    for (QAction* a : {N051, N13, N21, N22})
        a->setChecked(a == chosen);
    Player1->SetSpeed(value);
    Player1->Pause();
    Player1->Play();
}

void TMovieForm1::N051Click() { ChangeSpeed(N051, 0.5); }
void TMovieForm1::N13Click() { ChangeSpeed(N13, 1.0); }
void TMovieForm1::N21Click() { ChangeSpeed(N21, 1.5); }
void TMovieForm1::N22Click() { ChangeSpeed(N22, 2.0); }

void TMovieForm1::RerunRegionCommand()
{
    if (CutForm1 && CutForm1->isVisible())
        N29Click();
}

} // namespace kino
