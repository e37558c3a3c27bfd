#pragma once
// The elements decodebin may try for each stream it finds, and which of them it takes.
//
// Playbin answers both questions itself, and to answer them the first time in a pipeline
// it pairs every installed decoder with every installed sink, reading both pad
// templates: about 4 ms of every source opened, 8 ms of the first, all of it on the way
// to the first picture. The pairing only orders the decoders of one kind by the sinks
// installed, not by ours, which are fixed (an appsink for plain memory, and the sound
// output). So both answers are given here, as playbin gives them for fixed sinks: the
// demuxers, parsers and decoders that take the stream (parsers first, then by rank), and
// of those a decoder only if it can feed our sink. A sink is never offered for a stream
// still coded (playbin would, for sound passed through to a receiver): the speed
// control stretches decoded sound.
#include <gst/gst.h>

namespace kino {

// Makes `decodebin`, one of uridecodebin's in a playbin whose sinks are `videoSink` and
// `audioSink` (either may be null), ask here. False, leaving playbin to answer, when
// uridecodebin's relays of the questions are not found as expected (another GStreamer).
// Called again for a decodebin uridecodebin reuses, it changes nothing.
bool OfferElementsOurselves(GstElement* decodebin, GstElement* videoSink, GstElement* audioSink);

} // namespace kino
