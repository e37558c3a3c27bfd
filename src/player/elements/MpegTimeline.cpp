#include "player/elements/MpegTimeline.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace kino {

namespace {

GST_DEBUG_CATEGORY_STATIC(timelineDebug);
#define GST_CAT_DEFAULT timelineDebug

// How much of each end of a file is read for its time stamps: several seconds of a DVD.
constexpr std::size_t kScanBytes = 1 << 20;
// The program stream demuxer seeks to the place whose clock reading is the time asked
// for, where the pictures are muxed ahead by up to half a second and the last full
// picture may be a group of pictures back: a seek there gave the decoder no picture it
// could decode (nothing shown, or near the end an error). It is asked to start this much
// earlier, and what comes before the time asked for is cut, as an accurate seek does.
constexpr gint64 kSeekLeadIn = 1500 * GST_MSECOND;

GstClockTime TicksToTime(std::uint64_t ticks)
{
    return gst_util_uint64_scale(ticks, GST_SECOND, 90000);
}

// A 33-bit time stamp in its five bytes, checked by its marker bits.
bool ReadStamp(const std::uint8_t* p, std::uint64_t* ticks)
{
    if (!(p[0] & 1) || !(p[2] & 1) || !(p[4] & 1))
        return false;
    *ticks = (std::uint64_t(p[0] >> 1) & 7) << 30 | std::uint64_t(p[1]) << 22 | std::uint64_t(p[2] >> 1) << 15 |
             std::uint64_t(p[3]) << 7 | std::uint64_t(p[4] >> 1);
    return true;
}

// The system clock reference of a pack header (MPEG-2 or MPEG-1) at `p`, which holds at
// least 5 bytes.
bool ReadPackClock(const std::uint8_t* p, std::uint64_t* ticks)
{
    if ((p[0] & 0xC0) == 0x40) {
        if (!(p[0] & 4) || !(p[2] & 4) || !(p[4] & 4))
            return false;
        *ticks = (std::uint64_t(p[0] >> 3) & 7) << 30 | std::uint64_t(p[0] & 3) << 28 | std::uint64_t(p[1]) << 20 |
                 std::uint64_t(p[2] >> 3) << 15 | std::uint64_t(p[2] & 3) << 13 | std::uint64_t(p[3]) << 5 |
                 std::uint64_t(p[4] >> 3);
        return true;
    }
    return (p[0] & 0xF0) == 0x20 && ReadStamp(p, ticks);
}

// The clock of the first pack in `data`, or of the last.
bool PackClock(const std::uint8_t* data, std::size_t size, bool last, std::uint64_t* ticks)
{
    bool found = false;
    for (std::size_t at = 0; at + 9 <= size && !(found && !last); ++at)
        if (data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1 && data[at + 3] == 0xBA)
            found = ReadPackClock(data + at + 4, ticks) || found;
    return found;
}

bool IsStreamPacket(std::uint8_t id)
{
    return id == 0xBD || (id >= 0xC0 && id <= 0xEF);
}

// Calls visit(stream, stamped, ticks, payloadBytes) for each packet of a stream, in
// the order of the data; a stream of the private stream is told apart by its
// sub-stream number, and subpictures are left out.
template <typename Visit>
void ForEachPacket(const std::uint8_t* data, std::size_t size, Visit visit)
{
    std::size_t at = 0;
    while (at + 9 <= size) {
        if (data[at] != 0 || data[at + 1] != 0 || data[at + 2] != 1 || !IsStreamPacket(data[at + 3])) {
            ++at;
            continue;
        }
        const std::uint8_t id = data[at + 3];
        const std::size_t length = std::size_t(data[at + 4]) << 8 | data[at + 5];
        const std::size_t end = std::min(size, at + 6 + length);
        std::size_t p = at + 6;
        std::uint64_t ticks = 0;
        bool stamped = false;
        std::size_t payload = end;
        if ((data[p] & 0xC0) == 0x80) { // MPEG-2 packet header
            const int flags = data[p + 1] >> 6;
            const std::size_t headerLength = data[p + 2];
            if ((flags & 2) && p + 8 <= end && (data[p + 3] >> 4) == (flags == 3 ? 3 : 2))
                stamped = ReadStamp(data + p + 3, &ticks);
            payload = p + 3 + headerLength;
        } else { // MPEG-1: stuffing, a buffer size, then the stamps
            for (int n = 0; n < 16 && p < end && data[p] == 0xFF; ++n)
                ++p;
            if (p < end && (data[p] & 0xC0) == 0x40)
                p += 2;
            if (p + 5 <= end && ((data[p] >> 4) == 2 || (data[p] >> 4) == 3)) {
                stamped = ReadStamp(data + p, &ticks);
                payload = p + ((data[p] >> 4) == 3 ? 10 : 5);
            } else {
                payload = p + 1;
            }
        }
        int stream = id;
        bool subpicture = false;
        if (id == 0xBD && payload < end) {
            const std::uint8_t sub = data[payload];
            subpicture = sub >= 0x20 && sub <= 0x3F;
            stream = 0x100 + sub;
        }
        if (!subpicture)
            visit(stream, stamped, ticks, payload < end ? end - payload : 0);
        at = length > 0 ? at + 6 + length : at + 4;
    }
}

// One stream's packets near the end of the file: where its last stamp lies, and how
// fast it goes through its bytes, to reckon where the data after that stamp ends.
struct StreamTail {
    std::uint64_t bytes = 0; // payload so far
    bool stamped = false;
    std::uint64_t firstTicks = 0, firstBytes = 0; // the first stamp, and the bytes before it
    std::uint64_t lastTicks = 0, lastBytes = 0;
    std::vector<std::uint64_t> stamps;

