#include "player/engine/PlayerPipeline.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "player/elements/JpegDecoder.h"
#include "player/elements/SharedFrames.h"
#include "player/elements/StreamMends.h"
#include "player/engine/DecoderOffer.h"
#include "player/engine/LocalSource.h"
#include "player/engine/PlayerLog.h"

namespace kino {

namespace {

// The stamps an end of stream carries (see FrameSlot).
GQuark SeekSerialQuark()
{
    static const GQuark quark = g_quark_from_static_string("kinolite-seek-serial");
    return quark;
}

GQuark PauseSerialQuark()
{
    static const GQuark quark = g_quark_from_static_string("kinolite-pause-serial");
    return quark;
}

GstFlowReturn OnNewSample(GstAppSink* sink, gpointer user)
{
    static_cast<FrameSlot*>(user)->Store(gst_app_sink_pull_sample(sink));
    return GST_FLOW_OK;
}

GstFlowReturn OnNewPreroll(GstAppSink* sink, gpointer user)
{
    static_cast<FrameSlot*>(user)->Store(gst_app_sink_pull_preroll(sink));
    return GST_FLOW_OK;
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

// Whether the sound output `name` has anything to talk to: a sound server's socket, or
// sound hardware. Asking one that has not costs tens of milliseconds of the first
// picture (loading its client library, trying to connect, reading ALSA's
// configuration), for nothing.
bool MayOpen(const char* name)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string run = runtime ? runtime : "";
    if (g_str_equal(name, "pulsesink")) {
        const char* server = std::getenv("PULSE_SERVER");
        return (server && *server) || Exists(run + "/pulse/native") || Exists("/run/pulse/native");
    }
    if (g_str_equal(name, "pipewiresink")) {
        const char* remote = std::getenv("PIPEWIRE_REMOTE");
        return (remote && *remote) || Exists(run + "/pipewire-0");
    }
    return Exists("/dev/snd");
}

// The sound output, chosen once for the process: the first device sink that opens,
// else a silent sink that still keeps time. Choosing it anew at every source costs a
// failed probe of every missing device each time.
gsth::Element MakeAudioSink()
{
    static const std::string chosen = [] {
        for (const char* name : {"pulsesink", "pipewiresink", "alsasink"}) {
            if (!MayOpen(name))
                continue;
            gsth::Element probe = gsth::Element::Adopt(gst_element_factory_make(name, nullptr));
            if (!probe)
                continue;
            const bool works = gst_element_set_state(probe.element(), GST_STATE_READY) == GST_STATE_CHANGE_SUCCESS;
            gst_element_set_state(probe.element(), GST_STATE_NULL);
            if (works)
                return std::string(name);
        }
        return std::string("fakesink");
    }();
    qCDebug(lcPlayer) << "sound goes to" << chosen.c_str();
    gsth::Element sink = gsth::Element::Adopt(gst_element_factory_make(chosen.c_str(), nullptr));
    if (sink && chosen == "fakesink")
        g_object_set(sink.get(), "sync", TRUE, nullptr);
    return sink;
}

// Playbin has read all of the current source: the next one offered, if any, is played
// on into through the same sinks, so the sound output sees one stream.
void OnAboutToFinish(GstElement* playbin, gpointer user)
{
    auto* slot = static_cast<FrameSlot*>(user);
    std::string uri;
    {
        std::lock_guard<std::mutex> lock(slot->mutex);
        if (slot->nextUri.empty() || slot->nextTaken)
            return;
        uri = slot->nextUri;
        slot->nextTaken = true;
    }
    // Outside the slot's lock: playbin takes its own. Withdrawn meanwhile, the next
    // source is refused at the sound output.
    g_object_set(playbin, "uri", uri.c_str(), nullptr);
}

// At the sound output: the start of a next source refused after playbin took it
// becomes the end of the current one.
GstPadProbeReturn EndInsteadOfRefusedNext(GstPad*, GstPadProbeInfo* info, gpointer user)
{
    auto* slot = static_cast<FrameSlot*>(user);
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_STREAM_START)
        return GST_PAD_PROBE_OK;
    std::lock_guard<std::mutex> lock(slot->mutex);
    if (!slot->nextTaken)
        return GST_PAD_PROBE_OK;
    if (!slot->nextRefused) {
        slot->nextStarted = true;
        return GST_PAD_PROBE_OK;
    }
    gst_event_unref(event);
    GST_PAD_PROBE_INFO_DATA(info) = gst_event_new_eos();
    return GST_PAD_PROBE_OK;
}

// Runs on the thread that posts: stamps ends of stream and notes errors, so the GUI
// thread can judge them (see PlayerEngine).
GstBusSyncReply OnMessagePosted(GstBus*, GstMessage* msg, gpointer user)
{
    auto* slot = static_cast<FrameSlot*>(user);
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS) {
        gst_mini_object_set_qdata(GST_MINI_OBJECT_CAST(msg), SeekSerialQuark(),
                                  GUINT_TO_POINTER(slot->seekSerial.load()), nullptr);
        gst_mini_object_set_qdata(GST_MINI_OBJECT_CAST(msg), PauseSerialQuark(),
                                  GUINT_TO_POINTER(slot->pauseSerial.load()), nullptr);
        slot->endPosted = true;
    } else if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
        if (PostedBySource(msg))
            slot->sourceFailed = true;
        else
            slot->errorPosted = true;
    }
    return GST_BUS_PASS;
}

