#pragma once
// Delivers a pipeline's bus messages on the GUI thread: a socket notifier on the
// bus's poll descriptor, drained without waiting. Works with whatever event
// dispatcher Qt runs. Each message type has at most one handler; messages of a type
// without one are dropped.
#include <QObject>

#include <functional>
#include <map>

#include "player/elements/GstHandles.h"

class QSocketNotifier;

namespace kino {

class BusWatcher : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(GstMessage*)>;
    explicit BusWatcher(GstBus* bus, QObject* parent = nullptr);
    ~BusWatcher() override;

    // Sets the handler for messages of `type`, replacing any before it.
    void Handle(GstMessageType type, Handler handler);

    // No message is delivered after this, not even the rest of a drain under way;
    // safe to call from inside a handler.
    void Stop();

private:
    void Drain();

    gsth::Bus bus_;
    std::map<GstMessageType, Handler> handlers_;
    QSocketNotifier* notifier_ = nullptr;
    bool stopped_ = false;
};

} // namespace kino
