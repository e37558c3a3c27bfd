#pragma once
// A shown frame's picture at its own size, decoded again from its source. Frames are
// shown scaled and keep no full-size picture (a queue of them would hold one each), so
// a copy of one reads the source again, on a thread of its own, at the frame's time.
#include <gst/gst.h>

#include <cstdint>
#include <future>
#include <string>
#include <vector>

namespace kino {

// A picture in memory of its own, nothing of GStreamer's: BGRx rows of 4 x width bytes
// (on a little-endian machine what a 32-bit RGB image holds).
struct WholePicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgrx;
    bool IsNull() const { return bgrx.empty(); }
    // A copy of BGRx rows `stride` bytes apart.
    static WholePicture Copied(const std::uint8_t* bits, std::size_t stride, int width, int height);
};

// Starts decoding the picture of `uri` that belongs at stream time `streamTimeNs`, at
// its own size, as BGRx; the result is null when the source cannot be opened, sought
// in or decoded within a few seconds. With `shown`, the frame as it was shown (smaller),
// of that frame and its two neighbours the one that looks like it: a decoder that drops
// late frames may stamp a frame with its neighbour's time.
std::shared_future<WholePicture> FetchPictureAt(const std::string& uri, gint64 streamTimeNs,
                                                WholePicture shown = WholePicture());

// The same, on the calling thread.
WholePicture DecodePictureAt(const std::string& uri, gint64 streamTimeNs, const WholePicture& shown);
WholePicture DecodePictureAt(const std::string& uri, gint64 streamTimeNs);

// Waits up to `ms` for the fetches still running (they use GStreamer); whether none is.
bool WaitForFetches(int ms);

} // namespace kino
