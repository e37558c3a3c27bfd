#pragma once
// The region navigator: a small tool window, always on top, in which the user picks
// the rectangle of the picture that the player shows. It exists hidden from start-up.
#include <QWidget>

namespace kino {

class TCutForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TCutForm1(QWidget* parent = nullptr);
};

} // namespace kino