// Notes the data the source delivers: a network source that failed before any arrived
// could not be reached, after that what arrived is judged as a file's; and data coming
// in is an opening under way, not a stuck one.
GstPadProbeReturn OnSourceData(GstPad*, GstPadProbeInfo*, gpointer user)
{
    auto* slot = static_cast<FrameSlot*>(user);
    slot->dataArrived = true;
    ++slot->progress;
    return GST_PAD_PROBE_OK;
}

void OnSourceSetup(GstElement*, GstElement* source, gpointer user)
{
    auto* slot = static_cast<FrameSlot*>(user);
    std::string container;
    GstElementFactory* factory = gst_element_get_factory(source);
    if (factory && g_str_equal(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), "filesrc")) {
        gchar* location = nullptr;
        g_object_get(source, "location", &location, nullptr);
        if (location)
            container = KnownContainerOf(location);
        g_free(location);
    }
    {
        std::lock_guard<std::mutex> lock(slot->mutex);
        slot->containerCaps = container;
    }
    const unsigned waitSeconds = slot->networkWaitSeconds;
    if (waitSeconds > 0 && g_object_class_find_property(G_OBJECT_GET_CLASS(source), "timeout"))
        g_object_set(source, "timeout", waitSeconds, nullptr);
    gsth::Pad pad = gsth::Pad::Adopt(gst_element_get_static_pad(source, "src"));
    if (pad)
        gst_pad_add_probe(pad.get(), GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                          OnSourceData, user, nullptr);
}

// On the decoded picture's caps, before scaling: they get an explicit colorimetry
// (see WithColorimetryFilled).
GstPadProbeReturn OnPicture(GstPad*, GstPadProbeInfo* info, gpointer)
{
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS)
        return GST_PAD_PROBE_OK;
    GstCaps* caps = nullptr;
    gst_event_parse_caps(event, &caps);
    GstVideoInfo videoInfo;
    if (!caps || !gst_video_info_from_caps(&videoInfo, caps))
        return GST_PAD_PROBE_OK;
    gsth::Caps fixed = WithColorimetryFilled(caps);
    if (fixed) {
        // The probe owns the event it passes on: the old one goes with this handle.
        gsth::Event replaced = gsth::Event::Adopt(event);
        GST_PAD_PROBE_INFO_DATA(info) = gst_event_new_caps(fixed.get());
    }
    return GST_PAD_PROBE_OK;
}

// Tells a decodebin what it need not find out: the container, when the file's first
// bytes name it, and the elements to try, chosen for our sinks.
void PrepareDecodebin(GstElement* playbin, GstElement* decodebin, FrameSlot* slot)
{
    std::string container;
    {
        std::lock_guard<std::mutex> lock(slot->mutex);
        container = slot->containerCaps;
    }
    // Set (or cleared) every time: uridecodebin reuses a decodebin for the next source.
    gsth::Caps known = gsth::Caps::Adopt(container.empty() ? nullptr : gst_caps_from_string(container.c_str()));
    g_object_set(decodebin, "sink-caps", known.get(), nullptr);
    GstElement* video = nullptr;
    GstElement* audio = nullptr;
    g_object_get(playbin, "video-sink", &video, "audio-sink", &audio, nullptr);
    OfferElementsOurselves(decodebin, video, audio);
    if (video)
        gst_object_unref(video);
    if (audio)
        gst_object_unref(audio);
}

