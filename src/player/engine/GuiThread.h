#pragma once
// GStreamer's threads reach the player only through queued calls and the bus watcher;
// whatever touches the player's state runs on the GUI thread. KINO_ASSERT_GUI_THREAD()
// at the top of such a function says so: a debug build stops there, a release build
// logs a critical message with the function's name, once per function.
#include <QtGlobal>

#include <atomic>

namespace kino {

// Whether this is the application's thread (true before the application exists).
bool OnGuiThread();
// Logs that `function` was called off the GUI thread.
void ReportOffGuiThread(const char* function);

} // namespace kino

#ifdef QT_NO_DEBUG
#define KINO_ASSERT_GUI_THREAD()                                                                                       \
    do {                                                                                                               \
        static std::atomic<bool> kinoReportedOffGuiThread{false};                                                      \
        if (!kino::OnGuiThread() && !kinoReportedOffGuiThread.exchange(true))                                          \
            kino::ReportOffGuiThread(Q_FUNC_INFO);                                                                     \
    } while (false)
#else
#define KINO_ASSERT_GUI_THREAD() Q_ASSERT_X(kino::OnGuiThread(), Q_FUNC_INFO, "called off the GUI thread")
#endif
