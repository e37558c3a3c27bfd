#include "player/elements/StreamMends.h"

#include <gst/video/video.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "player/elements/MpegTimeline.h"

namespace kino {

namespace {

GST_DEBUG_CATEGORY_STATIC(mendDebug);
#define GST_CAT_DEFAULT mendDebug

std::uint32_t ReadLe32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

std::uint16_t ReadLe16(const std::uint8_t* p)
{
    return std::uint16_t(p[0] | p[1] << 8);
}

bool IsTag(const std::uint8_t* p, const char* tag)
{
    return std::memcmp(p, tag, 4) == 0;
}

// ---------------------------------------------------------------------------
// WAVE: a pad byte after the last chunk.

// What the parser gets wrong about a WAVE file, found by walking its chunks as the
// parser walks them.
struct WaveFacts {
    // Reading a file in pull mode, the parser goes on from the data to the chunks after
    // it; a chunk header begun in the last 8 bytes of the file (a pad byte after
    // odd-sized data, a few stray bytes) reads short, and the parser ends there before
    // any sound was played. Fed in push mode it starts the sound at the data chunk.
    bool pullModeTripsOnTail = false;
    // MPEG audio: the parser knows no length and cannot turn a time into a place in
    // the data (it counts bytes only); the header says how many samples there are, or
    // how many bytes a second.
    GstClockTime mpegLength = GST_CLOCK_TIME_NONE;
    std::uint64_t dataSize = 0;
};

// What the first frame of MPEG audio says of the stream: bits a second, samples a
// second and a frame, and, when it is a VBR header frame ("Xing", "Info"), the frames
// that follow.
struct MpegAudioFrame {
    int bitRate = 0;
    int sampleRate = 0;
    int samplesPerFrame = 0;
    int length = 0;           // bytes
    bool mpeg1 = false;       // else MPEG-2 or 2.5
    std::uint32_t frames = 0; // from a VBR header; 0 when it has none
};

bool ReadMpegAudioHeader(const std::uint8_t* p, MpegAudioFrame* frame)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    const int version = (p[1] >> 3) & 3; // 0: 2.5, 2: 2, 3: 1
    const int layer = 4 - ((p[1] >> 1) & 3);
    const int rateIndex = p[2] >> 4, sampleIndex = (p[2] >> 2) & 3;
    if (version == 1 || layer == 4 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3)
        return false;
    static constexpr short kRates[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // MPEG-1 layer 1
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // MPEG-1 layer 2
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // MPEG-1 layer 3
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // MPEG-2 layer 1
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // MPEG-2 layers 2, 3
    };
    static constexpr int kSampleRates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    frame->mpeg1 = mpeg1;
    frame->bitRate = 1000 * kRates[mpeg1 ? layer - 1 : (layer == 1 ? 3 : 4)][rateIndex];
    frame->sampleRate = kSampleRates[sampleIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    frame->samplesPerFrame = layer == 1 ? 384 : (layer == 3 && !mpeg1) ? 576 : 1152;
    const int padding = (p[2] >> 1) & 1;
    frame->length = layer == 1 ? (12 * frame->bitRate / frame->sampleRate + padding) * 4
                               : frame->samplesPerFrame / 8 * frame->bitRate / frame->sampleRate + padding;
    return frame->length >= 4;
}

// The first frame of MPEG audio in `data` that another frame follows, which a stray
// pair of bytes that looks like a frame's start would not.
bool FindMpegAudioFrame(const std::uint8_t* data, std::size_t size, MpegAudioFrame* frame)
{
    for (std::size_t at = 0; at + 4 <= size; ++at) {
        MpegAudioFrame first, second;
        if (!ReadMpegAudioHeader(data + at, &first) || at + std::size_t(first.length) + 4 > size ||
            !ReadMpegAudioHeader(data + at + std::size_t(first.length), &second) ||
            second.sampleRate != first.sampleRate)
            continue;
        // A VBR header sits after the side information, whose size depends on the
        // version and the channels.
        const bool mono = (data[at + 3] >> 6) == 3;
        const std::size_t tag = at + 4 + (first.mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
        if (tag + 12 <= at + std::size_t(first.length) &&
            (IsTag(data + tag, "Xing") || IsTag(data + tag, "Info")) && (data[tag + 7] & 1))
            first.frames = std::uint32_t(data[tag + 8]) << 24 | std::uint32_t(data[tag + 9]) << 16 |
                           std::uint32_t(data[tag + 10]) << 8 | data[tag + 11];
        *frame = first;
        return true;
    }
    return false;
}

} // namespace

GstClockTime MpegAudioLength(std::uint32_t factSamples, std::uint32_t sampleRate, std::uint32_t bytesPerSecond,
                             std::uint64_t dataSize, const std::uint8_t* data, std::size_t size)
{
    if (dataSize == 0)
        return GST_CLOCK_TIME_NONE;
    MpegAudioFrame frame;
    GstClockTime measured = GST_CLOCK_TIME_NONE;
    if (FindMpegAudioFrame(data, size, &frame))
        measured = frame.frames > 0 ? gst_util_uint64_scale(std::uint64_t(frame.frames) * frame.samplesPerFrame,
                                                            GST_SECOND, std::uint64_t(frame.sampleRate))
                                    : gst_util_uint64_scale(dataSize * 8, GST_SECOND, std::uint64_t(frame.bitRate));
    // A figure of the header counts when it agrees with what the frames say, or, without
    // frames to go by, when it gives a bit rate MPEG audio can have.
    const auto consistent = [&](GstClockTime length) {
        if (!GST_CLOCK_TIME_IS_VALID(length) || length == 0)
            return false;
        if (GST_CLOCK_TIME_IS_VALID(measured))
            return std::abs(double(length) - double(measured)) <= 0.05 * double(measured);
        const double bitsPerSecond = double(dataSize) * 8 * GST_SECOND / double(length);
        return bitsPerSecond >= 8000 && bitsPerSecond <= 640000;
    };
    const GstClockTime fromFact = factSamples > 0 && sampleRate > 0
                                      ? gst_util_uint64_scale(factSamples, GST_SECOND, sampleRate)
                                      : GST_CLOCK_TIME_NONE;
    const GstClockTime fromByteRate =
        bytesPerSecond > 0 ? gst_util_uint64_scale(dataSize, GST_SECOND, bytesPerSecond) : GST_CLOCK_TIME_NONE;
    if (consistent(fromFact))
        return fromFact;
    if (consistent(fromByteRate))
        return fromByteRate;
    return measured;
}

namespace {

WaveFacts ReadWaveFacts(const std::string& path)
{
    WaveFacts facts;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0)
        return facts;
    const long size = std::ftell(file.get());
    std::uint8_t head[24];
    if (size < 12 || std::fseek(file.get(), 0, SEEK_SET) != 0 || std::fread(head, 1, 12, file.get()) != 12 ||
        !IsTag(head, "RIFF") || !IsTag(head + 8, "WAVE"))
        return facts;
    std::uint16_t format = 0;
    std::uint32_t rate = 0, bytesPerSecond = 0, samples = 0, dataSize = 0;
    long at = 12, dataAt = -1;
    for (int chunks = 0; chunks < 100000 && at + 8 <= size; ++chunks) {
        if (std::fseek(file.get(), at, SEEK_SET) != 0 || std::fread(head, 1, 8, file.get()) != 8)
            return facts;
        const std::uint32_t length = ReadLe32(head + 4);
        const bool data = IsTag(head, "data");
        if (data) {
            dataSize = std::uint32_t(std::min<long>(length, size - at - 8));
            dataAt = at + 8;
        } else if (IsTag(head, "fmt ") && length >= 16 && std::fread(head + 8, 1, 16, file.get()) == 16) {
            format = ReadLe16(head + 8);
            rate = ReadLe32(head + 12);
            bytesPerSecond = ReadLe32(head + 16);
        } else if (IsTag(head, "fact") && length >= 4 && std::fread(head + 8, 1, 4, file.get()) == 4)
            samples = ReadLe32(head + 8);
        // The parser steps over the data as it is, and over every other chunk with its
        // pad byte.
        at += 8 + long(length) + (data ? 0 : long(length & 1));
    }
    facts.pullModeTripsOnTail = at < size;
    facts.dataSize = dataSize;
    constexpr std::uint16_t kMpegLayer12 = 0x50, kMpegLayer3 = 0x55;
    if ((format == kMpegLayer12 || format == kMpegLayer3) && dataAt >= 0) {
        // The first frames, to check the header's figures by.
        std::vector<std::uint8_t> start(std::min<std::size_t>(dataSize, 8192));
        if (std::fseek(file.get(), dataAt, SEEK_SET) != 0 ||
            std::fread(start.data(), 1, start.size(), file.get()) != start.size())
            start.clear();
        facts.mpegLength = MpegAudioLength(samples, rate, bytesPerSecond, dataSize, start.data(), start.size());
    }
    return facts;
}

GstPadProbeReturn OfferPushModeOnly(GstPad*, GstPadProbeInfo* info, gpointer)
{
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    if (GST_QUERY_TYPE(query) != GST_QUERY_SCHEDULING || !(GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_PUSH))
        return GST_PAD_PROBE_OK;
    gst_query_set_scheduling(query, GST_SCHEDULING_FLAG_SEEKABLE, 1, -1, 0);
    gst_query_add_scheduling_mode(query, GST_PAD_MODE_PUSH);
    GST_DEBUG("the WAVE file is read in push mode");
    return GST_PAD_PROBE_HANDLED;
}

// ---------------------------------------------------------------------------
// WAVE: ADPCM times.

// The scale between the parser's times and the sound's, for one stream; 1 until the
// stream's caps are known.
struct TimeScale {
    double factor = 1.0;
};

GstClockTime Scaled(GstClockTime t, double factor)
{
    return GST_CLOCK_TIME_IS_VALID(t) ? GstClockTime(std::llround(double(t) * factor)) : t;
}

gint64 Scaled(gint64 t, double factor)
{
    return t >= 0 ? gint64(std::llround(double(t) * factor)) : t;
}

double ParserBytesPerSecond(GstPad* pad, int blockAlign)
{
    gint64 ns = -1;
    const gint64 bytes = gint64(blockAlign) * 1000;
    if (!gst_pad_query_convert(pad, GST_FORMAT_BYTES, bytes, GST_FORMAT_TIME, &ns) || ns <= 0)
        return 0;
    return double(bytes) * GST_SECOND / double(ns);
}

void RescaleQuery(GstQuery* query, double factor)
{
    GstFormat format = GST_FORMAT_UNDEFINED;
    switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_DURATION: {
        gint64 duration = -1;
        gst_query_parse_duration(query, &format, &duration);
        if (format == GST_FORMAT_TIME)
            gst_query_set_duration(query, format, Scaled(duration, factor));
        break;
    }
    case GST_QUERY_POSITION: {
        gint64 position = -1;
        gst_query_parse_position(query, &format, &position);
        if (format == GST_FORMAT_TIME)
            gst_query_set_position(query, format, Scaled(position, factor));
        break;
    }
    case GST_QUERY_SEEKING: {
        gboolean seekable = FALSE;
        gint64 start = -1, end = -1;
        gst_query_parse_seeking(query, &format, &seekable, &start, &end);
        if (format == GST_FORMAT_TIME)
            gst_query_set_seeking(query, format, seekable, Scaled(start, factor), Scaled(end, factor));
        break;
    }
    default:
        break;
    }
}

// Replaces the event in `info` by `replacement`, keeping its sequence number.
void ReplaceEvent(GstPadProbeInfo* info, GstEvent* replacement)
{
    GstEvent* old = GST_PAD_PROBE_INFO_EVENT(info);
    gst_event_set_seqnum(replacement, gst_event_get_seqnum(old));
    gst_event_unref(old);
    GST_PAD_PROBE_INFO_DATA(info) = replacement;
}

GstPadProbeReturn RetimeAdpcm(GstPad* pad, GstPadProbeInfo* info, gpointer user)
{
    auto* scale = static_cast<TimeScale*>(user);
    const GstPadProbeType type = GST_PAD_PROBE_INFO_TYPE(info);
    if (type & GST_PAD_PROBE_TYPE_BUFFER) {
        if (scale->factor == 1.0)
            return GST_PAD_PROBE_OK;
        GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
        const GstClockTime start = GST_BUFFER_PTS(buffer);
        const GstClockTime end = GST_CLOCK_TIME_IS_VALID(start) && GST_BUFFER_DURATION_IS_VALID(buffer)
                                     ? start + GST_BUFFER_DURATION(buffer)
                                     : GST_CLOCK_TIME_NONE;
        GST_BUFFER_PTS(buffer) = Scaled(start, scale->factor);
        GST_BUFFER_DTS(buffer) = Scaled(GST_BUFFER_DTS(buffer), scale->factor);
        if (GST_CLOCK_TIME_IS_VALID(end))
            GST_BUFFER_DURATION(buffer) = Scaled(end, scale->factor) - GST_BUFFER_PTS(buffer);
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
        return GST_PAD_PROBE_OK;
    }
    if (type & GST_PAD_PROBE_TYPE_QUERY_BOTH) {
        // Answers are scaled once the parser has given them.
        if ((type & GST_PAD_PROBE_TYPE_PULL) && scale->factor != 1.0)
            RescaleQuery(GST_PAD_PROBE_INFO_QUERY(info), scale->factor);
        return GST_PAD_PROBE_OK;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS: {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        const GstStructure* s = caps ? gst_caps_get_structure(caps, 0) : nullptr;
        int blockAlign = 0;
        if (s && gst_structure_get_int(s, "block_align", &blockAlign) && blockAlign > 0)
            scale->factor = AdpcmTimeScale(caps, ParserBytesPerSecond(pad, blockAlign));
        if (scale->factor != 1.0)
            GST_INFO_OBJECT(pad, "ADPCM times scaled by %f", scale->factor);
        break;
    }
    case GST_EVENT_SEGMENT: {
        if (scale->factor == 1.0)
            break;
        const GstSegment* given = nullptr;
        gst_event_parse_segment(event, &given);
        if (given->format != GST_FORMAT_TIME)
            break;
        GstSegment segment;
        gst_segment_copy_into(given, &segment);
        for (guint64* t :
             {&segment.start, &segment.stop, &segment.time, &segment.position, &segment.duration, &segment.base})
            *t = Scaled(GstClockTime(*t), scale->factor);
        ReplaceEvent(info, gst_event_new_segment(&segment));
        break;
    }
    case GST_EVENT_SEEK: {
        if (scale->factor == 1.0)
            break;
        gdouble rate = 1.0;
        GstFormat format = GST_FORMAT_UNDEFINED;
        GstSeekFlags flags{};
        GstSeekType startType{}, stopType{};
        gint64 start = -1, stop = -1;
        gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
        if (format != GST_FORMAT_TIME)
            break;
        const double back = 1.0 / scale->factor;
        ReplaceEvent(info, gst_event_new_seek(rate, format, flags, startType, Scaled(start, back), stopType,
                                              Scaled(stop, back)));
        break;
    }
    default:
        break;
    }
    return GST_PAD_PROBE_OK;
}

// Answers, for MPEG audio, what the parser cannot: the length, and where a time lies
// in the data (which it asks itself when it is told to seek to a time).
GstPadProbeReturn AnswerMpegTimes(GstPad*, GstPadProbeInfo* info, gpointer user)
{
    const auto* facts = static_cast<const WaveFacts*>(user);
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    if (!(GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_PUSH))
        return GST_PAD_PROBE_OK;
    GstFormat format = GST_FORMAT_UNDEFINED;
    if (GST_QUERY_TYPE(query) == GST_QUERY_DURATION) {
        gst_query_parse_duration(query, &format, nullptr);
        if (format != GST_FORMAT_TIME)
            return GST_PAD_PROBE_OK;
        gst_query_set_duration(query, GST_FORMAT_TIME, gint64(facts->mpegLength));
        return GST_PAD_PROBE_HANDLED;
    }
    if (GST_QUERY_TYPE(query) == GST_QUERY_CONVERT && facts->dataSize > 0) {
        GstFormat to = GST_FORMAT_UNDEFINED;
        gint64 value = -1;
        gst_query_parse_convert(query, &format, &value, &to, nullptr);
        if (value < 0)
            return GST_PAD_PROBE_OK;
        if (format == GST_FORMAT_TIME && to == GST_FORMAT_BYTES)
            gst_query_set_convert(query, format, value, to,
                                  gint64(gst_util_uint64_scale(guint64(value), facts->dataSize, facts->mpegLength)));
        else if (format == GST_FORMAT_BYTES && to == GST_FORMAT_TIME)
            gst_query_set_convert(query, format, value, to,
                                  gint64(gst_util_uint64_scale(guint64(value), facts->mpegLength, facts->dataSize)));
        else
            return GST_PAD_PROBE_OK;
        return GST_PAD_PROBE_HANDLED;
    }
    return GST_PAD_PROBE_OK;
}

void MendWaveParser(GstElement* parser, const std::string& path)
{
    const WaveFacts facts = path.empty() ? WaveFacts{} : ReadWaveFacts(path);
    gsth::Pad sink = gsth::Pad::Adopt(gst_element_get_static_pad(parser, "sink"));
    if (sink && facts.pullModeTripsOnTail)
        gst_pad_add_probe(sink.get(), GST_PAD_PROBE_TYPE_QUERY_UPSTREAM, OfferPushModeOnly, nullptr, nullptr);
    gsth::Pad src = gsth::Pad::Adopt(gst_element_get_static_pad(parser, "src"));
    if (src)
        gst_pad_add_probe(src.get(),
                          GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                          GST_PAD_PROBE_TYPE_EVENT_UPSTREAM | GST_PAD_PROBE_TYPE_QUERY_UPSTREAM),
                          RetimeAdpcm, new TimeScale, [](gpointer p) { delete static_cast<TimeScale*>(p); });
    if (src && GST_CLOCK_TIME_IS_VALID(facts.mpegLength) && facts.mpegLength > 0)
        gst_pad_add_probe(src.get(), GST_PAD_PROBE_TYPE_QUERY_UPSTREAM, AnswerMpegTimes, new WaveFacts(facts),
                          [](gpointer p) { delete static_cast<WaveFacts*>(p); });
}

