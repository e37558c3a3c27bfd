// The main window's side of playback: handing the chosen entry to the player, the
// Play menu, and moving on through the playlist when a track ends.
#include <QAction>

#include "app/MovieWindow1.h"
#include "controls/dxfComboBox.h"
#include "player/TGKitMSPlay.h"
#include "region/CutWindow1.h"

namespace kino {

void TMovieForm1::OpenChosenEntry()
{
    player_->SetFileName(playlist_->Text());
    RerunRegionCommand();
}

std::string TMovieForm1::FollowingEntry() const
{
    // What FollowPlayerStatus will hand over at the end, as the list stands now.
    const int index = playlist_->ItemIndex();
    if (!continuousPlayAction_->isChecked() || index < 0 || index >= playlist_->Items().Count() - 1)
        return std::string();
    return playlist_->Items().Strings(index + 1);
}

void TMovieForm1::FollowPlayerStatus(std::int16_t status)
{
    playerStatus_ = static_cast<TGKitMSPlay::StatusCode>(status);
    if (playerStatus_ != TGKitMSPlay::Ended || !continuousPlayAction_->isChecked())
        return;
    const int index = playlist_->ItemIndex();
    if (index >= playlist_->Items().Count() - 1)
        return;
    const auto opened = player_->SourceSerial();
    playlist_->SetItemIndex(index + 1);
    // An entry equal to the one that just ended raises no change, so it is handed over
    // here; one the change event has just opened is not opened a second time.
    if (player_->SourceSerial() == opened)
        player_->SetFileName(playlist_->Text());
    RerunRegionCommand();
}

void TMovieForm1::PlayPause()
{
    if (playerStatus_ == TGKitMSPlay::Playing)
        player_->Pause();
    // After the end, play/pause plays the entry again from its start, as the control
    // bar's own play button does.
    if (playerStatus_ == TGKitMSPlay::Paused || playerStatus_ == TGKitMSPlay::Stopped ||
        playerStatus_ == TGKitMSPlay::Ended)
        player_->Play();
}

void TMovieForm1::Stop()
{
    player_->Stop();
}

void TMovieForm1::PreviousTrack()
{
    const int index = playlist_->ItemIndex();
    if (index > 0) {
        playlist_->SetItemIndex(index - 1);
        RerunRegionCommand();
    }
}

void TMovieForm1::NextTrack()
{
    const int index = playlist_->ItemIndex();
    if (index < playlist_->Items().Count() - 1) {
        playlist_->SetItemIndex(index + 1);
        RerunRegionCommand();
    }
}

void TMovieForm1::Rewind()
{
    player_->Reverse(5);
}

void TMovieForm1::FastForward()
{
    player_->Forward(5);
}

void TMovieForm1::ToggleContinuousPlay()
{
    continuousPlayAction_->setChecked(!continuousPlayAction_->isChecked());
}

void TMovieForm1::ChangeSpeed(QAction* chosen, double value)
{
    for (QAction* a : {halfSpeedAction_, normalSpeedAction_, oneAndHalfSpeedAction_, doubleSpeedAction_})
        a->setChecked(a == chosen);
    player_->SetSpeed(value);
    player_->Pause();
    player_->Play();
}

void TMovieForm1::PlayAtHalfSpeed()
{
    ChangeSpeed(halfSpeedAction_, 0.5);
}
void TMovieForm1::PlayAtNormalSpeed()
{
    ChangeSpeed(normalSpeedAction_, 1.0);
}
void TMovieForm1::PlayAtOneAndHalfSpeed()
{
    ChangeSpeed(oneAndHalfSpeedAction_, 1.5);
}
void TMovieForm1::PlayAtDoubleSpeed()
{
    ChangeSpeed(doubleSpeedAction_, 2.0);
}

void TMovieForm1::RerunRegionCommand()
{
    if (navigator_ && navigator_->isVisible())
        ShowRegionNavigator();
}

} // namespace kino
