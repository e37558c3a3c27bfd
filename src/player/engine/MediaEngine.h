#pragma once
// The media framework is started once per process, before any window exists.
#include <QLoggingCategory>

#include <string>

namespace kino {

// Starts GStreamer on a thread of its own, so that the window can be built meanwhile;
// given a local file, that thread goes on to open it, so that its first picture is
// ready when the window asks for it (the player takes the source over when it is
// told to open the same file). Later calls do nothing.
// `shownWithin`, when given, is about the area the picture will be shown in: a Motion
// JPEG picture is then decoded no larger than it needs (see JpegDecoder).
void StartMediaEngine(const std::string& firstSource = {}, int shownWithinWidth = 0, int shownWithinHeight = 0);
// Initialises GStreamer once, or waits for StartMediaEngine to have done so. Throws
// std::runtime_error when it cannot start.
void InitMediaEngine();
// Releases what GStreamer keeps for the whole process; no player may exist any more.
void ShutdownMediaEngine();

// What the player decided and what GStreamer told it (errors with their debug text,
// warnings, refused state changes, the elements picked for a source), so that "it does
// not play" can be answered. Silent unless QT_LOGGING_RULES="kinolite.player.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcPlayer)

// The start-up trace: `what` with the milliseconds since the program was loaded, under
// kinolite.player, so that where the time to the first picture goes can be read off a
// user's machine. Each mark is logged once.
void MarkStartup(const char* what);

// GStreamer's threads reach the player only through queued calls and the bus watcher;
// whatever touches the player's state runs on the GUI thread.
bool OnGuiThread();

} // namespace kino

#define KINO_ASSERT_GUI_THREAD() Q_ASSERT_X(kino::OnGuiThread(), Q_FUNC_INFO, "called off the GUI thread")
