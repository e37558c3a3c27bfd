#include "player/ScreenPut.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QWidget>

#include <fcntl.h>
#include <gst/allocators/gstfdmemory.h>
#include <sys/socket.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

#include "player/elements/SharedFrames.h"

// Last: its macros (None, Bool, Status) would clash with the headers above.
#include <X11/Xlib.h>

namespace kino {

namespace {

// Frames are put over a connection of their own, as a video sink opens its own display:
// the server's reports that it has read a frame then wait on this connection until the
// next frame collects them, instead of waking the toolkit's event thread and the GUI
// thread for every frame. Segments belong to the connection, so one serves every view.
// It is made once and never freed: memory may be freed on a streaming thread at any
// time, and its notice must always find it.
//
// Threads: everything runs on the GUI thread except MemoryGone, which runs on whichever
// thread frees a memory (a streaming thread, the pipeline's stopping thread). It
// touches attached_ and conn_ only under mutex_, and the GUI thread changes conn_
// only under it; xcb itself takes requests from any thread.
class PutConnection {
public:
    // Null when there is no usable connection (see Make).
    static PutConnection* Get()
    {
        static bool tried = false;
        if (!tried) {
            tried = true;
            instance_ = Make();
        }
        if (instance_ && instance_->conn_ && xcb_connection_has_error(instance_->conn_))
            instance_->GiveUp();
        return instance_ && instance_->conn_ && !instance_->refused_ ? instance_ : nullptr;
    }

    // Frames sent whose pixels the server may still have to read.
    std::size_t InFlight() const { return inFlight_.size(); }

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
    // server reports it has read them.
    void Sent(xcb_shm_seg_t seg, const QImage& image)
    {
        inFlight_.emplace_back(seg, image);
        Collect();
        // A server that falls behind must not make frames pile up.
        if (inFlight_.size() > 3)
            Settle();
    }

    // One round trip: the server has then carried out every put sent before it, read
    // their pixels or refused them, and every frame sent can be let go. What it put
    // stays in the window.
    void Settle()
    {
        if (inFlight_.empty())
            return;
        std::free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
        Collect();
        inFlight_.clear();
    }

    // A connection the server has closed takes no more frames, and never comes back:
    // the views paint them instead.
    void GiveUp()
    {
        // Before the lock: letting frames go may free their memory, whose notice locks.
        inFlight_.clear();
        std::lock_guard<std::mutex> lock(mutex_);
        if (conn_)
            xcb_disconnect(conn_);
        conn_ = nullptr;
    }

    // Takes in what the server reported: frames it has read are let go. Errors (a
    // window gone meanwhile) need nothing.
    void Collect()
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(conn_)) {
            if ((event->response_type & 0x7f) == completion_) {
                const auto* done = reinterpret_cast<const xcb_shm_completion_event_t*>(event);
                // Puts are carried out in order: this one and all before it are finished.
                for (auto it = inFlight_.begin(); it != inFlight_.end(); ++it) {
                    if (it->first == done->shmseg) {
                        inFlight_.erase(inFlight_.begin(), it + 1);
                        break;
                    }
                }
            }
            std::free(event);
        }
    }

