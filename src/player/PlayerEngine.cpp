#include "player/PlayerEngine.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <QSocketNotifier>
#include <QTimer>

#include <malloc.h>

#include <algorithm>
#include <mutex>

#include "platform/PathRules.h"

namespace kino {

namespace {

// How long opening may hold the window: a local file prerolls in well under this;
// a network source that has not answered by then goes on in the background.
constexpr GstClockTime kLocalOpenWait = 3 * GST_SECOND;
constexpr GstClockTime kNetworkOpenWait = 2 * GST_SECOND;
// A local file still not ready this long after that wait will not become ready.
constexpr int kLocalLateMs = 5000;

bool IsLocalUri(const std::string& uri)
{
    return uri.rfind("file:", 0) == 0;
}

// The picture held while it is shown: the buffer stays mapped until the last QImage
// sharing it is gone, so a frame reaches the screen without a copy. Only the buffer is
// kept, not the sample: the video sink reuses its sample object for the next frame.
struct MappedFrame {
    GstBuffer* buffer = nullptr;
    GstVideoFrame frame{};
};

void ReleaseMappedFrame(void* info)
{
    auto* mf = static_cast<MappedFrame*>(info);
    gst_video_frame_unmap(&mf->frame);
    gst_buffer_unref(mf->buffer);
    delete mf;
}

QImage ImageFromSample(GstSample* sample)
{
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstVideoInfo info;
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps))
        return {};
    if (GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_BGRx)
        return {};
    auto* mf = new MappedFrame;
    mf->buffer = gst_buffer_ref(buffer);
    if (!gst_video_frame_map(&mf->frame, &info, mf->buffer, GST_MAP_READ)) {
        gst_buffer_unref(mf->buffer);
        delete mf;
        return {};
    }
    // BGRx in memory is what QImage::Format_RGB32 holds on a little-endian machine;
    // the stride comes from the frame, never width * 4.
    const auto* data = static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&mf->frame, 0));
    return QImage(data, GST_VIDEO_FRAME_WIDTH(&mf->frame), GST_VIDEO_FRAME_HEIGHT(&mf->frame),
                  GST_VIDEO_FRAME_PLANE_STRIDE(&mf->frame, 0), QImage::Format_RGB32,
                  ReleaseMappedFrame, mf);
}

PlayerEngine::ErrorCode CodeFor(const GError* err)
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

enum class SerialKind { Seek, Pause };

GQuark SerialQuark(SerialKind kind)
{
    static const GQuark seek = g_quark_from_static_string("kinolite-seek-serial");
    static const GQuark pause = g_quark_from_static_string("kinolite-pause-serial");
    return kind == SerialKind::Seek ? seek : pause;
}

unsigned EndSerial(GstMessage* msg, SerialKind kind)
{
    return GPOINTER_TO_UINT(gst_mini_object_get_qdata(GST_MINI_OBJECT_CAST(msg), SerialQuark(kind)));
}

} // namespace

// Shared between the GUI thread and the streaming threads: the newest sample, the
// generation it belongs to, and whether the GUI thread was already woken for it.
struct PlayerEngine::FrameSlot {
    std::mutex mutex;
    // Counted up by every seek and every pause; an end of stream carries the values it
    // was posted under.
    std::atomic<unsigned> seekSerial{0};
    std::atomic<unsigned> pauseSerial{0};
    std::atomic<bool> endPosted{false};   // an end of stream waits on the bus
    gsth::Sample sample;
    std::atomic<quint64> generation{0};
    std::atomic<bool> isAvi{false};
    std::atomic<bool> errorPosted{false};
    std::atomic<bool> sourceFailed{false};   // an error came from the source element
    PlayerEngine* owner = nullptr;

    void Store(GstSample* s)
    {
        gsth::Sample taken = gsth::Sample::Adopt(s);
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            wake = !sample;
            sample = std::move(taken);
        }
        if (wake) {
            PlayerEngine* o = owner;
            QMetaObject::invokeMethod(o, [o] { o->TakeFrame(); }, Qt::QueuedConnection);
        }
    }
};

