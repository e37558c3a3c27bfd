#pragma once
// The control bar (play/pause, stop, seek bar, time, volume, mute) and the status bar
// (state, position and length, the reason a source cannot be played) under the picture.
#include <QString>
#include <QWidget>

class QLabel;
class QSlider;
class QToolButton;

namespace kino {

// "m:ss", or "h:mm:ss" from an hour on; "--:--" for an unknown time.
QString FormatTime(qint64 ms);

class PlayerControlBar : public QWidget {
    Q_OBJECT
public:
    explicit PlayerControlBar(QWidget* parent = nullptr);

    void SetPlaying(bool playing);
    void SetPosition(qint64 positionMs, qint64 durationMs);
    void SetVolume(int percent);
    void SetMuted(bool muted);
    bool IsDragging() const;

    QToolButton* PlayButton() const { return play_; }
    QToolButton* StopButton() const { return stop_; }
    QToolButton* MuteButton() const { return mute_; }
    QSlider* SeekBar() const { return seek_; }
    QSlider* VolumeBar() const { return volume_; }
    QLabel* TimeLabel() const { return time_; }

signals:
    void playPauseClicked();
    void stopClicked();
    void seekRequested(qint64 positionMs);
    void volumeChanged(int percent);
    void muteToggled(bool muted);

private:
    void UpdateTimeLabel(qint64 positionMs);

    QToolButton* play_;
    QToolButton* stop_;
    QSlider* seek_;
    QLabel* time_;
    QToolButton* mute_;
    QSlider* volume_;
    qint64 durationMs_ = -1;
    bool playing_ = false;
};

class PlayerStatusBar : public QWidget {
    Q_OBJECT
public:
    explicit PlayerStatusBar(QWidget* parent = nullptr);

    void SetState(const QString& text);
    void SetPosition(qint64 positionMs, qint64 durationMs);
    QString StateText() const;
    QString PositionText() const;

private:
    QLabel* state_;
    QLabel* position_;
};

} // namespace kino
