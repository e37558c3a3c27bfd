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
// The pool offered is returned in `offered` (a new reference) when asked for.
bool OfferSharedFramePool(GstQuery* query, GstBufferPool** offered = nullptr);

// Serves the writers into a sink pad with frames of that memory: answers their
// allocation queries, and wakes a writer waiting for a free frame when the pad is
// flushed (the pool is bounded, so a writer may wait while the sink and the screen
// hold every frame; a seek's flush must not wait on it).
void ServeSharedFrames(GstPad* sinkPad);

// How many frames of that memory were alive at once at most in this process, and now:
// what the frames cost, whatever holds them.
int SharedFramesAliveMost();
int SharedFramesAlive();

} // namespace kino
