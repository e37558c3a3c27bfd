#include "player/elements/SharedFrames.h"

#include <gst/allocators/gstfdmemory.h>
#include <gst/video/gstvideometa.h>
#include <gst/video/gstvideopool.h>
#include <gst/video/video.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <utility>

// GST_DEBUG=kinoframes:6 traces the frames' shared memory: each made and freed, with
// how many are alive, and the pools offered.
GST_DEBUG_CATEGORY_STATIC(kino_frames_debug);
#define GST_CAT_DEFAULT kino_frames_debug

namespace {

constexpr guint kFramesAtMost = 4;

std::atomic<int> g_alive{0};
std::atomic<int> g_aliveMost{0};

void CountAlive(int change)
{
    const int now = g_alive += change;
    int most = g_aliveMost.load();
    while (now > most && !g_aliveMost.compare_exchange_weak(most, now)) {
    }
}

// An fd allocator that makes its own fds: each memory is a memfd of its own, mapped
// once and kept mapped, so the display server can be given the same pages.
struct KinoMemfdAllocator {
    GstFdAllocator parent;
};
struct KinoMemfdAllocatorClass {
    GstFdAllocatorClass parent_class;
};

G_DEFINE_TYPE(KinoMemfdAllocator, kino_memfd_allocator, GST_TYPE_FD_ALLOCATOR)

GstMemory* AllocMemfd(GstAllocator* allocator, gsize size, GstAllocationParams* params)
{
    // mmap gives page-aligned memory, which meets any alignment a pool asks for.
    const gsize maxsize = params->prefix + size + params->padding;
    const int fd = memfd_create("kinolite-frame", MFD_CLOEXEC);
    if (fd < 0) {
        GST_WARNING_OBJECT(allocator, "no shared memory for a frame: %s", g_strerror(errno));
        return nullptr;
    }
    if (ftruncate(fd, off_t(maxsize)) != 0) {
        GST_WARNING_OBJECT(allocator, "no %" G_GSIZE_FORMAT " bytes of shared memory: %s", maxsize, g_strerror(errno));
        close(fd);
        return nullptr;
    }
    // The memory owns the fd from here and closes it when freed.
    GstMemory* mem = gst_fd_allocator_alloc(allocator, fd, maxsize, GST_FD_MEMORY_FLAG_KEEP_MAPPED);
    if (!mem) {
        close(fd);
        return nullptr;
    }
    CountAlive(1);
    GST_LOG_OBJECT(allocator, "frame of %" G_GSIZE_FORMAT " bytes made, %d alive", size, g_alive.load());
    gst_memory_resize(mem, gssize(params->prefix), size);
    // Mapped for reading and writing first: the mapping is kept with that protection,
    // and later maps for either only reuse it. Mapped first by the converter's write
    // alone, every read of the view's and write of the converter's would change the
    // protection, a page-table walk of the whole frame twice a frame.
    GstMapInfo first;
    if (!gst_memory_map(mem, &first, GST_MAP_READWRITE)) {
        gst_memory_unref(mem);
        return nullptr;
    }
    gst_memory_unmap(mem, &first);
    return mem;
}

void FreeMemfd(GstAllocator* allocator, GstMemory* mem)
{
    CountAlive(-1);
    GST_LOG_OBJECT(allocator, "frame freed, %d alive", g_alive.load());
    GST_ALLOCATOR_CLASS(kino_memfd_allocator_parent_class)->free(allocator, mem);
}

void kino_memfd_allocator_class_init(KinoMemfdAllocatorClass* klass)
{
    GST_ALLOCATOR_CLASS(klass)->alloc = AllocMemfd;
    GST_ALLOCATOR_CLASS(klass)->free = FreeMemfd;
}

void kino_memfd_allocator_init(KinoMemfdAllocator* self)
{
    // Unlike a plain fd allocator, this one can allocate: pools may use it.
    GST_OBJECT_FLAG_UNSET(self, GST_ALLOCATOR_FLAG_CUSTOM_ALLOC);
}

// The pool last offered on a served pad: the one a writer into it may wait on.
struct ServedPad {
    std::mutex mutex;
    GstBufferPool* pool = nullptr;
    ~ServedPad()
    {
        if (pool)
            gst_object_unref(pool);
    }
};

GstPadProbeReturn OnServedPad(GstPad*, GstPadProbeInfo* info, gpointer user)
{
    auto* served = static_cast<ServedPad*>(user);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM) {
        GstBufferPool* offered = nullptr;
        if (!kino::OfferSharedFramePool(GST_PAD_PROBE_INFO_QUERY(info), &offered))
            return GST_PAD_PROBE_OK;
        if (offered) {
            std::lock_guard<std::mutex> lock(served->mutex);
            std::swap(served->pool, offered);
        }
        if (offered)
            gst_object_unref(offered);
        return GST_PAD_PROBE_HANDLED;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    const GstEventType type = GST_EVENT_TYPE(event);
    if (type != GST_EVENT_FLUSH_START && type != GST_EVENT_FLUSH_STOP)
        return GST_PAD_PROBE_OK;
    GstBufferPool* pool = nullptr;
    {
        std::lock_guard<std::mutex> lock(served->mutex);
        if (served->pool)
            pool = GST_BUFFER_POOL(gst_object_ref(served->pool));
    }
    // A pool its writer has not taken into use yet has nobody waiting on it.
    if (pool && gst_buffer_pool_is_active(pool)) {
        GST_DEBUG_OBJECT(pool, "flush %s", type == GST_EVENT_FLUSH_START ? "starts" : "ends");
        gst_buffer_pool_set_flushing(pool, type == GST_EVENT_FLUSH_START);
    }
    if (pool)
        gst_object_unref(pool);
    return GST_PAD_PROBE_OK;
}

} // namespace

