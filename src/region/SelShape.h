#pragma once
// A rectangle the user moves and resizes with the mouse inside its parent, like a
// crop frame: dragging inside moves it, dragging an edge or a corner moves that edge
// or corner, within limits. It paints only its outline; what lies under it shows
// through.
#include <QPen>
#include <QWidget>

#include <cstdint>
#include <functional>

namespace kino {

// Which operations are allowed: one bit each, ResizeX as bit 0.
enum class TSelOptSet : std::uint8_t { ResizeX = 0, ResizeY = 1, MoveX = 2, MoveY = 3 };
using TSelOpt = std::uint8_t;
constexpr TSelOpt SelOptBit(TSelOptSet o)
{
    return TSelOpt(1u << unsigned(o));
}
constexpr TSelOpt kSelOptAll = 0x0F;

// The hit zone a drag acts on.
enum class TSelMode : std::uint8_t { SelM, SelN, SelS, SelW, SelE, SelNE, SelNW, SelSE, SelSW };

class TSelShape : public QWidget {
    Q_OBJECT
public:
    explicit TSelShape(QWidget* parent = nullptr);
    ~TSelShape() override;

    int SizeSense() const { return sizeSense_; }
    void SetSizeSense(int v) { sizeSense_ = v; }
    int MinWidth() const { return minWidth_; }
    void SetMinWidth(int v) { minWidth_ = v; }
    int MinHeight() const { return minHeight_; }
    void SetMinHeight(int v) { minHeight_ = v; }
    int MinTop() const { return minTop_; }
    void SetMinTop(int v) { minTop_ = v; }
    int MinLeft() const { return minLeft_; }
    void SetMinLeft(int v) { minLeft_ = v; }
    int MaxBottom() const { return maxBottom_; }
    void SetMaxBottom(int v) { maxBottom_ = v; }
    int MaxRight() const { return maxRight_; }
    void SetMaxRight(int v) { maxRight_ = v; }
    TSelOpt SelOption() const { return selOption_; }
    void SetSelOption(TSelOpt v) { selOption_ = v; }

    const QPen& Pen() const { return pen_; }
    void SetPen(const QPen& pen);

    // Geometry in the parent's client coordinates.
    int Left() const { return x(); }
    int Top() const { return y(); }
    int Width() const { return width(); }
    int Height() const { return height(); }
    void SetLeft(int v);
    void SetTop(int v);
    void SetWidth(int v);
    void SetHeight(int v);

    TSelMode SelMode() const { return selMode_; }
    bool Dragging() const { return dragging_; }

    // One edge by a signed pixel count, within the limits; a step that would leave
    // less than the minimum size is dropped whole.
    void SelChgTop(int dy);
    void SelChgBot(int dy);
    void SelChgLft(int dx);
    void SelChgRit(int dx);
    // The whole shape, vertical part first; the far limit wins.
    void SelChgMov(int dx, int dy);

    // Events, raised before the shape's own handling; x and y in its own coordinates.
    std::function<void(TSelShape* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)>
        OnMouseDown;
    std::function<void(TSelShape* sender, Qt::KeyboardModifiers shift, int x, int y)> OnMouseMove;
    std::function<void(TSelShape* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)> OnMouseUp;

    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    void MouseMove(Qt::KeyboardModifiers shift, int x, int y);
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int BottomLimit() const;
    int RightLimit() const;
    void SetBounds(long long left, long long top, long long width, long long height);
    void EndDrag();

    int sizeSense_ = 5;
    int minWidth_ = 5;
    int minHeight_ = 5;
    int minTop_ = 0;
    int minLeft_ = 0;
    int maxBottom_ = 0;
    int maxRight_ = 0;
    TSelOpt selOption_ = kSelOptAll;
    QPen pen_;
    bool dragging_ = false;
    TSelMode selMode_ = TSelMode::SelM;
    int startX_ = 0;
    int startY_ = 0;
    Qt::MouseButtons pressed_;
    bool confined_ = false;
};

} // namespace kino
