#pragma once
// The about window: shown modally from the Help menu, hidden otherwise.
#include <QDialog>

namespace kino {

class TInfoForm1 : public QDialog {
    Q_OBJECT
public:
    explicit TInfoForm1(QWidget* parent = nullptr);
};

} // namespace kino