// ---------------------------------------------------------------------------
// MPEG video: pictures without a time stamp.

// A multiplexer stamps only the first picture that starts in each packet, so small
// pictures often come with a decoding time only. The decoder then guesses the rest from
// the gap between the two times of the last key picture, which holds for that picture
// alone: the pictures after it are stamped up to two frames late, three of them share
// one time, and the sink shows one of the three. The picture header says where each
// picture stands in its group (its temporal reference), so the time is filled in here:
// a B picture is never held back, so it is shown at its decoding time; any other is
// shown its place after the first picture of its group, whose time any stamped picture
// of the group gives, or else the end of the group before.
struct MpegPictureHeader {
    int codingType = 0;        // 1 I, 2 P, 3 B; 0 when the frame holds no picture
    int temporalReference = 0; // its place in its group, in the order shown
    bool groupStarts = false;  // a group of pictures begins in this frame
    bool evenlyTimed = true;   // a whole frame shown for one frame's time (not a field,
                               // not a repeated field)
};

MpegPictureHeader ReadMpegPictureHeader(const std::uint8_t* data, std::size_t size)
{
    MpegPictureHeader header;
    for (std::size_t i = 0; i + 6 < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1)
            continue;
        const std::uint8_t code = data[i + 3];
        if (code == 0xB8) {
            header.groupStarts = true;
        } else if (code == 0x00 && header.codingType == 0) {
            header.temporalReference = data[i + 4] << 2 | data[i + 5] >> 6;
            header.codingType = (data[i + 5] >> 3) & 7;
        } else if (code == 0xB5 && header.codingType != 0 && (data[i + 4] >> 4) == 8 && i + 8 < size) {
            // The picture coding extension of MPEG-2: the picture's structure and
            // whether its first field is shown again.
            const bool framePicture = (data[i + 6] & 3) == 3;
            const bool repeatsField = data[i + 7] & 0x02;
            header.evenlyTimed = framePicture && !repeatsField;
            break;
        } else if (code == 0x01 && header.codingType != 0) {
            break; // the picture's data: MPEG-1 has no extension
        }
    }
    return header;
}

