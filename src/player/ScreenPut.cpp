#include "player/ScreenPut.h"

#include "player/SharedFrames.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

#include <gst/allocators/gstfdmemory.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <fcntl.h>
#include <sys/socket.h>

#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kino {

namespace {

// The server's segments belong to the connection, not to a window, so one table serves
// every view. It is made once and never freed: memory may be freed on a streaming
// thread at any time, and its notice must always find the table.
class SegmentTable : public QAbstractNativeEventFilter {
public:
    // Null when the server cannot attach memory by fd (MIT-SHM before 1.2).
    static SegmentTable* For(xcb_connection_t* conn)
    {
        static bool tried = false;
        if (!tried) {
            tried = true;
            table_ = Make(conn);
        }
        return table_ && !table_->refused_ && table_->conn_ && table_->conn_ == conn ? table_ : nullptr;
    }

    xcb_connection_t* Connection() const { return conn_; }

    // The memory's segment, attached on first use. Empty when the server refuses it.
    std::optional<xcb_shm_seg_t> SegmentFor(GstMemory* mem)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (auto it = attached_.find(mem); it != attached_.end())
                return it->second;
        }
        const int fd = fcntl(gst_fd_memory_get_fd(mem), F_DUPFD_CLOEXEC, 0);
        if (fd < 0)
            return std::nullopt;
        const xcb_shm_seg_t seg = xcb_generate_id(conn_);
        // Checked, once a memory: a refused segment must not turn every later frame
        // into an error. The fd is closed by xcb once sent.
        if (xcb_generic_error_t* error = xcb_request_check(conn_, xcb_shm_attach_fd_checked(conn_, seg, fd, 1))) {
            std::free(error);
            // A server that refuses one segment refuses the next: frames are painted.
            refused_ = true;
            return std::nullopt;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            attached_[mem] = seg;
        }
        gst_mini_object_weak_ref(GST_MINI_OBJECT_CAST(mem), MemoryGone, this);
        return seg;
    }

    // A put of `image`'s pixels from `seg` was sent: the pixels stay alive until the
    // server says it has read them.
    void Sent(xcb_shm_seg_t seg, const QImage& image)
    {
        inFlight_.emplace_back(seg, image);
        // A server that never reports completion must not make frames pile up: past a
        // few, one round trip settles them all.
        if (inFlight_.size() > 4) {
            std::free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
            inFlight_.clear();
        }
    }

    // Segments of memory since freed are given back to the server.
    void DetachDead()
    {
        std::vector<xcb_shm_seg_t> dead;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            dead.swap(dead_);
        }
        for (xcb_shm_seg_t seg : dead)
            xcb_shm_detach(conn_, seg);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != completion_)
            return false;
        const auto* done = reinterpret_cast<const xcb_shm_completion_event_t*>(event);
        // Puts are carried out in order: this one and all before it are finished.
        for (auto it = inFlight_.begin(); it != inFlight_.end(); ++it) {
            if (it->first == done->shmseg) {
                inFlight_.erase(inFlight_.begin(), it + 1);
                return true;
            }
        }
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [mem, seg] : attached_)
            if (seg == done->shmseg)
                return true;
        return false;
    }

private:
    explicit SegmentTable(xcb_connection_t* conn, std::uint8_t completion) : conn_(conn), completion_(completion) {}

    static SegmentTable* Make(xcb_connection_t* conn)
    {
        // Memory goes to the server as an fd, which only a local socket can carry:
        // xcb would drop a connection over TCP that tried.
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (getsockname(xcb_get_file_descriptor(conn), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            address.ss_family != AF_UNIX)
            return nullptr;
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn, &xcb_shm_id);
        if (!ext || !ext->present)
            return nullptr;
        xcb_shm_query_version_reply_t* version =
            xcb_shm_query_version_reply(conn, xcb_shm_query_version(conn), nullptr);
        const bool byFd = version && (version->major_version > 1 ||
                                      (version->major_version == 1 && version->minor_version >= 2));
        std::free(version);
        if (!byFd)
            return nullptr;
        auto* table = new SegmentTable(conn, std::uint8_t(ext->first_event + XCB_SHM_COMPLETION));
        QCoreApplication::instance()->installNativeEventFilter(table);
        qAddPostRoutine(Closing);
        return table;
    }

    // The application is going and its connection with it: the server gets its
    // segments back now, and memory freed later only leaves the table.
    static void Closing()
    {
        SegmentTable* table = table_;
        if (!table)
            return;
        table->inFlight_.clear();
        std::lock_guard<std::mutex> lock(table->mutex_);
        if (!table->conn_)
            return;
        for (const auto& [mem, seg] : table->attached_)
            xcb_shm_detach(table->conn_, seg);
        for (xcb_shm_seg_t seg : table->dead_)
            xcb_shm_detach(table->conn_, seg);
        xcb_flush(table->conn_);
        table->dead_.clear();
        table->conn_ = nullptr;
    }

    static inline SegmentTable* table_ = nullptr; // GUI thread only

    static void MemoryGone(gpointer data, GstMiniObject* object)
    {
        auto* table = static_cast<SegmentTable*>(data);
        std::lock_guard<std::mutex> lock(table->mutex_);
        auto it = table->attached_.find(reinterpret_cast<GstMemory*>(object));
        if (it == table->attached_.end())
            return;
        if (table->conn_)
            table->dead_.push_back(it->second);
        table->attached_.erase(it);
    }

    std::mutex mutex_;              // guards attached_, dead_ and conn_ against MemoryGone
    xcb_connection_t* conn_;        // null once the application has closed
    const std::uint8_t completion_; // the completion event's type
    std::unordered_map<GstMemory*, xcb_shm_seg_t> attached_;
    std::vector<xcb_shm_seg_t> dead_;
    std::deque<std::pair<xcb_shm_seg_t, QImage>> inFlight_; // GUI thread only
    bool refused_ = false;                                  // GUI thread only
};

} // namespace

