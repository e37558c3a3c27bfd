#pragma once
// The elements decodebin may try for each stream it finds.
//
// Playbin answers decodebin's question itself, and to answer it the first time in a
// pipeline it pairs every installed decoder with every installed sink, reading both
// pad templates: about 4 ms of every source opened, 8 ms of the first, all of it on
// the way to the first picture. The pairing only orders decoders of one kind by the
// sinks installed, not by ours (an appsink for plain memory, and the sound output),
// and playbin still vets each element against our sinks when decodebin picks it
// (autoplug-select). So the answer is given here: every decoder, demuxer, parser,
// depayloader and sink that takes the stream, sinks first, then parsers, then by rank,
// as playbin orders them before its pairing.
#include <gst/gst.h>

namespace kino {

// Makes `decodebin`, one of uridecodebin's, ask here. False, leaving playbin to answer,
// when uridecodebin's relay of the question is not found as expected (another GStreamer).
// Called again for a decodebin uridecodebin reuses, it changes nothing.
bool OfferElementsOurselves(GstElement* decodebin);

} // namespace kino