namespace {

GstFlowReturn OnNewSample(GstAppSink* sink, gpointer user)
{
    static_cast<PlayerEngine::FrameSlot*>(user)->Store(gst_app_sink_pull_sample(sink));
    return GST_FLOW_OK;
}

GstFlowReturn OnNewPreroll(GstAppSink* sink, gpointer user)
{
    static_cast<PlayerEngine::FrameSlot*>(user)->Store(gst_app_sink_pull_preroll(sink));
    return GST_FLOW_OK;
}

// The sound output, chosen once for the process: the first device sink that opens,
// else a silent sink that still keeps time. Choosing it anew at every source costs a
// failed probe of every missing device each time.
GstElement* MakeAudioSink()
{
    static const std::string chosen = [] {
        for (const char* name : {"pulsesink", "pipewiresink", "alsasink"}) {
            GstElement* e = gst_element_factory_make(name, nullptr);
            if (!e)
                continue;
            gst_object_ref_sink(e);
            const bool works = gst_element_set_state(e, GST_STATE_READY) == GST_STATE_CHANGE_SUCCESS;
            gst_element_set_state(e, GST_STATE_NULL);
            gst_object_unref(e);
            if (works)
                return std::string(name);
        }
        return std::string("fakesink");
    }();
    GstElement* sink = gst_element_factory_make(chosen.c_str(), nullptr);
    if (sink && chosen == "fakesink")
        g_object_set(sink, "sync", TRUE, nullptr);
    return sink;
}

// Runs on the thread that posts; it only notes that an error is waiting on the bus.
GstBusSyncReply OnBusSync(GstBus*, GstMessage* msg, gpointer user)
{
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS) {
        // Stamped when posted, so the GUI thread can tell an end that was already on its
        // way when the user sought or paused.
        auto* slot = static_cast<PlayerEngine::FrameSlot*>(user);
        gst_mini_object_set_qdata(GST_MINI_OBJECT_CAST(msg), SerialQuark(SerialKind::Seek),
                                  GUINT_TO_POINTER(slot->seekSerial.load()), nullptr);
        gst_mini_object_set_qdata(GST_MINI_OBJECT_CAST(msg), SerialQuark(SerialKind::Pause),
                                  GUINT_TO_POINTER(slot->pauseSerial.load()), nullptr);
        slot->endPosted = true;
    }
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
        auto* slot = static_cast<PlayerEngine::FrameSlot*>(user);
        GstObject* from = GST_MESSAGE_SRC(msg);
        if (from && GST_IS_ELEMENT(from) && GST_OBJECT_FLAG_IS_SET(from, GST_ELEMENT_FLAG_SOURCE))
            slot->sourceFailed = true;
        slot->errorPosted = true;
    }
    return GST_BUS_PASS;
}

void OnElementSetup(GstElement*, GstElement* element, gpointer user)
{
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory)
        return;
    const gchar* name = gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory));
    if (name && g_str_equal(name, "avidemux"))
        static_cast<PlayerEngine::FrameSlot*>(user)->isAvi = true;
}

} // namespace

PlayerEngine::PlayerEngine(QObject* parent)
    : QObject(parent), slot_(std::make_shared<FrameSlot>())
{
    slot_->owner = this;
    openWatchdog_ = new QTimer(this);
    openWatchdog_->setSingleShot(true);
    connect(openWatchdog_, &QTimer::timeout, this, [this] {
        // A local file that never describes itself is damaged; a network source that
        // never answers is unreachable.
        if (state_ == State::Opening)
            Fail(IsLocalUri(UriFor(source_)) ? Broken : NoAnswer, QStringLiteral("the source did not answer"));
    });
    BuildPipeline();
}

PlayerEngine::~PlayerEngine()
{
    if (playbin_)
        gst_element_set_state(playbin_.element(), GST_STATE_NULL);
    if (bus_)
        gst_bus_set_sync_handler(bus_.get(), nullptr, nullptr, nullptr);
    elementSetup_.disconnect();
    delete busNotifier_;
    busNotifier_ = nullptr;
    if (bus_)
        gst_bus_set_flushing(bus_.get(), TRUE);
    frame_ = QImage();
}

