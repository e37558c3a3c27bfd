#include "player/engine/StartupTrace.h"

#include <QElapsedTimer>

#include <mutex>
#include <set>
#include <string>

#include "player/engine/PlayerLog.h"

namespace kino {

namespace {
// Started when the program is loaded, before main().
const QElapsedTimer& SinceLoad()
{
    static const QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}
[[maybe_unused]] const QElapsedTimer& g_loaded = SinceLoad();
} // namespace

void MarkStartup(const char* what)
{
    // Marks sit on the way of every frame; without the log they cost one test.
    if (!lcPlayer().isDebugEnabled())
        return;
    static std::mutex mutex;
    static std::set<std::string> marked;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!marked.insert(what).second)
            return;
    }
    qCDebug(lcPlayer, "start-up: %s at %lld ms", what, static_cast<long long>(SinceLoad().elapsed()));
}

} // namespace kino