struct MpegStamps {
    GstClockTime groupStart = GST_CLOCK_TIME_NONE; // the time of the group's first picture shown
    int groupLast = -1;                            // the latest place stamped in the group
};

GstPadProbeReturn StampMpegPictures(GstPad*, GstPadProbeInfo* info, gpointer user)
{
    auto* stamps = static_cast<MpegStamps*>(user);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        const GstEventType type = GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info));
        if (type == GST_EVENT_FLUSH_STOP || type == GST_EVENT_SEGMENT)
            *stamps = MpegStamps{}; // a group not seen whole
        return GST_PAD_PROBE_OK;
    }
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const GstClockTime frame = GST_BUFFER_DURATION(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(frame) || frame == 0)
        return GST_PAD_PROBE_OK;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return GST_PAD_PROBE_OK;
    const MpegPictureHeader header = ReadMpegPictureHeader(map.data, map.size);
    gst_buffer_unmap(buffer, &map);
    if (!header.evenlyTimed)
        return GST_PAD_PROBE_REMOVE; // for good: in this stream places are not times
    if (header.codingType == 0)
        return GST_PAD_PROBE_OK;
    const GstClockTime offset = GstClockTime(header.temporalReference) * frame;
    if (header.groupStarts) {
        stamps->groupStart = GST_CLOCK_TIME_IS_VALID(stamps->groupStart) && stamps->groupLast >= 0
                                 ? stamps->groupStart + GstClockTime(stamps->groupLast + 1) * frame
                                 : GST_CLOCK_TIME_NONE;
        stamps->groupLast = -1;
    }
    GstClockTime pts = GST_BUFFER_PTS(buffer);
    const bool stamped = GST_CLOCK_TIME_IS_VALID(pts);
    if (!stamped && header.codingType == 3)
        pts = GST_BUFFER_DTS(buffer);
    else if (!stamped && GST_CLOCK_TIME_IS_VALID(stamps->groupStart))
        pts = stamps->groupStart + offset;
    if (GST_CLOCK_TIME_IS_VALID(pts) && (stamped || header.codingType == 3))
        stamps->groupStart = pts >= offset ? pts - offset : GST_CLOCK_TIME_NONE;
    stamps->groupLast = std::max(stamps->groupLast, header.temporalReference);
    if (!stamped && GST_CLOCK_TIME_IS_VALID(pts)) {
        buffer = gst_buffer_make_writable(buffer);
        GST_BUFFER_PTS(buffer) = pts;
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
    }
    return GST_PAD_PROBE_OK;
}

