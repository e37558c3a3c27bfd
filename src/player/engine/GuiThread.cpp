#include "player/engine/GuiThread.h"

#include <QCoreApplication>
#include <QThread>

#include "player/engine/PlayerLog.h"

namespace kino {

bool OnGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void ReportOffGuiThread(const char* function)
{
    qCCritical(lcPlayer, "%s called off the GUI thread", function);
}

} // namespace kino
