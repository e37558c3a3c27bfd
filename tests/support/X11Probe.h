#pragma once
// What the X server holds for a window: its caption and where its frame lies. The
// questions go over the application's own X connection, so they are answered after
// every request Qt has made before them.
#include <QGuiApplication>
#include <QRect>
#include <QString>

#include <xcb/xcb.h>

#include <cstdlib>

namespace x11probe {

inline xcb_connection_t* Connection()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

inline xcb_window_t Root(xcb_connection_t* c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

inline xcb_atom_t Atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// The bytes of a window's property; empty when it is not set.
inline QByteArray Property(xcb_window_t window, const char* name)
{
    xcb_connection_t* c = Connection();
    if (!c)
        return {};
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, Atom(c, name), XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr);
    QByteArray bytes;
    if (reply)
        bytes =
            QByteArray(static_cast<const char*>(xcb_get_property_value(reply)), xcb_get_property_value_length(reply));
    std::free(reply);
    return bytes;
}

// The caption the desktop shows for a window (_NET_WM_NAME, UTF-8).
inline QString NetWmName(WId window)
{
    return QString::fromUtf8(Property(xcb_window_t(window), "_NET_WM_NAME"));
}

// True once a window manager has announced itself on the screen.
inline bool WindowManagerRunning()
{
    xcb_connection_t* c = Connection();
    return c && !Property(Root(c), "_NET_SUPPORTING_WM_CHECK").isEmpty();
}

// The window's outermost ancestor below the root: the frame a window manager put it
// in, or the window itself when nothing framed it.
inline xcb_window_t Outermost(xcb_connection_t* c, xcb_window_t window)
{
    const xcb_window_t root = Root(c);
    for (;;) {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
        if (!tree)
            return window;
        const xcb_window_t parent = tree->parent;
        std::free(tree);
        if (parent == root || parent == XCB_WINDOW_NONE)
            return window;
        window = parent;
    }
}

// True when a window manager has put the window into a frame of its own.
inline bool IsFramed(WId window)
{
    xcb_connection_t* c = Connection();
    return c && Outermost(c, xcb_window_t(window)) != xcb_window_t(window);
}

// The screen rectangle of the window with its frame, as the X server holds it.
inline QRect FrameRect(WId window)
{
    xcb_connection_t* c = Connection();
    if (!c)
        return {};
    const xcb_window_t outer = Outermost(c, xcb_window_t(window));
    xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, outer), nullptr);
    if (!g)
        return {};
    const QRect rect(g->x, g->y, g->width + 2 * g->border_width, g->height + 2 * g->border_width);
    std::free(g);
    return rect;
}

} // namespace x11probe