namespace kino {

GstAllocator* SharedFrameAllocator()
{
    static GstAllocator* allocator = [] {
        GST_DEBUG_CATEGORY_INIT(kino_frames_debug, "kinoframes", 0, "KINOLITE's frames in shared memory");
        const int probe = memfd_create("kinolite-probe", MFD_CLOEXEC);
        if (probe < 0)
            return static_cast<GstAllocator*>(nullptr);
        close(probe);
        // Lives as long as the process, like GStreamer's own allocators.
        auto* made = static_cast<GstAllocator*>(g_object_new(kino_memfd_allocator_get_type(), nullptr));
        gst_object_ref_sink(made);
        GST_OBJECT_FLAG_SET(made, GST_OBJECT_FLAG_MAY_BE_LEAKED);
        return made;
    }();
    return allocator;
}

bool OfferSharedFramePool(GstQuery* query, GstBufferPool** offered)
{
    if (GST_QUERY_TYPE(query) != GST_QUERY_ALLOCATION)
        return false;
    GstAllocator* allocator = SharedFrameAllocator();
    GstCaps* caps = nullptr;
    gboolean needPool = FALSE;
    gst_query_parse_allocation(query, &caps, &needPool);
    GstVideoInfo info;
    if (!allocator || !caps || !gst_video_info_from_caps(&info, caps))
        return false;
    GstAllocationParams params;
    gst_allocation_params_init(&params);
    if (needPool) {
        GstBufferPool* pool = gst_video_buffer_pool_new();
        GstStructure* config = gst_buffer_pool_get_config(pool);
        // Bounded: a frame of a full-screen view is megabytes, and without a bound the
        // queue ahead of the sink keeps several. Four are enough for one shown, one the
        // display server still reads, one waiting in the sink and one being made; when
        // all are out, the converter waits for the view, which frees one a frame later.
        gst_buffer_pool_config_set_params(config, caps, guint(info.size), 2, kFramesAtMost);
        gst_buffer_pool_config_set_allocator(config, allocator, &params);
        gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
        if (!gst_buffer_pool_set_config(pool, config)) {
            gst_object_unref(pool);
            return false;
        }
        gst_query_add_allocation_pool(query, pool, guint(info.size), 2, kFramesAtMost);
        if (offered)
            *offered = pool;
        else
            gst_object_unref(pool);
        GST_DEBUG("pool of 2 to %u frames of %dx%d offered", kFramesAtMost, GST_VIDEO_INFO_WIDTH(&info),
                  GST_VIDEO_INFO_HEIGHT(&info));
    }
    gst_query_add_allocation_param(query, allocator, &params);
    gst_query_add_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
    return true;
}

void ServeSharedFrames(GstPad* sinkPad)
{
    auto* served = new ServedPad;
    {
        // Taken once here, where it is made: the streaming threads that use it take it
        // after, so the race checker sees it made (it does not see GStreamer's locks).
        std::lock_guard<std::mutex> lock(served->mutex);
    }
    gst_pad_add_probe(sinkPad,
                      GstPadProbeType(GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      OnServedPad, served, [](gpointer p) { delete static_cast<ServedPad*>(p); });
}

int SharedFramesAliveMost()
{
    return g_aliveMost;
}

int SharedFramesAlive()
{
    return g_alive;
}

} // namespace kino
