#include "BareFirstFrame.h"

#include <gst/app/gstappsink.h>

#include <chrono>

namespace kino::bench {

namespace {
// Only a guard against a pipeline that never prerolls; a first frame takes milliseconds.
constexpr GstClockTime kNoSampleGuard = 60 * GST_SECOND;
} // namespace

BareFirstFrame::BareFirstFrame(const std::string& uri, bool defaultAudioSink)
{
    playbin_ = gsth::Element::Adopt(gst_element_factory_make("playbin", "bare-playbin"));
    appsink_ = gsth::Element::Ref(gst_element_factory_make("appsink", "bare-video"));
    gsth::Element audio;
    if (!defaultAudioSink)
        audio = gsth::Element::Ref(gst_element_factory_make("fakesink", "bare-audio"));
    if (!playbin_ || !appsink_ || (!defaultAudioSink && !audio)) {
        playbin_.reset();
        return;
    }
    gsth::Caps caps = gsth::Caps::Adopt(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr));
    g_object_set(appsink_.get(), "caps", caps.get(), "max-buffers", 1u, "drop", TRUE, nullptr);
    g_object_set(playbin_.get(), "video-sink", appsink_.get(), "uri", uri.c_str(), nullptr);
    if (audio)
        g_object_set(playbin_.get(), "audio-sink", audio.get(), nullptr);
}

BareFirstFrame::~BareFirstFrame()
{
    if (playbin_)
        gst_element_set_state(playbin_.element(), GST_STATE_NULL);
}

double BareFirstFrame::MeasureMs()
{
    if (!playbin_)
        return -1;
    gst_element_set_state(playbin_.element(), GST_STATE_NULL);

    const auto start = std::chrono::steady_clock::now();
    gst_element_set_state(playbin_.element(), GST_STATE_PAUSED);
    gsth::Sample sample =
        gsth::Sample::Adopt(gst_app_sink_try_pull_preroll(GST_APP_SINK(appsink_.get()), kNoSampleGuard));
    const auto end = std::chrono::steady_clock::now();

    gst_element_set_state(playbin_.element(), GST_STATE_NULL);
    if (!sample)
        return -1;
    return std::chrono::duration<double, std::milli>(end - start).count();
}

} // namespace kino::bench