std::unique_ptr<ScreenPut> ScreenPut::ForWidget(QWidget* widget)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection() || !widget || widget->devicePixelRatioF() != 1.0 || !SharedFrameAllocator())
        return nullptr;
    xcb_connection_t* conn = x11->connection();
    const xcb_setup_t* setup = xcb_get_setup(conn);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST || !SegmentTable::For(conn))
        return nullptr;
    // The widget gets a window of its own, without making its parents native.
    widget->setAttribute(Qt::WA_DontCreateNativeAncestors);
    widget->setAttribute(Qt::WA_NativeWindow);
    const auto window = static_cast<xcb_window_t>(widget->winId());
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(conn, xcb_get_geometry(conn, window), nullptr);
    if (!geometry)
        return nullptr;
    const std::uint8_t depth = geometry->depth;
    std::free(geometry);
    // Frames are BGRx in memory: a 24-bit visual stored in 32 bits a pixel. (A 32-bit
    // window would take the unused byte for transparency.)
    bool thirtyTwoBits = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == depth)
            thirtyTwoBits = it.data->bits_per_pixel == 32 && it.data->scanline_pad == 32;
    if (depth != 24 || !thirtyTwoBits)
        return nullptr;
    const xcb_gcontext_t gc = xcb_generate_id(conn);
    const std::uint32_t noExposures = 0;
    xcb_create_gc(conn, gc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    return std::unique_ptr<ScreenPut>(new ScreenPut(window, gc, depth));
}

ScreenPut::ScreenPut(std::uint32_t window, std::uint32_t gc, std::uint8_t depth)
    : window_(window), gc_(gc), depth_(depth)
{
}

ScreenPut::~ScreenPut()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (SegmentTable* table = x11 ? SegmentTable::For(x11->connection()) : nullptr) {
        xcb_free_gc(table->Connection(), gc_);
        table->DetachDead();
        xcb_flush(table->Connection());
    }
}

bool ScreenPut::Put(GstBuffer* buffer, const QImage& image, const QRect& from, const QPoint& at)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    SegmentTable* table = x11 ? SegmentTable::For(x11->connection()) : nullptr;
    if (!table || !buffer || gst_buffer_n_memory(buffer) != 1 || image.format() != QImage::Format_RGB32 ||
        image.bytesPerLine() % 4 != 0 || from.isEmpty() || !image.rect().contains(from))
        return false;
    GstMemory* mem = gst_buffer_peek_memory(buffer, 0);
    if (mem->allocator != SharedFrameAllocator())
        return false;
    // Where the image's pixels lie in the memory's fd: they must lie wholly inside it.
    GstMapInfo map;
    if (!gst_memory_map(mem, &map, GST_MAP_READ))
        return false;
    const auto start = reinterpret_cast<std::uintptr_t>(map.data);
    const auto pixels = reinterpret_cast<std::uintptr_t>(image.constBits());
    const std::size_t size = map.size;
    gst_memory_unmap(mem, &map);
    const std::size_t bytes = std::size_t(image.bytesPerLine()) * std::size_t(image.height());
    if (pixels < start || pixels - start + bytes > size)
        return false;
    const std::optional<xcb_shm_seg_t> seg = table->SegmentFor(mem);
    if (!seg)
        return false;
    table->DetachDead();
    xcb_connection_t* conn = table->Connection();
    xcb_shm_put_image(conn, window_, gc_, std::uint16_t(image.bytesPerLine() / 4), std::uint16_t(image.height()),
                      std::uint16_t(from.x()), std::uint16_t(from.y()), std::uint16_t(from.width()),
                      std::uint16_t(from.height()), std::int16_t(at.x()), std::int16_t(at.y()), depth_,
                      XCB_IMAGE_FORMAT_Z_PIXMAP, 1, *seg, std::uint32_t(mem->offset + (pixels - start)));
    table->Sent(*seg, image);
    xcb_flush(conn);
    return true;
}

} // namespace kino
