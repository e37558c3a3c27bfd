#pragma once
// Frames in memory the display server can read: the converter writes each frame into
// a memfd-backed buffer, and the view hands the server that memory instead of painting
// a copy of it.
#include <gst/gst.h>

namespace kino {

// The allocator of memfd-backed memory, or null when the system has no memfd. Not owned.
GstAllocator* SharedFrameAllocator();

// Answers an ALLOCATION query for raw video with a pool of such memory. False (the
// query left as it was) for other queries or caps it cannot serve.
bool OfferSharedFramePool(GstQuery* query);

// How many frames of that memory were alive at once at most in this process, and now:
// what the frames cost, whatever holds them.
int SharedFramesAliveMost();
int SharedFramesAlive();

} // namespace kino
