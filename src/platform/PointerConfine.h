#pragma once
// Keeping the mouse pointer inside a screen rectangle while a drag lasts, and
// freeing it after. Tests install a recorder.
#include <QRect>

#include <memory>

namespace kino {

class IPointerConfine {
public:
    virtual ~IPointerConfine() = default;
    // Screen coordinates; a later call replaces the rectangle.
    virtual void Confine(const QRect& screenRect) = 0;
    virtual void Free() = 0;
};

// The confinement the program uses; the desktop's one unless a test replaced it.
IPointerConfine& PointerConfine();
// Replaces it (nullptr restores the desktop's one). Not owned.
void SetPointerConfine(IPointerConfine* confine);

// The desktop's confinement. Qt has no call for it, so an application-wide event
// filter puts the pointer back inside the rectangle (QCursor::setPos) whenever a
// move leaves it. Does nothing where the pointer cannot be placed (Wayland) or
// there is no real pointer (offscreen, minimal).
class DesktopPointerConfine : public IPointerConfine {
public:
    DesktopPointerConfine();
    ~DesktopPointerConfine() override;
    void Confine(const QRect& screenRect) override;
    void Free() override;

private:
    class Filter;
    std::unique_ptr<Filter> filter_;
};

// `pos` moved to the nearest point of `rect` (to its top-left if it is empty).
QPoint ConfinedPoint(const QRect& rect, const QPoint& pos);

} // namespace kino