void PlayerEngine::BuildPipeline()
{
    playbin_ = gsth::Element::Adopt(gst_element_factory_make("playbin", "kinolite-player"));
    if (!playbin_)
        throw std::runtime_error("GStreamer's playbin is not installed");

    // The video path is ours: decoded frames -> BGRx -> appsink. Playbin then adds no
    // converters of its own in front of it, which makes the first frame come sooner.
    appSink_ = gsth::Element::Ref(gst_element_factory_make("appsink", "kinolite-video"));
    GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
    if (!appSink_ || !convert)
        throw std::runtime_error("GStreamer's appsink or videoconvert is not installed");
    gsth::Caps caps = gsth::Caps::Adopt(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr));
    g_object_set(appSink_.get(), "caps", caps.get(), "max-buffers", 1u, "drop", TRUE, "sync", TRUE, "qos", TRUE,
                 "enable-last-sample", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = OnNewSample;
    callbacks.new_preroll = OnNewPreroll;
    gst_app_sink_set_callbacks(GST_APP_SINK(appSink_.get()), &callbacks, slot_.get(), nullptr);
    videoSink_ = gsth::Element::Ref(gst_bin_new("kinolite-video-bin"));
    gst_bin_add_many(GST_BIN(videoSink_.get()), convert, appSink_.get(), nullptr);
    if (!gst_element_link(convert, appSink_.get()))
        throw std::runtime_error("the video path could not be linked");
    gsth::Pad convertIn = gsth::Pad::Adopt(gst_element_get_static_pad(convert, "sink"));
    gst_element_add_pad(videoSink_.element(), gst_ghost_pad_new("sink", convertIn.get()));
    g_object_set(playbin_.get(), "video-sink", videoSink_.get(), nullptr);
    if (GstElement* audio = MakeAudioSink())
        g_object_set(playbin_.get(), "audio-sink", audio, nullptr);

    // Subtitles and visualisations are not part of this player.
    gint flags = 0;
    g_object_get(playbin_.get(), "flags", &flags, nullptr);
    flags &= ~((1 << 2) | (1 << 3));   // GST_PLAY_FLAG_TEXT, GST_PLAY_FLAG_VIS
    flags |= (1 << 6);                 // GST_PLAY_FLAG_NATIVE_VIDEO: the video bin converts
    g_object_set(playbin_.get(), "flags", flags, nullptr);

    elementSetup_ = gsth::SignalConnection(
        playbin_.get(), g_signal_connect(playbin_.get(), "element-setup", G_CALLBACK(OnElementSetup), slot_.get()));

    bus_ = gsth::Bus::Adopt(gst_element_get_bus(playbin_.element()));
    gst_bus_set_sync_handler(bus_.get(), OnBusSync, slot_.get(), nullptr);
    GPollFD pollFd{};
    gst_bus_get_pollfd(bus_.get(), &pollFd);
    busNotifier_ = new QSocketNotifier(pollFd.fd, QSocketNotifier::Read, this);
    connect(busNotifier_, &QSocketNotifier::activated, this, [this] { DrainBus(); });
}

std::string PlayerEngine::UriFor(const std::string& source)
{
    if (HasUriScheme(source))
        return source;
    GError* raw = nullptr;
    std::unique_ptr<gchar, gsth::GFreeDeleter> uri(gst_filename_to_uri(source.c_str(), &raw));
    std::unique_ptr<GError, gsth::GErrorDeleter> err(raw);
    return uri ? std::string(uri.get()) : std::string();
}

void PlayerEngine::SetState(State s)
{
    if (s == state_)
        return;
    state_ = s;
    emit stateChanged(s);
}

void PlayerEngine::Fail(ErrorCode code, const QString& text)
{
    openWatchdog_->stop();
    gst_element_set_state(playbin_.element(), GST_STATE_NULL);
    gst_bus_set_flushing(bus_.get(), TRUE);
    gst_bus_set_flushing(bus_.get(), FALSE);
    wantPlaying_ = false;
    errorCode_ = code;
    errorText_ = text;
    stopWhenOpened_ = false;
    frame_ = QImage();
    facts_ = Facts{};
    // A new failure is announced even when the previous source failed too.
    state_ = State::Closed;
    SetState(State::Failed);
    emit factsChanged();
    // Nothing of the previous source stays on screen.
    emit frameReady(frame_);
}

