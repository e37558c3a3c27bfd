#include "player/elements/JpegDecoder.h"

#include <gst/video/gstvideodecoder.h>
#include <gst/video/video.h>

#include <mutex>

#include "player/elements/JpegPicture.h"

// GST_DEBUG=kinojpegdec:6 traces the decoder: sizes chosen, pictures broken, flushes.
GST_DEBUG_CATEGORY_STATIC(kino_jpeg_dec_debug);
#define GST_CAT_DEFAULT kino_jpeg_dec_debug

namespace {

using kino::jpeg::Cutter;
using kino::jpeg::Picture;
using kino::jpeg::Reader;

constexpr const char* kSourceMeta = "KinoJpegSourceMeta";

// A stream that has shown no picture yet and then this many broken ones in a row is
// not Motion JPEG that a decoder can use: it fails with the decoding error instead of
// playing black to its end. Once a picture has been shown, broken ones cost only
// their frame.
constexpr int kBrokenBeforeAnyPicture = 10;

// The element.

struct KinoJpegDec {
    GstVideoDecoder parent;
    gint wantedWidth; // read and written atomically: set from the GUI thread
    gint wantedHeight;
    gint pictureWidth; // the last picture's own size, read atomically from the GUI thread
    gint pictureHeight;
    // The streaming thread's alone, between start and stop.
    Reader* reader;
    Cutter* cutter;
    bool cutting; // a picture's start has been found and its end is sought
    GstVideoCodecState* input;
    int outWidth, outHeight; // the output state's size; 0 when it must be set anew
    bool outFields;
    int pictures; // pictures decoded
    int broken;   // broken pictures since the last good one
};
struct KinoJpegDecClass {
    GstVideoDecoderClass parent_class;
};

G_DEFINE_TYPE(KinoJpegDec, kino_jpeg_dec, GST_TYPE_VIDEO_DECODER)

KinoJpegDec* Self(gpointer p)
{
    return reinterpret_cast<KinoJpegDec*>(p);
}

enum Property { PropWantedWidth = 1, PropWantedHeight, PropPictureWidth, PropPictureHeight };

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    KinoJpegDec* self = Self(object);
    if (id == PropWantedWidth)
        g_atomic_int_set(&self->wantedWidth, g_value_get_int(value));
    else if (id == PropWantedHeight)
        g_atomic_int_set(&self->wantedHeight, g_value_get_int(value));
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    KinoJpegDec* self = Self(object);
    if (id == PropWantedWidth)
        g_value_set_int(value, g_atomic_int_get(&self->wantedWidth));
    else if (id == PropWantedHeight)
        g_value_set_int(value, g_atomic_int_get(&self->wantedHeight));
    else if (id == PropPictureWidth)
        g_value_set_int(value, g_atomic_int_get(&self->pictureWidth));
    else if (id == PropPictureHeight)
        g_value_set_int(value, g_atomic_int_get(&self->pictureHeight));
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

void Release(KinoJpegDec* self)
{
    delete self->reader;
    self->reader = nullptr;
    delete self->cutter;
    self->cutter = nullptr;
    g_clear_pointer(&self->input, gst_video_codec_state_unref);
}

gboolean Start(GstVideoDecoder* decoder)
{
    KinoJpegDec* self = Self(decoder);
    Release(self);
    self->reader = new Reader;
    self->cutter = new Cutter;
    self->cutting = false;
    self->outWidth = self->outHeight = 0;
    self->pictures = self->broken = 0;
    return TRUE;
}

gboolean Stop(GstVideoDecoder* decoder)
{
    Release(Self(decoder));
    return TRUE;
}

// After a seek the pending bytes are gone: the next picture is sought afresh.
gboolean Flush(GstVideoDecoder* decoder)
{
    KinoJpegDec* self = Self(decoder);
    GST_DEBUG_OBJECT(self, "flushed");
    self->cutting = false;
    if (self->cutter)
        self->cutter->Reset();
    return TRUE;
}

gboolean SetFormat(GstVideoDecoder* decoder, GstVideoCodecState* state)
{
    KinoJpegDec* self = Self(decoder);
    g_clear_pointer(&self->input, gst_video_codec_state_unref);
    self->input = gst_video_codec_state_ref(state);
    // The rate or aspect may have changed: the next frame states its output again.
    self->outWidth = self->outHeight = 0;
    // A demuxer hands over one picture (or one pair of fields) per buffer and says so
    // by a frame rate or "parsed"; anything else (a bare JPEG file, a stream of them)
    // is cut into pictures here.
    gboolean parsed = FALSE;
    const GstStructure* caps = state->caps ? gst_caps_get_structure(state->caps, 0) : nullptr;
    const bool framed = GST_VIDEO_INFO_FPS_N(&state->info) > 0 ||
                        (caps && gst_structure_get_boolean(caps, "parsed", &parsed) && parsed);
    gst_video_decoder_set_packetized(decoder, framed);
    Flush(decoder);
    return TRUE;
}

GstFlowReturn Parse(GstVideoDecoder* decoder, GstVideoCodecFrame*, GstAdapter* adapter, gboolean atEos)
{
    KinoJpegDec* self = Self(decoder);
    gsize available = gst_adapter_available(adapter);
    if (!self->cutter)
        return GST_FLOW_ERROR;
    if (!self->cutting) {
        const gssize start =
            available >= 4 ? gst_adapter_masked_scan_uint32(adapter, 0xffff0000, 0xffd80000, 0, guint(available)) : -1;
        if (start < 0) {
            // No picture starts here; the last bytes may begin one.
            gst_adapter_flush(adapter, atEos ? available : available > 3 ? available - 3 : 0);
            return GST_VIDEO_DECODER_FLOW_NEED_DATA;
        }
        gst_adapter_flush(adapter, gsize(start));
        available -= gsize(start);
        self->cutting = true;
        self->cutter->Reset();
    }
    gsize end = self->cutter->Scan([adapter](std::size_t from, std::size_t count,
                                             std::uint8_t* out) { gst_adapter_copy(adapter, out, from, count); },
                                   available);
    if (end == 0) {
        if (!atEos)
            return GST_VIDEO_DECODER_FLOW_NEED_DATA;
        end = available; // the stream's last picture, cut short: decoded as far as it goes
    }
    self->cutting = false;
    gst_video_decoder_add_to_frame(decoder, int(end));
    return gst_video_decoder_have_frame(decoder);
}

bool EnsureOutput(KinoJpegDec* self, int width, int height, bool fields)
{
    if (width == self->outWidth && height == self->outHeight && fields == self->outFields)
        return true;
    auto* decoder = GST_VIDEO_DECODER(self);
    GstVideoCodecState* state =
        gst_video_decoder_set_output_state(decoder, GST_VIDEO_FORMAT_BGRx, guint(width), guint(height), self->input);
    if (!state)
        return false;
    // RGB made by libjpeg: the JPEG's own YCbCr matrix is already applied.
    GstVideoInfo rgb;
    if (gst_video_info_set_format(&rgb, GST_VIDEO_FORMAT_BGRx, guint(width), guint(height))) {
        state->info.colorimetry = rgb.colorimetry;
        state->info.chroma_site = rgb.chroma_site;
    }
    state->info.interlace_mode = fields ? GST_VIDEO_INTERLACE_MODE_INTERLEAVED : GST_VIDEO_INTERLACE_MODE_PROGRESSIVE;
    gst_video_codec_state_unref(state);
    if (!gst_video_decoder_negotiate(decoder)) {
        GST_WARNING_OBJECT(self, "output of %dx%d not taken downstream", width, height);
        return false;
    }
    GST_DEBUG_OBJECT(self, "decoding to %dx%d%s", width, height, fields ? ", two fields a picture" : "");
    self->outWidth = width;
    self->outHeight = height;
    self->outFields = fields;
    return true;
}

GstFlowReturn Broken(GstVideoDecoder* decoder, GstVideoCodecFrame* frame, const char* what)
{
    KinoJpegDec* self = Self(decoder);
    GstFlowReturn flow = GST_FLOW_OK;
    ++self->broken;
    GST_INFO_OBJECT(self, "broken picture (%d in a row, %d decoded so far): %s", self->broken, self->pictures, what);
    if (self->pictures == 0 && self->broken >= kBrokenBeforeAnyPicture) {
        GST_ELEMENT_ERROR(decoder, STREAM, DECODE, ("Failed to decode JPEG image"),
                          ("no picture of the stream decodes: %s", what));
        flow = GST_FLOW_ERROR;
    } else {
        // Counted against the decoder's error allowance as well.
        GST_VIDEO_DECODER_ERROR(decoder, 1, STREAM, DECODE, ("Failed to decode JPEG image"), ("%s", what), flow);
    }
    gst_video_decoder_drop_frame(decoder, frame);
    return flow;
}

// At the end of the stream: one that held only broken pictures, fewer than it takes
// to fail on the way, fails now.
GstFlowReturn Finish(GstVideoDecoder* decoder)
{
    KinoJpegDec* self = Self(decoder);
    if (self->pictures > 0 || self->broken == 0)
        return GST_FLOW_OK;
    GST_ELEMENT_ERROR(decoder, STREAM, DECODE, ("Failed to decode JPEG image"), ("no picture of the stream decodes"));
    return GST_FLOW_ERROR;
}

GstFlowReturn HandleFrame(GstVideoDecoder* decoder, GstVideoCodecFrame* frame)
{
    KinoJpegDec* self = Self(decoder);
    if (!self->reader)
        return Broken(decoder, frame, "not started");
    GstMapInfo in;
    if (!gst_buffer_map(frame->input_buffer, &in, GST_MAP_READ))
        return Broken(decoder, frame, "input not readable");
    const int capsWidth = self->input ? GST_VIDEO_INFO_WIDTH(&self->input->info) : 0;
    const int capsHeight = self->input ? GST_VIDEO_INFO_HEIGHT(&self->input->info) : 0;
    Picture picture;
    if (!kino::jpeg::ReadPicture(*self->reader, in.data, in.size, capsWidth, capsHeight, &picture)) {
        gst_buffer_unmap(frame->input_buffer, &in);
        return Broken(decoder, frame, "no picture, or one too large");
    }
    g_atomic_int_set(&self->pictureWidth, picture.width);
    g_atomic_int_set(&self->pictureHeight, picture.height);
    const int denom =
        kino::jpeg::ChooseDenom(picture, g_atomic_int_get(&self->wantedWidth), g_atomic_int_get(&self->wantedHeight));
    int width = 0, height = 0;
    kino::jpeg::FrameSize(picture, denom, &width, &height);
    GST_LOG_OBJECT(self, "picture %dx%d decoded at 1/%d", picture.width, picture.height, denom);
    if (!EnsureOutput(self, width, height, picture.fields)) {
        gst_buffer_unmap(frame->input_buffer, &in);
        gst_video_decoder_drop_frame(decoder, frame);
        return GST_FLOW_NOT_NEGOTIATED;
    }
    GstFlowReturn flow = gst_video_decoder_allocate_output_frame(decoder, frame);
    if (flow != GST_FLOW_OK) {
        gst_buffer_unmap(frame->input_buffer, &in);
        gst_video_decoder_drop_frame(decoder, frame);
        return flow;
    }
    GstVideoCodecState* out = gst_video_decoder_get_output_state(decoder);
    GstVideoFrame pixels;
    const bool mapped = out && gst_video_frame_map(&pixels, &out->info, frame->output_buffer, GST_MAP_WRITE);
    if (out)
        gst_video_codec_state_unref(out);
    if (!mapped) {
        gst_buffer_unmap(frame->input_buffer, &in);
        return Broken(decoder, frame, "output not writable");
    }
    const bool decoded = kino::jpeg::DecodePicture(*self->reader, in.data, in.size, picture, denom,
                                                   static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&pixels, 0)),
                                                   gsize(GST_VIDEO_FRAME_PLANE_STRIDE(&pixels, 0)));
    gst_video_frame_unmap(&pixels);
    gst_buffer_unmap(frame->input_buffer, &in);
    if (!decoded)
        return Broken(decoder, frame, "broken picture data");
    ++self->pictures;
    self->broken = 0;
    // A copy of the frame wants the whole picture: the JPEG it can be decoded from again
    // rides along, and survives the scaling and any copy of the frame. It is all a copy
    // needs to keep, where the decoded picture may be hundreds of megabytes.
    GstCustomMeta* meta = gst_buffer_add_custom_meta(frame->output_buffer, kSourceMeta);
    if (meta)
        gst_structure_set(gst_custom_meta_get_structure(meta), "jpeg", GST_TYPE_BUFFER, frame->input_buffer,
                          "caps-width", G_TYPE_INT, capsWidth, "caps-height", G_TYPE_INT, capsHeight, nullptr);
    return gst_video_decoder_finish_frame(decoder, frame);
}