void MendMpegVideoParser(GstElement* parser)
{
    gsth::Pad src = gsth::Pad::Adopt(gst_element_get_static_pad(parser, "src"));
    if (src)
        gst_pad_add_probe(src.get(), GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          StampMpegPictures, new MpegStamps, [](gpointer p) { delete static_cast<MpegStamps*>(p); });
}

// ---------------------------------------------------------------------------
// AVI: uncompressed pictures.

constexpr std::uint32_t kBitFields = 3;

// The video streams' formats of one demuxer, read from its header as it passes.
struct AviFormats {
    std::vector<DibFormat> video;
};

const char* const kAviFormatsKey = "kinolite-avi-formats";

// A stream this mend changes: pictures the demuxer does not describe, or describes
// without their palette.
bool NeedsDescribing(const DibFormat& f)
{
    return (f.compression == 0 && f.bitCount == 16) ||
           (f.compression == kBitFields && (f.bitCount == 16 || f.bitCount == 32));
}

bool NeedsPalette(const DibFormat& f)
{
    return f.compression == 0 && f.bitCount == 8 && f.height < 0 && !f.palette.empty() && DibRowBytes(f) > 0;
}

// What one stream's pictures need on their way: rows turned the right way up (the
// demuxer turns only plain RGB), or the palette added.
struct PictureFix {
    DibFormat format;
    bool flip = false;
};

