#include "player/engine/PlayerEngine.h"

#include <QTimer>

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <algorithm>
#include <mutex>

#include "platform/PathRules.h"
#include "player/elements/JpegDecoder.h"
#include "player/engine/BusWatcher.h"
#include "player/engine/GuiThread.h"
#include "player/engine/LocalSource.h"
#include "player/engine/MediaFramework.h"
#include "player/engine/OpenedAhead.h"
#include "player/engine/PipelineReaper.h"
#include "player/engine/PlayerLog.h"
#include "player/engine/PlayerPipeline.h"
#include "player/engine/StartupTrace.h"

namespace kino {

namespace {

// A local file still not ready this long after the wait for it (kLocalOpenWait) will
// not become ready.
constexpr int kLocalLateMs = 5000;
// A MIDI file waits for its synthesizer's sound font, which loads in a second on a
// quiet machine and in many on a busy one under a sanitizer.
constexpr int kMidiLateMs = 30000;

// Where in the medium a frame belongs, -1 when unknown: the middle of its time, so that
// an accurate seek there finds this frame even where another reading of the file puts
// its start a little later (a seek to a frame's very start may stop on the one before).
gint64 StreamTimeOf(GstSample* sample)
{
    const GstClockTime lasts = FrameDuration(sample);
    return FrameStreamTime(sample, GST_CLOCK_TIME_IS_VALID(lasts) ? lasts / 2 : 0);
}

VideoFrame FrameFromSample(GstSample* sample, FrameLayout* layout)
{
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer)
        return {};
    // Frames share their caps until the next negotiation: reading the layout once per
    // caps spares parsing them for every frame.
    GstVideoInfo info;
    if (layout && layout->caps.get() == caps) {
        info = layout->info;
    } else {
        if (!gst_video_info_from_caps(&info, caps))
            return {};
        if (layout) {
            layout->caps = gsth::Caps::Ref(caps);
            layout->info = info;
        }
    }
    return VideoFrame::Map(buffer, info);
}

PlayerEngine::ErrorCode ErrorCodeFor(const GError* err)
{
    if (!err)
        return PlayerEngine::OtherError;
    if (err->domain == GST_RESOURCE_ERROR) {
        switch (err->code) {
        case GST_RESOURCE_ERROR_NOT_FOUND:
        case GST_RESOURCE_ERROR_OPEN_READ:
        case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
            return PlayerEngine::NotFound;
        case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
        case GST_RESOURCE_ERROR_BUSY:
        case GST_RESOURCE_ERROR_READ:
        case GST_RESOURCE_ERROR_SEEK:
            return PlayerEngine::NetworkError;
        default:
            return PlayerEngine::OtherError;
        }
    }
    if (err->domain == GST_STREAM_ERROR) {
        switch (err->code) {
        case GST_STREAM_ERROR_TYPE_NOT_FOUND:
        case GST_STREAM_ERROR_WRONG_TYPE:
        case GST_STREAM_ERROR_CODEC_NOT_FOUND:
        case GST_STREAM_ERROR_NOT_IMPLEMENTED:
            return PlayerEngine::Unsupported;
        case GST_STREAM_ERROR_DECODE:
        case GST_STREAM_ERROR_DEMUX:
        case GST_STREAM_ERROR_FORMAT:
        case GST_STREAM_ERROR_FAILED:
            return PlayerEngine::Broken;
        default:
            return PlayerEngine::OtherError;
        }
    }
    if (err->domain == GST_CORE_ERROR && err->code == GST_CORE_ERROR_MISSING_PLUGIN)
        return PlayerEngine::Unsupported;
    return PlayerEngine::OtherError;
}

// An error's or a warning's own words; they are logged with the element that posted
// them and its debug text, which says where and why in the element's terms.
gsth::Error ParseProblem(GstMessage* msg)
{
    GError* rawError = nullptr;
    gchar* rawDebug = nullptr;
    const bool isError = GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR;
    if (isError)
        gst_message_parse_error(msg, &rawError, &rawDebug);
    else
        gst_message_parse_warning(msg, &rawError, &rawDebug);
    gsth::Error err(rawError);
    gsth::Text debugText(rawDebug);
    qCDebug(lcPlayer) << (isError ? "error from" : "warning from") << GST_MESSAGE_SRC_NAME(msg) << ":"
                      << (err ? err->message : "(no text)") << "|" << (debugText ? debugText.get() : "");
    return err;
}

} // namespace