    void Add(bool hasStamp, std::uint64_t ticks, std::size_t payloadBytes)
    {
        if (hasStamp) {
            if (!stamped) {
                firstTicks = ticks;
                firstBytes = bytes;
            }
            stamped = true;
            lastTicks = ticks;
            lastBytes = bytes;
            stamps.push_back(ticks);
        }
        bytes += payloadBytes;
    }

    // Where the stream ends, in ticks; 0 when it has no stamp. Stamps may be sparse (a
    // DVD's pictures carry one a group): with `reckon`, the data after the last one
    // lasts as long as bytes went by between the first and the last, which holds for
    // sound at a constant rate and only roughly for pictures (a group's first is large).
    std::uint64_t End(bool reckon)
    {
        if (!stamped)
            return 0;
        std::uint64_t end = lastTicks;
        if (reckon && lastBytes > firstBytes && lastTicks > firstTicks)
            end += (bytes - lastBytes) * (lastTicks - firstTicks) / (lastBytes - firstBytes);
        // Pictures come in decoding order: the latest stamp is not the last one given,
        // and it lasts the step between two stamps, when they come that often.
        std::sort(stamps.begin(), stamps.end());
        std::uint64_t step = 0;
        for (std::size_t i = 1; i < stamps.size(); ++i)
            if (const std::uint64_t d = stamps[i] - stamps[i - 1]; d > 0 && (step == 0 || d < step))
                step = d;
        if (step <= kDenseStep)
            end = std::max(end, stamps.back() + step);
        return end;
    }

