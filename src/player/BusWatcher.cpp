#include "player/BusWatcher.h"

#include <QSocketNotifier>

namespace kino {

BusWatcher::BusWatcher(GstBus* bus, Handler handler, QObject* parent)
    : QObject(parent), bus_(gsth::Bus::Ref(bus)), handler_(std::move(handler))
{
    GPollFD pollFd{};
    gst_bus_get_pollfd(bus_.get(), &pollFd);
    notifier_ = new QSocketNotifier(pollFd.fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &BusWatcher::Drain);
}

BusWatcher::~BusWatcher() = default;

void BusWatcher::Stop()
{
    stopped_ = true;
    notifier_->setEnabled(false);
}

void BusWatcher::Drain()
{
    while (!stopped_) {
        gsth::Message msg = gsth::Message::Adopt(gst_bus_timed_pop(bus_.get(), 0));
        if (!msg)
            break;
        handler_(msg.get());
    }
}

} // namespace kino
