#pragma once
// GStreamer objects a test run leaves alive, as GStreamer's own leaks tracer counts
// them (GST_TRACERS=leaks, set by the sanitizer build for the tests that play media):
// once every player is gone and every retired pipeline stopped, nothing of a source
// may be left. What GStreamer keeps for the whole process (its registry and what it
// lists) is not counted, nor the few objects named below that GStreamer's own
// elements leave behind.
#include <gst/gst.h>

#include <cstdio>
#include <cstring>

#include "player/engine/PipelineReaper.h"
#include "player/engine/PlayerPipeline.h"

namespace gstleaks {

bool KeptByGStreamer(const GValue* object);

// Caps a type finder of the registry describes its finds with.
inline bool HeldByTypeFinder(const GstCaps* caps)
{
    GList* finders = gst_type_find_factory_get_list();
    bool held = false;
    for (GList* f = finders; f && !held; f = f->next)
        held = gst_type_find_factory_get_caps(GST_TYPE_FIND_FACTORY(f->data)) == caps;
    gst_plugin_feature_list_free(finders);
    return held;
}

// Kept by GStreamer itself, with the reason.
inline bool KeptByGStreamer(const GValue* object)
{
    const char* type = G_VALUE_TYPE_NAME(object);
    static const char* const kept[] = {
        // the registry and everything it lists, for the process's life
        "GstRegistry",
        "GstPlugin",
        "GstElementFactory",
        "GstTypeFindFactory",
        "GstDeviceProviderFactory",
        "GstTracerFactory",
        "GstDynamicTypeFactory",
        "GstTracerRecord",
        // playbin's sound path (1.22) keeps a reference to the volume element of its
        // converter that it never drops
        "GstVolume",
    };
    for (const char* name : kept)
        if (std::strcmp(type, name) == 0)
            return true;
    if (G_VALUE_HOLDS(object, GST_TYPE_CAPS))
        return HeldByTypeFinder(static_cast<const GstCaps*>(g_value_get_boxed(object)));
    // the pads of what is kept
    if (G_VALUE_HOLDS(object, GST_TYPE_PAD)) {
        GstObject* parent = GST_OBJECT_PARENT(g_value_get_object(object));
        if (parent) {
            GValue owner = G_VALUE_INIT;
            g_value_init(&owner, G_OBJECT_TYPE(parent));
            g_value_set_object(&owner, parent);
            const bool keptOwner = KeptByGStreamer(&owner);
            g_value_unset(&owner);
            return keptOwner;
        }
    }
    return false;
}

// Prints what is left and returns how many; 0 when the tracer is not running.
inline int ReportLeaks()
{
    GList* tracers = gst_tracing_get_active_tracers();
    int leaks = 0;
    for (GList* t = tracers; t; t = t->next) {
        if (std::strcmp(G_OBJECT_TYPE_NAME(t->data), "GstLeaksTracer") != 0)
            continue;
        // Stopping may still be under way on the reaper's threads.
        kino::PipelineReaper::Shared().Drain(20000);
        // A stopped task is joined before the thread that ran it drops its reference:
        // on a busy machine a source's task was still alive here, and was finalized by
        // that thread while the list below took a reference to it. GStreamer's task
        // threads are waited for first.
        gst_task_cleanup_all();
        GstStructure* info = nullptr;
        g_signal_emit_by_name(t->data, "get-live-objects", &info);
        const GValue* list = info ? gst_structure_get_value(info, "live-objects-list") : nullptr;
        for (guint i = 0; list && i < gst_value_list_get_size(list); ++i) {
            const GstStructure* entry = gst_value_get_structure(gst_value_list_get_value(list, i));
            const GValue* object = gst_structure_get_value(entry, "object");
            if (!object || KeptByGStreamer(object))
                continue;
            gchar* text = gst_structure_to_string(entry);
            std::fprintf(stderr, "GStreamer object left alive: %s\n", text);
            g_free(text);
            ++leaks;
        }
        // The list's values drop a reference they never took: each is taken for them
        // first, or freeing the list would free what the registry still holds.
        for (guint i = 0; list && i < gst_value_list_get_size(list); ++i) {
            const GValue* object =
                gst_structure_get_value(gst_value_get_structure(gst_value_list_get_value(list, i)), "object");
            if (object && G_VALUE_HOLDS_OBJECT(object))
                g_object_ref(g_value_get_object(object));
            else if (object && G_TYPE_IS_BOXED(G_VALUE_TYPE(object)))
                gst_mini_object_ref(GST_MINI_OBJECT_CAST(g_value_get_boxed(object)));
        }
        if (info)
            gst_structure_free(info);
    }
    g_list_free_full(tracers, gst_object_unref);
    return leaks;
}

} // namespace gstleaks