void Finalize(GObject* object)
{
    Release(Self(object));
    G_OBJECT_CLASS(kino_jpeg_dec_parent_class)->finalize(object);
}

void kino_jpeg_dec_class_init(KinoJpegDecClass* klass)
{
    GST_DEBUG_CATEGORY_INIT(kino_jpeg_dec_debug, "kinojpegdec", 0, "KINOLITE's Motion JPEG decoder");
    GObjectClass* object = G_OBJECT_CLASS(klass);
    object->set_property = SetProperty;
    object->get_property = GetProperty;
    object->finalize = Finalize;
    const auto flags = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(object, PropWantedWidth,
                                    g_param_spec_int("wanted-width", "Wanted width",
                                                     "Width frames are shown at (0: the picture's own)", 0, G_MAXINT, 0,
                                                     flags));
    g_object_class_install_property(object, PropWantedHeight,
                                    g_param_spec_int("wanted-height", "Wanted height",
                                                     "Height frames are shown at (0: the picture's own)", 0, G_MAXINT,
                                                     0, flags));
    // What the frames stand for, whatever size they are decoded at.
    const auto readable = GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(object, PropPictureWidth,
                                    g_param_spec_int("picture-width", "Picture width",
                                                     "The last picture's own width (0: none yet)", 0, G_MAXINT, 0,
                                                     readable));
    g_object_class_install_property(object, PropPictureHeight,
                                    g_param_spec_int("picture-height", "Picture height",
                                                     "The last picture's own height (0: none yet)", 0, G_MAXINT, 0,
                                                     readable));
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    static GstStaticPadTemplate sinkTemplate =
        GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("image/jpeg"));
    static GstStaticPadTemplate srcTemplate =
        GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("BGRx")));
    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    gst_element_class_set_static_metadata(element, "KINOLITE JPEG decoder", "Codec/Decoder/Image",
                                          "Decodes Motion JPEG to BGRx at the size it is shown", "KINOLITE");
    GstVideoDecoderClass* video = GST_VIDEO_DECODER_CLASS(klass);
    video->start = Start;
    video->stop = Stop;
    video->set_format = SetFormat;
    video->parse = Parse;
    video->handle_frame = HandleFrame;
    video->flush = Flush;
    video->finish = Finish;
}

