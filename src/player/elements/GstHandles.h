#pragma once
// Owning handles for GStreamer objects, so that no reference is released by hand.
// A handle either adopts a reference the caller already owns (Adopt) or takes a new
// one (Ref); a floating reference is sunk either way, so the handle always owns
// exactly one reference.
#include <gst/gst.h>

#include <memory>
#include <utility>

namespace kino::gsth {

template <typename T>
class ObjectRef {
public:
    ObjectRef() = default;
    ~ObjectRef() { reset(); }
    ObjectRef(const ObjectRef& other) : p_(other.p_)
    {
        if (p_)
            gst_object_ref(p_);
    }
    ObjectRef(ObjectRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ObjectRef& operator=(ObjectRef other) noexcept
    {
        std::swap(p_, other.p_);
        return *this;
    }

    // Takes over a reference the caller owns; a floating one is sunk.
    static ObjectRef Adopt(T* p)
    {
        ObjectRef r;
        if (p) {
            if (g_object_is_floating(p))
                gst_object_ref_sink(p);
            r.p_ = p;
        }
        return r;
    }
    // Takes a reference of its own; the caller keeps its one.
    static ObjectRef Ref(T* p)
    {
        ObjectRef r;
        if (p)
            r.p_ = static_cast<T*>(gst_object_ref_sink(p));
        return r;
    }

    T* get() const { return p_; }
    GstElement* element() const { return GST_ELEMENT(p_); }
    explicit operator bool() const { return p_ != nullptr; }
    void reset()
    {
        if (p_) {
            gst_object_unref(p_);
            p_ = nullptr;
        }
    }

private:
    T* p_ = nullptr;
};

using Element = ObjectRef<GstElement>;
using Bus = ObjectRef<GstBus>;
using Pad = ObjectRef<GstPad>;

// Mini objects (messages, samples, caps, buffers) with the same two ways in.
template <typename T>
class MiniRef {
public:
    MiniRef() = default;
    ~MiniRef() { reset(); }
    MiniRef(const MiniRef& o) : p_(o.p_)
    {
        if (p_)
            gst_mini_object_ref(GST_MINI_OBJECT_CAST(p_));
    }
    MiniRef(MiniRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    MiniRef& operator=(MiniRef o) noexcept
    {
        std::swap(p_, o.p_);
        return *this;
    }

    static MiniRef Adopt(T* p)
    {
        MiniRef r;
        r.p_ = p;
        return r;
    }
    static MiniRef Ref(T* p)
    {
        MiniRef r;
        if (p) {
            gst_mini_object_ref(GST_MINI_OBJECT_CAST(p));
            r.p_ = p;
        }
        return r;
    }
    T* get() const { return p_; }
    T* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }
    void reset()
    {
        if (p_) {
            gst_mini_object_unref(GST_MINI_OBJECT_CAST(p_));
            p_ = nullptr;
        }
    }

private:
    T* p_ = nullptr;
};

using Message = MiniRef<GstMessage>;
using Sample = MiniRef<GstSample>;
using Caps = MiniRef<GstCaps>;
using Buffer = MiniRef<GstBuffer>;
using Event = MiniRef<GstEvent>;

// A signal connection that disconnects itself.
class SignalConnection {
public:
    SignalConnection() = default;
    SignalConnection(gpointer instance, gulong id) : instance_(instance), id_(id)
    {
        if (instance_)
            g_object_ref(instance_);
    }
    ~SignalConnection() { disconnect(); }
    SignalConnection(const SignalConnection&) = delete;
    SignalConnection& operator=(const SignalConnection&) = delete;
    SignalConnection(SignalConnection&& o) noexcept
        : instance_(std::exchange(o.instance_, nullptr)), id_(std::exchange(o.id_, 0))
    {}
    SignalConnection& operator=(SignalConnection&& o) noexcept
    {
        if (this != &o) {
            disconnect();
            instance_ = std::exchange(o.instance_, nullptr);
            id_ = std::exchange(o.id_, 0);
        }
        return *this;
    }
    void disconnect()
    {
        if (instance_) {
            if (id_ && g_signal_handler_is_connected(instance_, id_))
                g_signal_handler_disconnect(instance_, id_);
            g_object_unref(instance_);
        }
        instance_ = nullptr;
        id_ = 0;
    }

private:
    gpointer instance_ = nullptr;
    gulong id_ = 0;
};

// GLib-allocated text and errors.
struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
struct GErrorDeleter {
    void operator()(GError* e) const
    {
        if (e)
            g_error_free(e);
    }
};
using Text = std::unique_ptr<gchar, GFreeDeleter>;
using Error = std::unique_ptr<GError, GErrorDeleter>;

} // namespace kino::gsth
