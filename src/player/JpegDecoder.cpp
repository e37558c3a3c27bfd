#include "player/JpegDecoder.h"

#include <gst/video/gstvideodecoder.h>
#include <gst/video/video.h>

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE
#include <cstring>
#include <mutex>

#include <jpeglib.h>

namespace {

// Larger pictures are taken as broken: a bad header must not make us allocate
// gigabytes. 40 million pixels is above 8K.
constexpr int kMaxSide = 16384;
constexpr gint64 kMaxPixels = 40'000'000;

constexpr const char* kSourceMeta = "KinoJpegSourceMeta";

// libjpeg reports errors by calling error_exit, which must not return: it jumps back
// to the call that started the work. No C++ object with a destructor lives between
// the setjmp and libjpeg's frames.
struct ErrorJump {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void OnJpegError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorJump*>(info->err)->jump, 1);
}

// Warnings (corrupt data, a picture cut short) are not errors: the picture is shown
// as far as it could be decoded.
void OnJpegMessage(j_common_ptr) {}

// Adobe's CMYK JPEGs store the inks inverted; either way each pixel becomes BGRx in
// place, as CMYK and BGRx both take four bytes.
void CmykToBgrx(JSAMPROW row, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x) {
        guint8* p = row + 4 * x;
        const unsigned c = inverted ? p[0] : 255 - p[0];
        const unsigned m = inverted ? p[1] : 255 - p[1];
        const unsigned y = inverted ? p[2] : 255 - p[2];
        const unsigned k = inverted ? p[3] : 255 - p[3];
        p[0] = guint8(y * k / 255);
        p[1] = guint8(m * k / 255);
        p[2] = guint8(c * k / 255);
        p[3] = 255;
    }
}

// One libjpeg decompressor, kept for the decoder's life.
class JpegReader {
public:
    JpegReader()
    {
        info_.err = jpeg_std_error(&error_.pub);
        error_.pub.error_exit = OnJpegError;
        error_.pub.output_message = OnJpegMessage;
        if (setjmp(error_.jump))
            return;
        jpeg_create_decompress(&info_);
        created_ = true;
    }
    ~JpegReader()
    {
        if (created_)
            jpeg_destroy_decompress(&info_);
    }
    JpegReader(const JpegReader&) = delete;
    JpegReader& operator=(const JpegReader&) = delete;

    // Reads the header of the picture at `data`; false when it holds none.
    bool ReadHeader(const guint8* data, gsize size)
    {
        if (!created_ || size == 0)
            return false;
        begin_ = data;
        // Whatever the last picture left unfinished (a header read for a picture then
        // refused) is dropped first.
        jpeg_abort_decompress(&info_);
        if (setjmp(error_.jump)) {
            jpeg_abort_decompress(&info_);
            return false;
        }
        jpeg_mem_src(&info_, data, static_cast<unsigned long>(size));
        if (jpeg_read_header(&info_, TRUE) != JPEG_HEADER_OK) {
            jpeg_abort_decompress(&info_);
            return false;
        }
        return true;
    }
    int Width() const { return int(info_.image_width); }
    int Height() const { return int(info_.image_height); }

    // Decodes the picture whose header was read, at 1/denom of its size, which must
    // come to width x rows; row r goes to first + r * step, width * 4 bytes of BGRx.
    bool Decode(int denom, int width, int rows, guint8* first, gsize step)
    {
        if (setjmp(error_.jump)) {
            jpeg_abort_decompress(&info_);
            return false;
        }
        info_.scale_num = 1;
        info_.scale_denom = unsigned(denom);
        info_.dct_method = JDCT_IFAST;
        const bool cmyk = info_.jpeg_color_space == JCS_CMYK || info_.jpeg_color_space == JCS_YCCK;
        info_.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
        jpeg_calc_output_dimensions(&info_);
        if (int(info_.output_width) != width || int(info_.output_height) != rows) {
            jpeg_abort_decompress(&info_);
            return false;
        }
        jpeg_start_decompress(&info_);
        constexpr int kBatch = 16;
        JSAMPROW batch[kBatch];
        while (info_.output_scanline < info_.output_height) {
            const JDIMENSION at = info_.output_scanline;
            const int count = int(std::min<JDIMENSION>(kBatch, info_.output_height - at));
            for (int i = 0; i < count; ++i)
                batch[i] = first + step * (at + JDIMENSION(i));
            const JDIMENSION read = jpeg_read_scanlines(&info_, batch, JDIMENSION(count));
            if (read == 0) // cannot happen with memory as the source; never spin
                break;
            if (cmyk)
                for (JDIMENSION i = 0; i < read; ++i)
                    CmykToBgrx(batch[i], info_.output_width, info_.saw_Adobe_marker);
        }
        jpeg_finish_decompress(&info_);
        return true;
    }

