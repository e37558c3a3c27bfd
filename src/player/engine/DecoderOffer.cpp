#include "player/engine/DecoderOffer.h"

#include "player/engine/PlayerLog.h"

namespace kino {

namespace {

constexpr const char* kCandidatesKey = "kinolite-candidates";

gint CompareCandidates(gconstpointer a, gconstpointer b)
{
    auto* first = GST_ELEMENT_FACTORY(const_cast<gpointer>(a));
    auto* second = GST_ELEMENT_FACTORY(const_cast<gpointer>(b));
    for (const GstElementFactoryListType type : {GST_ELEMENT_FACTORY_TYPE_SINK, GST_ELEMENT_FACTORY_TYPE_PARSER}) {
        const bool is1 = gst_element_factory_list_is_type(first, type);
        const bool is2 = gst_element_factory_list_is_type(second, type);
        if (is1 != is2)
            return is1 ? -1 : 1;
    }
    return gst_plugin_feature_rank_compare_func(a, b);
}

// The signal's return type is GLib's deprecated value array.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS
GValueArray* ArrayOf(GList* factories)
{
    GValueArray* array = g_value_array_new(g_list_length(factories));
    for (GList* l = factories; l; l = l->next) {
        GValue value = G_VALUE_INIT;
        g_value_init(&value, G_TYPE_OBJECT);
        g_value_set_object(&value, l->data);
        g_value_array_append(array, &value);
        g_value_unset(&value);
    }
    return array;
}
G_GNUC_END_IGNORE_DEPRECATIONS

// Decodebin's "autoplug-factories": the candidates (read-only, so any streaming thread
// may ask at once) that take `caps`.
GValueArray* Answer(GstElement* decodebin, GstPad*, GstCaps* caps, gpointer)
{
    auto* candidates = static_cast<GList*>(g_object_get_data(G_OBJECT(decodebin), kCandidatesKey));
    GstCaps* any = caps ? nullptr : gst_caps_new_any();
    GstCaps* asked = caps ? caps : any;
    GList* taking = gst_element_factory_list_filter(candidates, asked, GST_PAD_SINK, gst_caps_is_fixed(asked));
    if (any)
        gst_caps_unref(any);
    GValueArray* answer = ArrayOf(taking);
    gst_plugin_feature_list_free(taking);
    return answer;
}

} // namespace

bool OfferElementsOurselves(GstElement* decodebin)
{
    if (g_object_get_data(G_OBJECT(decodebin), kCandidatesKey))
        return true;
    // uridecodebin relays the question to playbin with a handler whose data is itself;
    // the first handler to answer is the answer, so with the relay held ours is asked.
    GstObject* relay = GST_OBJECT_PARENT(decodebin);
    const guint question = g_signal_lookup("autoplug-factories", G_OBJECT_TYPE(decodebin));
    if (!relay || !question)
        return false;
    const auto match = GSignalMatchType(G_SIGNAL_MATCH_ID | G_SIGNAL_MATCH_DATA);
    const guint held = g_signal_handlers_block_matched(decodebin, match, question, 0, nullptr, nullptr, relay);
    if (held != 1) {
        g_signal_handlers_unblock_matched(decodebin, match, question, 0, nullptr, nullptr, relay);
        qCDebug(lcPlayer) << "playbin chooses the elements to try:" << held << "relays found";
        return false;
    }
    GList* candidates = g_list_concat(
        gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODABLE, GST_RANK_MARGINAL),
        gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_AUDIOVIDEO_SINKS, GST_RANK_MARGINAL));
    if (!candidates) {
        g_signal_handlers_unblock_matched(decodebin, match, question, 0, nullptr, nullptr, relay);
        return false;
    }
    candidates = g_list_sort(candidates, CompareCandidates);
    g_object_set_data_full(G_OBJECT(decodebin), kCandidatesKey, candidates,
                           [](gpointer list) { gst_plugin_feature_list_free(static_cast<GList*>(list)); });
    g_signal_connect(decodebin, "autoplug-factories", G_CALLBACK(Answer), nullptr);
    return true;
}

} // namespace kino