GstPadProbeReturn FixPicture(GstPad*, GstPadProbeInfo* info, gpointer user)
{
    const auto* fix = static_cast<const PictureFix*>(user);
    const DibFormat& f = fix->format;
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    const std::size_t picture = DibPictureBytes(f);
    if (picture == 0 || gst_buffer_get_size(buffer) < picture)
        return GST_PAD_PROBE_OK; // damaged: left for the converter to refuse
    if (NeedsPalette(f)) {
        if (gst_buffer_get_size(buffer) >= picture + f.palette.size())
            return GST_PAD_PROBE_OK;
        buffer = gst_buffer_make_writable(buffer);
        gst_buffer_resize(buffer, 0, gssize(picture));
        GstBuffer* palette = gst_buffer_new_memdup(f.palette.data(), f.palette.size());
        buffer = gst_buffer_append(buffer, palette);
    } else if (fix->flip) {
        buffer = gst_buffer_make_writable(buffer);
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READWRITE))
            return GST_PAD_PROBE_OK;
        FlipDibRows(map.data, map.size, f);
        gst_buffer_unmap(buffer, &map);
    }
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    return GST_PAD_PROBE_OK;
}

// The caps the demuxer states, corrected: described when it could not, and with a
// positive pixel aspect. Null when nothing needs correcting.
gsth::Caps CorrectedCaps(GstCaps* caps, const DibFormat* format)
{
    if (format && NeedsDescribing(*format))
        return CapsForUndescribedDib(*format);
    const GstStructure* s = caps ? gst_caps_get_structure(caps, 0) : nullptr;
    int n = 1, d = 1;
    if (!s || !gst_structure_get_fraction(s, "pixel-aspect-ratio", &n, &d) || (n > 0 && d > 0))
        return {};
    gsth::Caps fixed = gsth::Caps::Adopt(gst_caps_copy(caps));
    gst_caps_set_simple(fixed.get(), "pixel-aspect-ratio", GST_TYPE_FRACTION, std::abs(n) > 0 ? std::abs(n) : 1,
                        std::abs(d) > 0 ? std::abs(d) : 1, nullptr);
    return fixed;
}

