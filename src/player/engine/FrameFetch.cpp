#include "player/engine/FrameFetch.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "player/elements/GstHandles.h"
#include "player/elements/StreamMends.h"
#include "player/engine/PlayerPipeline.h"

namespace kino {

namespace {

// Each step (opening, the seek) of a source that played a moment ago takes well under
// this; a source that has gone away or hangs gives a null picture, not a wait forever.
constexpr GstClockTime kStepWait = 5 * GST_SECOND;
// Playbin's flag for the picture alone: no sound is decoded for a still.
constexpr gint kPlaybinFlagVideo = 1 << 0;

// The same mends as when the source played, so its times and pictures are the same.
void OnElementSetup(GstElement* playbin, GstElement* element, gpointer)
{
    if (GstElementFactory* factory = gst_element_get_factory(element))
        MendElement(playbin, element, gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)));
}

bool Prerolled(GstElement* pipeline)
{
    GstState state = GST_STATE_VOID_PENDING;
    return gst_element_get_state(pipeline, &state, nullptr, kStepWait) == GST_STATE_CHANGE_SUCCESS &&
           state == GST_STATE_PAUSED;
}

// Converted as the shown frames are (BGRx, square pixels, the colorimetry the caps
// leave open filled in the same way), into memory of its own.
WholePicture Bgrx(GstSample* decoded)
{
    GstCaps* caps = gst_sample_get_caps(decoded);
    if (!caps)
        return {};
    gsth::Caps filled = WithColorimetryFilled(caps);
    gsth::Sample stated = gsth::Sample::Adopt(
        gst_sample_new(gst_sample_get_buffer(decoded), filled ? filled.get() : caps, nullptr, nullptr));
    gsth::Caps bgrx = gsth::Caps::Adopt(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr));
    GError* rawError = nullptr;
    gsth::Sample converted =
        gsth::Sample::Adopt(gst_video_convert_sample(stated.get(), bgrx.get(), kStepWait, &rawError));
    gsth::Error err(rawError);
    if (!converted)
        return {};
    GstVideoInfo info;
    GstVideoFrame frame;
    if (!gst_video_info_from_caps(&info, gst_sample_get_caps(converted.get())) ||
        !gst_video_frame_map(&frame, &info, gst_sample_get_buffer(converted.get()), GST_MAP_READ))
        return {};
    WholePicture picture;
    picture.width = GST_VIDEO_FRAME_WIDTH(&frame);
    picture.height = GST_VIDEO_FRAME_HEIGHT(&frame);
    const std::size_t row = std::size_t(picture.width) * 4;
    picture.bgrx.resize(row * std::size_t(picture.height));
    for (int y = 0; y < picture.height; ++y)
        std::memcpy(picture.bgrx.data() + row * std::size_t(y),
                    static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) +
                        std::size_t(y) * std::size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0)),
                    row);
    gst_video_frame_unmap(&frame);
    return picture;
}

std::mutex g_runningMutex;
std::condition_variable g_runningDone;
int g_running = 0;

} // namespace

WholePicture DecodePictureAt(const std::string& uri, gint64 streamTimeNs)
{
    gsth::Element playbin = gsth::Element::Adopt(gst_element_factory_make("playbin", "kinolite-fetch"));
    gsth::Element sink = gsth::Element::Adopt(gst_element_factory_make("appsink", nullptr));
    if (!playbin || !sink)
        return {};
    g_object_set(sink.get(), "sync", FALSE, "enable-last-sample", FALSE, nullptr);
    g_object_set(playbin.get(), "uri", uri.c_str(), "video-sink", sink.get(), "flags", kPlaybinFlagVideo, nullptr);
    g_signal_connect(playbin.get(), "element-setup", G_CALLBACK(OnElementSetup), nullptr);
    WholePicture picture;
    gst_element_set_state(playbin.get(), GST_STATE_PAUSED);
    // Accurate: the very frame at that time, decoded from the key frame before it.
    if (Prerolled(playbin.get()) &&
        gst_element_seek_simple(playbin.get(), GST_FORMAT_TIME,
                                GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), streamTimeNs) &&
        Prerolled(playbin.get())) {
        gsth::Sample decoded = gsth::Sample::Adopt(gst_app_sink_try_pull_preroll(GST_APP_SINK(sink.get()), 0));
        if (decoded)
            picture = Bgrx(decoded.get());
    }
    gst_element_set_state(playbin.get(), GST_STATE_NULL);
    return picture;
}

std::shared_future<WholePicture> FetchPictureAt(const std::string& uri, gint64 streamTimeNs)
{
    auto promise = std::make_shared<std::promise<WholePicture>>();
    std::shared_future<WholePicture> result = promise->get_future().share();
    {
        std::lock_guard<std::mutex> lock(g_runningMutex);
        ++g_running;
    }
    try {
        // Detached, and counted: the pipeline is its own and gone before the result is
        // set, and the end of the process waits for it (WaitForFetches).
        std::thread([promise, uri, streamTimeNs] {
            promise->set_value(DecodePictureAt(uri, streamTimeNs));
            std::lock_guard<std::mutex> lock(g_runningMutex);
            --g_running;
            g_runningDone.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(g_runningMutex);
        --g_running;
        promise->set_value(WholePicture());
    }
    return result;
}

bool WaitForFetches(int ms)
{
    std::unique_lock<std::mutex> lock(g_runningMutex);
    return g_runningDone.wait_for(lock, std::chrono::milliseconds(ms), [] { return g_running == 0; });
}

} // namespace kino