PlayerEngine::PlayerEngine(QObject* parent)
    : QObject(parent), following_(std::make_unique<OpenedAhead>(PipelineReaper::Shared()))
{
    openWatchdog_ = new QTimer(this);
    openWatchdog_->setSingleShot(true);
    connect(openWatchdog_, &QTimer::timeout, this, [this] {
        // A local file that never describes itself is damaged; a network source that
        // never answers is unreachable, and one that sent what is no medium cannot be played.
        if (state_ != State::Opening)
            return;
        if (local_)
            Fail(Broken, QStringLiteral("the file did not describe itself"));
        else if (Slot().dataArrived)
            Fail(Unsupported, QStringLiteral("what the source sent is no medium"));
        else
            Fail(NoAnswer, QStringLiteral("the source did not answer"));
    });
    stillRedrawTimer_ = new QTimer(this);
    stillRedrawTimer_->setSingleShot(true);
    stillRedrawTimer_->setInterval(100);
    connect(stillRedrawTimer_, &QTimer::timeout, this, &PlayerEngine::RedrawStill);
    // A missing element is reported at start, not at the first source; the registry
    // tells without building (and tearing down) a pipeline nobody plays.
    PlayerPipeline::RequireElements();
}

PlayerEngine::~PlayerEngine()
{
    RetirePipeline();
    OpenFollowing(std::string());
}

void PlayerEngine::OpenFollowing(const std::string& source, bool playsAtOnce)
{
    KINO_ASSERT_GUI_THREAD();
    if (source == followingSource_)
        return;
    bool tooLate = movedOn_;
    if (handedOn_)
        tooLate = !pipeline_->WithdrawNext();
    handedOn_ = movedOn_ = false;
    if (tooLate) {
        // The pipeline already plays what is no longer to follow. It stops there, and
        // the source that ended is opened again if it is played again.
        movedOnAlone_ = true;
        ChangeState(GST_STATE_PAUSED);
    }
    if (!followingSource_.empty()) {
        GstStateChangeReturn unused;
        following_->Take(std::string(), &unused); // retires what was opened ahead
        followingSource_.clear();
    }
    if (tooLate && state_ == State::Playing) {
        // Its start has not been seen here yet: the current source has ended.
        ReachEnd();
        return;
    }
    if (source.empty())
        return;
    if (playsAtOnce && source != notPlayedOnInto_) {
        const std::string uri = UriToOpenAhead(source);
        if (!uri.empty() && MayPlayOnInto(source) && pipeline_->OfferNext(uri)) {
            followingSource_ = source;
            handedOn_ = true;
            qCDebug(lcPlayer) << "to play on into:" << source.c_str();
            return;
        }
        notPlayedOnInto_ = source;
    }
    // In the last seconds only: a source opened ahead holds a decoder and a frame.
    const qint64 length = DurationMs();
    if (length <= 0 || length - PositionMs() > kFollowingAheadMs)
        return;
    const std::string uri = UriToOpenAhead(source);
    if (uri.empty())
        return;
    followingSource_ = source;
    following_->Open(uri, frameSize_.width(), frameSize_.height());
    qCDebug(lcPlayer) << "opened ahead to follow:" << source.c_str();
}

bool PlayerEngine::MayPlayOnInto(const std::string& source) const
{
    // One sound stream carries both only when nothing about it changes at the seam: the
    // same format, no picture, the normal speed.
    if (!pipeline_ || state_ != State::Playing || !local_ || facts_.hasVideo || rate_ != 1.0 || appliedRate_ != 1.0)
        return false;
    const std::string format = WaveFormatOf(LocalNameOf(source_).path);
    return !format.empty() && format == WaveFormatOf(LocalNameOf(source).path);
}

void PlayerEngine::OnStreamStart()
{
    // Only the start of the source played on into matters: the current one's own start
    // came with its opening.
    if (!handedOn_ || !pipeline_->NextTaken())
        return;
    handedOn_ = false;
    movedOn_ = true;
    // The current source has played to its end; an end the user paused just before is
    // kept for the next Play, as an end of stream would be.
    if (state_ == State::Playing)
        ReachEnd();
    else
        endBeforePause_ = true;
}

void PlayerEngine::ReopenIfMovedOnAlone()
{
    if (!movedOnAlone_)
        return;
    const std::string again = source_;
    Open(again);
}

std::unique_ptr<PlayerPipeline> PlayerEngine::TakeFollowing(const std::string& uri, GstStateChangeReturn* result)
{
    // Open has dropped whatever was opened ahead for another source.
    if (followingSource_.empty())
        return nullptr;
    followingSource_.clear();
    return following_->Take(uri, result);
}

GstElement* PlayerEngine::Playbin() const
{
    return pipeline_ ? pipeline_->Playbin() : nullptr;
}

FrameSlot& PlayerEngine::Slot() const
{
    return pipeline_->Slot();
}