GstPadProbeReturn CorrectCapsEvent(GstPad*, GstPadProbeInfo* info, gpointer user)
{
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS)
        return GST_PAD_PROBE_OK;
    GstCaps* caps = nullptr;
    gst_event_parse_caps(event, &caps);
    const auto* fix = static_cast<const PictureFix*>(user);
    if (gsth::Caps fixed = CorrectedCaps(caps, fix ? &fix->format : nullptr))
        ReplaceEvent(info, gst_event_new_caps(fixed.get()));
    return GST_PAD_PROBE_OK;
}

// The header list passes the demuxer's sink pad as one read; its formats are kept on
// the demuxer for its pads, which it adds later.
GstPadProbeReturn ReadAviHeader(GstPad* pad, GstPadProbeInfo* info, gpointer)
{
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ))
        return GST_PAD_PROBE_OK;
    const bool isHeader = map.size >= 4 && IsTag(map.data, "hdrl");
    if (isHeader) {
        auto* formats = new AviFormats{VideoFormatsOfAviHeader(map.data, map.size)};
        gsth::Element demuxer = gsth::Element::Adopt(gst_pad_get_parent_element(pad));
        if (demuxer)
            g_object_set_data_full(G_OBJECT(demuxer.get()), kAviFormatsKey, formats,
                                   [](gpointer p) { delete static_cast<AviFormats*>(p); });
        else
            delete formats;
    }
    gst_buffer_unmap(buffer, &map);
    return isHeader ? GST_PAD_PROBE_REMOVE : GST_PAD_PROBE_OK;
}

void OnAviPadAdded(GstElement* demuxer, GstPad* pad, gpointer)
{
    gsth::Text name(gst_pad_get_name(pad));
    unsigned index = 0;
    if (!name || std::sscanf(name.get(), "video_%u", &index) != 1)
        return;
    const auto* formats = static_cast<const AviFormats*>(g_object_get_data(G_OBJECT(demuxer), kAviFormatsKey));
    const DibFormat* format = formats && index < formats->video.size() ? &formats->video[index] : nullptr;
    auto* fix = new PictureFix;
    if (format) {
        fix->format = *format;
        fix->flip = format->compression == kBitFields && format->height > 0 && DibRowBytes(*format) > 0;
    }
    // The caps already stored on the pad are what the decoding bin looks at next (this
    // runs before its own handler): they are corrected in place, and again should the
    // demuxer state them anew.
    gsth::Event stored = gsth::Event::Adopt(gst_pad_get_sticky_event(pad, GST_EVENT_CAPS, 0));
    GstCaps* caps = nullptr;
    if (stored)
        gst_event_parse_caps(stored.get(), &caps);
    if (gsth::Caps fixed = CorrectedCaps(caps, format)) {
        GST_INFO_OBJECT(pad, "caps corrected to %" GST_PTR_FORMAT, fixed.get());
        gst_pad_store_sticky_event(pad, gsth::Event::Adopt(gst_event_new_caps(fixed.get())).get());
    }
    if (format && (NeedsPalette(*format) || fix->flip))
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, FixPicture, new PictureFix(*fix),
                          [](gpointer p) { delete static_cast<PictureFix*>(p); });
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, CorrectCapsEvent, fix,
                      [](gpointer p) { delete static_cast<PictureFix*>(p); });
}