// Called for every element playbin puts in, at any depth: which source, demuxer,
// decoders and sinks were picked is what tells why a source plays or does not.
void OnElementSetup(GstElement* playbin, GstElement* element, gpointer user)
{
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory)
        return;
    const gchar* name = gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory));
    qCDebug(lcPlayer) << "picked" << name << "as" << GST_ELEMENT_NAME(element) << "-"
                      << gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    MendElement(playbin, element, name);
    auto* slot = static_cast<FrameSlot*>(user);
    if (name && g_str_equal(name, "decodebin"))
        PrepareDecodebin(playbin, element, slot);
    ++slot->progress;
    if (name && g_str_equal(name, "avidemux"))
        slot->isAvi = true;
    if (name && g_str_equal(name, "multipartdemux"))
        slot->pictureStream = true;
    if (name && g_str_equal(name, kJpegDecoderName)) {
        std::lock_guard<std::mutex> lock(slot->mutex);
        slot->jpegDecoder = gsth::Element::Ref(element);
        slot->TellDecoder();
    }
}

// Playbin's flags (GstPlayFlags of the playback plugin, which installs no header);
// only those this player changes.
enum PlaybinFlag : gint {
    PlaybinFlagText = 1 << 2,
    PlaybinFlagVis = 1 << 3,
    PlaybinFlagNativeVideo = 1 << 6,
    PlaybinFlagSoftColorBalance = 1 << 10,
};

} // namespace

bool PostedBySource(GstMessage* msg)
{
    // A bin that holds the source (playbin's decoding bin) carries the source flag too,
    // and what it says is of the data, not of the connection.
    GstObject* from = GST_MESSAGE_SRC(msg);
    return from && GST_IS_ELEMENT(from) && !GST_IS_BIN(from) && GST_OBJECT_FLAG_IS_SET(from, GST_ELEMENT_FLAG_SOURCE);
}

std::string DumpPipelineGraph(GstElement* pipeline, const char* why)
{
    if (!pipeline || !GST_IS_BIN(pipeline))
        return {};
    gsth::Text dot(gst_debug_bin_to_dot_data(GST_BIN(pipeline), GST_DEBUG_GRAPH_SHOW_ALL));
    if (!dot)
        return {};
    const gchar* dir = g_getenv("GST_DEBUG_DUMP_DOT_DIR");
    gsth::Text name(g_strdup_printf("kinolite-%d-%" G_GINT64_FORMAT "-%s.dot", int(getpid()),
                                    g_get_real_time() / 1000, why));
    gsth::Text path(g_build_filename(dir && *dir ? dir : g_get_tmp_dir(), name.get(), nullptr));
    if (!g_file_set_contents(path.get(), dot.get(), -1, nullptr))
        return {};
    return path.get();
}

GstClockTime FrameDuration(GstSample* sample)
{
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (buffer && GST_BUFFER_DURATION_IS_VALID(buffer))
        return GST_BUFFER_DURATION(buffer);
    GstVideoInfo info;
    if (gst_sample_get_caps(sample) && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        info.fps_n > 0 && info.fps_d > 0)
        return gst_util_uint64_scale_int(GST_SECOND, info.fps_d, info.fps_n);
    return GST_CLOCK_TIME_NONE;
}

gint64 FrameStreamTime(GstSample* sample, GstClockTime after)
{
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    const GstSegment* segment = gst_sample_get_segment(sample);
    if (!buffer || !segment || segment->format != GST_FORMAT_TIME || !GST_BUFFER_PTS_IS_VALID(buffer))
        return -1;
    const guint64 at = gst_segment_to_stream_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer) + after);
    return at == GST_CLOCK_TIME_NONE ? -1 : gint64(at);
}

