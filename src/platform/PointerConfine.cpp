#include "platform/PointerConfine.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>

#include <algorithm>
#include <atomic>

namespace kino {

namespace {

std::atomic<IPointerConfine*> g_confine{nullptr};

DesktopPointerConfine& TheDesktopConfine()
{
    static DesktopPointerConfine confine;
    return confine;
}

bool CanPlacePointer()
{
    if (!qGuiApp)
        return false;
    const QString platform = QGuiApplication::platformName();
    return !platform.startsWith(QLatin1String("wayland")) && platform != QLatin1String("offscreen") &&
           platform != QLatin1String("minimal");
}

} // namespace

IPointerConfine& PointerConfine()
{
    IPointerConfine* confine = g_confine.load();
    return confine ? *confine : TheDesktopConfine();
}

void SetPointerConfine(IPointerConfine* confine)
{
    g_confine.store(confine);
}

QPoint ConfinedPoint(const QRect& rect, const QPoint& pos)
{
    // Not std::clamp: an empty rectangle has right() < left().
    return {std::max(rect.left(), std::min(pos.x(), rect.right())),
            std::max(rect.top(), std::min(pos.y(), rect.bottom()))};
}

class DesktopPointerConfine::Filter : public QObject {
public:
    QRect rect;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseMove) {
            const auto* move = static_cast<QMouseEvent*>(event);
            if (move->buttons() == Qt::NoButton) {
                // A drag always holds a button: its release was lost (to a popup,
                // say), and a pointer held captive after it would be stuck.
                Stop();
            } else {
                const QPoint global = move->globalPosition().toPoint();
                if (!rect.contains(global))
                    QCursor::setPos(ConfinedPoint(rect, global));
            }
        }
        return QObject::eventFilter(watched, event);
    }

    void Start()
    {
        if (!active_)
            qGuiApp->installEventFilter(this);
        active_ = true;
    }

    void Stop()
    {
        if (active_ && qGuiApp)
            qGuiApp->removeEventFilter(this);
        active_ = false;
    }

private:
    bool active_ = false;
};

DesktopPointerConfine::DesktopPointerConfine() : filter_(std::make_unique<Filter>()) {}

DesktopPointerConfine::~DesktopPointerConfine()
{
    filter_->Stop();
}

void DesktopPointerConfine::Confine(const QRect& screenRect)
{
    if (!CanPlacePointer())
        return;
    filter_->rect = screenRect;
    filter_->Start();
    const QPoint now = QCursor::pos();
    if (!screenRect.contains(now))
        QCursor::setPos(ConfinedPoint(screenRect, now));
}

void DesktopPointerConfine::Free()
{
    filter_->Stop();
}

} // namespace kino