void PlayerEngine::AttachPipeline(std::unique_ptr<PlayerPipeline> pipeline)
{
    const bool openedAhead = bool(pipeline);
    pipeline_ = openedAhead ? std::move(pipeline) : std::make_unique<PlayerPipeline>();
    pipeline_->SetWake([this] {
        QMetaObject::invokeMethod(
            this, [this] { TakeFrame(); }, Qt::QueuedConnection);
    });
    pipeline_->SetFrameSize(frameSize_.width(), frameSize_.height());
    pipeline_->SetNetworkWaitMs(networkTimeoutMs_);
    watcher_ = std::make_unique<BusWatcher>(pipeline_->Bus());
    watcher_->Handle(GST_MESSAGE_ERROR, [this](GstMessage* msg) { FailFromMessage(msg); });
    watcher_->Handle(GST_MESSAGE_WARNING, [](GstMessage* msg) { ParseProblem(msg); });
    watcher_->Handle(GST_MESSAGE_EOS, [this](GstMessage* msg) { OnEndOfStream(msg); });
    watcher_->Handle(GST_MESSAGE_ASYNC_DONE, [this](GstMessage*) { OnPrerolled(); });
    watcher_->Handle(GST_MESSAGE_DURATION_CHANGED, [this](GstMessage* msg) { RefreshDuration(msg); });
    watcher_->Handle(GST_MESSAGE_STATE_CHANGED, [this](GstMessage* msg) { RefreshDuration(msg); });
    watcher_->Handle(GST_MESSAGE_BUFFERING, [this](GstMessage* msg) { OnBuffering(msg); });
    watcher_->Handle(GST_MESSAGE_CLOCK_LOST, [this](GstMessage*) { OnClockLost(); });
    watcher_->Handle(GST_MESSAGE_LATENCY, [this](GstMessage*) { OnLatency(); });
    watcher_->Handle(GST_MESSAGE_ELEMENT, [this](GstMessage* msg) { OnElementMessage(msg); });
    watcher_->Handle(GST_MESSAGE_STREAM_START, [this](GstMessage*) { OnStreamStart(); });
}

void PlayerEngine::RetirePipeline()
{
    openWatchdog_->stop();
    if (watcher_) {
        // Deferred: this may run inside the watcher's own delivery.
        watcher_->Stop();
        watcher_.release()->deleteLater();
    }
    // Stopped on the reaper's thread: stopping waits on the streaming threads, and a
    // damaged file can keep one of them busy for ever.
    PipelineReaper::Shared().Retire(std::move(pipeline_));
    // Whatever it was to play on into goes with it.
    handedOn_ = movedOn_ = movedOnAlone_ = false;
}

double PlayerEngine::PipelineRate() const
{
    KINO_ASSERT_GUI_THREAD();
    return pipeline_ ? pipeline_->PlayingRate() : 0.0;
}

std::string PlayerEngine::UriFor(const std::string& source)
{
    return kino::UriFor(source);
}

void PlayerEngine::SetState(State next)
{
    if (next == state_)
        return;
    state_ = next;
    RedrawIfStale();
    emit stateChanged(next);
}

void PlayerEngine::RedrawIfStale()
{
    // Frames already scaled and queued when the size changed still come at the old
    // size; the still the pause ends on may be one of them. It is made again, a few
    // times at most for one size, so a size the pipeline cannot give is not chased.
    if ((state_ != State::Paused && state_ != State::Stopped) || !frameSize_.isValid() || frame_.IsNull() ||
        frame_.Size() == frameSize_ || staleRedraws_ >= 3)
        return;
    ++staleRedraws_;
    stillRedrawTimer_->start();
}

void PlayerEngine::Fail(ErrorCode code, const QString& text)
{
    RetirePipeline();
    wantPlaying_ = false;
    stopWhenOpened_ = false;
    errorCode_ = code;
    errorText_ = text;
    frame_ = VideoFrame();
    frameStreamNs_ = -1;
    facts_ = MediaFacts{};
    // A new failure is announced even when the previous source failed too.
    state_ = State::Closed;
    SetState(State::Failed);
    emit factsChanged();
    // Nothing of the previous source stays on screen.
    emit frameReady(frame_);
}

PlayerEngine::ErrorCode PlayerEngine::JudgeError(const GError* err, bool fromSource) const
{
    ErrorCode code = ErrorCodeFor(err);
    // For a network location, the source's own failure, or any failure before data
    // arrived, is the connection's; what arrived but cannot be used is judged as a
    // local file's would be.
    if (!local_ && (fromSource || !Slot().dataArrived || code == NotFound || code == OtherError))
        code = NetworkError;
    // The source gives up on a server that stays silent after the same wait (see
    // PlayerPipeline::SetNetworkWaitMs): that is no answer, not a refusal.
    if (code == NetworkError && !Slot().dataArrived && sinceOpen_.isValid() &&
        sinceOpen_.elapsed() >= networkTimeoutMs_)
        code = NoAnswer;
    return code;
}

void PlayerEngine::FailFromMessage(GstMessage* msg)
{
    // The source's "internal data stream error" may only say that what came after it
    // gave up; then the element that gave up tells why.
    gsth::Message better;
    if (PostedBySource(msg) && Slot().dataArrived)
        better = gsth::Message::Adopt(gst_bus_pop_filtered(pipeline_->Bus(), GST_MESSAGE_ERROR));
    if (better && !PostedBySource(better.get()))
        msg = better.get();
    const gsth::Error err = ParseProblem(msg);
    if (lcPlayer().isDebugEnabled()) {
        const std::string graph = DumpPipelineGraph(Playbin(), "error");
        qCDebug(lcPlayer) << "the pipeline as it was at the error:"
                          << (graph.empty() ? "(not written)" : graph.c_str());
    }
    Fail(JudgeError(err.get(), PostedBySource(msg)), err ? QString::fromUtf8(err->message) : QString());
}