void PlayerEngine::FailFromMessage(GstMessage* msg)
{
    GError* raw = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(msg, &raw, &debug);
    std::unique_ptr<GError, gsth::GErrorDeleter> err(raw);
    std::unique_ptr<gchar, gsth::GFreeDeleter> dbg(debug);
    ErrorCode code = CodeFor(err.get());
    // Whatever the source element of a network location reports (refused, reset, cut
    // off) is a failure of the connection, not of the medium.
    // The first error popped need not be the source's own: a type finder that got no
    // data may speak first.
    if (!IsLocalUri(UriFor(source_)) && (slot_->sourceFailed || code == NotFound || code == OtherError))
        code = NetworkError;
    Fail(code, err ? QString::fromUtf8(err->message) : QString());
}

void PlayerEngine::Open(const std::string& source)
{
    // Closing what is already closed is no news; a new generation here would only
    // make the news of the close that just happened look stale.
    if (source.empty() && state_ == State::Closed && source_.empty())
        return;
    openWatchdog_->stop();
    gst_element_set_state(playbin_.element(), GST_STATE_NULL);
    // Whatever the previous source left on the bus or in the frame slot is stale now.
    gst_bus_set_flushing(bus_.get(), TRUE);
    gst_bus_set_flushing(bus_.get(), FALSE);
    ++generation_;
    {
        std::lock_guard<std::mutex> lock(slot_->mutex);
        slot_->sample.reset();
        slot_->generation = generation_;
        slot_->isAvi = false;
        slot_->errorPosted = false;
        slot_->sourceFailed = false;
        slot_->endPosted = false;
    }
    // The decoders of the previous source are gone; give their memory back.
    malloc_trim(0);
    source_ = source;
    facts_ = Facts{};
    errorCode_ = NoError;
    errorText_.clear();
    frame_ = QImage();
    wantPlaying_ = false;
    stopWhenOpened_ = false;
    endWhilePaused_ = false;
    buffering_ = false;
    appliedRate_ = 1.0;
    lastPositionMs_ = 0;

    if (source.empty()) {
        SetState(State::Closed);
        emit factsChanged();
        emit frameReady(frame_);
        return;
    }

    const std::string uri = UriFor(source);
    if (uri.empty()) {
        Fail(NotFound, QStringLiteral("not a valid location"));
        return;
    }
    if (!gst_uri_is_valid(uri.c_str())) {
        Fail(Unsupported, QStringLiteral("not a valid URI"));
        return;
    }
    {
        std::unique_ptr<gchar, gsth::GFreeDeleter> protocol(gst_uri_get_protocol(uri.c_str()));
        if (!protocol || !gst_uri_protocol_is_supported(GST_URI_SRC, protocol.get())) {
            Fail(Unsupported, QStringLiteral("no source for this kind of location"));
            return;
        }
    }
    g_object_set(playbin_.get(), "uri", uri.c_str(), "volume", volume_, "mute", muted_, nullptr);
    // Speed changes keep the pitch: scaletempo stretches the sound by the segment's rate.
    // Each source gets a tempo filter of its own, made while the pipeline is stopped: one
    // filter kept across sources was seen to crash on a rate seek right after a preroll
    // while it still held the previous source's state.
    if (GstElement* tempo = gst_element_factory_make("scaletempo", nullptr))
        g_object_set(playbin_.get(), "audio-filter", tempo, nullptr);

    // Opening counts as a new state even when the previous source was opening too.
    state_ = State::Closed;
    SetState(State::Opening);
    emit frameReady(frame_);

    GstStateChangeReturn ret = gst_element_set_state(playbin_.element(), GST_STATE_PAUSED);
    if (ret == GST_STATE_CHANGE_ASYNC) {
        // Wait in short steps: an error does not always fail the state change itself
        // (a demuxer that gives up leaves the pipeline waiting for its preroll).
        const GstClockTime wait = IsLocalUri(uri) ? kLocalOpenWait : kNetworkOpenWait;
        const gint64 deadline = g_get_monotonic_time() + gint64(wait / GST_USECOND);
        do {
            ret = gst_element_get_state(playbin_.element(), nullptr, nullptr, 20 * GST_MSECOND);
            if (slot_->errorPosted)
                ret = GST_STATE_CHANGE_FAILURE;
        } while (ret == GST_STATE_CHANGE_ASYNC && g_get_monotonic_time() < deadline);
        // A network source that failed may be beaten to the bus by the type finder it
        // starved; give its own error a moment to arrive, so the reason is the right one.
        if (ret == GST_STATE_CHANGE_FAILURE && !IsLocalUri(uri) && !slot_->sourceFailed) {
            const gint64 grace = g_get_monotonic_time() + 200 * 1000;
            while (!slot_->sourceFailed && g_get_monotonic_time() < grace)
                g_usleep(5000);
        }
    }
    if (ret == GST_STATE_CHANGE_FAILURE) {
        gsth::Message err = gsth::Message::Adopt(
            gst_bus_pop_filtered(bus_.get(), GST_MESSAGE_ERROR));
        if (err)
            FailFromMessage(err.get());
        else
            Fail(Unsupported, QStringLiteral("the source could not be opened"));
        return;
    }
    if (ret == GST_STATE_CHANGE_ASYNC) {
        // Still waiting for the source: the facts come with ASYNC_DONE on the bus.
        openWatchdog_->start(IsLocalUri(uri) ? kLocalLateMs : networkTimeoutMs_);
        return;
    }
    facts_.live = (ret == GST_STATE_CHANGE_NO_PREROLL);
    ReadFacts();
    SetState(State::Paused);
}

