#pragma once
// One playbin and everything around it: opening a source, the playback state, seeks,
// speed, volume, and the newest decoded frame. Bus messages and frames reach the GUI
// thread through a socket notifier and queued calls; GStreamer's threads never touch
// a widget.
#include <QElapsedTimer>
#include <QObject>
#include <QSize>
#include <QString>

#include <gst/gst.h>
#include <gst/video/video-info.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "player/elements/GstHandles.h"
#include "player/engine/FrameFetch.h"
#include "player/engine/VideoFrame.h"

class QTimer;

namespace kino {

class BusWatcher;
class OpenedAhead;
class PlayerPipeline;
struct FrameSlot;

// The memory layout of the frames of one negotiation, kept with the caps it came from.
struct FrameLayout {
    gsth::Caps caps;
    GstVideoInfo info{};
};

// How long before a source's end the one that follows it is opened ahead: enough for
// a preroll on a busy machine, few enough that its decoder is not held for long.
constexpr qint64 kFollowingAheadMs = 3000;

class PlayerEngine : public QObject {
    Q_OBJECT
public:
    enum class State {
        Closed,  // no source
        Opening, // waiting for a slow source to answer
        Paused,  // ready, not running (also right after opening)
        Playing,
        Stopped, // paused at the start by Stop
        Ended,   // the end of the medium was reached
        Failed,  // the source could not be opened or played; see ErrorCode()
    };

    // Why a source failed; kept as the control's notification detail.
    enum ErrorCode {
        NoError = 0,
        NotFound = 1,     // missing file or unreachable resource
        Unsupported = 2,  // not a medium this player can decode
        Broken = 3,       // damaged data
        NoAnswer = 4,     // a network source that did not answer in time
        NetworkError = 5, // a network source that refused or failed
        OtherError = 6,
    };

    struct MediaFacts {
        bool known = false; // prerolled: the facts below are final
        bool hasVideo = false;
        bool hasAudio = false;
        bool isAvi = false;
        int width = 0;
        int height = 0;
        double pixelAspect = 1.0; // a pixel's width over its height
        qint64 durationMs = -1;
        bool live = false;
        // Streams no installed decoder takes while the rest plays (UndecodedStream bits).
        int undecoded = 0;
    };

    enum UndecodedStream { UndecodedSound = 1, UndecodedPicture = 2 };

    explicit PlayerEngine(QObject* parent = nullptr);
    ~PlayerEngine() override;

    // Opens `source` (8-bit text: a local path or a text with a URI scheme). A local
    // file has its facts when this returns, but for the program's first file, opened
    // ahead while the window was built: its facts follow, as a network source's do,
    // so that the window appears meanwhile. A network source that does not answer
    // within a short wait goes on opening in the background. The empty text closes.
    void Open(const std::string& source);
    void Close();
    // Opens `source` ahead, to be played next, once the playing source is in its last
    // kFollowingAheadMs (asked earlier, it does nothing yet): a local file (not MIDI) is
    // prerolled, silent, and Open takes it over when asked for the same source, so that
    // it starts at once. Another source, or the empty text, drops what was opened ahead;
    // so does Open of any other source. When it will be played as soon as it is opened
    // (`playsAtOnce`) and is a WAVE file of the same sound format as the playing one at
    // normal speed, the playing pipeline plays on into it instead, through the same
    // sound stream: the current source then ends without an end of stream of its own,
    // and Open of the following source takes over the pipeline as it plays.
    void OpenFollowing(const std::string& source, bool playsAtOnce = false);
    // The source opened ahead to be played next, or empty.
    const std::string& Following() const { return followingSource_; }

    // Each returns whether it was carried out, or, while the source is still opening,
    // remembered to be carried out once it has opened; false without a source or when
    // GStreamer refused.
    bool Play();
    bool Pause();
    bool Stop();            // paused at the start of the medium
    bool SeekMs(qint64 ms); // clamped to the medium
    qint64 PositionMs() const;
    qint64 DurationMs() const;

    double Rate() const { return rate_; }
    void SetRate(double rate); // applied at the next Play
    // The rate the pipeline plays its current segment at, as its sinks have it; 0 when
    // there is no pipeline or no segment has reached them.
    double PipelineRate() const;

    double Volume() const { return volume_; }
    void SetVolume(double volume);
    bool Muted() const { return muted_; }
    void SetMuted(bool muted);

    State CurrentState() const { return state_; }
    const MediaFacts& Facts() const { return facts_; }
    ErrorCode FailureCode() const { return errorCode_; }
    const QString& FailureText() const { return errorText_; } // the framework's own words
    const std::string& Source() const { return source_; }
    // Counts up with every source opened (and every close).
    quint64 Generation() const { return generation_; }
    // Whether the end of the medium has been posted by the pipeline and not yet
    // handled on this thread.
    bool EndPosted() const;
    // Frames are delivered at this size (square pixels), scaled in the pipeline;
    // empty: at the picture's own size. Takes effect at the next frame.
    void SetFrameSize(const QSize& size);
    QSize FrameSize() const { return frameSize_; }
    // The newest frame at the picture's own size (in memory of its own) when it can be
    // had at once: a Motion JPEG picture decoded again whole. Null for other frames.
    VideoFrame FullFrame() const;
    // The newest frame at the picture's own size, decoded again from the source on a
    // thread of its own: frames are shown scaled and keep no full-size picture. The
    // result is null when the source cannot be read again at that time; the future is
    // not valid without a frame, or for a source that is not a local file.
    std::shared_future<WholePicture> FetchFullFrame() const;
    // The newest frame as delivered.
    const VideoFrame& CurrentFrame() const { return frame_; }
    // The compressed Motion JPEG picture the newest frame was decoded from, with the
    // stream's caps size that tells fields apart (see jpeg::ReadPicture): a copy of the
    // frame keeps this rather than the picture decoded. Empty for any other frame.
    struct CompressedPicture {
        std::vector<std::uint8_t> jpeg;
        int capsWidth = 0;
        int capsHeight = 0;
    };
    CompressedPicture CurrentJpeg() const;