    static constexpr std::uint64_t kDenseStep = 9000; // a tenth of a second
};

// The correction's state for one demuxer, shared by the probes on its pads (which run
// on its streaming thread, the thread that seeks and the thread that asks).
struct Timeline {
    std::mutex mutex;
    MpegSpan span;        // a program stream read from a file
    bool placed = false;  // `offset` is known
    gint64 offset = 0;    // the demuxer's stream time of the first time stamp
    bool sought = false;  // a seek has passed: segments start where the demuxer says
    gint64 base = 0;      // the demuxer's time stamps less its stream time
    bool leadIn = false;  // seeks begin kSeekLeadIn early (a program stream)
    gint64 target = -1;   // the demuxer's stream time the last seek asked for, if it began early
};

using TimelineRef = std::shared_ptr<Timeline>;

void Restamp(Timeline& line, GstSegment& s)
{
    // The demuxer's stream time is its time stamps less a fixed amount.
    const gint64 base = gint64(s.start) - gint64(s.time);
    const bool known = GST_CLOCK_TIME_IS_VALID(line.span.first);
    if (!line.placed) {
        line.offset = gint64(known ? line.span.first : s.start) - base;
        line.base = base;
        line.placed = true;
    }
    // Before any seek the stream starts at its first time stamp, not where the
    // demuxer's scan put it: what comes before would be cut.
    if (!line.sought && known && line.span.first < s.start)
        s.start = line.span.first;
    if (line.target >= 0 && gint64(s.start) - base < line.target)
        s.start = guint64(line.target + base);
    gint64 time = gint64(s.start) - base - line.offset;
    if (time < 0) {
        s.start += guint64(-time);
        time = 0;
    }
    s.time = guint64(time);
    if (!GST_CLOCK_TIME_IS_VALID(s.position) || s.position < s.start)
        s.position = s.start;
    if (known && GST_CLOCK_TIME_IS_VALID(line.span.end))
        s.duration = line.span.end - line.span.first;
}

GstPadProbeReturn OnDownstream(GstPad*, GstPadProbeInfo* info, gpointer user)
{
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT)
        return GST_PAD_PROBE_OK;
    const GstSegment* given = nullptr;
    gst_event_parse_segment(event, &given);
    if (given->format != GST_FORMAT_TIME || !GST_CLOCK_TIME_IS_VALID(given->start) ||
        !GST_CLOCK_TIME_IS_VALID(given->time))
        return GST_PAD_PROBE_OK;
    GstSegment segment;
    gst_segment_copy_into(given, &segment);
    Timeline& line = **static_cast<TimelineRef*>(user);
    {
        std::lock_guard<std::mutex> lock(line.mutex);
        Restamp(line, segment);
    }
    GstEvent* replacement = gst_event_new_segment(&segment);
    gst_event_set_seqnum(replacement, gst_event_get_seqnum(event));
    gst_event_unref(event);
    GST_PAD_PROBE_INFO_DATA(info) = replacement;
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn OnUpstream(GstPad*, GstPadProbeInfo* info, gpointer user)
{
    Timeline& line = **static_cast<TimelineRef*>(user);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_QUERY_UPSTREAM) {
        GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
        GstFormat format = GST_FORMAT_UNDEFINED;
        std::lock_guard<std::mutex> lock(line.mutex);
        const bool before = GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_PUSH;
        if (before && GST_QUERY_TYPE(query) == GST_QUERY_DURATION && GST_CLOCK_TIME_IS_VALID(line.span.end)) {
            gst_query_parse_duration(query, &format, nullptr);
            if (format != GST_FORMAT_TIME)
                return GST_PAD_PROBE_OK;
            gst_query_set_duration(query, format, gint64(line.span.end - line.span.first));
            return GST_PAD_PROBE_HANDLED;
        }
        if (!before && GST_QUERY_TYPE(query) == GST_QUERY_POSITION && line.placed) {
            gint64 position = -1;
            gst_query_parse_position(query, &format, &position);
            if (format == GST_FORMAT_TIME && position >= 0)
                gst_query_set_position(query, format, std::max<gint64>(0, position - line.offset));
        }
        return GST_PAD_PROBE_OK;
    }
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEEK)
        return GST_PAD_PROBE_OK;
    gdouble rate = 1.0;
    GstFormat format = GST_FORMAT_UNDEFINED;
    GstSeekFlags flags{};
    GstSeekType startType{}, stopType{};
    gint64 start = -1, stop = -1;
    gst_event_parse_seek(event, &rate, &format, &flags, &startType, &start, &stopType, &stop);
    std::lock_guard<std::mutex> lock(line.mutex);
    if (format != GST_FORMAT_TIME || !line.placed)
        return GST_PAD_PROBE_OK;
    line.sought = true;
    const auto moved = [&](GstSeekType type, gint64 t) {
        return type == GST_SEEK_TYPE_SET && t >= 0 ? t + line.offset : t;
    };
    start = moved(startType, start);
    stop = moved(stopType, stop);
    const bool early = line.leadIn && (flags & GST_SEEK_FLAG_ACCURATE) && (flags & GST_SEEK_FLAG_FLUSH) &&
                       rate > 0 && startType == GST_SEEK_TYPE_SET && start >= 0;
    line.target = early ? start : -1;
    if (early) {
        // The demuxer goes to where its clock reads the time asked for.
        const gint64 from = std::max<gint64>(line.offset, start - kSeekLeadIn) + line.base;
        start = gint64(ClockForStamp(line.span, GstClockTime(std::max<gint64>(0, from)))) - line.base;
        GST_DEBUG("seek to %" GST_STIME_FORMAT " begins at %" GST_STIME_FORMAT, GST_STIME_ARGS(line.target),
                  GST_STIME_ARGS(start));
    }
    GstEvent* replacement = gst_event_new_seek(rate, format, flags, startType, start, stopType, stop);
    gst_event_set_seqnum(replacement, gst_event_get_seqnum(event));
    gst_event_unref(event);
    GST_PAD_PROBE_INFO_DATA(info) = replacement;
    return GST_PAD_PROBE_OK;
}

void Attach(GstPad* pad, const TimelineRef& line)
{
    if (GST_PAD_DIRECTION(pad) != GST_PAD_SRC)
        return;
    const auto drop = [](gpointer p) { delete static_cast<TimelineRef*>(p); };
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, OnDownstream, new TimelineRef(line), drop);
    gst_pad_add_probe(pad, GstPadProbeType(GST_PAD_PROBE_TYPE_EVENT_UPSTREAM | GST_PAD_PROBE_TYPE_QUERY_UPSTREAM),
                      OnUpstream, new TimelineRef(line), drop);
}