void MendAviDemuxer(GstElement* demuxer)
{
    if (gsth::Pad sink = gsth::Pad::Adopt(gst_element_get_static_pad(demuxer, "sink")))
        gst_pad_add_probe(sink.get(), GstPadProbeType(GST_PAD_PROBE_TYPE_PULL | GST_PAD_PROBE_TYPE_BUFFER),
                          ReadAviHeader, nullptr, nullptr);
    g_signal_connect(demuxer, "pad-added", G_CALLBACK(OnAviPadAdded), nullptr);
}

// A header's chunks, walked with every size checked against what is there.
template <typename Visit>
void ForEachChunk(const std::uint8_t* data, std::size_t size, Visit visit)
{
    std::size_t at = 0;
    while (at + 8 <= size) {
        const std::uint32_t length = ReadLe32(data + at + 4);
        if (length > size - at - 8)
            return;
        visit(data + at, data + at + 8, std::size_t(length));
        at += 8 + length + (length & 1);
    }
}

DibFormat ReadStreamList(const std::uint8_t* data, std::size_t size, bool* isVideo)
{
    DibFormat format;
    *isVideo = false;
    ForEachChunk(data, size, [&](const std::uint8_t* head, const std::uint8_t* body, std::size_t length) {
        if (IsTag(head, "strh") && length >= 32) {
            *isVideo = IsTag(body, "vids");
            const std::uint32_t scale = ReadLe32(body + 20), rate = ReadLe32(body + 24);
            if (scale > 0 && rate > 0 && rate <= G_MAXINT && scale <= G_MAXINT) {
                format.rateNum = int(rate);
                format.rateDen = int(scale);
            }
        } else if (IsTag(head, "strf") && length >= 40) {
            const std::uint32_t headerSize = std::min<std::uint32_t>(ReadLe32(body), std::uint32_t(length));
            format.width = int(ReadLe32(body + 4));
            format.height = int(std::int32_t(ReadLe32(body + 8)));
            format.bitCount = ReadLe16(body + 14);
            format.compression = ReadLe32(body + 16);
            if (format.compression == kBitFields && length >= std::size_t(headerSize) + 12 && headerSize >= 40)
                for (int i = 0; i < 3; ++i)
                    format.masks[i] = ReadLe32(body + headerSize + 4 * i);
            if (format.bitCount == 8 && headerSize >= 40) {
                std::uint32_t colours = ReadLe32(body + 32);
                if (colours == 0 || colours > 256)
                    colours = 256;
                const std::size_t have = std::min<std::size_t>(colours, (length - headerSize) / 4);
                format.palette.assign(1024, 0);
                std::memcpy(format.palette.data(), body + headerSize, have * 4);
            }
        }
    });
    return format;
}

} // namespace

std::vector<DibFormat> VideoFormatsOfAviHeader(const std::uint8_t* data, std::size_t size)
{
    std::vector<DibFormat> video;
    if (size < 4 || !IsTag(data, "hdrl"))
        return video;
    ForEachChunk(data + 4, size - 4, [&](const std::uint8_t* head, const std::uint8_t* body, std::size_t length) {
        if (!IsTag(head, "LIST") || length < 4 || !IsTag(body, "strl"))
            return;
        bool isVideo = false;
        DibFormat format = ReadStreamList(body + 4, length - 4, &isVideo);
        if (isVideo)
            video.push_back(std::move(format));
    });
    return video;
}

std::size_t DibRowBytes(const DibFormat& f)
{
    const bool depth = f.bitCount == 1 || f.bitCount == 2 || f.bitCount == 4 || f.bitCount == 8 ||
                       f.bitCount == 16 || f.bitCount == 24 || f.bitCount == 32;
    if (!depth || f.width <= 0 || f.width > kMaxDibSide)
        return 0;
    return std::size_t((std::int64_t(f.width) * f.bitCount + 31) / 32 * 4);
}

std::size_t DibPictureBytes(const DibFormat& f)
{
    const std::int64_t rows = f.height < 0 ? -std::int64_t(f.height) : std::int64_t(f.height);
    if (rows == 0 || rows > kMaxDibSide)
        return 0;
    return DibRowBytes(f) * std::size_t(rows);
}

