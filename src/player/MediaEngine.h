#pragma once
// The media framework is started once per process, before any window exists.
#include <string>

namespace kino {

// Initialises GStreamer once. Throws std::runtime_error when it cannot start.
void InitMediaEngine();
// Releases what GStreamer keeps for the whole process; no player may exist any more.
void ShutdownMediaEngine();

} // namespace kino
