#pragma once
// MPEG program and transport streams on a time line that starts at 0:00 and lasts the
// whole stream, as other players show them. GStreamer 1.22's demuxers give a stream's
// time as its raw time stamps, so the position starts at the first of them (often half
// a second or more in) and runs past the length; the program stream demuxer also finds
// its first and last time stamps by a short scan that misses them in files whose first
// packets are large, and then cuts the pictures before what it found and states a
// length that is too short.
//
// The correction sits on the demuxer's source pads: the stream time of every segment is
// moved so that the first time stamp is 0, seeks are moved back the same way, and for a
// program stream read from a file the first and last time stamps are read from the file
// itself (see SpanOfProgramStream): the first segment then starts there, and the length
// is the span from the first to the end of the last.
#include <gst/gst.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kino {

// Where the packets of an MPEG program stream begin and end in time: the earliest first
// time stamp of its streams, and the latest end of a stream, reckoned from its last
// stamp and the data after it (stamps may come once a group of pictures). NONE when
// not found.
struct MpegSpan {
    GstClockTime first = GST_CLOCK_TIME_NONE;
    GstClockTime end = GST_CLOCK_TIME_NONE;
    // The system clock of the first pack and of the last: a multiplexer may send the
    // data well ahead of its time stamps (a short clip's whole data in a fraction of
    // its length), and the demuxer seeks by the clock.
    GstClockTime firstClock = GST_CLOCK_TIME_NONE;
    GstClockTime lastClock = GST_CLOCK_TIME_NONE;
};

// The system clock reading where the data for time stamp `stamp` lies, taken as running
// evenly from the first pack to the last; `stamp` itself without the clocks.
GstClockTime ClockForStamp(const MpegSpan& span, GstClockTime stamp);

// From the packet headers in the first bytes of a program stream (`head`) and its last
// (`tail`); the two may overlap or be the same bytes for a small file. Subpictures are
// left out: their time stamps say when a caption shows, not where the stream is.
MpegSpan SpanOfProgramStream(const std::uint8_t* head, std::size_t headSize, const std::uint8_t* tail,
                             std::size_t tailSize);

// Attaches the correction to a program stream demuxer (`programStream`) or a transport
// stream demuxer; `path` is the local file it reads, empty for any other source.
void MendMpegDemuxer(GstElement* demuxer, bool programStream, const std::string& path);

} // namespace kino
