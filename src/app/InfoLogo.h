#pragma once
// The program's logo for the about window: a 200 x 54 picture of 8 bits per pixel
// with its own 256-colour palette, drawn in code so it needs no font or file.
#include <QImage>

namespace kino {

inline constexpr int kInfoLogoWidth = 200;
inline constexpr int kInfoLogoHeight = 54;

// The logo, shown at 1:1. Its lowest rows right of the icon are left blank, since
// the about window's credit line is written over them.
QImage InfoLogo();

} // namespace kino
