// The main window's side of playback: handing the chosen entry to the player, the
// Play menu, and moving on through the playlist when a track ends.
#include "app/MovieWindow1.h"

#include <QAction>

#include "controls/dxfComboBox.h"
#include "player/TGKitMSPlay.h"
#include "region/CutWindow1.h"

namespace kino {

void TMovieForm1::OpenChosenEntry()
{
    player->SetFileName(playlist->Text());
    RerunRegionCommand();
}

void TMovieForm1::FollowPlayerStatus(std::int16_t status)
{
    playerStatus = static_cast<enum TGKitMSPlay::Status>(status);
    if (playerStatus != TGKitMSPlay::Ended || !continuousPlayAction->isChecked())
        return;
    const int index = playlist->ItemIndex();
    if (index >= playlist->Items().Count() - 1)
        return;
    const auto opened = player->SourceSerial();
    playlist->SetItemIndex(index + 1);
    // An entry equal to the one that just ended raises no change, so it is handed over
    // here; one the change event has just opened is not opened a second time.
    if (player->SourceSerial() == opened)
        player->SetFileName(playlist->Text());
    RerunRegionCommand();
}

void TMovieForm1::PlayPause()
{
    if (playerStatus == TGKitMSPlay::Playing)
        player->Pause();
    // After the end, play/pause plays the entry again from its start, as the control
    // bar's own play button does.
    if (playerStatus == TGKitMSPlay::Paused || playerStatus == TGKitMSPlay::Stopped ||
        playerStatus == TGKitMSPlay::Ended)
        player->Play();
}

void TMovieForm1::Stop()
{
    player->Stop();
}

void TMovieForm1::PreviousTrack()
{
    const int index = playlist->ItemIndex();
    if (index > 0) {
        playlist->SetItemIndex(index - 1);
        RerunRegionCommand();
    }
}

void TMovieForm1::NextTrack()
{
    const int index = playlist->ItemIndex();
    if (index < playlist->Items().Count() - 1) {
        playlist->SetItemIndex(index + 1);
        RerunRegionCommand();
    }
}

void TMovieForm1::Rewind()
{
    player->Reverse(5);
}

void TMovieForm1::FastForward()
{
    player->Forward(5);
}

void TMovieForm1::ToggleContinuousPlay()
{
    continuousPlayAction->setChecked(!continuousPlayAction->isChecked());
}

void TMovieForm1::ChangeSpeed(QAction* chosen, double value)
{
    for (QAction* a : {halfSpeedAction, normalSpeedAction, oneAndHalfSpeedAction, doubleSpeedAction})
        a->setChecked(a == chosen);
    player->SetSpeed(value);
    player->Pause();
    player->Play();
}

void TMovieForm1::PlayAtHalfSpeed()
{
    ChangeSpeed(halfSpeedAction, 0.5);
}
void TMovieForm1::PlayAtNormalSpeed()
{
    ChangeSpeed(normalSpeedAction, 1.0);
}
void TMovieForm1::PlayAtOneAndHalfSpeed()
{
    ChangeSpeed(oneAndHalfSpeedAction, 1.5);
}
void TMovieForm1::PlayAtDoubleSpeed()
{
    ChangeSpeed(doubleSpeedAction, 2.0);
}

void TMovieForm1::RerunRegionCommand()
{
    if (CutForm1 && CutForm1->isVisible())
        ShowRegionNavigator();
}

} // namespace kino