    // Bytes of the data given to ReadHeader that the last picture took.
    gsize Consumed() const { return gsize(info_.src->next_input_byte - begin_); }

private:
    jpeg_decompress_struct info_{};
    ErrorJump error_{};
    const guint8* begin_ = nullptr;
    bool created_ = false;
};

// What a buffer holds: one picture, or two fields of one (one JPEG each, the second
// following the first), which the stream's caps tell by a height up to twice the
// JPEG's.
struct Picture {
    int width = 0;
    int height = 0; // of the whole picture, both fields
    bool fields = false;
};

bool ReadPicture(JpegReader& reader, const guint8* data, gsize size, int capsWidth, int capsHeight, Picture* picture)
{
    if (!reader.ReadHeader(data, size))
        return false;
    const int w = reader.Width();
    const int h = reader.Height();
    picture->fields = capsWidth == w && capsHeight > h && capsHeight <= 2 * h;
    picture->width = w;
    picture->height = picture->fields ? 2 * h : h;
    return w > 0 && h > 0 && picture->width <= kMaxSide && picture->height <= kMaxSide &&
           gint64(picture->width) * picture->height <= kMaxPixels;
}

int Reduced(int size, int denom)
{
    return (size + denom - 1) / denom;
}

// The frame's size for a picture decoded at 1/denom.
void FrameSize(const Picture& picture, int denom, int* width, int* height)
{
    *width = Reduced(picture.width, denom);
    *height = picture.fields ? 2 * Reduced(picture.height / 2, denom) : Reduced(picture.height, denom);
}

// The largest reduction whose frame is still at least the wanted size: 1, 2, 4 or 8,
// the reductions libjpeg has fast transforms for.
int ChooseDenom(const Picture& picture, int wantedWidth, int wantedHeight)
{
    if (wantedWidth <= 0 || wantedHeight <= 0)
        return 1;
    int chosen = 1;
    for (int denom : {2, 4, 8}) {
        int w = 0, h = 0;
        FrameSize(picture, denom, &w, &h);
        if (w < wantedWidth || h < wantedHeight)
            break;
        chosen = denom;
    }
    return chosen;
}

// Decodes the picture (both fields, interleaved) into BGRx rows. A second field that
// is missing or broken repeats the first, so the frame is still whole.
bool DecodePicture(JpegReader& reader, const guint8* data, gsize size, const Picture& picture, int denom,
                   guint8* pixels, gsize stride)
{
    int width = 0, height = 0;
    FrameSize(picture, denom, &width, &height);
    if (!picture.fields)
        return reader.Decode(denom, width, height, pixels, stride);
    const int fieldRows = height / 2;
    if (!reader.Decode(denom, width, fieldRows, pixels, 2 * stride))
        return false;
    bool second = false;
    for (gsize at = reader.Consumed(); at + 1 < size && !second; ++at) {
        if (data[at] != 0xFF || data[at + 1] != 0xD8)
            continue;
        second = reader.ReadHeader(data + at, size - at) && reader.Width() == picture.width &&
                 reader.Height() == picture.height / 2 &&
                 reader.Decode(denom, width, fieldRows, pixels + stride, 2 * stride);
        break;
    }
    if (!second)
        for (int r = 0; r < fieldRows; ++r)
            std::memcpy(pixels + (2 * r + 1) * stride, pixels + 2 * r * stride, gsize(width) * 4);
    return true;
}

