#pragma once
// 8-bit text as a person reads it. Entries, paths and URLs stay std::string byte
// for byte; they become a QString only to be shown.
#include <QString>

#include <string>
#include <string_view>

namespace kino {

bool IsValidUtf8(std::string_view bytes);

// Valid UTF-8 is read as UTF-8; anything else is decoded as Shift-JIS (code page
// 932), and bytes that are not Shift-JIS either become U+FFFD. Never fails.
QString ToDisplay(std::string_view bytes);

// A text typed or shown by the user, back to 8-bit text (UTF-8).
std::string FromDisplay(const QString& text);

} // namespace kino