    // How long a network source may take to answer before it counts as failed.
    void SetNetworkTimeoutMs(int ms) { networkTimeoutMs_ = ms; }

    // The URI handed to GStreamer for an entry text.
    static std::string UriFor(const std::string& source);

    // The current source's playbin, null without one: for looking into the pipeline;
    // its state is the engine's to change.
    GstElement* Playbin() const;

signals:
    void stateChanged(kino::PlayerEngine::State state);
    void factsChanged();
    void frameReady(const kino::VideoFrame& frame);
    void positionChanged(); // after a seek
    void volumeChanged(double volume);
    void mutedChanged(bool muted);

private:
    FrameSlot& Slot() const; // only with a pipeline
    // Makes `pipeline` (a new one when null) the current source's, bound to this engine.
    void AttachPipeline(std::unique_ptr<PlayerPipeline> pipeline);
    void RetirePipeline();
    // The pipeline opened ahead for the current source (at `uri`), or null.
    std::unique_ptr<PlayerPipeline> TakeFollowing(const std::string& uri, GstStateChangeReturn* result);

    // Opening, step by step: forget the last source, check the location, preroll,
    // read the facts.
    void ResetFor(const std::string& source, bool keepPipeline = false);
    bool AcceptLocation(const std::string& uri); // false: failed
    bool RefuseLocalFile(const std::string& path);
    void ReadFacts();

    void SetState(State next);
    // Every state change of the pipeline goes through here; false when it was refused,
    // and then the source has failed.
    bool ChangeState(GstState target);
    void Fail(ErrorCode code, const QString& text);
    // A refusal reported only by a return value: the element's error message when it
    // posted one, else `fallback` with `text`.
    void FailRefusedChange(ErrorCode fallback, const QString& text);
    ErrorCode JudgeError(const GError* err, bool fromSource) const;
    qint64 QueryDurationMs() const;
    gint64 QueryPositionNs() const;                // -1 when unknown
    bool SeekToNs(double rate, qint64 positionNs); // flushing, accurate; checked
    void ApplyRate();
    bool StartPlaying(); // false: refused, the source failed
    void ReachEnd();     // the end of the medium reached
    void PictureSizeFromPipeline();
    void RedrawIfStale();
    void RedrawStill();
    void TakeFrame();

    // The bus messages, one handler each (see AttachPipeline).
    void FailFromMessage(GstMessage* msg);
    void OnEndOfStream(GstMessage* msg);
    void OnPrerolled();
    void RefreshDuration(GstMessage* msg);
    void OnBuffering(GstMessage* msg);
    void OnClockLost();
    void OnLatency();
    void OnElementMessage(GstMessage* msg);
    void OnStreamStart();

    bool MayPlayOnInto(const std::string& source) const;
    // The pipeline went on into a source that was withdrawn too late: the current
    // source is opened again before it is played, stopped or sought in.
    void ReopenIfMovedOnAlone();

    // The current source's pipeline (with its frame slot) and its bus; a new pair per source.
    std::unique_ptr<PlayerPipeline> pipeline_;
    std::unique_ptr<OpenedAhead> following_;
    std::string followingSource_;
    bool handedOn_ = false;       // the following source was offered to the playing pipeline
    bool movedOn_ = false;        // ... which now plays it; Open takes it over
    bool movedOnAlone_ = false;   // ... which went on into one that was withdrawn
    std::string notPlayedOnInto_; // a following source found unfit to play on into
    std::unique_ptr<BusWatcher> watcher_;
    QTimer* openWatchdog_ = nullptr;
    QTimer* stillRedrawTimer_ = nullptr;

    std::string source_;
    State state_ = State::Closed;
    MediaFacts facts_;
    ErrorCode errorCode_ = NoError;
    QString errorText_;
    VideoFrame frame_;
    gint64 frameStreamNs_ = -1; // where frame_ belongs in the medium
    FrameLayout frameLayout_;
    quint64 generation_ = 0;
    bool wantPlaying_ = false;
    bool stopWhenOpened_ = false; // Stop asked for while opening
    bool endBeforePause_ = false; // the end came just before a pause; the next Play ends
    bool buffering_ = false;
    bool local_ = false;        // the source is a local file
    bool sourceIsMidi_ = false; // a local MIDI file whose structure holds
    double rate_ = 1.0;
    double appliedRate_ = 1.0;
    double volume_ = 1.0;
    bool muted_ = false;
    int networkTimeoutMs_ = 12000;
    QElapsedTimer sinceOpen_; // a network source that fails unheard after the whole wait did not answer
    qint64 lastPositionMs_ = 0;
    QSize frameSize_;
    int staleRedraws_ = 0; // stills made again for the present frame size
};

} // namespace kino