// Where the JPEG that starts at data[0] ends, just past its end-of-image marker; 0
// when the data does not hold the whole picture yet. Walks the segments, so an end
// marker inside one (a thumbnail in a header) does not end the picture.
gsize PictureEnd(const guint8* data, gsize size)
{
    const auto restartOrStuffed = [](guint8 marker) { return marker == 0x00 || (marker >= 0xD0 && marker <= 0xD7); };
    gsize at = 2;
    while (at + 1 < size) {
        if (data[at] != 0xFF || data[at + 1] == 0xFF) { // between segments: skip to a marker
            ++at;
            continue;
        }
        const guint8 marker = data[at + 1];
        if (marker == 0xD9)
            return at + 2;
        if (marker == 0xD8) // the next picture: this one was cut short
            return at;
        if (marker == 0x01 || restartOrStuffed(marker)) {
            at += 2;
            continue;
        }
        if (at + 3 >= size)
            return 0;
        at += 2 + ((gsize(data[at + 2]) << 8) | data[at + 3]);
        if (marker == 0xDA) // the coded picture data, up to its next marker
            while (at + 1 < size && (data[at] != 0xFF || restartOrStuffed(data[at + 1])))
                ++at;
    }
    return 0;
}

// The element.

struct KinoJpegDec {
    GstVideoDecoder parent;
    gint wantedWidth; // read and written atomically: set from the GUI thread
    gint wantedHeight;
    JpegReader* reader;
    GstVideoCodecState* input;
    int outWidth, outHeight; // the output state's size; 0 when it must be set anew
    bool outFields;
};
struct KinoJpegDecClass {
    GstVideoDecoderClass parent_class;
};

G_DEFINE_TYPE(KinoJpegDec, kino_jpeg_dec, GST_TYPE_VIDEO_DECODER)

KinoJpegDec* Self(gpointer p)
{
    return reinterpret_cast<KinoJpegDec*>(p);
}

enum Property { PropWantedWidth = 1, PropWantedHeight };

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
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
}

gboolean Start(GstVideoDecoder* decoder)
{
    KinoJpegDec* self = Self(decoder);
    delete self->reader;
    self->reader = new JpegReader;
    self->outWidth = self->outHeight = 0;
    return TRUE;
}

gboolean Stop(GstVideoDecoder* decoder)
{
    KinoJpegDec* self = Self(decoder);
    delete self->reader;
    self->reader = nullptr;
    g_clear_pointer(&self->input, gst_video_codec_state_unref);
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
    return TRUE;
}

GstFlowReturn Parse(GstVideoDecoder* decoder, GstVideoCodecFrame*, GstAdapter* adapter, gboolean atEos)
{
    const gsize available = gst_adapter_available(adapter);
    const gssize start =
        available >= 4 ? gst_adapter_masked_scan_uint32(adapter, 0xffff0000, 0xffd80000, 0, guint(available)) : -1;
    if (start < 0) {
        // No picture starts here; keep the bytes that may begin one.
        gst_adapter_flush(adapter, atEos || available < 3 ? available : available - 3);
        return GST_VIDEO_DECODER_FLOW_NEED_DATA;
    }
    gst_adapter_flush(adapter, gsize(start));
    const gsize rest = available - gsize(start);
    const auto* data = static_cast<const guint8*>(gst_adapter_map(adapter, rest));
    gsize end = data ? PictureEnd(data, rest) : 0;
    gst_adapter_unmap(adapter);
    if (end == 0) {
        if (!atEos)
            return GST_VIDEO_DECODER_FLOW_NEED_DATA;
        end = rest; // the stream's last picture, cut short: decoded as far as it goes
    }
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
    if (!gst_video_decoder_negotiate(decoder))
        return false;
    self->outWidth = width;
    self->outHeight = height;
    self->outFields = fields;
    return true;
}

