#include "player/engine/FrameFetch.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
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
    WholePicture picture = WholePicture::Copied(static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                                                std::size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0)),
                                                GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame));
    gst_video_frame_unmap(&frame);
    return picture;
}

// A frame's length where the stream does not say.
constexpr GstClockTime kUsualFrame = GST_SECOND / 25;

GstClockTime FrameLasts(GstSample* sample)
{
    const GstClockTime lasts = FrameDuration(sample);
    return GST_CLOCK_TIME_IS_VALID(lasts) && lasts > 0 ? lasts : kUsualFrame;
}

struct Candidate {
    gsth::Sample sample;
    gint64 start = -1;
};

// How far `whole`, reduced to the size of `shown` by averaging, is from it: the sum of
// the colour differences.
std::uint64_t DistanceFromShown(const WholePicture& whole, const WholePicture& shown)
{
    std::uint64_t sum = 0;
    for (int y = 0; y < shown.height; ++y) {
        const int top = y * whole.height / shown.height;
        const int bottom = std::max(top + 1, (y + 1) * whole.height / shown.height);
        for (int x = 0; x < shown.width; ++x) {
            const int left = x * whole.width / shown.width;
            const int right = std::max(left + 1, (x + 1) * whole.width / shown.width);
            const std::uint8_t* mine = shown.bgrx.data() + (std::size_t(y) * std::size_t(shown.width) + x) * 4;
            std::uint64_t total[3] = {0, 0, 0};
            for (int sy = top; sy < bottom; ++sy)
                for (int sx = left; sx < right; ++sx)
                    for (int c = 0; c < 3; ++c)
                        total[c] += whole.bgrx[(std::size_t(sy) * std::size_t(whole.width) + sx) * 4 + c];
            const std::uint64_t area = std::uint64_t(bottom - top) * std::uint64_t(right - left);
            for (int c = 0; c < 3; ++c)
                sum += std::uint64_t(std::abs(int(total[c] / area) - int(mine[c])));
        }
    }
    return sum;
}

// The frame shown is the one of the candidates that looks like it: a decoder that
// drops late frames may stamp one with its neighbour's time. Without a shown picture,
// or when none can be compared, the frame whose time holds `streamTimeNs`.
WholePicture ChosenPicture(const std::vector<Candidate>& candidates, gint64 streamTimeNs, const WholePicture& shown)
{
    std::size_t atTime = 0;
    for (std::size_t i = 0; i < candidates.size(); ++i)
        if (candidates[i].start >= 0 && candidates[i].start <= streamTimeNs)
            atTime = i;
    WholePicture best;
    std::uint64_t bestDistance = UINT64_MAX;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (shown.IsNull() && i != atTime)
            continue;
        WholePicture picture = Bgrx(candidates[i].sample.get());
        if (picture.IsNull() || shown.IsNull() || picture.width < shown.width || picture.height < shown.height) {
            if (i == atTime)
                return picture;
            continue;
        }
        // Ties go to the frame at the time asked for.
        const std::uint64_t distance = DistanceFromShown(picture, shown);
        if (distance < bestDistance || (distance == bestDistance && i == atTime)) {
            bestDistance = distance;
            best = std::move(picture);
        }
    }
    return best;
}

std::mutex g_runningMutex;
std::condition_variable g_runningDone;
int g_running = 0;

} // namespace

WholePicture WholePicture::Copied(const std::uint8_t* bits, std::size_t stride, int width, int height)
{
    WholePicture picture;
    picture.width = width;
    picture.height = height;
    const std::size_t row = std::size_t(width) * 4;
    picture.bgrx.resize(row * std::size_t(height));
    for (int y = 0; y < height; ++y)
        std::memcpy(picture.bgrx.data() + row * std::size_t(y), bits + stride * std::size_t(y), row);
    return picture;
}

WholePicture DecodePictureAt(const std::string& uri, gint64 streamTimeNs, const WholePicture& shown)
{
    gsth::Element playbin = gsth::Element::Adopt(gst_element_factory_make("playbin", "kinolite-fetch"));
    gsth::Element sink = gsth::Element::Adopt(gst_element_factory_make("appsink", nullptr));
    if (!playbin || !sink)
        return {};
    // Two at most decoded ahead of what is taken: the neighbours are all that is wanted.
    g_object_set(sink.get(), "sync", FALSE, "enable-last-sample", FALSE, "max-buffers", 2, nullptr);
    g_object_set(playbin.get(), "uri", uri.c_str(), "video-sink", sink.get(), "flags", kPlaybinFlagVideo, nullptr);
    g_signal_connect(playbin.get(), "element-setup", G_CALLBACK(OnElementSetup), nullptr);
    GstAppSink* appsink = GST_APP_SINK(sink.get());
    std::vector<Candidate> candidates;
    gst_element_set_state(playbin.get(), GST_STATE_PAUSED);
    if (Prerolled(playbin.get())) {
        gsth::Sample first = gsth::Sample::Adopt(gst_app_sink_try_pull_preroll(appsink, 0));
        const GstClockTime lasts = first ? FrameLasts(first.get()) : kUsualFrame;
        // Accurate: from the frame before, decoded from the key frame before it; the
        // frame itself and the one after follow.
        const gint64 from = shown.IsNull() ? streamTimeNs : std::max<gint64>(0, streamTimeNs - gint64(lasts));
        if (gst_element_seek_simple(playbin.get(), GST_FORMAT_TIME,
                                    GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), from) &&
            Prerolled(playbin.get())) {
            if (gsth::Sample sample = gsth::Sample::Adopt(gst_app_sink_try_pull_preroll(appsink, 0))) {
                const gint64 start = FrameStreamTime(sample.get());
                candidates.push_back({std::move(sample), start});
            }
            if (!shown.IsNull() && !candidates.empty() &&
                gst_element_set_state(playbin.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
                while (candidates.size() < 3) {
                    gsth::Sample sample = gsth::Sample::Adopt(gst_app_sink_try_pull_sample(appsink, kStepWait));
                    if (!sample)
                        break;
                    // The prerolled frame is handed over again once playing.
                    const gint64 start = FrameStreamTime(sample.get());
                    if (start != candidates.back().start)
                        candidates.push_back({std::move(sample), start});
                }
            }
        }
    }
    WholePicture picture = ChosenPicture(candidates, streamTimeNs, shown);
    gst_element_set_state(playbin.get(), GST_STATE_NULL);
    return picture;
}

WholePicture DecodePictureAt(const std::string& uri, gint64 streamTimeNs)
{
    return DecodePictureAt(uri, streamTimeNs, WholePicture());
}

std::shared_future<WholePicture> FetchPictureAt(const std::string& uri, gint64 streamTimeNs, WholePicture shown)
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
        std::thread([promise, uri, streamTimeNs, shown = std::move(shown)] {
            promise->set_value(DecodePictureAt(uri, streamTimeNs, shown));
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