void PlayerEngine::Close()
{
    Open(std::string());
}

void PlayerEngine::ReadFacts()
{
    gint nVideo = 0, nAudio = 0;
    g_object_get(playbin_.get(), "n-video", &nVideo, "n-audio", &nAudio, nullptr);
    facts_.hasVideo = nVideo > 0;
    facts_.hasAudio = nAudio > 0;
    facts_.isAvi = slot_->isAvi.load();
    facts_.width = facts_.height = 0;
    facts_.pixelAspect = 1.0;
    if (facts_.hasVideo)
        PictureSizeFromPipeline();
    gint64 dur = -1;
    if (gst_element_query_duration(playbin_.element(), GST_FORMAT_TIME, &dur) && dur >= 0)
        facts_.durationMs = dur / GST_MSECOND;
    facts_.known = true;
    openWatchdog_->stop();
    emit factsChanged();
}

void PlayerEngine::PictureSizeFromPipeline()
{
    gsth::Pad pad = gsth::Pad::Adopt(gst_element_get_static_pad(appSink_.element(), "sink"));
    gsth::Caps caps = gsth::Caps::Adopt(pad ? gst_pad_get_current_caps(pad.get()) : nullptr);
    GstVideoInfo info;
    if (caps && gst_video_info_from_caps(&info, caps.get())) {
        facts_.width = GST_VIDEO_INFO_WIDTH(&info);
        facts_.height = GST_VIDEO_INFO_HEIGHT(&info);
        const int n = GST_VIDEO_INFO_PAR_N(&info), d = GST_VIDEO_INFO_PAR_D(&info);
        facts_.pixelAspect = (n > 0 && d > 0) ? double(n) / d : 1.0;
    }
}

