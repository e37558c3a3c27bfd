#include "player/engine/MediaEngine.h"

#include <QCoreApplication>
#include <QThread>

#include <gst/gst.h>
#include <malloc.h>

#include <memory>
#include <mutex>
#include <stdexcept>

#include "player/elements/GstHandles.h"
#include "player/elements/JpegDecoder.h"
#include "player/engine/PlayerPipeline.h"

namespace kino {

Q_LOGGING_CATEGORY(lcPlayer, "kinolite.player", QtWarningMsg)

bool OnGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

namespace {
std::once_flag g_initOnce;
bool g_initialised = false;
std::string g_initError;
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

void ShutdownMediaEngine()
{
    if (g_initialised) {
        // A pipeline still stopping, or abandoned because an element hangs, still
        // uses GStreamer: then it is left to the end of the process.
        [[maybe_unused]] const bool stopped = PipelineReaper::Drain(3000);
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
