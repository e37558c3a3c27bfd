#include "player/engine/DecoderOffer.h"

#include <mutex>

#include "player/engine/PlayerLog.h"

namespace kino {

namespace {

constexpr const char* kOfferKey = "kinolite-offer";

// What one decodebin is answered from: filled on the thread that builds the pipeline,
// read on any streaming thread, each under the lock (GLib's own locks, which hand the
// offer over, are invisible to the thread checker).
struct Offer {
    std::mutex mutex;
    GList* candidates = nullptr;
    GstElement* videoSink = nullptr;
    GstElement* audioSink = nullptr;

    ~Offer()
    {
        gst_plugin_feature_list_free(candidates);
        if (videoSink)
            gst_object_unref(videoSink);
        if (audioSink)
            gst_object_unref(audioSink);
    }
};

gint CompareCandidates(gconstpointer a, gconstpointer b)
{
    auto* first = GST_ELEMENT_FACTORY(const_cast<gpointer>(a));
    auto* second = GST_ELEMENT_FACTORY(const_cast<gpointer>(b));
    const bool parser1 = gst_element_factory_list_is_type(first, GST_ELEMENT_FACTORY_TYPE_PARSER);
    const bool parser2 = gst_element_factory_list_is_type(second, GST_ELEMENT_FACTORY_TYPE_PARSER);
    if (parser1 != parser2)
        return parser1 ? -1 : 1;
    return gst_plugin_feature_rank_compare_func(a, b);
}

Offer& OfferOf(GstElement* decodebin)
{
    return *static_cast<Offer*>(g_object_get_data(G_OBJECT(decodebin), kOfferKey));
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

// Decodebin's "autoplug-factories": the candidates that take `caps`.
GValueArray* Candidates(GstElement* decodebin, GstPad*, GstCaps* caps, gpointer)
{
    GstCaps* any = caps ? nullptr : gst_caps_new_any();
    GstCaps* asked = caps ? caps : any;
    Offer& offer = OfferOf(decodebin);
    GList* taking = nullptr;
    {
        std::lock_guard<std::mutex> lock(offer.mutex);
        taking = gst_element_factory_list_filter(offer.candidates, asked, GST_PAD_SINK, gst_caps_is_fixed(asked));
    }
    if (any)
        gst_caps_unref(any);
    GValueArray* answer = ArrayOf(taking);
    gst_plugin_feature_list_free(taking);
    return answer;
}

GstCaps* CapsOfSink(GstElement* sink)
{
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    if (!pad)
        return nullptr;
    GstCaps* caps = gst_pad_query_caps(pad, nullptr);
    gst_object_unref(pad);
    return caps;
}

// Whether a decoder made by `factory` can feed `sink`. Sound passes a converter first
// (playbin's native-audio flag is off), so any plain sound will do where the sink takes
// plain sound; pictures go to our own video path as the decoder gives them.
bool CanFeed(GstElementFactory* factory, GstElement* sink, bool sound)
{
    GstCaps* sinkCaps = CapsOfSink(sink);
    if (!sinkCaps)
        return true;
    bool feeds = gst_element_factory_can_src_any_caps(factory, sinkCaps);
    if (!feeds && sound) {
        GstCaps* plain = gst_caps_from_string("audio/x-raw(ANY)");
        feeds = gst_caps_can_intersect(sinkCaps, plain) && gst_element_factory_can_src_any_caps(factory, plain);
        gst_caps_unref(plain);
    }
    gst_caps_unref(sinkCaps);
    return feeds;
}

// Decodebin's "autoplug-select" (values of GstAutoplugSelectResult, which playback
// installs no header for).
enum Select : gint { SelectTry = 0, SelectSkip = 2 };

gint Choose(GstElement* decodebin, GstPad*, GstCaps*, GstElementFactory* factory, gpointer)
{
    Offer& offer = OfferOf(decodebin);
    const bool picture = gst_element_factory_list_is_type(factory, GST_ELEMENT_FACTORY_TYPE_DECODER |
                                                                       GST_ELEMENT_FACTORY_TYPE_MEDIA_VIDEO |
                                                                       GST_ELEMENT_FACTORY_TYPE_MEDIA_IMAGE);
    const bool sound = gst_element_factory_list_is_type(factory, GST_ELEMENT_FACTORY_TYPE_DECODER |
                                                                     GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO);
    GstElement* sink = nullptr;
    {
        std::lock_guard<std::mutex> lock(offer.mutex);
        sink = sound ? offer.audioSink : picture ? offer.videoSink : nullptr;
    }
    if (!sink)
        return SelectTry;
    return CanFeed(factory, sink, sound) ? SelectTry : SelectSkip;
}

} // namespace

bool OfferElementsOurselves(GstElement* decodebin, GstElement* videoSink, GstElement* audioSink)
{
    if (g_object_get_data(G_OBJECT(decodebin), kOfferKey))
        return true;
    // uridecodebin relays both questions to playbin with handlers whose data is itself;
    // the first handler to answer is the answer, so with the relays held ours are asked.
    GstObject* relay = GST_OBJECT_PARENT(decodebin);
    const guint factories = g_signal_lookup("autoplug-factories", G_OBJECT_TYPE(decodebin));
    const guint select = g_signal_lookup("autoplug-select", G_OBJECT_TYPE(decodebin));
    if (!relay || !factories || !select)
        return false;
    const auto match = GSignalMatchType(G_SIGNAL_MATCH_ID | G_SIGNAL_MATCH_DATA);
    const auto hold = [&](guint signal) {
        return g_signal_handlers_block_matched(decodebin, match, signal, 0, nullptr, nullptr, relay);
    };
    const auto release = [&](guint signal) {
        g_signal_handlers_unblock_matched(decodebin, match, signal, 0, nullptr, nullptr, relay);
    };
    GList* candidates = gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODABLE, GST_RANK_MARGINAL);
    const guint heldFactories = hold(factories);
    const guint heldSelect = hold(select);
    if (heldFactories != 1 || heldSelect != 1 || !candidates) {
        release(factories);
        release(select);
        gst_plugin_feature_list_free(candidates);
        qCDebug(lcPlayer) << "playbin chooses the elements to try";
        return false;
    }
    auto* offer = new Offer;
    {
        std::lock_guard<std::mutex> lock(offer->mutex);
        offer->candidates = g_list_sort(candidates, CompareCandidates);
        offer->videoSink = videoSink ? GST_ELEMENT(gst_object_ref(videoSink)) : nullptr;
        offer->audioSink = audioSink ? GST_ELEMENT(gst_object_ref(audioSink)) : nullptr;
    }
    g_object_set_data_full(G_OBJECT(decodebin), kOfferKey, offer, [](gpointer p) { delete static_cast<Offer*>(p); });
    g_signal_connect(decodebin, "autoplug-factories", G_CALLBACK(Candidates), nullptr);
    g_signal_connect(decodebin, "autoplug-select", G_CALLBACK(Choose), nullptr);
    return true;
}

} // namespace kino