bool PlayerEngine::RefuseLocalFile(const std::string& path)
{
    switch (CheckLocalFile(path)) {
    case LocalVerdict::Missing:
        Fail(NotFound, QStringLiteral("no such file"));
        return true;
    case LocalVerdict::NotRegular:
        Fail(Unsupported, QStringLiteral("not a regular file"));
        return true;
    case LocalVerdict::DamagedMidi:
        Fail(Broken, QStringLiteral("the MIDI file's structure is damaged"));
        return true;
    case LocalVerdict::Midi:
        sourceIsMidi_ = true;
        return false;
    case LocalVerdict::Playable:
        return false;
    }
    return false;
}

void PlayerEngine::Open(const std::string& source)
{
    KINO_ASSERT_GUI_THREAD();
    // Closing what is already closed is no news; a new generation here would only
    // make the news of the close that just happened look stale.
    if (source.empty() && state_ == State::Closed && source_.empty())
        return;
    // The pipeline that played on into this source goes on playing it.
    const bool playingOn = movedOn_ && !source.empty() && source == followingSource_;
    ResetFor(source, playingOn);
    if (source != followingSource_)
        OpenFollowing(std::string());
    sinceOpen_.start();
    if (source.empty()) {
        SetState(State::Closed);
        emit factsChanged();
        emit frameReady(frame_);
        return;
    }
    const LocalName name = LocalNameOf(source);
    if (name.kind == LocalName::Invalid) {
        Fail(NotFound, QStringLiteral("a file: location that names no local file"));
        return;
    }
    local_ = name.kind == LocalName::Local;
    if (local_ && RefuseLocalFile(name.path))
        return;
    // GStreamer gets a local file in one spelling, however it was named.
    const std::string uri = local_ ? UriFor(name.path) : source;
    if (!AcceptLocation(uri))
        return;
    if (playingOn) {
        followingSource_.clear();
        pipeline_->ForgetNext();
        state_ = State::Closed;
        SetState(State::Opening);
        emit frameReady(frame_);
        ReadFacts();
        SetState(State::Paused);
        return;
    }

    GstStateChangeReturn result = GST_STATE_CHANGE_FAILURE;
    std::unique_ptr<PlayerPipeline> ahead = TakeFollowing(uri, &result);
    if (ahead && result != GST_STATE_CHANGE_FAILURE)
        result = ahead->RestartSoundOutput(kLocalOpenWait);
    if (!ahead)
        ahead = OpenedAhead::Shared().Take(uri, &result);
    const bool openedAhead = bool(ahead);
    AttachPipeline(std::move(ahead));
    // Not again for a pipeline opened ahead: a running playbin takes a new URI as the
    // next one to play after this, and would start it over at its end.
    if (!openedAhead)
        g_object_set(Playbin(), "uri", uri.c_str(), nullptr);
    g_object_set(Playbin(), "volume", volume_, "mute", muted_, nullptr);
    // Opening counts as a new state even when the previous source was opening too.
    state_ = State::Closed;
    SetState(State::Opening);
    // A pipeline opened ahead may hold its first frame already, with nobody woken: it
    // takes the place of the last source's frame with nothing shown between them.
    if (openedAhead)
        TakeFrame();
    if (frame_.IsNull())
        emit frameReady(frame_);

    // A network source is not waited for at all: its facts come with a later
    // notification, and the window goes on meanwhile.
    if (!openedAhead)
        result = pipeline_->Preroll(local_ ? kLocalOpenWait : 0);
    if (result == GST_STATE_CHANGE_FAILURE) {
        FailRefusedChange(local_ ? Unsupported : NetworkError, QStringLiteral("the source could not be opened"));
        return;
    }
    if (result == GST_STATE_CHANGE_ASYNC) {
        // Still waiting for the source: the facts come with ASYNC_DONE on the bus. A
        // MIDI file is sound, whatever keeps its synthesizer loading its sound font.
        openWatchdog_->start(!local_ ? networkTimeoutMs_ : sourceIsMidi_ ? kMidiLateMs : kLocalLateMs);
        if (local_ && sourceIsMidi_) {
            facts_.hasAudio = true;
            emit factsChanged();
        }
        return;
    }
    facts_.live = (result == GST_STATE_CHANGE_NO_PREROLL);
    ReadFacts();
    SetState(State::Paused);
}

