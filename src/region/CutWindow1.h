#pragma once
// The region navigator: a small tool window, always on top, holding a black panel as
// large as the picture and a selection on it. The user picks the rectangle of the
// picture that the player shows. It knows nothing of the player: the main window
// binds what a release and a close hand on.
#include <QWidget>

#include <cstdint>
#include <functional>

class QLabel;

namespace kino {

class TSelShape;

class TCutForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TCutForm1(QWidget* parent = nullptr);

    // The black panel as large as the picture ("Panel1") and the selection on it
    // ("SelShape1"); each keeps its design name as its objectName.
    QLabel* picturePanel = nullptr;
    TSelShape* selection = nullptr;

    // Sets the navigator up for a picture of `width` × `height`: the caption, the
    // panel and the selection's size (its corner stays). A picture that does not fit
    // in about two thirds of `available` (the screen's free area) is shown scaled down
    // by the smallest whole divisor that fits.
    void SetUp(int width, int height, const QRect& available);
    int Divisor() const { return divisor_; }

    // The selection in picture pixels.
    QRect PictureRect() const;

    // Hands the selection on when the user releases it.
    void ApplySelection();
    // A close hands on the restore.
    void FormClose();

    // What a release hands on (the selection, in picture pixels), and what a close does.
    std::function<void(std::int16_t x, std::int16_t y, std::int16_t width, std::int16_t height)> OnApply;
    std::function<void()> OnRestore;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    int divisor_ = 1;
    int pictureWidth_ = 0;
    int pictureHeight_ = 0;
};

} // namespace kino
