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

    QToolButton* PlayButton() const { return playButton_; }
    QToolButton* StopButton() const { return stopButton_; }
    QToolButton* MuteButton() const { return muteButton_; }
    QSlider* SeekBar() const { return seekBar_; }
    QSlider* VolumeBar() const { return volumeBar_; }
    QLabel* TimeLabel() const { return timeLabel_; }

signals:
    void playPauseClicked();
    void stopClicked();
    void seekRequested(qint64 positionMs);
    void volumeChanged(int percent);
    void muteToggled(bool muted);

private:
    void UpdateTimeLabel(qint64 positionMs);

    QToolButton* playButton_;
    QToolButton* stopButton_;
    QSlider* seekBar_;
    QLabel* timeLabel_;
    QToolButton* muteButton_;
    QSlider* volumeBar_;
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
    QLabel* stateLabel_;
    QLabel* positionLabel_;
};

} // namespace kino