bool PlayerEngine::SeekTo(double rate, qint64 positionNs)
{
    // Whatever end of stream is already on its way belongs to the position left here.
    ++slot_->seekSerial;
    endWhilePaused_ = false;
    const bool done = gst_element_seek(playbin_.element(), rate, GST_FORMAT_TIME,
                                       GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                       GST_SEEK_TYPE_SET, positionNs, GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
    if (done)
        appliedRate_ = rate;
    return done;
}

void PlayerEngine::ApplyRate()
{
    if (appliedRate_ == rate_ || facts_.live)
        return;
    gint64 pos = 0;
    if (!gst_element_query_position(playbin_.element(), GST_FORMAT_TIME, &pos) || pos < 0)
        pos = 0;
    SeekTo(rate_, pos);
}

void PlayerEngine::StartPlaying()
{
    wantPlaying_ = true;
    if (!buffering_)
        gst_element_set_state(playbin_.element(), GST_STATE_PLAYING);
    SetState(State::Playing);
}

bool PlayerEngine::Play()
{
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
        if (!SeekTo(rate_, 0))
            return false;
        break;
    default:
        if (endWhilePaused_) {
            // The medium had already ended when the user paused it.
            endWhilePaused_ = false;
            Finish();
            return true;
        }
        ApplyRate();
        break;
    }
    StartPlaying();
    return true;
}