gsth::Caps WithColorimetryFilled(const GstCaps* caps)
{
    GstVideoInfo videoInfo;
    if (!caps || !gst_video_info_from_caps(&videoInfo, caps) || !GST_VIDEO_INFO_IS_YUV(&videoInfo))
        return {};
    GstVideoInfo defaults;
    gst_video_info_set_format(&defaults, GST_VIDEO_INFO_FORMAT(&videoInfo), GST_VIDEO_INFO_WIDTH(&videoInfo),
                              GST_VIDEO_INFO_HEIGHT(&videoInfo));
    // The caps' own text, not the video info: reading caps already puts defaults in
    // for part of what is unknown, but the elements downstream read the text again.
    const GstStructure* structure = gst_caps_get_structure(caps, 0);
    const gchar* given = gst_structure_get_string(structure, "colorimetry");
    GstVideoColorimetry stated{};
    if (!given || !gst_video_colorimetry_from_string(&stated, given))
        stated = GstVideoColorimetry{};
    GstVideoColorimetry filled = stated;
    const GstVideoColorimetry& fallback = GST_VIDEO_INFO_COLORIMETRY(&defaults);
    if (filled.range == GST_VIDEO_COLOR_RANGE_UNKNOWN)
        filled.range = fallback.range;
    if (filled.matrix == GST_VIDEO_COLOR_MATRIX_UNKNOWN)
        filled.matrix = fallback.matrix;
    if (filled.transfer == GST_VIDEO_TRANSFER_UNKNOWN)
        filled.transfer = fallback.transfer;
    if (filled.primaries == GST_VIDEO_COLOR_PRIMARIES_UNKNOWN)
        filled.primaries = fallback.primaries;
    if (given && gst_video_colorimetry_is_equal(&filled, &stated))
        return {};
    gsth::Text text(gst_video_colorimetry_to_string(&filled));
    if (!text)
        return {};
    gsth::Caps fixed = gsth::Caps::Adopt(gst_caps_copy(caps));
    gst_caps_set_simple(fixed.get(), "colorimetry", G_TYPE_STRING, text.get(), nullptr);
    return fixed;
}

unsigned EndSeekSerial(GstMessage* msg)
{
    return GPOINTER_TO_UINT(gst_mini_object_get_qdata(GST_MINI_OBJECT_CAST(msg), SeekSerialQuark()));
}

unsigned EndPauseSerial(GstMessage* msg)
{
    return GPOINTER_TO_UINT(gst_mini_object_get_qdata(GST_MINI_OBJECT_CAST(msg), PauseSerialQuark()));
}

void FrameSlot::Store(GstSample* newest)
{
    gsth::Sample taken = gsth::Sample::Adopt(newest);
    std::lock_guard<std::mutex> lock(mutex);
    const bool wasEmpty = !sample;
    sample = std::move(taken);
    if (wasEmpty && wake)
        wake();
}

void FrameSlot::Retire()
{
    std::lock_guard<std::mutex> lock(mutex);
    wake = nullptr;
    sample.reset();
    jpegDecoder.reset();
}

void FrameSlot::TellDecoder()
{
    if (jpegDecoder)
        g_object_set(jpegDecoder.get(), "wanted-width", wantedWidth, "wanted-height", wantedHeight, nullptr);
}

namespace {

// What the player cannot do without; each made for every source.
constexpr const char* kNeeded[] = {"playbin", "appsink", "videoscale", "videoconvert", "capsfilter"};

[[noreturn]] void ThrowNotInstalled(const char* factory)
{
    throw std::runtime_error(std::string("GStreamer's ") + factory + " is not installed");
}

gsth::Element Made(const char* factory, const char* name = nullptr)
{
    gsth::Element element = gsth::Element::Adopt(gst_element_factory_make(factory, name));
    if (!element)
        ThrowNotInstalled(factory);
    return element;
}

} // namespace

void PlayerPipeline::RequireElements()
{
    for (const char* factory : kNeeded) {
        GstElementFactory* found = gst_element_factory_find(factory);
        if (!found)
            ThrowNotInstalled(factory);
        gst_object_unref(found);
    }
}

namespace {
std::atomic<int> g_alive{0};
std::atomic<int> g_built{0};
} // namespace

int PlayerPipeline::Alive()
{
    return g_alive;
}

int PlayerPipeline::Built()
{
    return g_built;
}