bool FlipDibRows(std::uint8_t* data, std::size_t size, const DibFormat& f)
{
    const std::size_t rowBytes = DibRowBytes(f);
    const std::size_t picture = DibPictureBytes(f);
    if (picture == 0 || size < picture)
        return false;
    std::vector<std::uint8_t> row(rowBytes);
    for (std::size_t top = 0, bottom = picture / rowBytes - 1; top < bottom; ++top, --bottom) {
        std::memcpy(row.data(), data + top * rowBytes, rowBytes);
        std::memcpy(data + top * rowBytes, data + bottom * rowBytes, rowBytes);
        std::memcpy(data + bottom * rowBytes, row.data(), rowBytes);
    }
    return true;
}

gsth::Caps CapsForUndescribedDib(const DibFormat& f)
{
    const char* name = nullptr;
    const auto masks = [&](std::uint32_t r, std::uint32_t g, std::uint32_t b) {
        return f.masks[0] == r && f.masks[1] == g && f.masks[2] == b;
    };
    if (f.bitCount == 16 && (f.compression == 0 || masks(0x7C00, 0x03E0, 0x001F)))
        name = "RGB15";
    else if (f.bitCount == 16 && masks(0xF800, 0x07E0, 0x001F))
        name = "RGB16";
    else if (f.bitCount == 32 && masks(0xFF0000, 0x00FF00, 0x0000FF))
        name = "BGRx";
    const int height = f.height == G_MININT ? 0 : std::abs(f.height);
    if (!name || f.width <= 0 || height <= 0 || f.width > kMaxDibSide || height > kMaxDibSide)
        return {};
    gsth::Caps caps = gsth::Caps::Adopt(gst_caps_new_simple(
        "video/x-raw", "format", G_TYPE_STRING, name, "width", G_TYPE_INT, f.width, "height", G_TYPE_INT, height,
        "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, "interlace-mode", G_TYPE_STRING, "progressive", nullptr));
    if (f.rateNum > 0 && f.rateDen > 0)
        gst_caps_set_simple(caps.get(), "framerate", GST_TYPE_FRACTION, f.rateNum, f.rateDen, nullptr);
    return caps;
}

double AdpcmTimeScale(const GstCaps* caps, double parserBytesPerSecond)
{
    const GstStructure* s = caps && !gst_caps_is_empty(caps) ? gst_caps_get_structure(caps, 0) : nullptr;
    if (!s || !gst_structure_has_name(s, "audio/x-adpcm") || !(parserBytesPerSecond > 0))
        return 1.0;
    const gchar* layout = gst_structure_get_string(s, "layout");
    int rate = 0, channels = 0, blockAlign = 0;
    if (!layout || !gst_structure_get_int(s, "rate", &rate) || !gst_structure_get_int(s, "channels", &channels) ||
        !gst_structure_get_int(s, "block_align", &blockAlign) || rate <= 0 || channels <= 0 || channels > 2)
        return 1.0;
    // Samples a block holds: a header per channel (with the first samples), then two
    // samples a byte.
    long samples = 0;
    if (g_str_equal(layout, "microsoft") && blockAlign > 7 * channels)
        samples = long(blockAlign - 7 * channels) * 2 / channels + 2;
    else if (g_str_equal(layout, "dvi") && blockAlign > 4 * channels)
        samples = long(blockAlign - 4 * channels) * 2 / channels + 1;
    if (samples <= 0)
        return 1.0;
    const double bytesPerSecond = double(rate) * blockAlign / double(samples);
    const double factor = parserBytesPerSecond / bytesPerSecond;
    return std::abs(factor - 1.0) < 0.01 ? 1.0 : factor;
}

namespace {

// The local file `playbin` plays, read by the corrections that need more of it than the
// element they correct has seen; empty for any other source.
std::string LocalPathOf(GstElement* playbin)
{
    gchar* uri = nullptr;
    if (playbin)
        g_object_get(playbin, "current-uri", &uri, nullptr);
    gsth::Text path(uri && g_str_has_prefix(uri, "file:") ? g_filename_from_uri(uri, nullptr, nullptr) : nullptr);
    g_free(uri);
    return path ? std::string(path.get()) : std::string();
}

} // namespace

void MendElement(GstElement* playbin, GstElement* element, const char* factoryName)
{
    static const bool registered = [] {
        GST_DEBUG_CATEGORY_INIT(mendDebug, "kinomend", 0, "KINOLITE's corrections of demuxed streams");
        return true;
    }();
    (void)registered;
    if (!factoryName)
        return;
    if (g_str_equal(factoryName, "wavparse"))
        MendWaveParser(element, LocalPathOf(playbin));
    else if (g_str_equal(factoryName, "mpegpsdemux"))
        MendMpegDemuxer(element, true, LocalPathOf(playbin));
    else if (g_str_equal(factoryName, "tsdemux"))
        MendMpegDemuxer(element, false, std::string());
    else if (g_str_equal(factoryName, "mpegvideoparse"))
        MendMpegVideoParser(element);
    else if (g_str_equal(factoryName, "avidemux"))
        MendAviDemuxer(element);
    else if (g_str_equal(factoryName, "multipartdemux"))
        g_object_set(element, "single-stream", TRUE, nullptr);
}

} // namespace kino