void OnPadAdded(GstElement*, GstPad* pad, gpointer user)
{
    Attach(pad, *static_cast<TimelineRef*>(user));
}

// The bytes at both ends of the file: all of it when it is small.
MpegSpan SpanOfFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st {};
    std::vector<std::uint8_t> head, tail;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        const std::size_t size = std::size_t(st.st_size);
        head.resize(std::min(size, kScanBytes));
        tail.resize(std::min(size, kScanBytes));
        const ssize_t readHead = ::pread(fd, head.data(), head.size(), 0);
        const ssize_t readTail = ::pread(fd, tail.data(), tail.size(), off_t(size - tail.size()));
        head.resize(readHead > 0 ? std::size_t(readHead) : 0);
        tail.resize(readTail > 0 ? std::size_t(readTail) : 0);
    }
    ::close(fd);
    return SpanOfProgramStream(head.data(), head.size(), tail.data(), tail.size());
}

} // namespace

MpegSpan SpanOfProgramStream(const std::uint8_t* head, std::size_t headSize, const std::uint8_t* tail,
                             std::size_t tailSize)
{
    std::map<int, std::uint64_t> first;
    ForEachPacket(head, headSize, [&](int stream, bool stamped, std::uint64_t ticks, std::size_t) {
        if (stamped)
            first.emplace(stream, ticks);
    });
    std::map<int, StreamTail> last;
    ForEachPacket(tail, tailSize, [&](int stream, bool stamped, std::uint64_t ticks, std::size_t bytes) {
        last[stream].Add(stamped, ticks, bytes);
    });
    MpegSpan span;
    if (first.empty())
        return span;
    std::uint64_t from = UINT64_MAX;
    for (const auto& [stream, ticks] : first)
        from = std::min(from, ticks);
    // Pictures are reckoned only in a stream without sound.
    const auto isPicture = [](int stream) { return stream >= 0xE0 && stream <= 0xEF; };
    const bool sound = std::any_of(last.begin(), last.end(), [&](const auto& s) { return !isPicture(s.first); });
    std::uint64_t to = 0;
    for (auto& [stream, packets] : last)
        to = std::max(to, packets.End(!sound || !isPicture(stream)));
    // A stream whose clock wrapped, or stamps that make no sense, keep the demuxer's view.
    if (to <= from)
        return span;
    span.first = TicksToTime(from);
    span.end = TicksToTime(to);
    std::uint64_t firstClock = 0, lastClock = 0;
    if (PackClock(head, headSize, false, &firstClock) && PackClock(tail, tailSize, true, &lastClock) &&
        lastClock > firstClock) {
        span.firstClock = TicksToTime(firstClock);
        span.lastClock = TicksToTime(lastClock);
    }
    return span;
}

GstClockTime ClockForStamp(const MpegSpan& span, GstClockTime stamp)
{
    if (!GST_CLOCK_TIME_IS_VALID(span.firstClock) || !GST_CLOCK_TIME_IS_VALID(span.lastClock) ||
        !GST_CLOCK_TIME_IS_VALID(span.first) || !GST_CLOCK_TIME_IS_VALID(span.end) || span.end <= span.first)
        return stamp;
    const GstClockTime from = std::clamp(stamp, span.first, span.end) - span.first;
    return span.firstClock + gst_util_uint64_scale(from, span.lastClock - span.firstClock, span.end - span.first);
}

void MendMpegDemuxer(GstElement* demuxer, bool programStream, const std::string& path)
{
    static const bool registered = [] {
        GST_DEBUG_CATEGORY_INIT(timelineDebug, "kinompegtime", 0, "KINOLITE's time line of MPEG streams");
        return true;
    }();
    (void)registered;
    auto line = std::make_shared<Timeline>();
    const MpegSpan span = programStream && !path.empty() ? SpanOfFile(path) : MpegSpan{};
    {
        // Set under the lock the probes read them under: the pads reach the probes'
        // threads only through GStreamer's own locks, which the race checker cannot see.
        std::lock_guard<std::mutex> lock(line->mutex);
        line->leadIn = programStream;
        line->span = span;
    }
    GST_INFO_OBJECT(demuxer, "time stamps from %" GST_TIME_FORMAT " to %" GST_TIME_FORMAT,
                    GST_TIME_ARGS(span.first), GST_TIME_ARGS(span.end));
    g_signal_connect_data(demuxer, "pad-added", G_CALLBACK(OnPadAdded), new TimelineRef(line),
                          [](gpointer p, GClosure*) { delete static_cast<TimelineRef*>(p); }, GConnectFlags(0));
}

} // namespace kino
