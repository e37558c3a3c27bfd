#pragma once
// Delivers a pipeline's bus messages on the GUI thread: a socket notifier on the
// bus's poll descriptor, drained without waiting. Works with whatever event
// dispatcher Qt runs.
#include <QObject>

#include <functional>

#include "player/GstHandles.h"

class QSocketNotifier;

namespace kino {

class BusWatcher : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(GstMessage*)>;
    BusWatcher(GstBus* bus, Handler handler, QObject* parent = nullptr);
    ~BusWatcher() override;

    // No message is delivered after this, not even the rest of a drain under way;
    // safe to call from inside the handler.
    void Stop();

private:
    void Drain();

    gsth::Bus bus_;
    Handler handler_;
    QSocketNotifier* notifier_ = nullptr;
    bool stopped_ = false;
};

} // namespace kino