void kino_jpeg_dec_init(KinoJpegDec* self)
{
    auto* decoder = GST_VIDEO_DECODER(self);
    gst_video_decoder_set_use_default_pad_acceptcaps(decoder, TRUE);
    GST_PAD_SET_ACCEPT_TEMPLATE(GST_VIDEO_DECODER_SINK_PAD(decoder));
}

} // namespace

namespace kino {

void RegisterJpegDecoder()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // No tags: every element that copies a frame's metas keeps this one.
        static const gchar* noTags[] = {nullptr};
        gst_meta_register_custom(kSourceMeta, noTags, nullptr, nullptr, nullptr);
        // Ahead of the stock decoder, which decodes every picture at its own size.
        gst_element_register(nullptr, kJpegDecoderName, GST_RANK_PRIMARY + 1, kino_jpeg_dec_get_type());
    });
}

gsth::Buffer JpegSourceOf(GstBuffer* frame, int* capsWidth, int* capsHeight)
{
    GstCustomMeta* meta = frame ? gst_buffer_get_custom_meta(frame, kSourceMeta) : nullptr;
    if (!meta)
        return {};
    GstStructure* facts = gst_custom_meta_get_structure(meta);
    GstBuffer* jpeg = nullptr;
    if (!gst_structure_get(facts, "jpeg", GST_TYPE_BUFFER, &jpeg, "caps-width", G_TYPE_INT, capsWidth, "caps-height",
                           G_TYPE_INT, capsHeight, nullptr))
        return {};
    return gsth::Buffer::Adopt(jpeg);
}

