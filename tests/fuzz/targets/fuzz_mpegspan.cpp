// The reading of an MPEG program stream's first and last time stamps and clocks.
#include <cstdint>

#include "player/elements/MpegTimeline.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The two ends overlap, as they do for a small file.
    const kino::MpegSpan span = kino::SpanOfProgramStream(data, size, data + size / 3, size - size / 3);
    if (GST_CLOCK_TIME_IS_VALID(span.first) && !(span.end > span.first))
        __builtin_trap(); // a span is never empty or backwards
    const GstClockTime clock = kino::ClockForStamp(span, span.first + (span.end - span.first) / 2);
    if (GST_CLOCK_TIME_IS_VALID(span.lastClock) && (clock < span.firstClock || clock > span.lastClock))
        __builtin_trap(); // the clock for a stamp lies between the two packs'
    return 0;
}