PlayerPipeline::PlayerPipeline(std::function<void()> wake) : slot_(std::make_unique<FrameSlot>())
{
    ++g_alive;
    ++g_built;
    slot_->wake = std::move(wake);
    playbin_ = Made("playbin", "kinolite-player");

    // The video path is ours: decoded frames are scaled to the size shown, then turned
    // into BGRx for the appsink. Playbin then adds no converters of its own, which makes
    // the first frame come sooner. The scaling runs as playbin's video filter, in the
    // decoder's own thread ahead of the sink's queue, while the picture just decoded is
    // still in the cache: behind the queue the same work costs much more.
    appSink_ = Made("appsink", "kinolite-video");
    gsth::Element scale = Made("videoscale");
    gsth::Element convert = Made("videoconvert");
    frameFilter_ = Made("capsfilter");
    // The sink states any raw video, though only BGRx reaches it (the frame filter sees
    // to that): playbin keeps only the decoders whose output the sink takes, and one
    // that cannot write BGRx itself (most do not) would be passed over for the file.
    gsth::Caps raw = gsth::Caps::Adopt(gst_caps_new_empty_simple("video/x-raw"));
    g_object_set(appSink_.get(), "caps", raw.get(), "max-buffers", 1u, "drop", TRUE, "sync", TRUE, "qos", TRUE,
                 "enable-last-sample", FALSE, nullptr);
    // A frame already on its way when the size changes still passes ("delayed"): the
    // size may change at any moment, and refusing it would stop the stream.
    g_object_set(frameFilter_.get(), "caps-change-mode", 1, nullptr);
    SetFrameSize(0, 0);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = OnNewSample;
    callbacks.new_preroll = OnNewPreroll;
    gst_app_sink_set_callbacks(GST_APP_SINK(appSink_.get()), &callbacks, slot_.get(), nullptr);
    gsth::Element sizing = gsth::Element::Adopt(gst_bin_new("kinolite-video-sizing"));
    gst_bin_add_many(GST_BIN(sizing.get()), scale.element(), convert.element(), frameFilter_.element(), nullptr);
    // Linked unchecked: the three take any picture from one another, and checking asks
    // the converters for every format they can make of every other, a few milliseconds
    // before the first source can open. The stream's own caps are negotiated as ever.
    const auto link = [](GstElement* from, GstElement* to) {
        return gst_element_link_pads_full(from, "src", to, "sink", GST_PAD_LINK_CHECK_NOTHING);
    };
    if (!link(scale.element(), convert.element()) || !link(convert.element(), frameFilter_.element()))
        throw std::runtime_error("the video path could not be linked");
    pictureIn_ = gsth::Pad::Adopt(gst_element_get_static_pad(scale.element(), "sink"));
    gst_pad_add_probe(pictureIn_.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, OnPicture, nullptr, nullptr);
    gst_element_add_pad(sizing.element(), gst_ghost_pad_new("sink", pictureIn_.get()));
    gsth::Pad sized = gsth::Pad::Adopt(gst_element_get_static_pad(frameFilter_.element(), "src"));
    gst_element_add_pad(sizing.element(), gst_ghost_pad_new("src", sized.get()));
    gsth::Pad sinkIn = gsth::Pad::Adopt(gst_element_get_static_pad(appSink_.element(), "sink"));
    // Frames are written straight into memory the display server can read, so showing
    // one needs no copy of it.
    ServeSharedFrames(sinkIn.get());
    g_object_set(playbin_.get(), "video-filter", sizing.get(), "video-sink", appSink_.get(), nullptr);
    audioSink_ = MakeAudioSink();
    if (audioSink_) {
        g_object_set(playbin_.get(), "audio-sink", audioSink_.get(), nullptr);
        gsth::Pad soundIn = gsth::Pad::Adopt(gst_element_get_static_pad(audioSink_.element(), "sink"));
        gst_pad_add_probe(soundIn.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, EndInsteadOfRefusedNext, slot_.get(),
                          nullptr);
    }
    // Speed changes keep the pitch: scaletempo stretches the sound by the segment's
    // rate. One filter per source: a filter kept across sources was seen to crash on
    // a rate seek right after a preroll while it still held the last source's state.
    if (gsth::Element tempo = gsth::Element::Adopt(gst_element_factory_make("scaletempo", nullptr)))
        g_object_set(playbin_.get(), "audio-filter", tempo.get(), nullptr);

    // Subtitles and visualisations are not part of this player; our video filter converts.
    gint flags = 0;
    g_object_get(playbin_.get(), "flags", &flags, nullptr);
    flags = (flags & ~(PlaybinFlagText | PlaybinFlagVis | PlaybinFlagSoftColorBalance)) | PlaybinFlagNativeVideo;
    g_object_set(playbin_.get(), "flags", flags, nullptr);

    elementSetup_ = gsth::SignalConnection(
        playbin_.get(), g_signal_connect(playbin_.get(), "element-setup", G_CALLBACK(OnElementSetup), slot_.get()));
    sourceSetup_ = gsth::SignalConnection(
        playbin_.get(), g_signal_connect(playbin_.get(), "source-setup", G_CALLBACK(OnSourceSetup), slot_.get()));
    aboutToFinish_ = gsth::SignalConnection(
        playbin_.get(), g_signal_connect(playbin_.get(), "about-to-finish", G_CALLBACK(OnAboutToFinish), slot_.get()));
    bus_ = gsth::Bus::Adopt(gst_element_get_bus(playbin_.element()));
    gst_bus_set_sync_handler(bus_.get(), OnMessagePosted, slot_.get(), nullptr);
}