    // Whether this connection reaches the server the toolkit made `window` on. A window
    // id means nothing across servers, and two servers can look alike in every reply:
    // the window is given a value of its own over the toolkit's connection, which only
    // the same window on the same server can show here.
    bool SeesToolkitWindow(xcb_connection_t* toolkit, xcb_window_t window)
    {
        static const char kName[] = "_KINOLITE_SCREEN_PUT";
        xcb_intern_atom_reply_t* ours =
            xcb_intern_atom_reply(toolkit, xcb_intern_atom(toolkit, 0, sizeof kName - 1, kName), nullptr);
        if (!ours)
            return false;
        const xcb_atom_t atom = ours->atom;
        std::free(ours);
        std::uint32_t token[4];
        QRandomGenerator::system()->fillRange(token);
        xcb_change_property(toolkit, XCB_PROP_MODE_REPLACE, window, atom, XCB_ATOM_CARDINAL, 32, 4, token);
        // The round trip makes sure the server holds the value before it is asked here.
        std::free(xcb_get_input_focus_reply(toolkit, xcb_get_input_focus(toolkit), nullptr));
        xcb_intern_atom_reply_t* theirs =
            xcb_intern_atom_reply(conn_, xcb_intern_atom(conn_, 1, sizeof kName - 1, kName), nullptr);
        xcb_get_property_reply_t* value =
            theirs && theirs->atom == atom
                ? xcb_get_property_reply(conn_, xcb_get_property(conn_, 0, window, atom, XCB_ATOM_CARDINAL, 0, 4),
                                         nullptr)
                : nullptr;
        const bool same = value && value->format == 32 && xcb_get_property_value_length(value) == sizeof token &&
                          std::memcmp(xcb_get_property_value(value), token, sizeof token) == 0;
        std::free(value);
        std::free(theirs);
        xcb_delete_property(toolkit, window, atom);
        xcb_flush(toolkit);
        return same;
    }

private:
    PutConnection(xcb_connection_t* conn, std::uint8_t completion) : conn_(conn), completion_(completion) {}

    // Null off X11, when the server is not local (memory goes to it as an fd, which only
    // a local socket carries), or when it cannot attach memory by fd (MIT-SHM 1.2).
    static PutConnection* Make()
    {
        auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (!x11 || !x11->connection())
            return nullptr;
        // The display the toolkit opened, which need not be DISPLAY (-display). Without
        // Xlib underneath there is no name to take: DISPLAY is tried, and each window
        // proves the server the same (SeesToolkitWindow) before a frame goes to it.
        Display* display = x11->display();
        xcb_connection_t* conn = xcb_connect(display ? XDisplayString(display) : nullptr, nullptr);
        if (xcb_connection_has_error(conn)) {
            xcb_disconnect(conn);
            return nullptr;
        }
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(conn, &xcb_shm_id);
        xcb_shm_query_version_reply_t* version =
            ext && ext->present ? xcb_shm_query_version_reply(conn, xcb_shm_query_version(conn), nullptr) : nullptr;
        const bool usable =
            getsockname(xcb_get_file_descriptor(conn), reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            address.ss_family == AF_UNIX && xcb_get_setup(conn)->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST &&
            version && (version->major_version > 1 || (version->major_version == 1 && version->minor_version >= 2));
        std::free(version);
        if (!usable) {
            xcb_disconnect(conn);
            return nullptr;
        }
        auto* made = new PutConnection(conn, std::uint8_t(ext->first_event + XCB_SHM_COMPLETION));
        qAddPostRoutine(Closing);
        return made;
    }

    // The application is going: closing the connection gives the server every segment
    // back; memory freed later only leaves the table.
    static void Closing()
    {
        if (instance_)
            instance_->GiveUp();
    }

    // The segment goes back at once, from whatever thread freed the memory: the
    // server keeps the pages mapped while it holds it, and once a video is over no
    // later put on the GUI thread may come to give it back. No put can still read it:
    // a frame in flight holds its memory.
    static void MemoryGone(gpointer data, GstMiniObject* object)
    {
        auto* self = static_cast<PutConnection*>(data);
        std::lock_guard<std::mutex> lock(self->mutex_);
        auto it = self->attached_.find(reinterpret_cast<GstMemory*>(object));
        if (it == self->attached_.end())
            return;
        if (self->conn_) {
            xcb_shm_detach(self->conn_, it->second);
            xcb_flush(self->conn_);
        }
        self->attached_.erase(it);
    }

    static inline PutConnection* instance_ = nullptr; // GUI thread only

    std::mutex mutex_;              // guards attached_ and conn_ against MemoryGone
    xcb_connection_t* conn_;        // null once given up or the application has closed
    const std::uint8_t completion_; // the completion event's type
    std::unordered_map<GstMemory*, xcb_shm_seg_t> attached_;
    std::deque<std::pair<xcb_shm_seg_t, QImage>> inFlight_; // GUI thread only
    bool refused_ = false;                                  // GUI thread only
};

} // namespace

