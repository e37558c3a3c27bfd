#include "player/engine/BusWatcher.h"

#include <QSocketNotifier>

#include "player/engine/GuiThread.h"

namespace kino {

BusWatcher::BusWatcher(GstBus* bus, QObject* parent) : QObject(parent), bus_(gsth::Bus::Ref(bus))
{
    GPollFD pollFd{};
    gst_bus_get_pollfd(bus_.get(), &pollFd);
    notifier_ = new QSocketNotifier(pollFd.fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &BusWatcher::Drain);
}

BusWatcher::~BusWatcher() = default;

void BusWatcher::Handle(GstMessageType type, Handler handler)
{
    handlers_[type] = std::move(handler);
}

void BusWatcher::Stop()
{
    stopped_ = true;
    notifier_->setEnabled(false);
}

void BusWatcher::Drain()
{
    KINO_ASSERT_GUI_THREAD();
    while (!stopped_) {
        gsth::Message msg = gsth::Message::Adopt(gst_bus_timed_pop(bus_.get(), 0));
        if (!msg)
            break;
        const auto handler = handlers_.find(GST_MESSAGE_TYPE(msg.get()));
        if (handler != handlers_.end())
            handler->second(msg.get());
    }
}

} // namespace kino