bool PlayerPipeline::OfferNext(const std::string& uri)
{
    std::lock_guard<std::mutex> lock(slot_->mutex);
    if (!audioSink_ || slot_->nextTaken)
        return false;
    slot_->nextUri = uri;
    slot_->nextRefused = false;
    return true;
}

bool PlayerPipeline::WithdrawNext()
{
    std::lock_guard<std::mutex> lock(slot_->mutex);
    slot_->nextUri.clear();
    slot_->nextRefused = true;
    return !slot_->nextStarted;
}

void PlayerPipeline::ForgetNext()
{
    std::lock_guard<std::mutex> lock(slot_->mutex);
    slot_->nextUri.clear();
    slot_->nextTaken = false;
    slot_->nextRefused = false;
    slot_->nextStarted = false;
}

double PlayerPipeline::PlayingRate() const
{
    for (GstElement* sink : {appSink_.element(), audioSink_.element()}) {
        gsth::Pad pad = gsth::Pad::Adopt(sink ? gst_element_get_static_pad(sink, "sink") : nullptr);
        GstEvent* event = pad ? gst_pad_get_sticky_event(pad.get(), GST_EVENT_SEGMENT, 0) : nullptr;
        if (!event)
            continue;
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        const double rate = segment->rate * segment->applied_rate;
        gst_event_unref(event);
        return rate;
    }
    return 0.0;
}

void PlayerPipeline::SetFrameSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    // The decoder is told every time: a hint (HintDecodeSize) may have told it another
    // size since. The filter only when its own size changes.
    HintDecodeSize(width, height);
    if (sizeSet_ && width == frameWidth_ && height == frameHeight_)
        return;
    sizeSet_ = true;
    frameWidth_ = width;
    frameHeight_ = height;
    gsth::Caps caps = gsth::Caps::Adopt(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr));
    if (width > 0 && height > 0)
        gst_caps_set_simple(caps.get(), "width", G_TYPE_INT, width, "height", G_TYPE_INT, height, "pixel-aspect-ratio",
                            GST_TYPE_FRACTION, 1, 1, nullptr);
    g_object_set(frameFilter_.get(), "caps", caps.get(), nullptr);
    // Asks the path upstream of the filter to negotiate again at the next frame.
    gsth::Pad in = gsth::Pad::Adopt(gst_element_get_static_pad(frameFilter_.element(), "sink"));
    if (in)
        gst_pad_push_event(in.get(), gst_event_new_reconfigure());
}

void PlayerPipeline::HintDecodeSize(int width, int height)
{
    std::lock_guard<std::mutex> lock(slot_->mutex);
    slot_->wantedWidth = std::max(width, 0);
    slot_->wantedHeight = std::max(height, 0);
    slot_->TellDecoder();
}

void PlayerPipeline::SetWake(std::function<void()> wake)
{
    std::lock_guard<std::mutex> lock(slot_->mutex);
    slot_->wake = std::move(wake);
}

namespace {

// The processor time the whole process has used, in microseconds.
gint64 ProcessCpuUs()
{
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return gint64(used.tv_sec) * G_USEC_PER_SEC + used.tv_nsec / 1000;
}

} // namespace

