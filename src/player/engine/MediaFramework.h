#pragma once
// The media framework (GStreamer) is started once per process, before any window
// exists, and stopped once, after the last player.

#include <string>

namespace kino {

// Starts GStreamer on a thread of its own (the start-up thread), so that the window can
// be built meanwhile; given a local file, that thread goes on to open it ahead (see
// OpenedAhead), so that its first picture is ready when the window asks for it. Later
// calls do nothing.
// `shownWithin`, when given, is about the area the picture will be shown in: a Motion
// JPEG picture is then decoded no larger than it needs (see JpegDecoder).
void StartMediaEngine(const std::string& firstSource = {}, int shownWithinWidth = 0, int shownWithinHeight = 0);
// Initialises GStreamer once, or waits for StartMediaEngine to have done so. Throws
// std::runtime_error when it cannot start.
void InitMediaEngine();
// Releases what GStreamer keeps for the whole process; no player may exist any more.
void ShutdownMediaEngine();

} // namespace kino