gsth::Sample FullJpegPictureOf(GstBuffer* frame)
{
    int capsWidth = 0, capsHeight = 0;
    gsth::Buffer source = JpegSourceOf(frame, &capsWidth, &capsHeight);
    if (!source)
        return {};
    GstMapInfo in;
    if (!gst_buffer_map(source.get(), &in, GST_MAP_READ))
        return {};
    Reader reader;
    Picture picture;
    gsth::Sample sample;
    if (kino::jpeg::ReadPicture(reader, in.data, in.size, capsWidth, capsHeight, &picture)) {
        GstVideoInfo info;
        const bool sized =
            gst_video_info_set_format(&info, GST_VIDEO_FORMAT_BGRx, guint(picture.width), guint(picture.height));
        gsth::Buffer full =
            sized ? gsth::Buffer::Adopt(gst_buffer_new_allocate(nullptr, info.size, nullptr)) : gsth::Buffer();
        GstMapInfo out;
        if (full && gst_buffer_map(full.get(), &out, GST_MAP_WRITE)) {
            const bool decoded = kino::jpeg::DecodePicture(reader, in.data, in.size, picture, 1, out.data,
                                                           gsize(GST_VIDEO_INFO_PLANE_STRIDE(&info, 0)));
            gst_buffer_unmap(full.get(), &out);
            gsth::Caps caps = gsth::Caps::Adopt(gst_video_info_to_caps(&info));
            if (decoded && caps)
                sample = gsth::Sample::Adopt(gst_sample_new(full.get(), caps.get(), nullptr, nullptr));
        }
    }
    gst_buffer_unmap(source.get(), &in);
    return sample;
}

} // namespace kino