void PlayerEngine::ResetFor(const std::string& source, bool keepPipeline)
{
    if (!keepPipeline)
        RetirePipeline();
    else
        handedOn_ = movedOn_ = movedOnAlone_ = false; // it plays on as the current one
    notPlayedOnInto_.clear();
    ++generation_;
    source_ = source;
    facts_ = MediaFacts{};
    errorCode_ = NoError;
    errorText_.clear();
    frame_ = VideoFrame();
    frameStreamNs_ = -1;
    wantPlaying_ = false;
    stopWhenOpened_ = false;
    endBeforePause_ = false;
    buffering_ = false;
    appliedRate_ = 1.0;
    lastPositionMs_ = 0;
    sourceIsMidi_ = false;
    local_ = false;
}

bool PlayerEngine::AcceptLocation(const std::string& uri)
{
    if (uri.empty()) {
        Fail(NotFound, QStringLiteral("not a valid location"));
        return false;
    }
    if (!gst_uri_is_valid(uri.c_str())) {
        Fail(Unsupported, QStringLiteral("not a valid URI"));
        return false;
    }
    gsth::Text protocol(gst_uri_get_protocol(uri.c_str()));
    if (!protocol || !gst_uri_protocol_is_supported(GST_URI_SRC, protocol.get())) {
        Fail(Unsupported, QStringLiteral("no source for this kind of location"));
        return false;
    }
    return true;
}

bool PlayerEngine::ChangeState(GstState target)
{
    if (gst_element_set_state(Playbin(), target) != GST_STATE_CHANGE_FAILURE)
        return true;
    qCDebug(lcPlayer) << "the pipeline refused to go to" << gst_element_state_get_name(target);
    FailRefusedChange(
        OtherError,
        QStringLiteral("the pipeline refused to go to %1").arg(QLatin1String(gst_element_state_get_name(target))));
    return false;
}

void PlayerEngine::FailRefusedChange(ErrorCode fallback, const QString& text)
{
    // An element that refuses usually says why on the bus, sometimes a moment after
    // the refusal itself; without a word from it the refusal is the reason. The word is
    // waited for only briefly, unless an error is known to be on its way.
    const bool posted = Slot().errorPosted || Slot().sourceFailed;
    gsth::Message err = gsth::Message::Adopt(
        gst_bus_timed_pop_filtered(pipeline_->Bus(), (posted ? 500 : 50) * GST_MSECOND, GST_MESSAGE_ERROR));
    if (err) {
        FailFromMessage(err.get());
        return;
    }
    qCDebug(lcPlayer) << "failed without an error message:" << text;
    Fail(fallback, text);
}

void PlayerEngine::Close()
{
    KINO_ASSERT_GUI_THREAD();
    Open(std::string());
}

void PlayerEngine::ReadFacts()
{
    gint videoStreams = 0, audioStreams = 0;
    g_object_get(Playbin(), "n-video", &videoStreams, "n-audio", &audioStreams, nullptr);
    facts_.hasVideo = videoStreams > 0;
    facts_.hasAudio = audioStreams > 0;
    facts_.isAvi = Slot().isAvi.load();
    facts_.live = facts_.live || Slot().pictureStream;
    // A stream shown as it comes has nothing to buffer ahead: what the queue said of its
    // filling before the stream was known for one holds nothing back.
    if (facts_.live)
        buffering_ = false;
    facts_.width = facts_.height = 0;
    facts_.pixelAspect = 1.0;
    if (facts_.hasVideo)
        PictureSizeFromPipeline();
    facts_.durationMs = QueryDurationMs();
    facts_.known = true;
    openWatchdog_->stop();
    emit factsChanged();
}

qint64 PlayerEngine::QueryDurationMs() const
{
    gint64 durationNs = -1;
    if (Playbin() && gst_element_query_duration(Playbin(), GST_FORMAT_TIME, &durationNs) && durationNs >= 0)
        return durationNs / GST_MSECOND;
    return -1;
}

gint64 PlayerEngine::QueryPositionNs() const
{
    gint64 positionNs = -1;
    if (Playbin() && gst_element_query_position(Playbin(), GST_FORMAT_TIME, &positionNs) && positionNs >= 0)
        return positionNs;
    return -1;
}

void PlayerEngine::PictureSizeFromPipeline()
{
    // The picture as decoded, before the video path scales it.
    gsth::Caps caps = gsth::Caps::Adopt(gst_pad_get_current_caps(pipeline_->PictureInput()));
    GstVideoInfo info;
    if (caps && gst_video_info_from_caps(&info, caps.get())) {
        facts_.width = GST_VIDEO_INFO_WIDTH(&info);
        facts_.height = GST_VIDEO_INFO_HEIGHT(&info);
        const int n = GST_VIDEO_INFO_PAR_N(&info), d = GST_VIDEO_INFO_PAR_D(&info);
        facts_.pixelAspect = (n > 0 && d > 0) ? double(n) / d : 1.0;
    }
    // Our JPEG decoder may decode smaller than the picture is: the picture's own size is
    // what it read from the picture, never the size it decoded at.
    gsth::Element decoder;
    {
        std::lock_guard<std::mutex> lock(Slot().mutex);
        decoder = Slot().jpegDecoder;
    }
    gint width = 0, height = 0;
    if (decoder)
        g_object_get(decoder.get(), "picture-width", &width, "picture-height", &height, nullptr);
    if (width > 0 && height > 0) {
        facts_.width = width;
        facts_.height = height;
    }
}