GstStateChangeReturn PlayerPipeline::Preroll(GstClockTime wait)
{
    GstStateChangeReturn result = gst_element_set_state(Playbin(), GST_STATE_PAUSED);
    if (result != GST_STATE_CHANGE_ASYNC || wait == 0)
        return result;
    // Wait in short steps: an error does not always fail the state change itself
    // (a demuxer that gives up leaves the pipeline waiting for its preroll), and a
    // source that has stopped making progress will not preroll in the time left.
    // An opening that works but is slow (the first typefinding of a process on a busy
    // machine) reads nothing for a while either, but it uses the processor; a stuck
    // one waits on a server or a device and uses none.
    const gint64 deadline = g_get_monotonic_time() + gint64(wait / GST_USECOND);
    unsigned seen = slot_->progress;
    gint64 movedAt = g_get_monotonic_time();
    gint64 cpuAtMove = ProcessCpuUs();
    do {
        result = gst_element_get_state(Playbin(), nullptr, nullptr, 20 * GST_MSECOND);
        if (slot_->errorPosted || slot_->sourceFailed)
            result = GST_STATE_CHANGE_FAILURE;
        const gint64 now = g_get_monotonic_time();
        const gint64 cpu = ProcessCpuUs();
        if (slot_->progress != seen || cpu - cpuAtMove >= gint64(kWorkingCpu / GST_USECOND)) {
            seen = slot_->progress;
            movedAt = now;
            cpuAtMove = cpu;
        } else if (now - movedAt >= gint64(kStuckOpen / GST_USECOND)) {
            break;
        }
    } while (result == GST_STATE_CHANGE_ASYNC && g_get_monotonic_time() < deadline);
    return result;
}

void PlayerPipeline::SetNetworkWaitMs(int ms)
{
    slot_->networkWaitSeconds = unsigned(std::max(1, (ms + 999) / 1000));
}

namespace {

// Holds data back at a sink while its pipeline waits to be stopped; the stop's flush
// lets the waiting threads go.
GstPadProbeReturn HoldData(GstPad*, GstPadProbeInfo*, gpointer)
{
    return GST_PAD_PROBE_OK;
}

} // namespace

GstStateChangeReturn PlayerPipeline::RestartSoundOutput(GstClockTime wait)
{
    // Only a sink the pipeline plays sound through: one left out (a source without
    // sound) would open a stream of its own.
    if (audioSink_ && GST_OBJECT_PARENT(audioSink_.element())) {
        gst_element_set_state(audioSink_.element(), GST_STATE_READY);
        gst_element_set_state(audioSink_.element(), GST_STATE_PAUSED);
    }
    gst_element_seek_simple(Playbin(), GST_FORMAT_TIME, GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), 0);
    return gst_element_get_state(Playbin(), nullptr, nullptr, wait);
}

void PlayerPipeline::Silence()
{
    g_object_set(playbin_.get(), "mute", TRUE, nullptr);
    for (GstElement* sink : {audioSink_.element(), appSink_.element()}) {
        gsth::Pad in = sink ? gsth::Pad::Adopt(gst_element_get_static_pad(sink, "sink")) : gsth::Pad();
        if (in)
            gst_pad_add_probe(
                in.get(),
                GstPadProbeType(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                HoldData, nullptr, nullptr);
    }
}

PlayerPipeline::~PlayerPipeline()
{
    // Logged through GStreamer: this may run on a stopping thread while the process
    // ends, after the application's own log is gone.
    if (gst_element_set_state(playbin_.element(), GST_STATE_NULL) == GST_STATE_CHANGE_FAILURE)
        GST_WARNING_OBJECT(playbin_.get(), "a retired pipeline refused to stop");
    // The frame filter keeps the sizes that frames on their way may still have until it
    // is stopped or told another mode; one that never started would take them with it
    // unfreed.
    g_object_set(frameFilter_.get(), "caps-change-mode", 0, nullptr);
    elementSetup_.disconnect();
    sourceSetup_.disconnect();
    aboutToFinish_.disconnect();
    gst_bus_set_sync_handler(bus_.get(), nullptr, nullptr, nullptr);
    gst_bus_set_flushing(bus_.get(), TRUE);
    --g_alive;
}

} // namespace kino