bool PlayerEngine::Pause()
{
    if (state_ == State::Closed || state_ == State::Failed)
        return false;
    wantPlaying_ = false;
    if (state_ == State::Opening)
        return true;   // remembered: the source stays paused once it has opened
    // An end already on its way was reached before this pause: it waits for the next Play.
    ++slot_->pauseSerial;
    lastPositionMs_ = PositionMs();
    if (gst_element_set_state(playbin_.element(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
        return false;
    if (state_ != State::Stopped && state_ != State::Ended)
        SetState(State::Paused);
    return true;
}

bool PlayerEngine::Stop()
{
    if (state_ == State::Closed || state_ == State::Failed)
        return false;
    wantPlaying_ = false;
    if (state_ == State::Opening) {
        stopWhenOpened_ = true;   // remembered: the source stays at its start once opened
        return true;
    }
    if (gst_element_set_state(playbin_.element(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
        return false;
    if (!facts_.live && !SeekTo(appliedRate_, 0))
        return false;
    lastPositionMs_ = 0;
    SetState(State::Stopped);
    emit positionChanged();
    return true;
}

bool PlayerEngine::SeekMs(qint64 ms)
{
    if (!facts_.known || facts_.live)
        return false;
    const qint64 dur = DurationMs();
    ms = std::max<qint64>(0, ms);
    if (dur >= 0)
        ms = std::min(ms, dur);
    if (!SeekTo(appliedRate_, ms * GST_MSECOND))
        return false;
    lastPositionMs_ = ms;
    if (state_ == State::Ended || state_ == State::Stopped) {
        // A jump away from the end or the stopped start leaves the medium paused there.
        GstState cur = GST_STATE_NULL;
        gst_element_get_state(playbin_.element(), &cur, nullptr, 0);
        SetState(wantPlaying_ || cur == GST_STATE_PLAYING ? State::Playing : State::Paused);
        if (state_ == State::Playing)
            wantPlaying_ = true;
    }
    emit positionChanged();
    return true;
}

void PlayerEngine::Finish()
{
    wantPlaying_ = false;
    lastPositionMs_ = DurationMs();
    SetState(State::Ended);
}

qint64 PlayerEngine::PositionMs() const
{
    if (state_ == State::Closed || state_ == State::Failed || state_ == State::Opening)
        return 0;
    if (state_ == State::Ended) {
        const qint64 dur = DurationMs();
        if (dur >= 0)
            return dur;
    }
    gint64 pos = 0;
    if (gst_element_query_position(playbin_.element(), GST_FORMAT_TIME, &pos) && pos >= 0)
        return pos / GST_MSECOND;
    return lastPositionMs_;
}

qint64 PlayerEngine::DurationMs() const
{
    if (facts_.durationMs >= 0)
        return facts_.durationMs;
    if (state_ == State::Closed || state_ == State::Failed || state_ == State::Opening)
        return -1;
    gint64 dur = -1;
    if (gst_element_query_duration(playbin_.element(), GST_FORMAT_TIME, &dur) && dur >= 0)
        return dur / GST_MSECOND;
    return -1;
}

void PlayerEngine::SetRate(double rate)
{
    if (!(rate > 0.0) || rate > 8.0)
        return;
    rate_ = rate;
}

void PlayerEngine::SetVolume(double volume)
{
    const double before = volume_;
    volume_ = std::clamp(volume, 0.0, 1.0);
    g_object_set(playbin_.get(), "volume", volume_, nullptr);
    if (volume_ != before)
        emit volumeChanged(volume_);
}

void PlayerEngine::SetMuted(bool muted)
{
    const bool before = muted_;
    muted_ = muted;
    g_object_set(playbin_.get(), "mute", muted_ ? TRUE : FALSE, nullptr);
    if (muted_ != before)
        emit mutedChanged(muted_);
}

bool PlayerEngine::EndPosted() const
{
    return slot_->endPosted;
}

bool PlayerEngine::IsOurPipeline(GstObject* src) const
{
    return src == GST_OBJECT(playbin_.get());
}

void PlayerEngine::DrainBus()
{
    // Handling a message may open or close a source, which flushes the bus; the loop
    // then simply finds it empty.
    for (;;) {
        gsth::Message msg = gsth::Message::Adopt(gst_bus_timed_pop(bus_.get(), 0));
        if (!msg)
            break;
        HandleMessage(msg.get());
    }
}

void PlayerEngine::HandleMessage(GstMessage* msg)
{
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_ERROR:
        FailFromMessage(msg);
        break;
    case GST_MESSAGE_EOS: {
        slot_->endPosted = false;
        if (state_ != State::Playing && state_ != State::Paused)
            break;
        // An end posted before the user's last seek belongs to a position that was left.
        if (EndSerial(msg, SerialKind::Seek) != slot_->seekSerial)
            break;
        if (EndSerial(msg, SerialKind::Pause) != slot_->pauseSerial && state_ == State::Paused) {
            // Reached just before the user paused: the pause holds, the next Play ends.
            endWhilePaused_ = true;
            break;
        }
        Finish();
        break;
    }
    case GST_MESSAGE_ASYNC_DONE:
        if (state_ == State::Opening) {
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
        break;
    case GST_MESSAGE_DURATION_CHANGED: {
        gint64 dur = -1;
        if (facts_.known && gst_element_query_duration(playbin_.element(), GST_FORMAT_TIME, &dur) && dur >= 0) {
            facts_.durationMs = dur / GST_MSECOND;
            emit factsChanged();
        }
        break;
    }
    case GST_MESSAGE_BUFFERING: {
        if (facts_.live)
            break;
        gint percent = 100;
        gst_message_parse_buffering(msg, &percent);
        if (percent < 100 && !buffering_) {
            buffering_ = true;
            if (wantPlaying_ && state_ != State::Opening)
                gst_element_set_state(playbin_.element(), GST_STATE_PAUSED);
        } else if (percent >= 100 && buffering_) {
            buffering_ = false;
            if (wantPlaying_)
                gst_element_set_state(playbin_.element(), GST_STATE_PLAYING);
        }
        break;
    }
    case GST_MESSAGE_CLOCK_LOST:
        if (wantPlaying_) {
            gst_element_set_state(playbin_.element(), GST_STATE_PAUSED);
            gst_element_set_state(playbin_.element(), GST_STATE_PLAYING);
        }
        break;
    case GST_MESSAGE_LATENCY:
        gst_bin_recalculate_latency(GST_BIN(playbin_.get()));
        break;
    case GST_MESSAGE_STATE_CHANGED:
        if (IsOurPipeline(GST_MESSAGE_SRC(msg)) && facts_.known && facts_.durationMs < 0) {
            gint64 dur = -1;
            if (gst_element_query_duration(playbin_.element(), GST_FORMAT_TIME, &dur) && dur >= 0) {
                facts_.durationMs = dur / GST_MSECOND;
                emit factsChanged();
            }
        }
        break;
    default:
        break;
    }
}

void PlayerEngine::TakeFrame()
{
    gsth::Sample sample;
    {
        std::lock_guard<std::mutex> lock(slot_->mutex);
        sample = std::move(slot_->sample);
    }
    if (!sample || state_ == State::Failed || state_ == State::Closed)
        return;
    QImage image = ImageFromSample(sample.get());
    if (image.isNull())
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
    frame_ = image;
    emit frameReady(frame_);
}

} // namespace kino