bool PlayerEngine::SeekToNs(double rate, qint64 positionNs)
{
    // Whatever end of stream is already on its way belongs to the position left here.
    ++Slot().seekSerial;
    // What the pipeline would play on into is asked for again: after a seek it may have
    // taken it before the current source is read again.
    if (handedOn_) {
        pipeline_->WithdrawNext();
        handedOn_ = false;
        followingSource_.clear();
    }
    endBeforePause_ = false;
    const bool done =
        gst_element_seek(Playbin(), rate, GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                         GST_SEEK_TYPE_SET, positionNs, GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
    if (done)
        appliedRate_ = rate;
    else
        qCDebug(lcPlayer) << "seek to" << positionNs / GST_MSECOND << "ms at rate" << rate << "refused";
    return done;
}

void PlayerEngine::ApplyRate()
{
    if (appliedRate_ == rate_ || facts_.live)
        return;
    // A refused rate change leaves the medium playing at the rate it had.
    SeekToNs(rate_, std::max<gint64>(0, QueryPositionNs()));
}

bool PlayerEngine::StartPlaying()
{
    wantPlaying_ = true;
    if (!buffering_ && !ChangeState(GST_STATE_PLAYING))
        return false;
    SetState(State::Playing);
    return true;
}

bool PlayerEngine::Play()
{
    KINO_ASSERT_GUI_THREAD();
    ReopenIfMovedOnAlone();
    switch (state_) {
    case State::Closed:
    case State::Failed:
        return false;
    case State::Opening:
        // Remembered: the source starts once it has opened (see ASYNC_DONE).
        wantPlaying_ = true;
        stopWhenOpened_ = false;
        return true;
    case State::Ended:
        // Playing again after the end starts from the beginning.
        if (!SeekToNs(rate_, 0))
            return false;
        break;
    default:
        if (endBeforePause_) {
            // The medium had already ended when the user paused it.
            endBeforePause_ = false;
            ReachEnd();
            return true;
        }
        ApplyRate();
        break;
    }
    return StartPlaying();
}

bool PlayerEngine::Pause()
{
    KINO_ASSERT_GUI_THREAD();
    if (state_ == State::Closed || state_ == State::Failed)
        return false;
    wantPlaying_ = false;
    if (state_ == State::Opening)
        return true; // remembered: the source stays paused once it has opened
    // An end already on its way was reached before this pause: it waits for the next Play.
    ++Slot().pauseSerial;
    lastPositionMs_ = PositionMs();
    if (!ChangeState(GST_STATE_PAUSED))
        return false;
    if (state_ != State::Stopped && state_ != State::Ended)
        SetState(State::Paused);
    return true;
}

bool PlayerEngine::Stop()
{
    KINO_ASSERT_GUI_THREAD();
    ReopenIfMovedOnAlone();
    if (state_ == State::Closed || state_ == State::Failed)
        return false;
    wantPlaying_ = false;
    if (state_ == State::Opening) {
        stopWhenOpened_ = true; // remembered: the source stays at its start once opened
        return true;
    }
    if (!ChangeState(GST_STATE_PAUSED))
        return false;
    if (!facts_.live && !SeekToNs(appliedRate_, 0))
        return false;
    lastPositionMs_ = 0;
    SetState(State::Stopped);
    emit positionChanged();
    return true;
}

bool PlayerEngine::SeekMs(qint64 ms)
{
    KINO_ASSERT_GUI_THREAD();
    ReopenIfMovedOnAlone();
    if (!facts_.known || facts_.live)
        return false;
    const qint64 dur = DurationMs();
    ms = std::max<qint64>(0, ms);
    if (dur >= 0)
        ms = std::min(ms, dur);
    // A jump away from the end or the stopped start leaves the medium paused there. At
    // the end the pipeline is still playing: it is paused first, or it would play on
    // from there while the state says paused (what the state then read depended on how
    // far the seek's flush had got).
    const bool leavesRest = state_ == State::Ended || state_ == State::Stopped;
    if (state_ == State::Ended && !ChangeState(GST_STATE_PAUSED))
        return false;
    if (!SeekToNs(appliedRate_, ms * GST_MSECOND))
        return false;
    lastPositionMs_ = ms;
    if (leavesRest)
        SetState(State::Paused);
    emit positionChanged();
    return true;
}

void PlayerEngine::ReachEnd()
{
    wantPlaying_ = false;
    lastPositionMs_ = DurationMs();
    SetState(State::Ended);
}

qint64 PlayerEngine::PositionMs() const
{
    if (state_ == State::Closed || state_ == State::Failed || state_ == State::Opening || !Playbin())
        return 0;
    if (state_ == State::Ended) {
        const qint64 dur = DurationMs();
        if (dur >= 0)
            return dur;
    }
    const gint64 positionNs = QueryPositionNs();
    return positionNs >= 0 ? positionNs / GST_MSECOND : lastPositionMs_;
}

qint64 PlayerEngine::DurationMs() const
{
    if (facts_.durationMs >= 0)
        return facts_.durationMs;
    if (state_ == State::Closed || state_ == State::Failed || state_ == State::Opening)
        return -1;
    return QueryDurationMs();
}

void PlayerEngine::SetRate(double rate)
{
    KINO_ASSERT_GUI_THREAD();
    if (!(rate > 0.0) || rate > 8.0)
        return;
    rate_ = rate;
}

void PlayerEngine::SetVolume(double volume)
{
    KINO_ASSERT_GUI_THREAD();
    const double before = volume_;
    volume_ = std::clamp(volume, 0.0, 1.0);
    if (Playbin())
        g_object_set(Playbin(), "volume", volume_, nullptr);
    if (volume_ != before)
        emit volumeChanged(volume_);
}

void PlayerEngine::SetMuted(bool muted)
{
    KINO_ASSERT_GUI_THREAD();
    const bool before = muted_;
    muted_ = muted;
    if (Playbin())
        g_object_set(Playbin(), "mute", muted_ ? TRUE : FALSE, nullptr);
    if (muted_ != before)
        emit mutedChanged(muted_);
}

void PlayerEngine::SetFrameSize(const QSize& size)
{
    KINO_ASSERT_GUI_THREAD();
    const QSize wanted = size.isValid() && !size.isEmpty() ? size : QSize();
    if (wanted == frameSize_)
        return;
    frameSize_ = wanted;
    staleRedraws_ = 0;
    if (!pipeline_)
        return;
    pipeline_->SetFrameSize(frameSize_.width(), frameSize_.height());
    // A still picture is made again at the new size, once the resizing has settled.
    if (state_ == State::Paused || state_ == State::Stopped)
        stillRedrawTimer_->start();
}

void PlayerEngine::RedrawStill()
{
    if ((state_ != State::Paused && state_ != State::Stopped) || !facts_.known || facts_.live || endBeforePause_)
        return;
    // A pause still under way has no settled position, and its preroll may be made at
    // the old size: come back once it has settled.
    GstState current = GST_STATE_VOID_PENDING, pending = GST_STATE_VOID_PENDING;
    const GstStateChangeReturn settling = gst_element_get_state(Playbin(), &current, &pending, 0);
    if (settling == GST_STATE_CHANGE_ASYNC || pending != GST_STATE_VOID_PENDING) {
        stillRedrawTimer_->start();
        return;
    }
    const gint64 positionNs = QueryPositionNs();
    if (positionNs >= 0)
        SeekToNs(appliedRate_, positionNs);
}

VideoFrame PlayerEngine::FullFrame() const
{
    KINO_ASSERT_GUI_THREAD();
    if (!pipeline_)
        return {};
    gsth::Sample full = FullJpegPictureOf(frame_.Buffer());
    // The picture is in a buffer of its own: it outlives the pipeline.
    return full ? FrameFromSample(full.get(), nullptr) : VideoFrame();
}

std::shared_future<WholePicture> PlayerEngine::FetchFullFrame() const
{
    KINO_ASSERT_GUI_THREAD();
    // A local file only: a network source read again could keep the copy waiting long.
    if (!pipeline_ || frame_.IsNull() || frameStreamNs_ < 0 || facts_.live ||
        LocalNameOf(source_).kind != LocalName::Local)
        return {};
    // The frame as shown goes along, to tell it from its neighbours.
    return FetchPictureAt(UriFor(source_), frameStreamNs_,
                          WholePicture::Copied(frame_.Bits(), std::size_t(frame_.Stride()), frame_.Size().width(),
                                               frame_.Size().height()));
}

PlayerEngine::CompressedPicture PlayerEngine::CurrentJpeg() const
{
    KINO_ASSERT_GUI_THREAD();
    CompressedPicture picture;
    GstBuffer* shown = frame_.Buffer();
    gsth::Buffer jpeg = JpegSourceOf(shown, &picture.capsWidth, &picture.capsHeight);
    GstMapInfo map;
    if (jpeg && gst_buffer_map(jpeg.get(), &map, GST_MAP_READ)) {
        picture.jpeg.assign(map.data, map.data + map.size);
        gst_buffer_unmap(jpeg.get(), &map);
    }
    return picture;
}

bool PlayerEngine::EndPosted() const
{
    return pipeline_ && Slot().endPosted;
}

void PlayerEngine::OnEndOfStream(GstMessage* msg)
{
    Slot().endPosted = false;
    if (state_ != State::Playing && state_ != State::Paused)
        return;
    // An end posted before the user's last seek belongs to a position that was left.
    if (EndSeekSerial(msg) != Slot().seekSerial)
        return;
    if (EndPauseSerial(msg) != Slot().pauseSerial && state_ == State::Paused) {
        // Reached just before the user paused: the pause holds, the next Play ends.
        endBeforePause_ = true;
        return;
    }
    ReachEnd();
}

void PlayerEngine::OnPrerolled()
{
    if (state_ != State::Opening)
        return;
    ReadFacts();
    // Carry out what was asked while the source was opening.
    if (stopWhenOpened_) {
        stopWhenOpened_ = false;
        SetState(State::Stopped);
    } else if (wantPlaying_) {
        ApplyRate();
        StartPlaying();
    } else {
        SetState(State::Paused);
    }
}

void PlayerEngine::RefreshDuration(GstMessage* msg)
{
    // A duration that was unknown at opening (a stream) may become known later; once the
    // pipeline has moved on into the following source, it would be that one's.
    if (facts_.known && !movedOn_ && !movedOnAlone_ &&
        (facts_.durationMs < 0 || GST_MESSAGE_TYPE(msg) == GST_MESSAGE_DURATION_CHANGED) &&
        GST_MESSAGE_SRC(msg) == GST_OBJECT(Playbin())) {
        const qint64 durationMs = QueryDurationMs();
        if (durationMs >= 0 && durationMs != facts_.durationMs) {
            facts_.durationMs = durationMs;
            emit factsChanged();
        }
    }
}

void PlayerEngine::OnBuffering(GstMessage* msg)
{
    if (facts_.live || Slot().pictureStream)
        return;
    gint percent = 100;
    gst_message_parse_buffering(msg, &percent);
    if (percent < 100 && !buffering_) {
        buffering_ = true;
        if (wantPlaying_ && state_ != State::Opening)
            ChangeState(GST_STATE_PAUSED);
    } else if (percent >= 100 && buffering_) {
        buffering_ = false;
        if (wantPlaying_)
            ChangeState(GST_STATE_PLAYING);
    }
}

void PlayerEngine::OnClockLost()
{
    // Pausing and playing again makes the pipeline choose a new clock.
    if (wantPlaying_ && ChangeState(GST_STATE_PAUSED))
        ChangeState(GST_STATE_PLAYING);
}

void PlayerEngine::OnLatency()
{
    if (!gst_bin_recalculate_latency(GST_BIN(Playbin())))
        qCDebug(lcPlayer) << "the latency could not be recalculated";
}

void PlayerEngine::OnElementMessage(GstMessage* msg)
{
    // A stream for which no decoder is installed: the rest of the source plays, and the
    // user is told which part is missing rather than left with a silent picture.
    const GstStructure* s = gst_message_get_structure(msg);
    const GValue* detail =
        s && gst_structure_has_name(s, "missing-plugin") ? gst_structure_get_value(s, "detail") : nullptr;
    if (!detail || !GST_VALUE_HOLDS_CAPS(detail) || g_strcmp0(gst_structure_get_string(s, "type"), "decoder") != 0)
        return;
    const GstCaps* caps = gst_value_get_caps(detail);
    const GstStructure* kind = caps && !gst_caps_is_empty(caps) ? gst_caps_get_structure(caps, 0) : nullptr;
    const gchar* name = kind ? gst_structure_get_name(kind) : "";
    const int stream = g_str_has_prefix(name, "audio/")   ? UndecodedSound
                       : g_str_has_prefix(name, "video/") ? UndecodedPicture
                                                          : 0;
    if (stream == 0 || (facts_.undecoded & stream))
        return;
    facts_.undecoded |= stream;
    emit factsChanged();
}

void PlayerEngine::TakeFrame()
{
    KINO_ASSERT_GUI_THREAD();
    if (!pipeline_ || state_ == State::Failed || state_ == State::Closed)
        return;
    gsth::Sample sample;
    {
        std::lock_guard<std::mutex> lock(Slot().mutex);
        sample = std::move(Slot().sample);
    }
    if (!sample)
        return;
    // Set playing, the sink hands over the frame it paused on once more; while it is
    // held here its buffer cannot carry another picture, so it is the one on the screen.
    if (!frame_.IsNull() && gst_sample_get_buffer(sample.get()) == frame_.Buffer())
        return;
    VideoFrame frame = FrameFromSample(sample.get(), &frameLayout_);
    if (frame.IsNull())
        return;
    if (facts_.width == 0 && facts_.height == 0) {
        // A picture whose size arrived after opening (a slow network source).
        PictureSizeFromPipeline();
        if (facts_.width > 0) {
            facts_.hasVideo = true;
            if (facts_.known)
                emit factsChanged();
        }
    }
    frame_ = std::move(frame);
    frameStreamNs_ = StreamTimeOf(sample.get());
    MarkStartup("first frame");
    RedrawIfStale();
    emit frameReady(frame_);
}

} // namespace kino
