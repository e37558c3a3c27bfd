#pragma once
// The playback control: a widget with the picture, a control bar and a status bar,
// driven through properties, methods and two events. Setting FileName opens the
// source at once and, with AutoPlay on, starts it. Status notifications always
// arrive later, from the event loop, never inside the call that caused them.
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

class QTimer;

namespace kino {

class PlayerEngine;
class VideoView;
class PlayerControlBar;
class PlayerStatusBar;

// Booleans of the control: -1 true, 0 false; any non-zero value given counts as true.
using WordBool = std::int16_t;
constexpr WordBool kTrue = -1;
constexpr WordBool kFalse = 0;

class TGKitMSPlay : public QWidget {
    Q_OBJECT
public:
    // Status codes of OnNotify.
    enum StatusCode : std::int16_t { Playing = 1, Stopped = 2, Paused = 3, Ended = 4 };
    // MediaFormat values.
    enum Format : int { NoMedia = 0, SoundOnly = 201, AviMovie = 301, OtherMovie = 302 };

    explicit TGKitMSPlay(QWidget* parent = nullptr);
    ~TGKitMSPlay() override;

    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& value);

    WordBool ControlBar() const { return controlBar_ ? kTrue : kFalse; }
    void SetControlBar(WordBool value);
    int ViewStyle() const { return viewStyle_; }
    void SetViewStyle(int value); // 1 fitted, 0 own size; others ignored
    WordBool StatusBar() const { return statusBar_ ? kTrue : kFalse; }
    void SetStatusBar(WordBool value);
    WordBool AutoPlay() const { return autoPlay_ ? kTrue : kFalse; }
    void SetAutoPlay(WordBool value);

    std::int16_t MovieWidth() const;
    std::int16_t MovieHeight() const;
    int MediaFormat() const;

    double Speed() const { return speed_; }
    void SetSpeed(double value); // applied at the next Play
    // The speed the medium plays at now (0: none open), which Speed() becomes at Play.
    double PlayingSpeed() const;

    bool Play();
    bool Stop();
    bool Pause();
    std::int32_t GetCurrentPos() const; // milliseconds
    bool Forward(std::int16_t step);    // seconds
    bool Reverse(std::int16_t step);    // seconds
    bool SetSourceRect(std::int16_t x, std::int16_t y, std::int16_t width, std::int16_t height);
    bool CopyToClipboard(std::int32_t position);

    // The last status reported (or about to be reported) and its detail.
    std::int16_t Status() const { return status_; }
    std::int32_t Detail() const { return detail_; }
    // The reason shown in the status bar when the source could not be played.
    QString ErrorText() const { return errorText_; }
    std::int32_t DurationMs() const;

    // For the desktop's media keys and applets, beside the design's methods: the sound
    // volume from 0 to 1 and its mute, a jump to an absolute position (clamped to the
    // medium), and a count that goes up with every source opened.
    double Volume() const;
    void SetVolume(double value);
    bool Muted() const;
    void SetMuted(bool muted);
    bool SeekToMs(qint64 positionMs);
    quint64 SourceSerial() const;

    // How long a network source may take to answer before it counts as failed.
    void SetNetworkTimeoutMs(int ms);

    std::function<void(TGKitMSPlay* sender, std::int16_t status, std::int32_t detail)> OnNotify;
    std::function<void(TGKitMSPlay* sender)> OnClick;
    // Asked, while a source plays its last seconds, for the one the owner will set
    // when it ends (empty: none). That one is opened ahead so that it starts at once;
    // an answer that changes drops it.
    std::function<std::string(TGKitMSPlay* sender)> OnFollowing;

    VideoView* View() const { return view_; }
    PlayerControlBar* Bar() const { return bar_; }
    PlayerStatusBar* StatusLine() const { return statusLine_; }

    // The Japanese reason for a failure code.
    static QString ReasonFor(int code);

signals:
    // Beside OnNotify (the owner's), for other observers; raised right after it.
    void statusNotified(std::int16_t status, std::int32_t detail); // a StatusCode
    // The position moved other than by playing on (a seek, a new source).
    void positionJumped();
    // Length, size or kind of the source became known or changed.
    void factsChanged();

private:
    void EngineStateChanged();
    void Report(std::int16_t status, std::int32_t detail);
    void RefreshBars();
    void RefreshTicker();
    void OpenFollowingWhenDue();
    void UpdateFrameSize();

    PlayerEngine* engine_; // a child: the engine, and GStreamer, stay out of this header
    VideoView* view_;
    PlayerControlBar* bar_;
    PlayerStatusBar* statusLine_;
    QTimer* ticker_;
    QPointer<QObject> pendingCopy_; // a copy waiting for its frame's whole picture

    std::string fileName_;
    bool controlBar_ = true;
    bool statusBar_ = true;
    bool autoPlay_ = true;
    int viewStyle_ = 1;
    double speed_ = 1.0;
    std::int16_t status_ = Stopped;
    std::int32_t detail_ = 0;
    bool pausedWhileOpening_ = false;
    int shownAtOpen_ = 0; // the view's frame counts when the source was opened
    int setAtOpen_ = 0;
    QString errorText_;
};

} // namespace kino
