#pragma once
// Path rules over 8-bit path text. The separator is "/"; the root folder "/"
// keeps its separator wherever a folder is taken from a path.
#include <string>
#include <string_view>

namespace kino {

// The text up to and including the last "/"; empty when there is none.
std::string PathPart(std::string_view path);

// The text before the last "/"; when that "/" is the first character, "/" itself.
// Empty when there is no "/".
std::string FolderOf(std::string_view path);

// From the last "." to the end, when that "." comes after the last "/"; else empty.
std::string ExtensionOf(std::string_view path);

// True when the text starts with a URI scheme ("http:", "file:", "rtsp:"...):
// a letter, then letters, digits, "+", "-" or ".", then ":", at least two characters
// before the colon.
bool HasUriScheme(std::string_view text);

// For a URL with an authority ("http://user@host:8080/x"), the URL up to the end of
// the authority ("http://user@host:8080"); empty for any other text.
std::string UrlSite(std::string_view text);

// The path without the "/"s it ends in ("dir/" and "dir//" name "dir"); the root
// folder keeps its one "/".
std::string WithoutTrailingSlashes(std::string_view path);

// The path joined with a name, with exactly one "/" between them; an empty
// folder gives the name as it is.
std::string JoinPath(std::string_view folder, std::string_view name);

} // namespace kino