GstFlowReturn Broken(GstVideoDecoder* decoder, GstVideoCodecFrame* frame, const char* what)
{
    GstFlowReturn flow = GST_FLOW_OK;
    // Counted against the decoder's error allowance: a few broken frames are dropped,
    // a stream of nothing but is an error.
    GST_VIDEO_DECODER_ERROR(decoder, 1, STREAM, DECODE, ("Failed to decode JPEG image"), ("%s", what), flow);
    gst_video_decoder_drop_frame(decoder, frame);
    return flow;
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
    if (!ReadPicture(*self->reader, in.data, in.size, capsWidth, capsHeight, &picture)) {
        gst_buffer_unmap(frame->input_buffer, &in);
        return Broken(decoder, frame, "no picture, or one too large");
    }
    const int denom = ChooseDenom(picture, g_atomic_int_get(&self->wantedWidth), g_atomic_int_get(&self->wantedHeight));
    int width = 0, height = 0;
    FrameSize(picture, denom, &width, &height);
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
    const bool decoded = DecodePicture(*self->reader, in.data, in.size, picture, denom,
                                       static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&pixels, 0)),
                                       gsize(GST_VIDEO_FRAME_PLANE_STRIDE(&pixels, 0)));
    gst_video_frame_unmap(&pixels);
    gst_buffer_unmap(frame->input_buffer, &in);
    if (!decoded)
        return Broken(decoder, frame, "broken picture data");
    if (denom > 1) {
        // A copy of the frame wants the whole picture: the JPEG it can be decoded from
        // again rides along, and survives the scaling and any copy of the frame.
        GstCustomMeta* meta = gst_buffer_add_custom_meta(frame->output_buffer, kSourceMeta);
        if (meta)
            gst_structure_set(gst_custom_meta_get_structure(meta), "jpeg", GST_TYPE_BUFFER, frame->input_buffer,
                              "caps-width", G_TYPE_INT, capsWidth, "caps-height", G_TYPE_INT, capsHeight, nullptr);
    }
    return gst_video_decoder_finish_frame(decoder, frame);
}

void Finalize(GObject* object)
{
    KinoJpegDec* self = Self(object);
    delete self->reader;
    self->reader = nullptr;
    g_clear_pointer(&self->input, gst_video_codec_state_unref);
    G_OBJECT_CLASS(kino_jpeg_dec_parent_class)->finalize(object);
}

void kino_jpeg_dec_class_init(KinoJpegDecClass* klass)
{
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

gsth::Sample FullJpegPictureOf(GstBuffer* frame)
{
    GstCustomMeta* meta = frame ? gst_buffer_get_custom_meta(frame, kSourceMeta) : nullptr;
    if (!meta)
        return {};
    GstStructure* facts = gst_custom_meta_get_structure(meta);
    GstBuffer* jpeg = nullptr;
    int capsWidth = 0, capsHeight = 0;
    if (!gst_structure_get(facts, "jpeg", GST_TYPE_BUFFER, &jpeg, "caps-width", G_TYPE_INT, &capsWidth, "caps-height",
                           G_TYPE_INT, &capsHeight, nullptr))
        return {};
    gsth::Buffer source = gsth::Buffer::Adopt(jpeg);
    GstMapInfo in;
    if (!gst_buffer_map(source.get(), &in, GST_MAP_READ))
        return {};
    JpegReader reader;
    Picture picture;
    gsth::Sample sample;
    if (ReadPicture(reader, in.data, in.size, capsWidth, capsHeight, &picture)) {
        GstVideoInfo info;
        const bool sized =
            gst_video_info_set_format(&info, GST_VIDEO_FORMAT_BGRx, guint(picture.width), guint(picture.height));
        gsth::Buffer full =
            sized ? gsth::Buffer::Adopt(gst_buffer_new_allocate(nullptr, info.size, nullptr)) : gsth::Buffer();
        GstMapInfo out;
        if (full && gst_buffer_map(full.get(), &out, GST_MAP_WRITE)) {
            const bool decoded = DecodePicture(reader, in.data, in.size, picture, 1, out.data,
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
