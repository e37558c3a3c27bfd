#include "player/engine/MediaFramework.h"

#include <dlfcn.h>
#include <gst/gst.h>
#include <malloc.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "player/elements/GstHandles.h"
#include "player/elements/JpegDecoder.h"
#include "player/engine/FrameFetch.h"
#include "player/engine/LocalSource.h"
#include "player/engine/OpenedAhead.h"
#include "player/engine/PipelineReaper.h"
#include "player/engine/StartupTrace.h"

namespace kino {

namespace {
std::once_flag g_initOnce;

// Starts the framework and opens the first source ahead. Joined by ShutdownMediaEngine;
// an exit that skips it (an exception, exit()) must not end in std::terminate for a
// thread still joinable: it is let go, as the process goes anyway.
struct Starter {
    std::thread thread;
    ~Starter()
    {
        if (thread.joinable())
            thread.detach();
    }
};
Starter g_starter;

bool g_initialised = false;
std::string g_initError;

// libav's plugin and the forty codec libraries it links take 40-50 ms to load: the
// longest single step to the first picture of an MPEG, MPEG-4 or H.264 file, and one
// that waits for the file's streams to be found. For a first source that will need
// them, they are loaded before the framework starts instead; the framework then finds
// the plugin loaded. Not for a framework told to look for its plugins elsewhere.
void LoadLibavAhead()
{
    if (g_getenv("GST_PLUGIN_SYSTEM_PATH_1_0") || g_getenv("GST_PLUGIN_SYSTEM_PATH"))
        return;
    // Kept, as the framework keeps every plugin it loads.
    if (dlopen(KINO_GST_PLUGINS_DIR "/libgstlibav.so", RTLD_LAZY | RTLD_LOCAL))
        MarkStartup("libav loaded ahead");
}
} // namespace

void InitMediaEngine()
{
    std::call_once(g_initOnce, [] {
        // Every source starts new streaming threads; left alone, each would get a malloc
        // arena of its own, and the memory of sources long closed stays scattered over
        // them. Two arenas keep a long session's memory flat.
        mallopt(M_ARENA_MAX, 2);
        GError* rawError = nullptr;
        g_initialised = gst_init_check(nullptr, nullptr, &rawError);
        gsth::Error err(rawError);
        if (!g_initialised)
            g_initError = err ? err->message : "GStreamer could not be initialised";
        else
            RegisterJpegDecoder();
    });
    if (!g_initialised)
        throw std::runtime_error(g_initError);
}

void StartMediaEngine(const std::string& firstSource, int shownWithinWidth, int shownWithinHeight)
{
    static std::once_flag once;
    std::call_once(once, [&] {
        // Checked before the thread is started, and announced at once, so a player asking
        // for it before the thread has begun waits for it rather than opening it again.
        const std::string uri = UriToOpenAhead(firstSource);
        if (!uri.empty())
            OpenedAhead::Shared().Announce(uri);
        const std::string path = uri.empty() ? std::string() : LocalNameOf(firstSource).path;
        g_starter.thread = std::thread([uri, path, shownWithinWidth, shownWithinHeight] {
            if (!path.empty() && DecodedByLibav(path))
                LoadLibavAhead();
            try {
                InitMediaEngine();
            } catch (const std::exception&) {
                OpenedAhead::Shared().Withdraw(); // told by InitMediaEngine on the GUI thread
                return;
            }
            MarkStartup("media framework started");
            if (uri.empty())
                return;
            OpenedAhead::Shared().Open(uri, shownWithinWidth, shownWithinHeight);
            MarkStartup("first source opened ahead");
        });
    });
}

void ShutdownMediaEngine()
{
    if (g_starter.thread.joinable())
        g_starter.thread.join();
    if (g_initialised) {
        // A source opened ahead that nobody took.
        GstStateChangeReturn unused;
        OpenedAhead::Shared().Take(std::string(), &unused);
        // A pipeline still stopping, or abandoned because an element hangs, or a frame
        // still being fetched for the clipboard, still uses GStreamer: then it is left
        // to the end of the process.
        [[maybe_unused]] const bool stopped = PipelineReaper::Shared().Drain(3000) && WaitForFetches(3000);
#if defined(__SANITIZE_ADDRESS__)
        // Freeing GStreamer's registry and plugins costs CPU at every quit and frees
        // nothing the system would not; only a leak-checking build needs it, so that
        // whatever is left over is ours.
        if (stopped)
            gst_deinit();
#endif
        g_initialised = false;
    }
}

} // namespace kino