std::unique_ptr<ScreenPut> ScreenPut::ForWidget(QWidget* widget)
{
    if (!widget || !SharedFrameAllocator() || !PutConnection::Get())
        return nullptr;
    // The widget gets a window of its own, without making its parents native.
    widget->setAttribute(Qt::WA_DontCreateNativeAncestors);
    widget->setAttribute(Qt::WA_NativeWindow);
    std::unique_ptr<ScreenPut> put(new ScreenPut(widget));
    return put->Bind() ? std::move(put) : nullptr;
}

bool ScreenPut::Bind()
{
    PutConnection* x = PutConnection::Get();
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x || !x11)
        return false;
    xcb_connection_t* conn = x->Connection();
    if (gc_) {
        xcb_free_gc(conn, gc_);
        gc_ = 0;
    }
    window_ = static_cast<xcb_window_t>(widget_->winId());
    // The toolkit's own connection has made the window; the round trip on it there
    // makes sure the server has too before this connection names it.
    if (!x->SeesToolkitWindow(x11->connection(), window_))
        return false;
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(conn, xcb_get_geometry(conn, window_), nullptr);
    if (!geometry)
        return false;
    const std::uint8_t depth = geometry->depth;
    std::free(geometry);
    // Frames are BGRx in memory: a 24-bit visual stored in 32 bits a pixel. (A 32-bit
    // window would take the unused byte for transparency.)
    bool thirtyTwoBits = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(xcb_get_setup(conn)); it.rem; xcb_format_next(&it))
        if (it.data->depth == depth)
            thirtyTwoBits = it.data->bits_per_pixel == 32 && it.data->scanline_pad == 32;
    if (depth != 24 || !thirtyTwoBits)
        return false;
    gc_ = xcb_generate_id(conn);
    const std::uint32_t noExposures = 0;
    xcb_create_gc(conn, gc_, window_, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
    return true;
}

ScreenPut::~ScreenPut()
{
    if (PutConnection* x = PutConnection::Get()) {
        if (gc_)
            xcb_free_gc(x->Connection(), gc_);
        x->Settle();
        xcb_flush(x->Connection());
    }
}

void ScreenPut::Release()
{
    if (PutConnection* x = PutConnection::Get())
        x->Settle();
}

int ScreenPut::FramesHeld()
{
    PutConnection* x = PutConnection::Get();
    return x ? int(x->InFlight()) : 0;
}

bool ScreenPut::Put(GstBuffer* buffer, const QImage& image, const QRect& from, const QPoint& at)
{
    PutConnection* x = PutConnection::Get();
    // Frames are put pixel for pixel: on a scaled screen (the window may have moved to
    // one since the last put) the view's paint scales them.
    if (!x || widget_->devicePixelRatioF() != 1.0 || !buffer || gst_buffer_n_memory(buffer) != 1 ||
        image.format() != QImage::Format_RGB32 || image.bytesPerLine() % 4 != 0 || from.isEmpty() ||
        !image.rect().contains(from))
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
    // Bound again only when the window changes: a window that failed stays failed.
    if (widget_->effectiveWinId() != window_)
        Bind();
    if (!gc_)
        return false;
    const std::optional<xcb_shm_seg_t> seg = x->SegmentFor(mem);
    if (!seg)
        return false;
    xcb_connection_t* conn = x->Connection();
    xcb_shm_put_image(conn, window_, gc_, std::uint16_t(image.bytesPerLine() / 4), std::uint16_t(image.height()),
                      std::uint16_t(from.x()), std::uint16_t(from.y()), std::uint16_t(from.width()),
                      std::uint16_t(from.height()), std::int16_t(at.x()), std::int16_t(at.y()), 24,
                      XCB_IMAGE_FORMAT_Z_PIXMAP, 1, *seg, std::uint32_t(mem->offset + (pixels - start)));
    xcb_flush(conn);
    // Requests on a connection the server has closed vanish without a word.
    if (xcb_connection_has_error(conn)) {
        x->GiveUp();
        return false;
    }
    x->Sent(*seg, image);
    return true;
}

} // namespace kino
